#include "RecordExtract.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "FileAccess.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"

namespace veltrane {

using namespace fileaccess;

namespace {

constexpr char kTargetIsRecordFileMessage[] =
    "The target is the record file itself: it cannot be overwritten with its own records. "
    "Choose another file or append.";
constexpr char kTargetIsScratchFileMessage[] =
    "The target is the display scratch file, which is rewritten by every display. Choose another file.";

enum class WriteMode { Create, Overwrite, Append };

std::optional<std::uint64_t> readEntry(int indexFd, std::int64_t k)
{
    unsigned char bytes[kIndexEntrySize];
    if (k < 1 || readAt(indexFd, bytes, sizeof bytes, static_cast<off_t>((k - 1) * std::int64_t{kIndexEntrySize}))
                     != static_cast<ssize_t>(sizeof bytes))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < kIndexEntrySize; ++i)
        value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return value;
}

bool isScratchDisplayFile(const std::optional<FileIdentity>& identity)
{
    return identity && identity == identityOf(ScratchDisplayFile.c_str());
}

/// Copies bytes [start, end) of the record file to the target, whose end lies
/// at targetOffset, through RecordBuffer; false when a read or a write fails.
bool copyRange(int recordFd, int targetFd, std::uint64_t start, std::uint64_t end, std::uint64_t targetOffset)
{
    // Blocks end on the target's page boundaries: whole-page writes cost the
    // page cache a good deal less than writes that split pages.
    constexpr std::uint64_t kPageSize = 4096;
    constexpr std::uint64_t kAlignedBlock = kRecordBufferSize / kPageSize * kPageSize;
    std::uint64_t position = start;
    while (position < end) {
        const std::uint64_t fitting = kAlignedBlock - targetOffset % kPageSize;
        const auto block = static_cast<std::size_t>(std::min(end - position, fitting));
        const ssize_t got = readAt(recordFd, RecordBuffer, block, static_cast<off_t>(position));
        if (got < 0 || !writeAll(targetFd, RecordBuffer, static_cast<std::size_t>(got)))
            return false;
        if (static_cast<std::size_t>(got) < block)
            break;  // the file ended early
        position += block;
        targetOffset += block;
    }
    return true;
}

}  // namespace

int ExtractRecords(UserPrompt& prompt, const char* fileName, const char* indexFileName, int a, int b,
                   const char* targetPath)
{
    UniqueFd records(::open(fileName, O_RDONLY | O_CLOEXEC));
    struct stat recordStat {};
    if (!records || ::fstat(records.get(), &recordStat) != 0) {
        prompt.showMessage(kInvalidDriveMessage);
        return 0;
    }
    UniqueFd index(::open(indexFileName, O_RDONLY | O_CLOEXEC));
    if (!index) {
        prompt.showMessage(kFileOpenMessage);
        return 0;
    }
    // Record b + 1 is the end sentinel when b is the last record.
    const std::optional<std::uint64_t> start = a >= 1 ? readEntry(index.get(), a) : std::nullopt;
    const std::optional<std::uint64_t> end = b >= a ? readEntry(index.get(), std::int64_t{b} + 1) : std::nullopt;
    index.reset();
    if (!start || !end) {
        prompt.showMessage(kFileOpenMessage);
        return 0;
    }
    const FileIdentity recordIdentity{recordStat.st_dev, recordStat.st_ino};

    WriteMode mode = WriteMode::Create;
    if (::access(targetPath, F_OK) == 0) {
        if (isScratchDisplayFile(identityOf(targetPath))) {
            prompt.showMessage(kTargetIsScratchFileMessage);
            return 0;
        }
        switch (prompt.askOverwrite(targetPath)) {
        case OverwriteChoice::Overwrite:
            mode = WriteMode::Overwrite;
            break;
        case OverwriteChoice::Append:
            mode = WriteMode::Append;
            break;
        case OverwriteChoice::Cancel:
            return 1;
        default:
            return -1;
        }
    }

    // The target is opened without truncating it, so that its identity can be
    // checked before anything of it is lost.
    const int flags = O_WRONLY | O_CLOEXEC
                      | (mode == WriteMode::Create ? O_CREAT | O_EXCL : 0)
                      | (mode == WriteMode::Append ? O_APPEND : 0);
    UniqueFd target(::open(targetPath, flags, 0666));
    struct stat targetStat {};
    if (!target || ::fstat(target.get(), &targetStat) != 0) {
        prompt.showMessage(kInvalidDriveMessage);
        return 0;
    }
    const FileIdentity targetIdentity{targetStat.st_dev, targetStat.st_ino};
    const char* refusal = nullptr;
    if (isScratchDisplayFile(targetIdentity))
        refusal = kTargetIsScratchFileMessage;
    else if (mode == WriteMode::Overwrite && targetIdentity == recordIdentity)
        refusal = kTargetIsRecordFileMessage;
    if (refusal != nullptr) {
        target.reset();
        if (mode == WriteMode::Create)
            ::unlink(targetPath);
        prompt.showMessage(refusal);
        return 0;
    }

    const auto oldLength = static_cast<off_t>(mode == WriteMode::Append ? targetStat.st_size : 0);
    // Appending to the record file itself must copy the range as it stood
    // before the copy began, never the bytes the copy is adding; a sentinel
    // beyond the end of the file also stops at the end.
    const std::uint64_t fileEnd = static_cast<std::uint64_t>(recordStat.st_size);
    const std::uint64_t copyEnd = std::min(*end, fileEnd);
    const std::uint64_t copyStart = std::min(*start, copyEnd);
    bool ok = (mode != WriteMode::Overwrite || ::ftruncate(target.get(), 0) == 0)
              && copyRange(records.get(), target.get(), copyStart, copyEnd, static_cast<std::uint64_t>(oldLength));
    if (!ok) {
        // Take back what was written: the target keeps what it held before
        // (nothing, when it was made here or the user chose to overwrite it).
        ignoreResult(::ftruncate(target.get(), oldLength));
    }
    ok = target.reset() && ok;
    if (!ok) {
        if (mode == WriteMode::Create)
            ::unlink(targetPath);
        else
            ignoreResult(::truncate(targetPath, oldLength));
        prompt.showMessage(kInvalidDriveMessage);
        return 0;
    }
    return 1;
}

}  // namespace veltrane
