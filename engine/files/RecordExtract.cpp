// SPDX-License-Identifier: Apache-2.0
#include "files/RecordExtract.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <optional>

#include "files/FileAccess.h"
#include "files/IndexFile.h"
#include "files/RecordIndex.h"
#include "files/TargetFile.h"
#include "iso2709/RecordLayout.h"
#include "display/RecordScan.h"

namespace veltrane {

using namespace fileaccess;

namespace {

constexpr char kTargetIsRecordFileMessage[] =
    "The target is the record file itself: it cannot be overwritten with its own records. "
    "Choose another file or append.";
constexpr char kTargetIsScratchFileMessage[] =
    "The target is the display scratch file, which is rewritten by every display. Choose another file.";

bool isScratchDisplayFile(const ScratchDisplay& scratch, const std::optional<FileIdentity>& identity)
{
    return identity && identity == identityOf(scratch.path().c_str());
}

/// A page-aligned copy buffer: whole-page copies through it are cheapest.
struct CopyBuffer {
    static constexpr std::size_t kSize = (kRecordBufferSize + 4095) / 4096 * 4096;
    CopyBuffer() : bytes(static_cast<unsigned char*>(std::aligned_alloc(4096, kSize))) {}
    ~CopyBuffer() { std::free(bytes); }
    CopyBuffer(const CopyBuffer&) = delete;
    CopyBuffer& operator=(const CopyBuffer&) = delete;
    unsigned char* bytes;
};

enum class CopyResult { Done, Failed, Cancelled };

/// Copies bytes [start, end) of the record file to the target, whose end lies
/// at targetOffset, at most 99,999 bytes at a time.
CopyResult copyRange(int recordFd, int targetFd, std::uint64_t start, std::uint64_t end, std::uint64_t targetOffset,
                     const WorkMonitor& monitor)
{
    std::uint64_t reported = start;
    monitor.report(start, end);
    std::uint64_t position = start;
    // The kernel copies without bringing the bytes through this process
    // (and may share the blocks), as cp does; where it cannot for these two
    // files (other file systems, an appending target), the bytes go through a
    // buffer. A chunk at a time, so that a stop is seen.
    const std::uint64_t chunk = std::clamp<std::uint64_t>(monitor.interval, 4096, 64 * 1024 * 1024);
    bool inKernel = true;
    while (inKernel && position < end) {
        if (position >= reported + monitor.interval) {
            if (monitor.stopRequested())
                return CopyResult::Cancelled;
            reported = position;
            monitor.report(position, end);
        }
        auto from = static_cast<off_t>(position);
        const ssize_t copied =
            ::copy_file_range(recordFd, &from, targetFd, nullptr, static_cast<std::size_t>(std::min(end - position, chunk)), 0);
        if (copied < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
                return CopyResult::Failed;
            inKernel = false;
            break;
        }
        if (copied == 0) {
            position = end;  // the file ended early: nothing more to copy
            break;
        }
        position += static_cast<std::uint64_t>(copied);
        targetOffset += static_cast<std::uint64_t>(copied);
    }

    CopyBuffer buffer;
    if (position < end && buffer.bytes == nullptr)
        return CopyResult::Failed;
    // Blocks end on the target's page boundaries: whole-page writes cost the
    // page cache a good deal less than writes that split pages.
    constexpr std::uint64_t kPageSize = 4096;
    constexpr std::uint64_t kAlignedBlock = kRecordBufferSize / kPageSize * kPageSize;
    while (position < end) {
        const std::uint64_t fitting = kAlignedBlock - targetOffset % kPageSize;
        const auto block = static_cast<std::size_t>(std::min(end - position, fitting));
        if (position >= reported + monitor.interval) {
            if (monitor.stopRequested())
                return CopyResult::Cancelled;
            reported = position;
            monitor.report(position, end);
        }
        const ssize_t got = readAt(recordFd, buffer.bytes, block, static_cast<off_t>(position));
        if (got < 0 || !writeAll(targetFd, buffer.bytes, static_cast<std::size_t>(got)))
            return CopyResult::Failed;
        if (static_cast<std::size_t>(got) < block)
            break;  // the file ended early
        position += block;
        targetOffset += block;
    }
    if (monitor.stopRequested())
        return CopyResult::Cancelled;
    monitor.report(end, end);
    return CopyResult::Done;
}

}  // namespace

ExtractResult ExtractRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const char* fileName,
                             const char* indexFileName, int a, int b, const char* targetPath,
                             const WorkMonitor& monitor)
{
    UniqueFd records(::open(fileName, O_RDONLY | O_CLOEXEC));
    struct stat recordStat {};
    if (!records || ::fstat(records.get(), &recordStat) != 0) {
        return {ExtractOutcome::Failed, kInvalidDriveMessage};
    }
    UniqueFd index(::open(indexFileName, O_RDONLY | O_CLOEXEC));
    if (!index) {
        return {ExtractOutcome::Failed, kFileOpenMessage};
    }
    // Record b + 1 is the end sentinel when b is the last record.
    IndexReader entries(index.get());
    const std::optional<std::uint64_t> start = a >= 1 ? entries.entry(a) : std::nullopt;
    const std::optional<std::uint64_t> end = b >= a ? entries.entry(std::int64_t{b} + 1) : std::nullopt;
    index.reset();
    if (!start || !end) {
        return {ExtractOutcome::Failed, kFileOpenMessage};
    }
    const FileIdentity recordIdentity{recordStat.st_dev, recordStat.st_ino};

    TargetWrite write = TargetWrite::Create;
    if (::access(targetPath, F_OK) == 0) {
        if (isScratchDisplayFile(scratch, identityOf(targetPath))) {
            return {ExtractOutcome::Failed, kTargetIsScratchFileMessage};
        }
        switch (prompt.askOverwrite(targetPath)) {
        case OverwriteChoice::Overwrite:
            write = TargetWrite::Overwrite;
            break;
        case OverwriteChoice::Append:
            write = TargetWrite::Append;
            break;
        case OverwriteChoice::Cancel:
            return {ExtractOutcome::Declined, {}};
        default:
            return {ExtractOutcome::QuestionUnavailable, {}};
        }
    }

    // Extraction writes into the target itself, so that it may append to a
    // record file open in a window.
    TargetFile target;
    if (target.open(targetPath, write, TargetPlacement::InPlace) != 0) {
        return {ExtractOutcome::Failed, kInvalidDriveMessage};
    }
    const char* refusal = nullptr;
    if (isScratchDisplayFile(scratch, target.identity()))
        refusal = kTargetIsScratchFileMessage;
    else if (write == TargetWrite::Overwrite && target.identity() == recordIdentity)
        refusal = kTargetIsRecordFileMessage;
    if (refusal != nullptr) {
        target.rollback();
        return {ExtractOutcome::Failed, refusal};
    }

    // Appending to the record file itself must copy the range as it stood
    // before the copy began, never the bytes the copy is adding; a sentinel
    // beyond the end of the file also stops at the end.
    const std::uint64_t fileEnd = static_cast<std::uint64_t>(recordStat.st_size);
    const std::uint64_t copyEnd = std::min(*end, fileEnd);
    const std::uint64_t copyStart = std::min(*start, copyEnd);
    CopyResult copy = CopyResult::Failed;
    if (target.begin() == 0)
        copy = copyRange(records.get(), target.fd(), copyStart, copyEnd,
                         static_cast<std::uint64_t>(target.oldLength()), monitor);
    if (copy != CopyResult::Done)
        target.rollback();
    if (copy == CopyResult::Cancelled)
        return {ExtractOutcome::Cancelled, {}};
    if (copy != CopyResult::Done || target.commit() != 0) {
        return {ExtractOutcome::Failed, kInvalidDriveMessage};
    }
    return {ExtractOutcome::Copied, {}};
}

}  // namespace veltrane
