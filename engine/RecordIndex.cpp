#include "RecordIndex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "RecordLayout.h"

namespace veltrane {

namespace {

std::string temporaryDirectory()
{
    for (const char* name : {"TMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return "/tmp";
}

}  // namespace

std::optional<std::string> CreateIndexName(UserPrompt& prompt)
{
    std::string directory = temporaryDirectory();
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
    // Placeholder: straightforward version, replaced by the block-reading scan.
    FILE* records = std::fopen(fileName, "rb");
    if (records == nullptr)
        return -1;
    int indexFd = ::open(indexFileName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (indexFd < 0) {
        std::fclose(records);
        return -1;
    }
    std::uint64_t offset = 0;
    int count = 0;
    bool ok = true;
    for (;;) {
        unsigned char leader[kLeaderLength];
        std::fseek(records, static_cast<long>(offset), SEEK_SET);
        std::size_t n = std::fread(leader, 1, kLeaderLength, records);
        std::uint32_t length = ParseDigits(leader, 5);
        unsigned char entry[kIndexEntrySize];
        for (std::size_t i = 0; i < kIndexEntrySize; ++i)
            entry[i] = static_cast<unsigned char>(offset >> (8 * i));
        if (::write(indexFd, entry, sizeof entry) != static_cast<ssize_t>(sizeof entry)) {
            ok = false;
            break;
        }
        if (n < kLeaderLength || length <= kLeaderLength)
            break;
        offset += length;
        std::fseek(records, static_cast<long>(offset), SEEK_SET);
        int c;
        while ((c = std::fgetc(records)) != EOF && !IsAsciiDigit(static_cast<unsigned char>(c)))
            ++offset;
        ++count;
    }
    std::fclose(records);
    if (::close(indexFd) != 0)
        ok = false;
    if (!ok) {
        ::unlink(indexFileName);
        return -1;
    }
    return count;
}

std::optional<std::uint64_t> ReadIndexEntry(const char* indexFileName, std::int64_t k)
{
    if (k < 1)
        return std::nullopt;
    int fd = ::open(indexFileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    unsigned char entry[kIndexEntrySize];
    ssize_t n = ::pread(fd, entry, sizeof entry, static_cast<off_t>((k - 1) * kIndexEntrySize));
    ::close(fd);
    if (n != static_cast<ssize_t>(sizeof entry))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < kIndexEntrySize; ++i)
        value |= static_cast<std::uint64_t>(entry[i]) << (8 * i);
    return value;
}

}  // namespace veltrane
