// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli profile`
extern const CliCommand kProfileCommand;

}  // namespace veltrane::cli
