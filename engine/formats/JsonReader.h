// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "formats/RecordFormats.h"

namespace veltrane {

/// A reader of MARC-in-JSON: one array of records, or one record a line (JSON Lines) from a file descriptor (not owned).
[[nodiscard]] std::unique_ptr<RecordReader> MakeJsonReader(int fd);

}  // namespace veltrane
