// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli check`
extern const CliCommand kCheckCommand;

}  // namespace veltrane::cli
