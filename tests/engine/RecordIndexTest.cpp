#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "RecordFiles.h"
#include "RecordIndex.h"

using namespace veltrane;
using testsupport::TempDir;

namespace {

/// A well-formed record of exactly `length` bytes (at least 40).
std::string recordOfLength(std::size_t length)
{
    // Leader, one directory entry and its terminator, field terminator, record
    // terminator: 39 bytes around the field body.
    return testsupport::MakeRecord({{"200", std::string(length - 39, 'x')}});
}

/// The index file decoded as 64-bit little-endian entries.
std::vector<std::uint64_t> indexEntries(const std::string& path)
{
    std::string bytes = testsupport::ReadFile(path);
    std::vector<std::uint64_t> entries;
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i)
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        entries.push_back(value);
    }
    return entries;
}

struct IndexResult {
    int count;
    std::vector<std::uint64_t> entries;
};

/// Builds the index of records into a new file (rewriting a file in place can
/// wait for the disk) and returns the count and the entries.
IndexResult buildIndex(const TempDir& dir, const std::string& records,
                       std::size_t blockSize = kIndexReadBlockSize)
{
    std::string index = dir.file("index");
    std::filesystem::remove(index);
    int count = BuildRecordIndex(records.c_str(), index.c_str(), blockSize);
    return {count, indexEntries(index)};
}

class RecordingPrompt : public UserPrompt {
public:
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    OverwriteChoice askOverwrite(std::string_view) override { return OverwriteChoice::Unavailable; }
    std::vector<std::string> messages;
};

/// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

const std::string kRecord100 = recordOfLength(100);
const std::string kRecord200 = recordOfLength(200);

struct IndexCase {
    const char* name;
    std::string bytes;
    int count;
    std::vector<std::uint64_t> entries;  ///< count offsets, then the end sentinel
};

std::vector<IndexCase> indexCases()
{
    std::string length24 = kRecord100;
    length24.replace(0, 5, "00024");
    std::string claimsPastEnd = kRecord100;
    claimsPastEnd.replace(0, 5, "00500");
    return {
        {"empty_file", "", 0, {0}},
        {"back_to_back", kRecord100 + kRecord200, 2, {0, 100, 300}},
        {"crlf_after_each", kRecord100 + "\r\n" + kRecord200 + "\r\n", 2, {0, 102, 304}},
        {"length_24_is_no_record", length24 + kRecord100, 0, {0}},
        {"last_record_cut_short", kRecord100 + kRecord200.substr(0, 150), 2, {0, 100, 300}},
        {"length_past_end_of_file", claimsPastEnd, 1, {0, 500}},
        {"trailing_zero_line", kRecord100 + "0\n", 1, {0, 100}},
        {"trailing_digits_shorter_than_leader", kRecord100 + "\r\n12345", 1, {0, 102}},
        {"separators_before_first_record", "\r\n" + kRecord100, 0, {0}},
        {"high_and_control_separators", kRecord100 + " \t\x1d\xff\x80" + kRecord200, 2, {0, 105, 305}},
        {"leader_cut_short", "00100abc", 0, {0}},
    };
}

}  // namespace

TEST(BuildRecordIndex, EdgeCasesAtEveryBlockSize)
{
    TempDir dir;
    for (const IndexCase& c : indexCases()) {
        std::string records = dir.write(c.name, c.bytes);
        // Small blocks put leaders and separators across block boundaries.
        for (std::size_t block : {std::size_t{24}, std::size_t{25}, std::size_t{37}, std::size_t{101},
                                  kIndexReadBlockSize}) {
            SCOPED_TRACE(std::string(c.name) + " block " + std::to_string(block));
            IndexResult result = buildIndex(dir, records, block);
            EXPECT_EQ(result.count, c.count);
            EXPECT_EQ(result.entries, c.entries);
        }
    }
}

TEST(BuildRecordIndex, SeparatorsStraddlingBlockBoundaries)
{
    // Records of varied lengths with runs of 0 to 9 separator bytes between
    // them, read with every block size from the smallest up.
    TempDir dir;
    std::string bytes;
    std::vector<std::uint64_t> expected;
    for (int i = 0; i < 40; ++i) {
        expected.push_back(bytes.size());
        bytes += recordOfLength(40 + (i * 37) % 90);
        bytes += std::string(static_cast<std::size_t>(i % 10), i % 2 ? '\n' : ' ');
    }
    expected.push_back(bytes.size());
    std::string records = dir.write("records.mrc", bytes);
    for (std::size_t block = 24; block <= 300; ++block) {
        SCOPED_TRACE("block " + std::to_string(block));
        IndexResult result = buildIndex(dir, records, block);
        ASSERT_EQ(result.count, 40);
        ASSERT_EQ(result.entries, expected);
    }
}

TEST(BuildRecordIndex, LongSeparatorRunStopsAtTheFirstDigit)
{
    // Every non-digit byte value in a run longer than a block, then each digit at
    // every position within an 8-byte word: the scan stops exactly at the digit.
    std::string run;
    for (int b = 0; b < 256; ++b)
        if (b < '0' || b > '9')
            run += static_cast<char>(b);
    run += std::string(300, '\0');
    TempDir dir;
    for (char digit = '0'; digit <= '9'; ++digit) {
        for (std::size_t extra = 0; extra < 8; ++extra) {
            std::string separators = run + std::string(extra, '\n');
            std::string name = std::string("records-") + digit + std::to_string(extra);
            std::string records = dir.write(name, kRecord100 + separators + digit + "\n");
            std::vector<std::uint64_t> expected{0, 100 + separators.size()};
            SCOPED_TRACE(name);
            for (std::size_t block : {std::size_t{64}, kIndexReadBlockSize}) {
                IndexResult result = buildIndex(dir, records, block);
                EXPECT_EQ(result.count, 1);
                EXPECT_EQ(result.entries, expected);
            }
        }
    }
}

TEST(BuildRecordIndex, FileLargerThanOneReadBlock)
{
    TempDir dir;
    std::string bytes;
    std::vector<std::uint64_t> expected;
    for (int i = 0; bytes.size() < 2 * kIndexReadBlockSize + 5000; ++i) {
        expected.push_back(bytes.size());
        bytes += recordOfLength(200 + (i * 7919) % 1800);
        if (i % 5 == 0)
            bytes += "\r\n";
    }
    expected.push_back(bytes.size());
    IndexResult result = buildIndex(dir, dir.write("records.mrc", bytes));
    EXPECT_EQ(result.count, static_cast<int>(expected.size() - 1));
    EXPECT_EQ(result.entries, expected);
}

TEST(BuildRecordIndex, OffsetsBeyondFourGibibytes)
{
    // A sparse file: a record, a hole of zero bytes (separators to the scan)
    // past 4 GiB, then a record whose offset needs more than 32 bits.
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    const std::uint64_t farOffset = (std::uint64_t{1} << 32) + 12345;
    int fd = ::open(records.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    bool sparse = ::ftruncate(fd, static_cast<off_t>(farOffset)) == 0
                  && ::pwrite(fd, kRecord200.data(), kRecord200.size(), static_cast<off_t>(farOffset))
                         == static_cast<ssize_t>(kRecord200.size());
    ::close(fd);
    if (!sparse)
        GTEST_SKIP() << "the temporary file system refuses a file of more than 4 GiB";
    std::string index = dir.file("index");
    ASSERT_EQ(BuildRecordIndex(records.c_str(), index.c_str()), 2);
    EXPECT_EQ(indexEntries(index), (std::vector<std::uint64_t>{0, farOffset, farOffset + 200}));
    EXPECT_EQ(ReadIndexEntry(index.c_str(), 2), farOffset);
    EXPECT_EQ(ReadIndexEntry(index.c_str(), 4), std::nullopt);
}

TEST(BuildRecordIndex, ReplacesTheWholeOldIndex)
{
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    std::string index = dir.write("index", std::string(1000, 'z'));
    ASSERT_EQ(BuildRecordIndex(records.c_str(), index.c_str()), 1);
    EXPECT_EQ(indexEntries(index), (std::vector<std::uint64_t>{0, 100}));
    EXPECT_EQ(std::filesystem::file_size(index), 16u);
}

TEST(BuildRecordIndex, FilesThatCannotBeOpenedOrRead)
{
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    std::string oldIndex = dir.write("index", "old");
    EXPECT_EQ(BuildRecordIndex(dir.file("missing.mrc").c_str(), oldIndex.c_str()), -1);
    EXPECT_EQ(testsupport::ReadFile(oldIndex), "old");  // not touched when the records are missing
    EXPECT_EQ(BuildRecordIndex(records.c_str(), dir.file("no/such/index").c_str()), -1);

    // A directory opens but cannot be read: no index of zero records remains.
    std::string fromDirectory = dir.file("from-directory");
    EXPECT_EQ(BuildRecordIndex(dir.path().c_str(), fromDirectory.c_str()), -1);
    EXPECT_FALSE(std::filesystem::exists(fromDirectory));
}

TEST(BuildRecordIndex, FifoUnderEitherNameFailsWithoutHanging)
{
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(BuildRecordIndex(records.c_str(), fifo.c_str()), -1);
    EXPECT_EQ(BuildRecordIndex(fifo.c_str(), dir.file("index").c_str()), -1);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST(BuildRecordIndex, FailedWriteRemovesThePartialIndex)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 20'000; ++i)
        bytes += "00025" + std::string(20, 'x');
    std::string records = dir.write("records.mrc", bytes);
    std::string index = dir.file("index");

    // A file size limit makes the index writes fail part way, as a full disk
    // would, without filling one.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 16 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int result = BuildRecordIndex(records.c_str(), index.c_str());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, -1);
    EXPECT_FALSE(std::filesystem::exists(index));
}

TEST(BuildRecordIndex, FailedWriteToADeviceLeavesTheDevice)
{
    TempDir dir;
    std::string records = dir.write("records.mrc", kRecord100);
    std::string full = dir.file("full");
    if (::mknod(full.c_str(), S_IFCHR | 0600, ::makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a full-disk device here";
    EXPECT_EQ(BuildRecordIndex(records.c_str(), full.c_str()), -1);
    EXPECT_TRUE(std::filesystem::is_character_file(full));
}

TEST(CreateIndexName, NeverReusesAnExistingFileOrLink)
{
    TempDir dir;
    std::string planted = dir.write("idx0", "keep");
    std::string target = dir.write("target", "target");
    std::filesystem::create_symlink(target, dir.file("idx1"));
    ScopedEnv tmp("TMP", dir.path().c_str());
    RecordingPrompt prompt;

    EXPECT_EQ(CreateIndexName(prompt), dir.file("idx2"));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(testsupport::ReadFile(planted), "keep");
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("idx2")));

    // Writing an index through a link planted under the name is refused too.
    std::string records = dir.write("records.mrc", kRecord100);
    EXPECT_EQ(BuildRecordIndex(records.c_str(), dir.file("idx1").c_str()), -1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("idx1")));
    EXPECT_EQ(testsupport::ReadFile(target), "target");
}

TEST(CreateIndexName, TakesTheDirectoryFromTmpThenTmpdir)
{
    TempDir first, second;
    struct Case {
        std::optional<std::string> tmp, tmpdir;
        std::string expected;
    } cases[] = {
        {first.path().string(), second.path().string(), first.file("idx0")},
        {first.path().string() + "/", std::nullopt, first.file("idx0")},
        {std::nullopt, second.path().string(), second.file("idx0")},
    };
    for (const Case& c : cases) {
        ScopedEnv tmp("TMP", c.tmp ? c.tmp->c_str() : nullptr);
        ScopedEnv tmpdir("TMPDIR", c.tmpdir ? c.tmpdir->c_str() : nullptr);
        RecordingPrompt prompt;
        EXPECT_EQ(CreateIndexName(prompt), c.expected);
        std::filesystem::remove(c.expected);
    }
}

TEST(CreateIndexName, MissingDirectoryGivesTheMessage)
{
    TempDir dir;
    ScopedEnv tmp("TMP", dir.file("missing").c_str());
    RecordingPrompt prompt;
    EXPECT_EQ(CreateIndexName(prompt), std::nullopt);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"tempnam couldn't create name"});
}
