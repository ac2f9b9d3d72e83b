// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli convert`
extern const CliCommand kConvertCommand;

}  // namespace veltrane::cli
