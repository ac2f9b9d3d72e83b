// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "display/DisplayText.h"
#include "files/FileAccess.h"
#include "files/IndexFile.h"
#include "common/Outcome.h"
#include "iso2709/RecordFields.h"
#include "search/RecordSearch.h"
#include "common/WorkMonitor.h"

namespace veltrane {

/// What a find ended with: the record found (with the tag of the field that
/// matched), or why there is none.
struct FindResult {
    Outcome outcome = Outcome::NotFound;
    std::int64_t record = 0;  ///< Done: the record found; Unreadable: the record that ended the search
    std::string tag;          ///< Done: the tag of the first field that matched
    std::string message;      ///< FileError: the text to tell
};

/// One record file and its index, each opened once. Reads records by their
/// number, finds, and renders display text. Each object owns its buffers:
/// objects on different threads share nothing.
class RecordFile {
public:
    RecordFile();

    /// Opens the record file; false when it cannot be opened.
    [[nodiscard]] bool openRecords(const char* fileName);
    /// Opens the index file; false when it cannot be opened.
    [[nodiscard]] bool openIndex(const char* indexFileName);

    [[nodiscard]] int recordsFd() const { return m_records.get(); }
    /// The record file's size in bytes when it was opened (the total of progress).
    [[nodiscard]] std::uint64_t size() const { return m_size; }

    /// The first record from `from` to `to` (1-based, inclusive) that holds
    /// the query's pattern, with progress and cancel. An empty pattern finds
    /// nothing. A record that cannot be read ends the search (Unreadable).
    [[nodiscard]] FindResult find(std::int64_t from, std::int64_t to, const SearchQuery& query,
                                  const WorkMonitor& monitor = NoMonitor());

    /// Reads record `number` and takes its fields apart into fields(). Done,
    /// NotFound when the index has no such record, Unreadable when its bytes
    /// are short.
    [[nodiscard]] Outcome read(std::int64_t number);
    [[nodiscard]] const RecordFields& fields() const { return m_fields; }
    /// The bytes of the record read() took last, as the file holds them, and
    /// their offset in the file; valid until the next read or find.
    [[nodiscard]] std::span<const unsigned char> recordBytes() const { return m_recordBytes; }
    [[nodiscard]] std::uint64_t recordOffset() const { return m_recordOffset; }

    /// Renders the display text of record `number` under a delimiter variant
    /// into out (cleared first). Outcomes as read().
    [[nodiscard]] Outcome render(std::int64_t number, DelimiterMode delimiterMode, DisplayText& out);

private:
    /// The record at offset: its bytes, or nothing when it is short.
    [[nodiscard]] const unsigned char* view(std::uint64_t offset, std::size_t& length);
    [[nodiscard]] const unsigned char* readAhead(std::uint64_t offset, std::size_t n, std::size_t& available);

    fileaccess::UniqueFd m_records;
    fileaccess::UniqueFd m_index;
    std::unique_ptr<IndexReader> m_entries;
    std::uint64_t m_size = 0;
    std::unique_ptr<unsigned char[]> m_readAhead;
    std::uint64_t m_start = 0;
    std::size_t m_length = 0;
    RecordFields m_fields;
    std::span<const unsigned char> m_recordBytes;
    std::uint64_t m_recordOffset = 0;
};

/// Called for each record a stream search finds: its number and the tag of
/// the field that matched. Return false to stop.
using MatchCallback = std::function<bool(std::int64_t record, std::string_view tag)>;

/// A record a stream search found, valid during the call only: besides its
/// number and the matching tag, its fields as the search took them apart, so
/// that more of the record (a title) costs no second read.
struct StreamMatch {
    std::int64_t record = 0;
    std::string_view tag;
    const RecordFields& fields;
};
/// Called for each record a stream search finds. Return false to stop.
using StreamMatchCallback = std::function<bool(const StreamMatch& match)>;

/// Searches an open record file (fd, not owned) front to back, framing its
/// records as the index does, without an index: every record from `from` on
/// that holds the pattern is handed to onMatch. Done when the file was
/// searched to its end (or onMatch stopped it), Unreadable when a record cut
/// off by the end of the file ended it, Cancelled, or FileError (empty
/// message) when the file could not be read.
[[nodiscard]] Status SearchRecordStream(int fd, std::int64_t from, const SearchQuery& query,
                                        const WorkMonitor& monitor, const MatchCallback& onMatch);
/// The same search, handing each match with the record's fields.
[[nodiscard]] Status SearchRecordStream(int fd, std::int64_t from, const SearchQuery& query,
                                        const WorkMonitor& monitor, const StreamMatchCallback& onMatch);

}  // namespace veltrane
