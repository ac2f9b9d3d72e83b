// SPDX-License-Identifier: Apache-2.0
#include "files/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "search/QueryMatcher.h"
#include "search/StreamSearch.h"
#include "iso2709/RecordStream.h"

namespace veltrane {

using namespace fileaccess;

namespace {

// Records are read through one buffer of many records: a scan visits records
// in increasing offset order, so one read brings in many of them. A size that
// stays in the processor's cache searched fastest.
constexpr std::size_t kReadAheadSize = 128 * 1024;
static_assert(kReadAheadSize >= kRecordBufferSize, "a whole record must fit in the read-ahead buffer");

}  // namespace

RecordFile::RecordFile() : m_readAhead(new unsigned char[kReadAheadSize]) {}

bool RecordFile::openRecords(const char* fileName)
{
    m_records = UniqueFd(::open(fileName, O_RDONLY | O_CLOEXEC));
    m_start = m_length = 0;
    struct stat st {};
    if (!m_records || ::fstat(m_records.get(), &st) != 0) {
        m_records.reset();
        return false;
    }
    m_size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool RecordFile::openIndex(const char* indexFileName)
{
    m_index = UniqueFd(::open(indexFileName, O_RDONLY | O_CLOEXEC));
    if (!m_index)
        return false;
    m_entries = std::make_unique<IndexReader>(m_index.get());
    return true;
}

const unsigned char* RecordFile::readAhead(std::uint64_t offset, std::size_t n, std::size_t& available)
{
    if (offset >= m_start && offset - m_start + n <= m_length) {
        available = n;
        return m_readAhead.get() + (offset - m_start);
    }
    std::size_t kept = 0;
    if (offset >= m_start && offset - m_start < m_length) {
        kept = m_length - static_cast<std::size_t>(offset - m_start);
        std::memmove(m_readAhead.get(), m_readAhead.get() + (offset - m_start), kept);
    }
    m_start = offset;
    m_length = kept;
    while (m_length < n) {
        const ssize_t got = ::pread(m_records.get(), m_readAhead.get() + m_length, kReadAheadSize - m_length,
                                    static_cast<off_t>(m_start + m_length));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        m_length += static_cast<std::size_t>(got);
    }
    available = std::min(n, m_length);
    return m_readAhead.get();
}

const unsigned char* RecordFile::view(std::uint64_t offset, std::size_t& length)
{
    std::size_t available = 0;
    const unsigned char* record = readAhead(offset, kLeaderLength, available);
    if (available < kLeaderLength)
        return nullptr;
    length = ParseDigits(record + kRecordLengthOffset, 5);
    if (length < kLeaderLength)
        return nullptr;
    record = readAhead(offset, length, available);
    return available < length ? nullptr : record;
}

Outcome RecordFile::read(std::int64_t number)
{
    m_recordBytes = {};
    const std::optional<std::uint64_t> offset = m_entries ? m_entries->entry(number) : std::nullopt;
    if (!offset)
        return Outcome::NotFound;
    std::size_t length = 0;
    const unsigned char* record = view(*offset, length);
    if (record == nullptr)
        return Outcome::Unreadable;
    m_fields.assemble(record, length);
    m_recordBytes = {record, length};
    m_recordOffset = *offset;
    return Outcome::Done;
}

Outcome RecordFile::render(std::int64_t number, DelimiterMode delimiterMode, DisplayText& out)
{
    const Outcome outcome = read(number);
    out.clear();
    if (outcome == Outcome::Done) {
        const std::span<const unsigned char> bytes = m_fields.bytes();
        RenderDisplayText(out, bytes.data(), bytes.size(), FieldTerminator(delimiterMode),
                          SubfieldDelimiter(delimiterMode));
    }
    return outcome;
}

FindResult RecordFile::find(std::int64_t from, std::int64_t to, const SearchQuery& query, const WorkMonitor& monitor)
{
    if (QueryMatcher(query).empty())
        return {};
    monitor.report(0, m_size);
    const std::optional<std::uint64_t> start = m_entries && from <= to ? m_entries->entry(from) : std::nullopt;
    if (start) {
        // The records are framed from the first one searched on, as the index
        // framed them.
        FindResult result;
        const SearchEnd end = SearchRecords(m_records.get(), {*start, from - 1, from, to}, query, monitor, m_size,
                                            [&result](const FoundRecord& found) {
                                                result = {Outcome::Done, found.number,
                                                          std::string(found.fields.tag(found.field)), {}};
                                                return false;
                                            });
        if (result.outcome == Outcome::Done) {
            monitor.report(m_size, m_size);
            return result;
        }
        if (end.outcome == Outcome::Cancelled || end.outcome == Outcome::Unreadable)
            return {end.outcome, end.record, {}, {}};
        if (end.outcome == Outcome::FileError)
            return {Outcome::Unreadable, end.record, {}, {}};
        // A record the index holds but the file no longer does (it was cut
        // short since) cannot be read.
        if (end.record < to && m_entries->entry(end.record + 1))
            return {Outcome::Unreadable, end.record + 1, {}, {}};
    }
    if (monitor.stopRequested())
        return {Outcome::Cancelled, to, {}, {}};
    monitor.report(m_size, m_size);
    return {};
}

Status SearchRecordStream(int fd, std::int64_t from, const SearchQuery& query, const WorkMonitor& monitor,
                          const MatchCallback& onMatch)
{
    return SearchRecordStream(fd, from, query, monitor,
                              StreamMatchCallback([&onMatch](const StreamMatch& match) {
                                  return onMatch(match.record, match.tag);
                              }));
}

Status SearchRecordStream(int fd, std::int64_t from, const SearchQuery& query, const WorkMonitor& monitor,
                          const StreamMatchCallback& onMatch)
{
    struct stat st {};
    const std::uint64_t total = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    monitor.report(0, total);
    bool stopped = false;
    const SearchEnd end = SearchRecords(fd, {0, 0, from, INT64_MAX}, query, monitor, total,
                                        [&](const FoundRecord& found) {
                                            stopped = !onMatch(StreamMatch{found.number, found.fields.tag(found.field),
                                                                           found.fields});
                                            return !stopped;
                                        });
    if (end.outcome != Outcome::Done)
        return {end.outcome, {}};
    if (!stopped)
        monitor.report(total, total);
    return {};
}

}  // namespace veltrane
