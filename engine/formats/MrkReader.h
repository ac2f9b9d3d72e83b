// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "formats/RecordFormats.h"

namespace veltrane {

/// A reader of mnemonic (.mrk) lines from a file descriptor (not owned).
[[nodiscard]] std::unique_ptr<RecordReader> MakeMrkReader(int fd);

}  // namespace veltrane
