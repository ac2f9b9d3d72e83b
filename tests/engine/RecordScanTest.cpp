#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"
#include "ScriptedPrompt.h"

using namespace veltrane;
using testsupport::MakeRecord;
using testsupport::ReadFile;

namespace {

// Four records in the normal variant; 0xBB 0xFA 0xB6 0xC1 is GBK text.
const std::vector<std::string> kRecords = {
    MakeRecord({{"001", "r1"}, {"200", "1 \x1f" "aFirst"}}),
    MakeRecord({{"001", "r2"}, {"200", "1 \x1f" "aTitle text\x1f" "fAuth"}, {"300", "cost 5$ or a$-b"}}),
    MakeRecord({{"001", "r3"}, {"606", "0 \x1f" "a\xbb\xfa\xb6\xc1"}}),
    MakeRecord({{"001", "r4"}, {"500", "  literal $aTitle"}}),
};
// The same fields in the two special variants.
const std::vector<std::string> kHashRecords = {MakeRecord({{"001", "r1"}, {"200", "1 $aTitle"}}, '#')};
const std::vector<std::string> kDollarRecords = {MakeRecord({{"001", "r1"}, {"200", "1 $aTitle\x1f" "b"}})};

class ScanTest : public testing::Test {
protected:
    void SetUp() override { ScratchDisplayFile = m_dir.file("tempdisp.mrc"); }
    void TearDown() override
    {
        ScratchDisplayFile = m_savedScratch;
        DelimiterMode = dmNormal;
        SearchCaseSensitive = false;
    }
    int open(const std::string& bytes)
    {
        m_records = m_dir.write("records.mrc", bytes);
        m_index = m_dir.file("idx");
        return BuildRecordIndex(m_records.c_str(), m_index.c_str());
    }
    int scan(int from, int to, const std::string& pattern = "")
    {
        return ScanRecords(m_prompt, m_records.c_str(), m_index.c_str(), from, to, pattern.c_str());
    }
    std::string display() const { return ReadFile(ScratchDisplayFile); }

    const std::string m_savedScratch = ScratchDisplayFile;
    testsupport::TempDir m_dir;
    ScriptedPrompt m_prompt;
    std::string m_records, m_index;
};

struct SearchCase {
    const char* name;
    const std::vector<std::string>* records;
    int mode;
    bool caseSensitive;
    int from, to;
    std::string pattern;
    int expected;
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

class Search : public ScanTest, public testing::WithParamInterface<SearchCase> {};

TEST_P(Search, FindsTheFirstRecordHoldingThePattern)
{
    const SearchCase& c = GetParam();
    for (const char* separator : {"", "\r\n"}) {  // files with line ends are searched fully too
        open(Joined(*c.records, separator));
        DelimiterMode = c.mode;
        SearchCaseSensitive = c.caseSensitive;
        EXPECT_EQ(scan(c.from, c.to, c.pattern), c.expected) << "separator " << (*separator ? "CR LF" : "none");
    }
    EXPECT_TRUE(m_prompt.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Search,
    testing::Values(
        SearchCase{"subfield_notation", &kRecords, dmNormal, true, 1, 4, "$aTitle", 2},
        SearchCase{"subfield_notation_mode1", &kHashRecords, dmSpecial1, true, 1, 1, "$aTitle", 1},
        SearchCase{"subfield_notation_mode2", &kDollarRecords, dmSpecial2, true, 1, 1, "$aTitle", 1},
        SearchCase{"dollar_at_end_is_literal", &kRecords, dmNormal, true, 1, 4, "5$", 2},
        SearchCase{"case_ignored", &kRecords, dmNormal, false, 1, 4, "tITLE TEXT", 2},
        SearchCase{"case_kept", &kRecords, dmNormal, true, 1, 4, "TITLE", -1},
        SearchCase{"gbk_bytes_never_folded", &kRecords, dmNormal, false, 1, 4, "\xe1", -1},
        SearchCase{"match_starting_in_tag", &kRecords, dmNormal, true, 1, 4, "2001 ", 1},
        SearchCase{"field_terminator_never_matched", &kRecords, dmNormal, true, 1, 4, "First\x1e", -1},
        SearchCase{"pattern_longer_than_any_entry", &kRecords, dmNormal, true, 1, 4, std::string(255, 'x'), -1},
        SearchCase{"range_is_inclusive", &kRecords, dmNormal, true, 1, 3, "r3", 3},
        SearchCase{"from_the_sentinel", &kRecords, dmNormal, true, 5, 4, "r", -1},
        SearchCase{"empty_pattern_takes_from", &kRecords, dmNormal, true, 2, 4, "", 2}),
    [](const testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST_F(ScanTest, ReportsEachFileThatCannotBeOpened)
{
    open(Joined(kRecords));
    m_dir.write("tempdisp.mrc", "old display");
    const std::string scratch = ScratchDisplayFile, missing = m_dir.file("missing");
    struct Case {
        std::string records, index, scratch, message;
    } cases[] = {
        {missing, m_index, scratch, "Invalid drive or directory"},
        {m_records, m_index, m_dir.file("missing/tempdisp.mrc"), "Display File open error!"},
        {m_records, missing, scratch, "Index file open error!"},
    };
    for (const Case& c : cases) {
        ScriptedPrompt prompt;
        ScratchDisplayFile = c.scratch;
        EXPECT_EQ(ScanRecords(prompt, c.records.c_str(), c.index.c_str(), 1, 1, ""), -1);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
    }
    EXPECT_EQ(ReadFile(scratch), "");  // emptied before the index was found missing
}

TEST_F(ScanTest, NeverTruncatesAnOpenRecordFileAsScratchFile)
{
    open(Joined(kRecords));
    const std::string precious = m_dir.write("precious.mrc", kRecords[0]);
    ASSERT_EQ(::symlink(precious.c_str(), ScratchDisplayFile.c_str()), 0);
    RegisterOpenRecordFile(precious.c_str());
    EXPECT_TRUE(IsOpenRecordFile(ScratchDisplayFile.c_str()));
    EXPECT_EQ(scan(1, 1), -1);
    UnregisterOpenRecordFile(precious.c_str());
    EXPECT_FALSE(IsOpenRecordFile(ScratchDisplayFile.c_str()));
    EXPECT_EQ(ReadFile(precious), kRecords[0]);

    ScratchDisplayFile = m_records;  // the record file being read, registered or not
    EXPECT_EQ(scan(1, 1), -1);
    EXPECT_EQ(ReadFile(m_records), Joined(kRecords));
    EXPECT_EQ(m_prompt.messages, std::vector<std::string>(2, "Display File open error!"));
}

TEST_F(ScanTest, FailedDisplayWriteIsReportedAndLeavesNothing)
{
    open(Joined(kRecords));
    {
        FileSizeLimit limit(8);  // writes beyond 8 bytes fail
        EXPECT_EQ(scan(2, 2), -1);
    }
    EXPECT_EQ(m_prompt.messages, std::vector<std::string>{"Display File open error!"});
    EXPECT_EQ(display(), "");
}

TEST_F(ScanTest, BrokenRecordsShowOnlyTheirOwnBytes)
{
    // Entry 2 of `good` patched; record 1 leaves stale bytes in the buffers.
    const std::string good = MakeRecord({{"001", "ab"}, {"200", "1 \x1f" "aTitle"}});
    auto patched = [&](std::size_t offset, const std::string& digits) {
        return std::string(good).replace(offset, digits.size(), digits);
    };
    const std::string stale = MakeRecord({{"001", "STALE"}, {"245", std::string(300, 'S')}});
    struct Case {
        const char* name;
        std::string record, expected;
    } cases[] = {
        {"field_starts_past_the_end", patched(24 + 12 + 7, "90000"), "001ab\n200"},
        {"field_runs_past_the_end", patched(24 + 12 + 3, "9999"), "001ab\n2001 $aTitle\n\x1d"},
        // Three whole entries fit; the third is read from the data and starts past the end.
        {"directory_runs_past_the_end", patched(12, "99999"), "001200\nab"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(open(stale + c.record), 2) << c.name;
        ASSERT_EQ(scan(1, 1), 1);
        ASSERT_EQ(scan(2, 2), 2) << c.name;
        EXPECT_EQ(display(), c.expected) << c.name;
    }
    EXPECT_TRUE(m_prompt.messages.empty());
}

}  // namespace
