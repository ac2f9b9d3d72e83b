// SPDX-License-Identifier: Apache-2.0
#include "check/RecordCheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "check/CheckFraming.h"
#include "check/CheckWorkers.h"
#include "iso2709/BatchWorkers.h"
#include "check/RecordChecker.h"

namespace veltrane {

using check::CheckScratch;
using check::ControlNumber;
using check::FramingEnd;

int DefaultCheckWorkers()
{
    return DefaultWorkerCount(kMaxCheckWorkers);
}

void CheckRecord(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
                 std::vector<CheckProblem>& out, std::string* controlNumber)
{
    CheckScratch scratch;
    ControlNumber found;
    check::CheckOne(record, options, fields, codec, out, scratch, found, false);
    if (controlNumber != nullptr)
        controlNumber->assign(found.value());
}

namespace {

CheckResult checkAll(int fd, std::uint64_t size, const CheckOptions& options, const WorkMonitor& monitor,
                     const std::function<void(const CheckProblem&)>& report)
{
    CheckResult result;
    RecordStream stream(fd);
    RecordFields fields;
    TextCodec codec;
    std::vector<CheckProblem> problems;
    CheckScratch scratch;
    std::string lastControlNumber;
    ControlNumber controlNumber;
    std::uint64_t previousEnd = 0;
    auto inRange = [&](std::int64_t number) { return number >= options.first && number <= options.last; };
    auto tell = [&](const CheckProblem& problem) {
        ++result.problems;
        report(problem);
    };
    // Runs of CR and LF alone are line ends, a common way to write record
    // files, not junk.
    auto junk = [&](std::uint64_t from, std::uint64_t bytes, bool lineEnds, std::int64_t before) {
        if (bytes == 0 || lineEnds || !inRange(before == 0 ? 1 : before))
            return;
        tell({before, from, before == 0 ? std::string() : lastControlNumber, "junk",
              check::JunkDescription(from, bytes, before)});
    };
    const FramingEnd end = check::FrameRecords(stream, size, monitor, result, [&](const FramedRecord& framed) {
        junk(previousEnd, framed.separatorBefore, framed.separatorLineEnds, framed.number - 1);
        previousEnd = framed.offset + framed.declaredLength;
        if (framed.number > options.last)
            return false;
        if (!inRange(framed.number))
            return true;
        problems.clear();
        check::CheckOne(framed, options, fields, codec, problems, scratch, controlNumber, false);
        for (const CheckProblem& p : problems)
            tell(p);
        lastControlNumber.assign(controlNumber.value());
        return true;
    });
    if (end == FramingEnd::Finished)
        check::TellTail(fd, size, options, stream, previousEnd, lastControlNumber, tell);
    return result;
}

}  // namespace

void ProblemTally::add(const ProblemTally& other)
{
    for (const Entry& e : other.m_entries) {
        auto same = [&](const Entry& mine) { return mine.code.data() == e.code.data() && mine.code.size() == e.code.size() && mine.rules == e.rules; };
        if (const auto found = std::find_if(m_entries.begin(), m_entries.end(), same); found != m_entries.end())
            found->count += e.count;
        else
            m_entries.push_back(e);
    }
    m_bySeverity[0] += other.m_bySeverity[0];
    m_bySeverity[1] += other.m_bySeverity[1];
}

std::uint64_t ProblemTally::count(std::string_view code, std::optional<RuleSet> rules) const
{
    std::uint64_t total = 0;
    for (const Entry& e : m_entries)
        if (e.code == code && (!rules || e.rules == *rules))
            total += e.count;
    return total;
}

namespace {

/// CheckRecords, or CountProblems with a tally.
CheckResult checkFile(int fd, const CheckOptions& options, const WorkMonitor& monitor,
                      const std::function<void(const CheckProblem&)>& report, ProblemTally* tally)
{
    struct stat info {};
    const std::uint64_t size = ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    const int workers = options.workers > 0 ? options.workers : DefaultCheckWorkers();
    CheckResult result = workers > 1 ? check::CheckOnWorkers(fd, size, options, monitor, report, workers, tally)
                                     : checkAll(fd, size, options, monitor, report);
    if (result.status == CheckResult::Status::Done) {
        // A stop asked for after the last check is honoured all the same.
        if (monitor.stopRequested())
            result.status = CheckResult::Status::Cancelled;
        else
            monitor.report(size, size);
    }
    return result;
}

}  // namespace

CheckResult CheckRecords(int fd, const CheckOptions& options, const WorkMonitor& monitor,
                         const std::function<void(const CheckProblem&)>& report)
{
    return checkFile(fd, options, monitor, report, nullptr);
}

CheckResult CountProblems(int fd, const CheckOptions& options, const WorkMonitor& monitor, ProblemTally& tally)
{
    CheckOptions counting = options;
    counting.messages = false;
    // One thread alone counts each problem as it is told.
    return checkFile(fd, counting, monitor, [&](const CheckProblem& p) { tally.add(p); }, &tally);
}

}  // namespace veltrane
