// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli find`
extern const CliCommand kFindCommand;

}  // namespace veltrane::cli
