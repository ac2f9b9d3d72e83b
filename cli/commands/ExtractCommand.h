// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli extract`
extern const CliCommand kExtractCommand;

}  // namespace veltrane::cli
