// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "EngineTestDoubles.h"
#include "RecordFiles.h"
#include "files/RecordIndex.h"

using namespace veltrane;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

/// A well-formed record of exactly `length` bytes (39 bytes surround the body).
std::string recordOfLength(std::size_t length)
{
    return testsupport::MakeRecord({{"200", std::string(length - 39, 'x')}});
}

/// Indexes records into a fresh file; returns the count followed by the entries
/// decoded as 64-bit little-endian numbers.
std::vector<std::uint64_t> buildIndex(const TempDir& dir, const std::string& records, std::size_t blockSize)
{
    const std::string index = dir.file("index");
    fs::remove(index);
    const int count = BuildRecordIndex(records.c_str(), index.c_str(), blockSize);
    std::vector<std::uint64_t> entries{static_cast<std::uint64_t>(count)};
    const std::string bytes = testsupport::ReadFile(index);
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        entries.push_back(0);
        for (std::size_t i = 0; i < 8; ++i)
            entries.back() |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    }
    return entries;
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
    // Records of varied lengths with runs of 0 to 16 separators drawn from every
    // non-digit byte, a run longer than a block, and a digit as trailing junk.
    std::string nonDigits, straddling;
    for (int b = 0; b < 256; ++b)
        if (b < '0' || b > '9')
            nonDigits += static_cast<char>(b);
    std::vector<std::uint64_t> straddlingIndex{40};
    for (std::size_t i = 0; i < 40; ++i) {
        straddlingIndex.push_back(straddling.size());
        straddling += recordOfLength(40 + (i * 37) % 90) + nonDigits.substr((i * 17) % 230, i % 17);
    }
    straddling += std::string(400, '\0');
    straddlingIndex.push_back(straddling.size());
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
        {"separators_straddling_blocks", straddling + "7\n", straddlingIndex},
    };
    // Small blocks put leaders and separators across block boundaries.
    std::vector<std::size_t> blocks{kIndexReadBlockSize};
    for (std::size_t block = 24; block <= 300; ++block)
        blocks.push_back(block);
    TempDir dir;
    for (const Case& c : cases) {
        std::string records = dir.write(c.name, c.bytes);
        for (std::size_t block : blocks)
            ASSERT_EQ(buildIndex(dir, records, block), c.expected) << c.name << " block " << block;
    }
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
        testsupport::FileSizeLimit limit(16 * 1024);  // the writes fail part way
        EXPECT_EQ(BuildRecordIndex(records.c_str(), index.c_str()), -1);
    }
    EXPECT_FALSE(fs::exists(index));
}

TEST(CreateIndexName, TakesTheDirectoryFromTmpThenTmpdirAndNeverReusesAFileOrLink)
{
    TempDir first, second;
    const std::string a = first.path().string(), b = second.path().string(), missing = first.file("missing");
    const std::string planted = first.write("idx0", "keep"), target = first.write("target", "target");
    fs::create_symlink(target, first.file("idx1"));
    struct Case {
        const char *tmp, *tmpdir;
        std::optional<std::string> expected;
        std::vector<std::string> messages;
    } cases[] = {
        {a.c_str(), b.c_str(), first.file("idx2"), {}},
        {nullptr, b.c_str(), second.file("idx0"), {}},
        {missing.c_str(), b.c_str(), std::nullopt, {"tempnam couldn't create name"}},
    };
    for (const Case& c : cases) {
        ScopedEnv tmp("TMP", c.tmp), tmpdir("TMPDIR", c.tmpdir);
        testsupport::RecordingPrompt prompt;
        EXPECT_EQ(CreateIndexName(prompt), c.expected);
        EXPECT_EQ(prompt.messages, c.messages);
    }
    EXPECT_EQ(testsupport::ReadFile(planted), "keep");
    EXPECT_TRUE(fs::is_regular_file(first.file("idx2")));
    // Writing an index through a link planted under the name is refused too.
    const std::string records = first.write("records.mrc", kRecord100);
    EXPECT_EQ(BuildRecordIndex(records.c_str(), first.file("idx1").c_str()), -1);
    EXPECT_TRUE(fs::is_symlink(first.file("idx1")));
    EXPECT_EQ(testsupport::ReadFile(target), "target");
}
