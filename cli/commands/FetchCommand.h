// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli fetch`
extern const CliCommand kFetchCommand;

}  // namespace veltrane::cli
