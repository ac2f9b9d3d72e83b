// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>

#include "charset/Charset.h"
#include "formats/RecordFormats.h"
#include "common/WorkMonitor.h"

namespace veltrane {

/// What one conversion reads, writes and which records it takes.
struct ConvertOptions {
    RecordFormat from = RecordFormat::Iso2709;
    RecordFormat to = RecordFormat::MarcXml;
    DelimiterMode mode = dmNormal;  ///< delimiter variant of ISO 2709 input
    CharsetSetting charset = CharsetSetting::Auto;
    /// ISO 2709 output in UTF-8 with leader byte 9 'a' (else the bytes are kept).
    bool utf8 = false;
    /// Apply the safe repairs of `fix` (RecordRepairer) to each ISO 2709
    /// record before it is converted; ISO 2709 output is then byte for byte
    /// what `fix` writes. What a repair could not keep is told as a warning.
    bool repair = false;
    std::int64_t first = 1;  ///< records first..last (numbered as count and show number them)
    std::int64_t last = std::numeric_limits<std::int64_t>::max();
};

/// A record converted only in part, or written with replacements.
struct ConvertWarning {
    std::int64_t number = 0;
    std::string problem;
    /// Characters written as U+FFFD (bytes not valid in the record's set, or
    /// characters the format cannot hold), the record otherwise whole; 0 for a
    /// problem that left the record read only in part.
    std::int64_t replaced = 0;
};

struct ConvertResult {
    enum class Status {
        Done,         ///< every record read was written (some perhaps partly: see `partial`)
        ReadError,    ///< the input could not be read (errno in `error`)
        FormatError,  ///< the input text is not the format named (`message`)
        WriteError,   ///< the output could not be written (errno in `error`)
        Cancelled,
    };
    Status status = Status::Done;
    std::int64_t records = 0;    ///< records seen in the input, up to the range's end
    std::int64_t converted = 0;  ///< records written
    std::int64_t partial = 0;    ///< of those, written only in part
    int error = 0;
    std::string message;
};

/// Converts the records of inputFd (read from offset 0; not owned) into
/// outputFd (written from where it stands; not owned), streaming: memory
/// stays flat whatever the size of the file. Each partial record is told to
/// `warn` with its number. Checks `monitor` every few MiB of input.
[[nodiscard]] ConvertResult ConvertRecords(int inputFd, int outputFd, const ConvertOptions& options,
                                           const WorkMonitor& monitor,
                                           const std::function<void(const ConvertWarning&)>& warn);

/// Converts chosen records of the ISO 2709 file inputFd in the order given (a
/// number given twice is written twice), each found through the record index
/// file indexFd (both not owned) and framed as the index framed it: the
/// leader's length, fewer bytes when the file ends inside the record.
/// options.from, first and last are not used; the rest as ConvertRecords.
/// A number the index does not hold ends it with ReadError.
[[nodiscard]] ConvertResult ConvertChosenRecords(int inputFd, int indexFd, std::span<const std::int64_t> numbers,
                                                 int outputFd, const ConvertOptions& options, const WorkMonitor& monitor,
                                                 const std::function<void(const ConvertWarning&)>& warn);

}  // namespace veltrane
