#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "RecordFiles.h"
#include "RecordIndex.h"
#include "ScriptedPrompt.h"

using namespace veltrane;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

/// A well-formed record of exactly `length` bytes (39 bytes surround the body).
std::string recordOfLength(std::size_t length)
{
    return testsupport::MakeRecord({{"200", std::string(length - 39, 'x')}});
}

/// The index file decoded as 64-bit little-endian entries.
std::vector<std::uint64_t> indexEntries(const std::string& path, std::vector<std::uint64_t> entries = {})
{
    const std::string bytes = testsupport::ReadFile(path);
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i)
            value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
        entries.push_back(value);
    }
    return entries;
}

/// Indexes records into a fresh file; returns the count followed by the entries.
std::vector<std::uint64_t> buildIndex(const TempDir& dir, const std::string& records,
                                      std::size_t blockSize = kIndexReadBlockSize)
{
    std::string index = dir.file("index");
    fs::remove(index);
    const int count = BuildRecordIndex(records.c_str(), index.c_str(), blockSize);
    return indexEntries(index, {static_cast<std::uint64_t>(count)});
}

/// Sets (or with nullptr clears) an environment variable for the life of the object.
struct ScopedEnv {
    ScopedEnv(const char* n, const char* value) : name(n), old(std::getenv(n) ? std::optional<std::string>(std::getenv(n)) : std::nullopt)
    {
        value ? ::setenv(n, value, 1) : ::unsetenv(n);
    }
    ~ScopedEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

const std::string kRecord100 = recordOfLength(100);
const std::string kRecord200 = recordOfLength(200);

}  // namespace

TEST(BuildRecordIndex, EdgeCasesAtEveryBlockSize)
{
    std::string length24 = kRecord100, claimsPastEnd = kRecord100;
    length24.replace(0, 5, "00024");
    claimsPastEnd.replace(0, 5, "00500");
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::uint64_t> expected;  ///< count, offsets, end sentinel
    } cases[] = {
        {"empty_file", "", {0, 0}},
        {"back_to_back", kRecord100 + kRecord200, {2, 0, 100, 300}},
        {"crlf_after_each", kRecord100 + "\r\n" + kRecord200 + "\r\n", {2, 0, 102, 304}},
        {"length_24_is_no_record", length24 + kRecord100, {0, 0}},
        {"last_record_cut_short", kRecord100 + kRecord200.substr(0, 150), {2, 0, 100, 300}},
        {"length_past_end_of_file", claimsPastEnd, {1, 0, 500}},
        {"trailing_zero_line", kRecord100 + "0\n", {1, 0, 100}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        std::string records = dir.write(c.name, c.bytes);
        // Small blocks put leaders and separators across block boundaries.
        for (std::size_t block : {std::size_t{24}, std::size_t{37}, kIndexReadBlockSize}) {
            SCOPED_TRACE(std::string(c.name) + " block " + std::to_string(block));
            EXPECT_EQ(buildIndex(dir, records, block), c.expected);
        }
    }
}

TEST(BuildRecordIndex, SeparatorsStraddlingBlockBoundaries)
{
    // Records of varied lengths with runs of 0 to 16 separators drawn from every
    // non-digit byte, a run longer than a block, and a digit as trailing junk,
    // read at every block size.
    std::string nonDigits;
    for (int b = 0; b < 256; ++b)
        if (b < '0' || b > '9')
            nonDigits += static_cast<char>(b);
    TempDir dir;
    std::string bytes;
    std::vector<std::uint64_t> expected{40};
    for (std::size_t i = 0; i < 40; ++i) {
        expected.push_back(bytes.size());
        bytes += recordOfLength(40 + (i * 37) % 90) + nonDigits.substr((i * 17) % 230, i % 17);
    }
    bytes += std::string(400, '\0');
    expected.push_back(bytes.size());
    std::string records = dir.write("records.mrc", bytes + "7\n");
    for (std::size_t block = 24; block <= 300; ++block)
        ASSERT_EQ(buildIndex(dir, records, block), expected) << "block " << block;
}

TEST(BuildRecordIndex, OffsetsBeyondFourGibibytes)
{
    // A sparse file: a record, a hole of zero bytes (separators to the scan)
    // past 4 GiB, then a record whose offset needs more than 32 bits.
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    const std::uint64_t far = (std::uint64_t{1} << 32) + 12345;
    int fd = ::open(records.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    bool sparse = ::ftruncate(fd, static_cast<off_t>(far)) == 0
                  && ::pwrite(fd, kRecord200.data(), 200, static_cast<off_t>(far)) == 200;
    ::close(fd);
    if (!sparse)
        GTEST_SKIP() << "the temporary file system refuses a file of more than 4 GiB";
    EXPECT_EQ(buildIndex(dir, records), (std::vector<std::uint64_t>{2, 0, far, far + 200}));
    EXPECT_EQ(ReadIndexEntry(dir.file("index").c_str(), 2), far);
    EXPECT_EQ(ReadIndexEntry(dir.file("index").c_str(), 4), std::nullopt);
}

TEST(BuildRecordIndex, FilesThatCannotBeOpenedOrReadFailWithoutHanging)
{
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    std::string oldIndex = dir.write("index", "old"), fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(BuildRecordIndex(dir.file("missing.mrc").c_str(), oldIndex.c_str()), -1);
    EXPECT_EQ(testsupport::ReadFile(oldIndex), "old");
    EXPECT_EQ(BuildRecordIndex(records.c_str(), dir.file("no/such/index").c_str()), -1);
    EXPECT_EQ(BuildRecordIndex(records.c_str(), fifo.c_str()), -1);
    EXPECT_EQ(BuildRecordIndex(fifo.c_str(), dir.file("index2").c_str()), -1);
    EXPECT_TRUE(fs::is_fifo(fifo));
    // A directory opens but cannot be read: no index of zero records remains.
    EXPECT_EQ(BuildRecordIndex(dir.path().c_str(), dir.file("index3").c_str()), -1);
    EXPECT_FALSE(fs::exists(dir.file("index3")));
}

TEST(BuildRecordIndex, FailedWriteRemovesThePartialIndex)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 20'000; ++i)
        bytes += "00025" + std::string(20, 'x');
    std::string records = dir.write("records.mrc", bytes), index = dir.file("index");
    {
        FileSizeLimit limit(16 * 1024);  // the writes fail part way
        EXPECT_EQ(BuildRecordIndex(records.c_str(), index.c_str()), -1);
    }
    EXPECT_FALSE(fs::exists(index));
}

TEST(CreateIndexName, NeverReusesAnExistingFileOrLink)
{
    TempDir dir;
    std::string planted = dir.write("idx0", "keep"), target = dir.write("target", "target");
    fs::create_symlink(target, dir.file("idx1"));
    ScopedEnv tmp("TMP", dir.path().c_str());
    ScriptedPrompt prompt;
    EXPECT_EQ(CreateIndexName(prompt), dir.file("idx2"));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(testsupport::ReadFile(planted), "keep");
    EXPECT_TRUE(fs::is_regular_file(dir.file("idx2")));
    // Writing an index through a link planted under the name is refused too.
    std::string records = dir.write("records.mrc", kRecord100);
    EXPECT_EQ(BuildRecordIndex(records.c_str(), dir.file("idx1").c_str()), -1);
    EXPECT_TRUE(fs::is_symlink(dir.file("idx1")));
    EXPECT_EQ(testsupport::ReadFile(target), "target");
}

TEST(CreateIndexName, TakesTheDirectoryFromTmpThenTmpdir)
{
    TempDir first, second;
    const std::string a = first.path().string(), b = second.path().string();
    const std::string missing = first.file("missing");
    struct Case {
        const char *tmp, *tmpdir;
        std::optional<std::string> expected;
        std::vector<std::string> messages;
    } cases[] = {
        {a.c_str(), b.c_str(), first.file("idx0"), {}},
        {nullptr, b.c_str(), second.file("idx0"), {}},
        {missing.c_str(), b.c_str(), std::nullopt, {"tempnam couldn't create name"}},
    };
    for (const Case& c : cases) {
        ScopedEnv tmp("TMP", c.tmp), tmpdir("TMPDIR", c.tmpdir);
        ScriptedPrompt prompt;
        EXPECT_EQ(CreateIndexName(prompt), c.expected);
        EXPECT_EQ(prompt.messages, c.messages);
        if (c.expected)
            fs::remove(*c.expected);
    }
}
