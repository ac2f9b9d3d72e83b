// A sparse record file of more than 4 GiB: two records at the start, two just
// past 2 GiB (where a signed 32-bit offset wraps), two just past 4 GiB (where
// an unsigned one does), with holes of zero bytes between them that the index
// steps over (zero bytes are not digits).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "HardeningSupport.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordScan.h"

using namespace veltrane;
using hardening::RecordingPrompt;
using testsupport::ReadFile;

namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

struct PlacedRecord {
    std::uint64_t offset;  ///< 0: right after the record before
    std::string bytes;
};

PlacedRecord placed(std::uint64_t offset, const std::string& number, const std::string& title)
{
    return {offset, testsupport::MakeRecord({{"001", number},
                                             {"200", "1 \x1f" "a" + title + "\x1f" "f\xd5\xc5\xc8\xfd"},  // GBK author
                                             {"330", "  \x1f" "a" + std::string(150, 'x')}})};
}

TEST(HugeFile, RecordsPastTwoAndFourGiBAreCountedShownSearchedAndExtracted)
{
    testsupport::TempDir dir;
    const std::string path = dir.file("huge.mrc"), index = dir.file("huge.idx"), savedScratch = ScratchDisplayFile;
    ScratchDisplayFile = dir.file("display.txt");
    std::vector<PlacedRecord> records = {
        placed(0, "h1", "Near the start"),           placed(0, "h2", "Start two"),
        placed(2 * kGiB + 5, "h3", "Past two GiB A"), placed(0, "h4", "Past two GiB B"),
        placed(4 * kGiB + 7, "h5", "Past four GiB A"), placed(0, "h6", "Past four GiB B")};
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    for (std::size_t i = 0; i < records.size(); ++i) {
        PlacedRecord& r = records[i];
        if (r.offset == 0 && i > 0)
            r.offset = records[i - 1].offset + records[i - 1].bytes.size();
        ASSERT_EQ(::pwrite(fd, r.bytes.data(), r.bytes.size(), static_cast<off_t>(r.offset)),
                  static_cast<ssize_t>(r.bytes.size()));
    }
    ::close(fd);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    ASSERT_GT(static_cast<std::uint64_t>(st.st_size), 4 * kGiB);
    if (static_cast<std::uint64_t>(st.st_blocks) * 512 > 64 * 1024 * 1024)
        GTEST_SKIP() << "the temporary folder's file system does not keep holes";

    // Counted: the index holds every offset past the marks and the sentinel.
    ASSERT_EQ(BuildRecordIndex(path.c_str(), index.c_str()), 6);
    for (std::size_t k = 1; k <= 6; ++k)
        EXPECT_EQ(ReadIndexEntry(index.c_str(), static_cast<std::int64_t>(k)), records[k - 1].offset) << "entry " << k;
    EXPECT_EQ(ReadIndexEntry(index.c_str(), 7), static_cast<std::uint64_t>(st.st_size));

    // Shown: every record as it shows when alone in a small file.
    RecordingPrompt prompt;
    for (int k = 1; k <= 6; ++k) {
        const std::string alone = dir.write("alone.mrc", records[static_cast<std::size_t>(k) - 1].bytes);
        ASSERT_EQ(BuildRecordIndex(alone.c_str(), (alone + ".idx").c_str()), 1);
        ASSERT_EQ(ScanRecords(prompt, alone.c_str(), (alone + ".idx").c_str(), 1, 1, ""), 1);
        const std::string expected = ReadFile(ScratchDisplayFile);
        ASSERT_EQ(ScanRecords(prompt, path.c_str(), index.c_str(), k, k, ""), k);
        EXPECT_EQ(ReadFile(ScratchDisplayFile), expected) << "record " << k;
    }

    // Searched: across the holes, from several starts.
    struct Search {
        const char* pattern;
        int from, expected;
    };
    const Search searches[] = {
        {"Past two GiB", 1, 3}, {"GIB B", 1, 4},       {"past four", 1, 5},
        {"four GiB B", 1, 6},   {"Start two", 2, 2},   {"Near the start", 2, -1},
        {"past four", 6, 6},    {"four GiB A", 6, -1}, {"x", 7, -1},
    };
    SearchCaseSensitive = false;
    for (const Search& c : searches)
        EXPECT_EQ(ScanRecords(prompt, path.c_str(), index.c_str(), c.from, 6, c.pattern), c.expected)
            << "'" << c.pattern << "' from " << c.from;

    // Extracted: only ranges that end before a hole, since a copy runs to the
    // next record's offset and would copy the hole too.
    const std::pair<int, int> ranges[] = {{1, 1}, {3, 3}, {5, 5}, {5, 6}, {6, 6}};
    for (auto [a, b] : ranges) {
        const std::string target = dir.file("target.mrc");
        ::unlink(target.c_str());
        EXPECT_EQ(ExtractRecords(prompt, path.c_str(), index.c_str(), a, b, target.c_str()), 1);
        std::string expected;
        for (int k = a; k <= b; ++k)
            expected += records[static_cast<std::size_t>(k) - 1].bytes;
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        ASSERT_EQ(static_cast<std::uint64_t>(st.st_size), expected.size()) << "records " << a << " to " << b;
        EXPECT_EQ(ReadFile(target), expected) << "records " << a << " to " << b;
    }
    EXPECT_EQ(prompt.messages, std::vector<std::string>{});
    ScratchDisplayFile = savedScratch;
}

}  // namespace
