// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli fix`
extern const CliCommand kFixCommand;

}  // namespace veltrane::cli
