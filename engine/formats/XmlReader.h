// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "formats/RecordFormats.h"

namespace veltrane {

/// A reader of MARCXML: records in a collection or alone from a file descriptor (not owned).
[[nodiscard]] std::unique_ptr<RecordReader> MakeXmlReader(int fd);

}  // namespace veltrane
