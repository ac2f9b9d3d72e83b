// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli charset`
extern const CliCommand kCharsetCommand;

}  // namespace veltrane::cli
