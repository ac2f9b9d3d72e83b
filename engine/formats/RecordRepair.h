// SPDX-License-Identifier: Apache-2.0
#pragma once

// The safe repairs of `fix`: what can be mended in a record without a
// cataloguer's judgement, written back as standard ISO 2709.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "common/WorkMonitor.h"
#include "formats/RecordFormats.h"
#include "iso2709/Iso2709Reader.h"
#include "iso2709/MarcRecord.h"
#include "iso2709/RecordFields.h"

namespace veltrane {

struct RepairOptions {
    DelimiterMode mode = dmNormal;  ///< delimiter variant of the input
    CharsetSetting charset = CharsetSetting::Auto;
    /// Convert the text to UTF-8 and declare it (MARC 21 leader/09 'a',
    /// UNIMARC 100 $a/26-27 "50").
    bool utf8 = false;
    /// Write, per record, the unified diff of its mnemonic lines instead of
    /// the records.
    bool dryRun = false;
    std::int64_t first = 1;  ///< records first..last (numbered as count and show number them)
    std::int64_t last = std::numeric_limits<std::int64_t>::max();
};

/// What happened to one record.
struct RecordRepair {
    /// What was mended, one line each ("leader/09 set to 'a': the record is
    /// in UTF-8"); empty when the record is written as it was.
    std::vector<std::string> repairs;
    /// What could not be kept whole: bytes the reader could not place, left
    /// out, or a record too long to write (then `written` is false).
    std::vector<std::string> losses;
    bool written = true;
};

/// Repairs one record at a time; keeps its buffers from record to record (one
/// per thread).
class RecordRepairer {
public:
    explicit RecordRepairer(const RepairOptions& options) : m_options(options) {}

    /// Appends the repaired form of a record (`bytes` as the file holds them,
    /// declaredLength from its leader) to `out`: its own bytes when nothing
    /// needs mending, so a sound record comes out byte for byte.
    void repair(std::span<const unsigned char> bytes, std::uint32_t declaredLength, std::string& out,
                RecordRepair& report);

    /// Appends the record's mnemonic (.mrk) lines, decoded in the set the
    /// options give, for the dry run's diff.
    void appendMnemonic(std::span<const unsigned char> bytes, std::uint32_t declaredLength, DelimiterMode mode,
                        std::string& out);

private:
    /// The MARC 21 leader/09 the record's bytes call for; 0 when it stays.
    [[nodiscard]] char codingSchemeWanted(bool unimarc);
    [[nodiscard]] bool hasLineBreaksInData() const;

    const RepairOptions& m_options;
    Iso2709Reader m_reader;
    RecordFields m_fields;
    TextCodec m_codec;
    MarcRecord m_record;
    std::vector<std::string> m_problems;
    std::unique_ptr<RecordWriter> m_mnemonic;
};

struct RepairResult {
    enum class Status { Done, ReadError, WriteError, Cancelled };
    Status status = Status::Done;
    std::int64_t records = 0;   ///< records seen, up to the range's end
    std::int64_t repaired = 0;  ///< records written otherwise than they were
    std::int64_t partial = 0;   ///< records with losses (written in part or not at all)
    std::uint64_t dropped = 0;  ///< bytes between and after records left out (junk, line ends)
    int error = 0;              ///< errno of a read or write error
};

/// Repairs the records of inputFd (read from offset 0; not owned) into
/// outputFd (not owned): the records, or with dryRun the diff of each record
/// that would change. Streaming; memory stays flat. Each record with repairs
/// or losses is told to `tell` with its number and offset.
[[nodiscard]] RepairResult RepairRecords(
    int inputFd, int outputFd, const RepairOptions& options, const WorkMonitor& monitor,
    const std::function<void(std::int64_t number, std::uint64_t offset, const RecordRepair&)>& tell);

}  // namespace veltrane
