// SPDX-License-Identifier: Apache-2.0
#include "check/CheckWorkers.h"

#include <memory>
#include <vector>

#include "check/CheckFraming.h"
#include "check/RecordChecker.h"
#include "iso2709/BatchWorkers.h"

namespace veltrane::check {

namespace {

/// A record handed to a worker, in the block the stream framed it in.
struct BatchRecord {
    std::int64_t number = 0;
    std::uint64_t offset = 0;
    std::uint32_t declaredLength = 0;
    std::size_t at = 0, size = 0;  ///< where its bytes are in the block
    std::uint64_t junkFrom = 0, junkBytes = 0;
    bool junkLineEnds = true;
    bool checked = true;  ///< false: only the junk before it is told (the record after the range)
};

/// The records the stream framed in one of its blocks, checked by a worker
/// where they stand: the file is read once and nothing is copied.
struct Batch {
    std::unique_ptr<unsigned char[]> bytes;  ///< the stream's block
    std::vector<BatchRecord> records;
    std::vector<CheckProblem> problems;
    /// The first problem is junk after the last record of the batch before,
    /// whose 001 value only the printer knows.
    bool firstTakesPrevious = false;
    std::string lastControlNumber;  ///< of its last checked record
    bool anyChecked = false;
    ProblemTally tally;  ///< its problems, when only counted

    void clear()
    {
        records.clear();
        problems.clear();
        tally.clear();
        firstTakesPrevious = false;
        anyChecked = false;
    }
};

/// What one worker thread keeps from record to record.
struct WorkerScratch {
    std::vector<CheckProblem> problems;  ///< of one record, when only counted
    RecordFields fields;
    TextCodec codec;
    CheckScratch scratch;
    ControlNumber controlNumber;
};

void checkBatch(Batch& batch, const CheckOptions& options, WorkerScratch& worker, bool counted)
{
    FramedRecord framed;
    for (const BatchRecord& r : batch.records) {
        if (r.junkBytes != 0 && !r.junkLineEnds) {
            const std::int64_t before = r.number - 1;
            if (before == 0 || (before >= options.first && before <= options.last)) {
                if (before != 0 && !batch.anyChecked && batch.problems.empty())
                    batch.firstTakesPrevious = true;
                batch.problems.push_back(
                    {before, r.junkFrom,
                     before == 0 || !batch.anyChecked ? std::string() : std::string(worker.controlNumber.value()),
                     "junk", JunkDescription(r.junkFrom, r.junkBytes, before)});
            }
        }
        if (!r.checked)
            continue;
        framed.number = r.number;
        framed.offset = r.offset;
        framed.declaredLength = r.declaredLength;
        framed.bytes = {batch.bytes.get() + r.at, r.size};
        if (counted) {
            worker.problems.clear();
            CheckOne(framed, options, worker.fields, worker.codec, worker.problems, worker.scratch,
                     worker.controlNumber, true, &batch.tally);
            for (const CheckProblem& p : worker.problems)
                batch.tally.add(p);
        } else {
            CheckOne(framed, options, worker.fields, worker.codec, batch.problems, worker.scratch,
                     worker.controlNumber, true);
        }
        batch.anyChecked = true;
    }
    // The block goes back to the stream: the last value is kept as text.
    if (batch.anyChecked)
        batch.lastControlNumber.assign(worker.controlNumber.value());
}

}  // namespace

CheckResult CheckOnWorkers(int fd, std::uint64_t size, const CheckOptions& options, const WorkMonitor& monitor,
                          const std::function<void(const CheckProblem&)>& report, int workers, ProblemTally* tally)
{
    CheckResult result;
    std::string lastControlNumber;
    std::uint64_t previousEnd = 0;
    auto inRange = [&](std::int64_t number) { return number >= options.first && number <= options.last; };
    auto tell = [&](const CheckProblem& problem) {
        ++result.problems;
        if (tally != nullptr)
            tally->add(problem);
        else
            report(problem);
    };
    auto take = [&](Batch& batch) {
        if (tally != nullptr) {
            // Junk between records is told whole, the records' problems counted.
            for (const CheckProblem& p : batch.problems)
                tell(p);
            result.problems += batch.tally.total();
            tally->add(batch.tally);
            if (batch.anyChecked)
                std::swap(lastControlNumber, batch.lastControlNumber);
            return;
        }
        for (std::size_t i = 0; i < batch.problems.size(); ++i) {
            if (i == 0 && batch.firstTakesPrevious)
                batch.problems[0].controlNumber = lastControlNumber;
            tell(batch.problems[i]);
        }
        if (batch.anyChecked)
            std::swap(lastControlNumber, batch.lastControlNumber);
    };
    constexpr std::size_t kBlockSize = RecordStream::kDefaultBlockSize;
    std::vector<WorkerScratch> scratch(static_cast<std::size_t>(workers));
    BatchWorkers<Batch> checker(
        workers, RecordStream::blockCapacity(kBlockSize),
        [&](Batch& batch, std::size_t worker) { checkBatch(batch, options, scratch[worker], tally != nullptr); },
        take);
    RecordStream stream(fd, kBlockSize, checker);
    auto add = [&](const FramedRecord& framed, bool checked) {
        BatchRecord r;
        r.number = framed.number;
        r.offset = framed.offset;
        r.declaredLength = framed.declaredLength;
        r.junkFrom = previousEnd;
        r.junkBytes = framed.separatorBefore;
        r.junkLineEnds = framed.separatorLineEnds;
        r.checked = checked;
        Batch& batch = checker.current();
        if (checked) {
            r.at = static_cast<std::size_t>(framed.bytes.data() - batch.bytes.get());
            r.size = framed.bytes.size();
        }
        batch.records.push_back(r);
    };
    const FramingEnd end = FrameRecords(stream, size, monitor, result, [&](const FramedRecord& framed) {
        if (framed.number > options.last) {
            add(framed, false);
            return false;
        }
        if (inRange(framed.number))
            add(framed, true);
        previousEnd = framed.offset + framed.declaredLength;
        return true;
    });
    // Everything framed is checked and told, whatever ended the framing, as
    // one record after another would have been.
    checker.finish();
    if (end == FramingEnd::Finished)
        TellTail(fd, size, options, stream, previousEnd, lastControlNumber, tell);
    return result;
}

}  // namespace veltrane::check
