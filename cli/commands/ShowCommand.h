// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli show`
extern const CliCommand kShowCommand;

}  // namespace veltrane::cli
