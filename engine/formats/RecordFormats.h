// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/RecordTextWriter.h"
#include "iso2709/MarcRecord.h"

namespace veltrane {

/// The formats records are converted between.
enum class RecordFormat { Iso2709, MarcXml, Json, JsonLines, Mrk, Text, Tsv };

/// The name the command line uses: "iso2709", "marcxml", "json", "jsonl",
/// "mrk", "text", "tsv".
[[nodiscard]] std::string_view RecordFormatName(RecordFormat format);
/// Reads a format name; nothing for an unknown one.
[[nodiscard]] std::optional<RecordFormat> ParseRecordFormat(std::string_view name);

/// Writes records in one format, appending to a text buffer the caller empties
/// (streaming: nothing of a record is kept after it is written). Problems met
/// while writing (characters XML cannot hold, a field too long for ISO 2709)
/// are appended to `problems`; the record is then written as far as it can be.
class RecordWriter {
public:
    virtual ~RecordWriter() = default;
    /// What comes before the first record (an XML declaration, '[').
    virtual void begin(std::string& out) { (void)out; }
    /// Appends one record; false when it could not be written at all.
    [[nodiscard]] virtual bool write(const MarcRecord& record, std::string& out,
                                     std::vector<std::string>& problems) = 0;
    /// Appends a record read from ISO 2709 from its own fields, for a format
    /// laid out from the record's bytes (the record text); false, with
    /// nothing appended, when the format is written from the record model.
    [[nodiscard]] virtual bool writeFields(const RecordFields& fields, std::string& out)
    {
        (void)fields;
        (void)out;
        return false;
    }
    /// The number of the record the next write() is given, for a format that
    /// names it (the long table).
    virtual void recordNumber(std::int64_t number) { (void)number; }
    /// What comes after the last record.
    virtual void end(std::string& out) { (void)out; }
};

/// The writer of a format: the one place a format's writer, the record text's
/// included, is chosen. `text` says how the record text (Text) is written.
[[nodiscard]] std::unique_ptr<RecordWriter> MakeRecordWriter(RecordFormat format, const RecordTextOptions& text = {});

/// Writes one record as standard ISO 2709 (0x1E, 0x1F, 0x1D) with its length,
/// base address and directory recomputed and the rest of its leader kept.
/// False (nothing appended) when the record cannot be held: more than 99,999
/// bytes. A field over 9,999 bytes is left out with a problem.
[[nodiscard]] bool WriteIso2709(const MarcRecord& record, std::string& out, std::vector<std::string>& problems);

/// Reads records back from a text format, front to back, a block at a time
/// from a file descriptor (not owned).
class RecordReader {
public:
    enum class Step { Record, End, ReadError, FormatError };
    virtual ~RecordReader() = default;
    /// The next record; FormatError when the text cannot be read on (message()
    /// says where and why), ReadError when the file cannot be read.
    [[nodiscard]] virtual Step next(MarcRecord& record) = 0;
    [[nodiscard]] const std::string& message() const { return m_message; }
    /// Bytes of the file consumed so far.
    [[nodiscard]] virtual std::uint64_t position() const = 0;

protected:
    std::string m_message;
};

/// A reader of MarcXml, Json, JsonLines (the same reader as Json) or Mrk;
/// nothing for the other formats.
[[nodiscard]] std::unique_ptr<RecordReader> MakeRecordReader(RecordFormat format, int fd);

}  // namespace veltrane
