// SPDX-License-Identifier: Apache-2.0
#include "files/RecordIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "files/IndexFile.h"
#include "iso2709/RecordLayout.h"
#include "iso2709/RecordStream.h"

namespace veltrane {

namespace {

constexpr std::size_t kIndexWriteBufferSize = 64 * 1024;

/// Index entries gathered in a write buffer; every write is checked.
class IndexWriter {
public:
    explicit IndexWriter(int fd) : m_fd(fd), m_buffer(new unsigned char[kIndexWriteBufferSize]) {}

    [[nodiscard]] bool append(std::uint64_t offset)
    {
        if (m_used + kIndexEntrySize > kIndexWriteBufferSize && !flush())
            return false;
        EncodeIndexEntry(offset, m_buffer.get() + m_used);
        m_used += kIndexEntrySize;
        return true;
    }

    [[nodiscard]] bool flush()
    {
        std::size_t written = 0;
        while (written < m_used) {
            ssize_t n = ::write(m_fd, m_buffer.get() + written, m_used - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            written += static_cast<std::size_t>(n);
        }
        m_used = 0;
        return true;
    }

private:
    int m_fd;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_used = 0;
};

// Removes a partial index, but only the regular file that was opened: a device
// or a file put under the name since must not be deleted.
void removePartialIndex(const struct stat& opened, const char* indexFileName)
{
    struct stat named {};
    if (S_ISREG(opened.st_mode) && ::lstat(indexFileName, &named) == 0 && named.st_dev == opened.st_dev
        && named.st_ino == opened.st_ino)
        ::unlink(indexFileName);
}

enum class ScanResult { Done, ReadFailed, WriteFailed, Cancelled };

ScanResult scanRecords(RecordStream& stream, IndexWriter& writer, std::uint64_t total, const WorkMonitor& monitor)
{
    FramedRecord record;
    std::uint64_t reported = 0;
    monitor.report(0, total);
    for (;;) {
        const RecordStream::Step step = stream.next(record, false);
        if (step == RecordStream::Step::ReadError)
            return ScanResult::ReadFailed;
        // Every position examined is written, so the last entry is where the
        // scan stopped: the end sentinel.
        if (!writer.append(step == RecordStream::Step::End ? stream.position() : record.offset))
            return ScanResult::WriteFailed;
        if (step == RecordStream::Step::End)
            break;
        if (record.offset >= reported + monitor.interval) {
            if (monitor.stopRequested())
                return ScanResult::Cancelled;
            reported = record.offset;
            monitor.report(std::min(reported, total), total);
        }
    }
    if (monitor.stopRequested())
        return ScanResult::Cancelled;
    monitor.report(total, total);
    return ScanResult::Done;
}

}  // namespace

std::string TemporaryDirectory()
{
    for (const char* name : {"TMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return "/tmp";
}

std::optional<std::string> CreateIndexName(UserPrompt& prompt)
{
    std::string directory = TemporaryDirectory();
    if (directory.back() != '/')
        directory += '/';
    // Creating the file with the name, exclusively and without following links,
    // keeps another process from planting a file or link under it.
    constexpr unsigned kMaxCounter = 1'000'000;
    for (unsigned counter = 0; counter < kMaxCounter; ++counter) {
        std::string name = directory + "idx" + std::to_string(counter);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    prompt.showMessage("tempnam couldn't create name");
    return std::nullopt;
}

int BuildRecordIndex(const char* fileName, const char* indexFileName)
{
    return BuildRecordIndex(fileName, indexFileName, kIndexReadBlockSize);
}

int BuildRecordIndex(const char* fileName, const char* indexFileName, std::size_t blockSize)
{
    const IndexBuild build = BuildRecordIndex(fileName, indexFileName, NoMonitor(), blockSize);
    return build.outcome == Outcome::Done ? build.count : -1;
}

IndexBuild BuildRecordIndex(const char* fileName, const char* indexFileName, const WorkMonitor& monitor,
                            std::size_t blockSize)
{
    // O_NONBLOCK: a FIFO under either name fails instead of hanging the caller.
    int recordFd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (recordFd < 0)
        return {Outcome::FileError, -1};
    int indexFd = ::open(indexFileName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (indexFd < 0) {
        ::close(recordFd);
        return {Outcome::FileError, -1};
    }
    struct stat opened {};
    struct stat records {};
    bool ok = ::fstat(indexFd, &opened) == 0 && ::fstat(recordFd, &records) == 0;
    RecordStream stream(recordFd, blockSize);
    IndexWriter writer(indexFd);
    // A read error fails too: a short index would hide records.
    const ScanResult scan = ok ? scanRecords(stream, writer, static_cast<std::uint64_t>(records.st_size), monitor)
                               : ScanResult::ReadFailed;
    ok = scan == ScanResult::Done && writer.flush();
    ::close(recordFd);
    // Close reports a deferred write failure (a full disk on some file systems).
    ok = ::close(indexFd) == 0 && ok;
    if (!ok) {
        removePartialIndex(opened, indexFileName);
        return {scan == ScanResult::Cancelled ? Outcome::Cancelled : Outcome::FileError, -1};
    }
    return {Outcome::Done, static_cast<int>(stream.count())};
}

std::optional<std::uint64_t> ReadIndexEntry(const char* indexFileName, std::int64_t k)
{
    int fd = ::open(indexFileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    IndexReader reader(fd);
    const std::optional<std::uint64_t> value = reader.entry(k);
    ::close(fd);
    return value;
}

}  // namespace veltrane
