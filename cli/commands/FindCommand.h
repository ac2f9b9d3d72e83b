#pragma once

#include "CliCommand.h"

namespace veltrane::cli {

/// `veltrane-cli find`
extern const CliCommand kFindCommand;

}  // namespace veltrane::cli
