// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "check/CheckTypes.h"
#include "common/WorkMonitor.h"
#include "files/FileAccess.h"
#include "iso2709/Iso2709Reader.h"
#include "iso2709/RecordStream.h"

// Framing the records of a file for a check, and what lies between and after
// them, shared by the single-thread and the worker checks.

namespace veltrane::check {

/// The description of bytes between records; `before` is the record before
/// them (0 before the first).
[[nodiscard]] std::string JunkDescription(std::uint64_t from, std::uint64_t bytes, std::int64_t before);

/// Tells what follows the last record: skipped bytes, then perhaps bytes
/// that start like a record but cannot be one.
template <typename Tell>
inline void TellTail(int fd, std::uint64_t size, const CheckOptions& options, const RecordStream& stream,
              std::uint64_t previousEnd, const std::string& lastControlNumber, Tell& tell)
{
    auto inRange = [&](std::int64_t number) { return number >= options.first && number <= options.last; };
    const std::int64_t last = stream.count();
    if (last > options.last)
        return;
    const std::uint64_t stop = std::min(stream.position(), size);
    if (stop > previousEnd && !stream.skippedLineEnds() && inRange(last == 0 ? 1 : last))
        tell({last, previousEnd, last == 0 ? std::string() : lastControlNumber, "junk",
              JunkDescription(previousEnd, stop - previousEnd, last)});
    if (stop < size && inRange(last == 0 ? 1 : last)) {
        unsigned char head[kLeaderLength] = {};
        const ssize_t got = fileaccess::readAt(fd, head, sizeof head, static_cast<off_t>(stop));
        const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
        const std::string rest = std::to_string(size - stop) + " bytes from byte " + std::to_string(stop);
        if (n < kLeaderLength)
            tell({last, stop, lastControlNumber, "truncated",
                  "the file ends inside the leader of the next record: " + rest + " are not read"});
        else if (!AllAsciiDigits(head, kRecordLengthDigits))
            tell({last, stop, lastControlNumber, "length-digits",
                  "the record length '" + PrintableBytes({head, kRecordLengthDigits}) + "' is not five digits: " + rest +
                      " are not read"});
        else
            tell({last, stop, lastControlNumber, "length-short",
                  "the record length " + std::to_string(ParseDigits(head, kRecordLengthDigits)) +
                      " is under 25: " + rest + " are not read"});
    }
}

/// How framing the records ended.
enum class FramingEnd {
    Finished,   ///< no record after the last: what follows it is told
    LeftRange,  ///< `take` stopped at the record after the range
    Failed,     ///< a read error or a stop; the result says which
};

/// Frames the records of stream front to back and hands each to `take`
/// until it returns false; reports progress and honours a stop every
/// monitor.interval bytes.
template <typename Take>
FramingEnd FrameRecords(RecordStream& stream, std::uint64_t size, const WorkMonitor& monitor, CheckResult& result,
                        Take take)
{
    FramedRecord framed;
    std::uint64_t reported = 0;
    monitor.report(0, size);
    for (;;) {
        const RecordStream::Step step = stream.next(framed);
        if (step == RecordStream::Step::ReadError) {
            result.status = CheckResult::Status::ReadError;
            result.error = errno;
            return FramingEnd::Failed;
        }
        if (step == RecordStream::Step::End)
            return FramingEnd::Finished;
        result.records = framed.number;
        if (framed.offset >= reported + monitor.interval) {
            if (monitor.stopRequested()) {
                result.status = CheckResult::Status::Cancelled;
                return FramingEnd::Failed;
            }
            reported = framed.offset;
            monitor.report(std::min(reported, size), size);
        }
        if (!take(framed))
            return FramingEnd::LeftRange;
    }
}

}  // namespace veltrane::check
