// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli index`
extern const CliCommand kIndexCommand;

}  // namespace veltrane::cli
