#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli count`
extern const CliCommand kCountCommand;

}  // namespace veltrane::cli
