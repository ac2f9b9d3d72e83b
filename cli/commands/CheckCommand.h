#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli check`
extern const CliCommand kCheckCommand;

}  // namespace veltrane::cli
