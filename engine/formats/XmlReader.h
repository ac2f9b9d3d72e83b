// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string_view>

#include "formats/RecordFormats.h"

namespace veltrane {

/// A reader of MARCXML: records in a collection or alone from a file descriptor (not owned).
[[nodiscard]] std::unique_ptr<RecordReader> MakeXmlReader(int fd);
/// The same reader over MARCXML text already in memory (a record a server
/// sent), which must outlive the reader.
[[nodiscard]] std::unique_ptr<RecordReader> MakeXmlReader(std::string_view text);

}  // namespace veltrane
