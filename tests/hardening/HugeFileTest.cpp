// A record file of more than 4 GiB, made sparse so that it costs no disk and
// little time: two records at the start, two just past the 2 GiB mark (where a
// signed 32-bit offset wraps), two just past 4 GiB (where an unsigned one
// does), with holes of zero bytes between them. Zero bytes are not digits, so
// the index steps over the holes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "HardeningSupport.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"

using namespace veltrane;
using hardening::RecordingPrompt;
using testsupport::Field;
using testsupport::MakeRecord;

namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

std::string titled(const std::string& number, const std::string& title)
{
    return MakeRecord({{"001", number},
                       {"200", "1 \x1f" "a" + title + "\x1f" "f\xd5\xc5\xc8\xfd"},  // GBK author
                       {"330", "  \x1f" "a" + std::string(150, 'x')}});
}

struct PlacedRecord {
    std::uint64_t offset;
    std::string bytes;
};

class HugeFile : public testing::Test {
protected:
    void SetUp() override
    {
        m_savedScratch = ScratchDisplayFile;
        ScratchDisplayFile = m_dir.file("display.txt");
        m_records = {
            {0, titled("h1", "Near the start")},
            {0, titled("h2", "Start two")},
            {2 * kGiB + 5, titled("h3", "Past two GiB A")},
            {0, titled("h4", "Past two GiB B")},
            {4 * kGiB + 7, titled("h5", "Past four GiB A")},
            {0, titled("h6", "Past four GiB B")},
        };
        // An offset of 0 means: right after the record before.
        for (std::size_t i = 1; i < m_records.size(); ++i)
            if (m_records[i].offset == 0)
                m_records[i].offset = m_records[i - 1].offset + m_records[i - 1].bytes.size();

        m_path = m_dir.file("huge.mrc");
        int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        for (const PlacedRecord& r : m_records)
            ASSERT_EQ(::pwrite(fd, r.bytes.data(), r.bytes.size(), static_cast<off_t>(r.offset)),
                      static_cast<ssize_t>(r.bytes.size()));
        ::close(fd);
        struct stat st {};
        ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
        m_size = static_cast<std::uint64_t>(st.st_size);
        ASSERT_GT(m_size, 4 * kGiB);
        if (static_cast<std::uint64_t>(st.st_blocks) * 512 > 64 * 1024 * 1024)
            GTEST_SKIP() << "the temporary folder's file system does not keep holes";

        m_index = m_dir.file("huge.idx");
        m_count = BuildRecordIndex(m_path.c_str(), m_index.c_str());
    }

    void TearDown() override { ScratchDisplayFile = m_savedScratch; }

    /// The display text of a record when it is the only record of a small file.
    std::string displayAlone(const std::string& record)
    {
        std::string path = m_dir.write("alone.mrc", record);
        std::string index = m_dir.file("alone.idx");
        EXPECT_EQ(BuildRecordIndex(path.c_str(), index.c_str()), 1);
        RecordingPrompt prompt;
        EXPECT_EQ(ScanRecords(prompt, path.c_str(), index.c_str(), 1, 1, ""), 1);
        return testsupport::ReadFile(ScratchDisplayFile);
    }

    std::string rangeBytes(int a, int b) const
    {
        std::string bytes;
        for (int k = a; k <= b; ++k)
            bytes += m_records[static_cast<std::size_t>(k) - 1].bytes;
        return bytes;
    }

    testsupport::TempDir m_dir;
    std::string m_savedScratch;
    std::vector<PlacedRecord> m_records;
    std::string m_path, m_index;
    std::uint64_t m_size = 0;
    int m_count = -1;
};

TEST_F(HugeFile, IndexHoldsEveryOffsetPastTheMarksAndTheSentinel)
{
    ASSERT_EQ(m_count, static_cast<int>(m_records.size()));
    for (std::size_t k = 1; k <= m_records.size(); ++k)
        EXPECT_EQ(ReadIndexEntry(m_index.c_str(), static_cast<std::int64_t>(k)), m_records[k - 1].offset)
            << "entry " << k;
    EXPECT_EQ(ReadIndexEntry(m_index.c_str(), m_count + 1), m_size);
}

TEST_F(HugeFile, EveryRecordShowsAsItDoesInASmallFile)
{
    ASSERT_EQ(m_count, static_cast<int>(m_records.size()));
    for (int k = 1; k <= m_count; ++k) {
        std::string expected = displayAlone(m_records[static_cast<std::size_t>(k) - 1].bytes);
        RecordingPrompt prompt;
        ASSERT_EQ(ScanRecords(prompt, m_path.c_str(), m_index.c_str(), k, k, ""), k);
        EXPECT_EQ(testsupport::ReadFile(ScratchDisplayFile), expected) << "record " << k;
        EXPECT_TRUE(prompt.messages.empty());
    }
}

TEST_F(HugeFile, SearchCrossesTheHolesAndFindsRecordsPastTheMarks)
{
    ASSERT_EQ(m_count, static_cast<int>(m_records.size()));
    struct Case {
        const char* pattern;
        int from;
        int expected;
    };
    const Case cases[] = {
        {"Past two GiB", 1, 3},  {"GIB B", 1, 4},        {"past four", 1, 5},
        {"four GiB B", 1, 6},    {"Start two", 2, 2},    {"Near the start", 2, -1},
        {"past four", 6, 6},     {"four GiB A", 6, -1},  {"x", 7, -1},
    };
    SearchCaseSensitive = false;
    for (const Case& c : cases) {
        RecordingPrompt prompt;
        EXPECT_EQ(ScanRecords(prompt, m_path.c_str(), m_index.c_str(), c.from, m_count, c.pattern), c.expected)
            << "'" << c.pattern << "' from " << c.from;
    }
}

TEST_F(HugeFile, ExtractionCopiesRangesPastTheMarksExactly)
{
    ASSERT_EQ(m_count, static_cast<int>(m_records.size()));
    struct Case {
        int a, b;
    };
    // Ranges that end before a hole: a copy runs to the next record's offset,
    // so one that ends before a hole would copy the hole too.
    for (Case c : {Case{1, 1}, Case{3, 3}, Case{5, 5}, Case{5, 6}, Case{6, 6}}) {
        std::string target = m_dir.file("target.mrc");
        ::unlink(target.c_str());
        RecordingPrompt prompt;
        EXPECT_EQ(ExtractRecords(prompt, m_path.c_str(), m_index.c_str(), c.a, c.b, target.c_str()), 1);
        std::string expected = rangeBytes(c.a, c.b);
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        ASSERT_EQ(static_cast<std::uint64_t>(st.st_size), expected.size()) << "records " << c.a << " to " << c.b;
        EXPECT_EQ(testsupport::ReadFile(target), expected) << "records " << c.a << " to " << c.b;
        EXPECT_TRUE(prompt.messages.empty());
    }
}

}  // namespace
