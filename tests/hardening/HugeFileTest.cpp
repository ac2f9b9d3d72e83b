// SPDX-License-Identifier: Apache-2.0
// A sparse record file of more than 4 GiB: two records at the start, two just
// past 2 GiB (where a signed 32-bit offset wraps), two just past 4 GiB (where
// an unsigned one does), with holes of zero bytes between them that the index
// steps over (zero bytes are not digits).

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "EngineFiles.h"
#include "files/RecordExtract.h"

using namespace veltrane;

namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

using HugeFile = testsupport::EngineFiles;

TEST_F(HugeFile, RecordsPastTwoAndFourGiBAreCountedShownSearchedAndExtracted)
{
    const std::string titles[] = {"Near the start", "Start two", "Past two GiB A", "Past two GiB B",
                                  "Past four GiB A", "Past four GiB B"};
    std::vector<std::string> records;
    std::vector<std::uint64_t> offsets;
    std::ofstream out(m_records, std::ios::binary);
    for (std::size_t i = 0; i < 6; ++i) {
        records.push_back(testsupport::MakeRecord({{"200", "1 \x1f" "a" + titles[i] + "\x1f" "f\xd5\xc5"}}));
        // Records 1, 3 and 5 at 0, 2 GiB + 2 and 4 GiB + 4; each of the others right after.
        offsets.push_back(i % 2 != 0 ? offsets[i - 1] + records[i - 1].size() : i * kGiB + i);
        ASSERT_TRUE(out.seekp(static_cast<std::streamoff>(offsets[i])) << records[i]);
    }
    out.close();
    struct stat st {};
    ASSERT_EQ(::stat(m_records.c_str(), &st), 0);
    if (static_cast<std::uint64_t>(st.st_blocks) * 512 > 64 * 1024 * 1024)
        GTEST_SKIP() << "the temporary folder's file system does not keep holes";

    // Counted: the index holds every offset past the marks and the sentinel.
    ASSERT_EQ(BuildRecordIndex(m_records.c_str(), m_index.c_str()), 6);
    offsets.push_back(static_cast<std::uint64_t>(st.st_size));
    for (std::size_t k = 1; k <= 7; ++k)
        EXPECT_EQ(ReadIndexEntry(m_index.c_str(), static_cast<std::int64_t>(k)), offsets[k - 1]) << "entry " << k;

    // Searched across the holes; shown with its own title; extracted only in
    // ranges that end before a hole, since a copy runs to the next record's offset.
    struct Case {
        const char* pattern;
        int from, found, extractFrom, extractTo;
    };
    const Case cases[] = {{"GIB B", 1, 4, 3, 3}, {"past four", 1, 5, 5, 6}, {"four GiB A", 6, -1, 6, 6}};
    auto scan = [&](int from, int to, const char* pattern) {
        return ScanRecords(m_prompt, m_scratch, m_settings, m_records.c_str(), m_index.c_str(), from, to, pattern);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(scan(c.from, 6, c.pattern), c.found);
        ASSERT_EQ(scan(c.extractFrom, c.extractFrom, ""), c.extractFrom);
        EXPECT_NE(testsupport::ReadFile(m_scratch.path()).find(titles[c.extractFrom - 1]), std::string::npos);
        const std::string target = m_dir.file(c.pattern);  // a new file for each
        EXPECT_EQ(ExtractRecords(m_prompt, m_scratch, m_records.c_str(), m_index.c_str(), c.extractFrom, c.extractTo,
                                 target.c_str()).outcome,
                  ExtractOutcome::Copied);
        std::string expected;
        for (int k = c.extractFrom; k <= c.extractTo; ++k)
            expected += records[static_cast<std::size_t>(k) - 1];
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        ASSERT_EQ(static_cast<std::uint64_t>(st.st_size), expected.size());  // before reading it
        EXPECT_EQ(testsupport::ReadFile(target), expected);
    }
    EXPECT_EQ(m_prompt.messages, std::vector<std::string>{});
}

}  // namespace
