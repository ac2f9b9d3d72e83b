// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli count`
extern const CliCommand kCountCommand;

}  // namespace veltrane::cli
