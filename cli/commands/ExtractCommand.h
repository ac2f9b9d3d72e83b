#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli extract`
extern const CliCommand kExtractCommand;

}  // namespace veltrane::cli
