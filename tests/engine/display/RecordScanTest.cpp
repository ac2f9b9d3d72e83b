// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "check/RecordCheck.h"
#include "display/DisplayText.h"
#include "EngineFiles.h"

using namespace veltrane;
using testsupport::FileSizeLimit;
using testsupport::Field;
using testsupport::Joined;
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

class ScanTest : public testsupport::EngineFiles {
protected:
    int scan(int from, int to, const std::string& pattern = "")
    {
        return ScanRecords(m_prompt, m_scratch, m_settings, m_records.c_str(), m_index.c_str(), from, to, pattern.c_str());
    }
    std::string display() const { return ReadFile(m_scratch.path()); }
};

TEST_F(ScanTest, SearchFindsTheFirstRecordHoldingThePattern)
{
    struct Case {
        const char* name;
        const std::vector<std::string>& records;
        DelimiterMode mode;
        bool caseSensitive;
        int from, to;
        std::string pattern;
        int expected;
    } cases[] = {
        {"subfield_notation", kRecords, dmNormal, true, 1, 4, "$aTitle", 2},
        {"subfield_notation_mode1", kHashRecords, dmSpecial1, true, 1, 1, "$aTitle", 1},
        {"subfield_notation_mode2", kDollarRecords, dmSpecial2, true, 1, 1, "$aTitle", 1},
        {"dollar_at_end_is_literal", kRecords, dmNormal, true, 1, 4, "5$", 2},
        {"case_ignored", kRecords, dmNormal, false, 1, 4, "tITLE TEXT", 2},
        {"case_kept", kRecords, dmNormal, true, 1, 4, "TITLE", -1},
        {"gbk_bytes_never_folded", kRecords, dmNormal, false, 1, 4, "\xe1", -1},
        {"match_starting_in_tag", kRecords, dmNormal, true, 1, 4, "2001 ", 1},
        {"field_terminator_never_matched", kRecords, dmNormal, true, 1, 4, "First\x1e", -1},
        {"pattern_longer_than_any_entry", kRecords, dmNormal, true, 1, 4, std::string(255, 'x'), -1},
        {"range_is_inclusive", kRecords, dmNormal, true, 1, 3, "r3", 3},
        {"from_the_sentinel", kRecords, dmNormal, true, 5, 4, "r", -1},
        {"empty_pattern_takes_from", kRecords, dmNormal, true, 2, 4, "", 2},
    };
    for (const Case& c : cases)
        for (const char* separator : {"", "\r\n"}) {  // files with line ends are searched fully too
            open(Joined(c.records, separator));
            m_settings.delimiterMode = c.mode;
            m_settings.caseSensitive = c.caseSensitive;
            EXPECT_EQ(scan(c.from, c.to, c.pattern), c.expected) << c.name << (*separator ? " with CR LF" : "");
        }
    EXPECT_TRUE(m_prompt.messages.empty());
}

TEST_F(ScanTest, NeverTruncatesAnOpenRecordFileAsScratchFile)
{
    open(Joined(kRecords));
    const std::string precious = m_dir.write("precious.mrc", kRecords[0]);
    ASSERT_EQ(::symlink(precious.c_str(), m_scratch.path().c_str()), 0);
    m_scratch.registerRecordFile(precious.c_str());
    EXPECT_TRUE(m_scratch.isOpenRecordFile(m_scratch.path().c_str()));
    EXPECT_EQ(scan(1, 1), -1);
    m_scratch.unregisterRecordFile(precious.c_str());
    EXPECT_FALSE(m_scratch.isOpenRecordFile(m_scratch.path().c_str()));
    EXPECT_EQ(ReadFile(precious), kRecords[0]);

    m_scratch.setPath(m_records);  // the record file being read, registered or not
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

TEST_F(ScanTest, ScratchFileHoldsOnlyTheLatestResult)
{
    ASSERT_EQ(open(Joined(kRecords, "\r\n")), 4);
    ASSERT_EQ(scan(2, 2), 2);
    EXPECT_EQ(display(), "001r2\n2001 $aTitle text$fAuth\n300cost 5$ or a$-b\n");
    ASSERT_EQ(scan(1, 1), 1);  // a shorter display written over a longer one
    EXPECT_EQ(display(), "001r1\n2001 $aFirst\n");
    EXPECT_EQ(scan(1, 4, "absent"), -1);  // nothing found leaves the file empty
    EXPECT_EQ(display(), "");
    EXPECT_TRUE(m_prompt.messages.empty());
}

// The text handed back is what the scratch file holds, so the viewer shows it
// without reading the file back; nothing is handed back when nothing is shown.
TEST_F(ScanTest, DisplayTextHandedBackIsTheScratchFilesContent)
{
    ASSERT_EQ(open(Joined(kRecords, "\r\n")), 4);
    const auto scanDisplay = [this](int from, int to, const char* pattern) {
        return ScanRecordText(m_scratch, m_settings, m_records.c_str(), m_index.c_str(), from, to, pattern);
    };
    for (int record = 1; record <= 4; ++record) {
        const ScanResult shown = scanDisplay(record, record, "");
        EXPECT_EQ(shown.outcome, ScanOutcome::Found);
        EXPECT_EQ(shown.record, record);
        EXPECT_EQ(shown.displayText, display()) << "record " << record;
        EXPECT_FALSE(shown.shown) << "record " << record;  // not asked for
    }
    const ScanResult found = scanDisplay(1, 4, "\xbb\xfa");
    EXPECT_EQ(found.record, 3);
    EXPECT_EQ(found.displayText, "001r3\n6060 $a\xbb\xfa\xb6\xc1\n");
    for (const ScanResult& none : {scanDisplay(1, 4, "absent"), scanDisplay(5, 5, ""), scanDisplay(3, 2, "")}) {
        EXPECT_FALSE(none.found());
        EXPECT_EQ(none.record, -1);
        EXPECT_EQ(none.displayText, "");
        EXPECT_EQ(display(), "");
    }
    m_scratch.setPath(m_records);  // refused: nothing written, nothing handed back, nothing told
    const ScanResult refused = scanDisplay(1, 1, "");
    EXPECT_EQ(refused.outcome, ScanOutcome::FileError);
    EXPECT_EQ(refused.message, "Display File open error!");
    EXPECT_EQ(refused.record, -1);
    EXPECT_EQ(refused.displayText, "");
    EXPECT_TRUE(m_prompt.messages.empty());
}

// Each way a scan fails has its own outcome; the message of a file error is
// the caller's to tell, and ScanRecords tells it.
TEST_F(ScanTest, OutcomesSayWhatHappened)
{
    const std::string cut = MakeRecord({{"001", "r9"}, {"245", "10\x1f" "aCut short"}});
    ASSERT_EQ(open(Joined(kRecords) + cut.substr(0, 30)), 5);
    const auto scanText = [this](const std::string& records, const std::string& index, int from, int to,
                                 const char* pattern) {
        return ScanRecordText(m_scratch, m_settings, records.c_str(), index.c_str(), from, to, pattern);
    };
    const std::string missing = m_dir.file("missing");
    struct Case {
        const char* name;
        ScanResult result;
        ScanOutcome outcome;
        std::string_view message;
    } cases[] = {
        {"found", scanText(m_records, m_index, 2, 2, ""), ScanOutcome::Found, {}},
        {"pattern_absent", scanText(m_records, m_index, 1, 4, "absent"), ScanOutcome::NotFound, {}},
        {"record_past_the_index", scanText(m_records, m_index, 7, 7, ""), ScanOutcome::NotFound, {}},
        {"record_cut_short", scanText(m_records, m_index, 5, 5, ""), ScanOutcome::Unreadable, {}},
        {"search_meets_a_cut_record", scanText(m_records, m_index, 1, 5, "absent"), ScanOutcome::Unreadable, {}},
        {"no_record_file", scanText(missing, m_index, 1, 1, ""), ScanOutcome::FileError, "Invalid drive or directory"},
        {"no_index_file", scanText(m_records, missing, 1, 1, ""), ScanOutcome::FileError, "Index file open error!"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result.outcome, c.outcome) << c.name;
        EXPECT_EQ(c.result.message, c.message) << c.name;
        EXPECT_EQ(c.result.found(), c.outcome == ScanOutcome::Found) << c.name;
    }
    EXPECT_TRUE(m_prompt.messages.empty());
    EXPECT_EQ(ScanRecords(m_prompt, m_scratch, m_settings, missing.c_str(), m_index.c_str(), 1, 1, ""), -1);
    EXPECT_EQ(ScanRecords(m_prompt, m_scratch, m_settings, m_records.c_str(), missing.c_str(), 1, 1, ""), -1);
    EXPECT_EQ(m_prompt.messages, (std::vector<std::string>{"Invalid drive or directory", "Index file open error!"}));
}

// Asked for, a scan also gives the text to show, the set, the invalid bytes
// and the problems of the record it wrote, from the same read.
TEST_F(ScanTest, ShownTextComesWithTheScratchBytes)
{
    std::string utf8 = MakeRecord({{"001", "u1"}, {"245", "10\x1f" "a\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xff"}});
    utf8[9] = 'a';
    // A control field without its terminator: one structural problem.
    std::string broken = MakeRecord({{"001", "b1"}, {"200", "1 \x1f" "aT"}});
    broken[broken.size() - 2] = 'x';
    ASSERT_EQ(open(kRecords[2] + utf8 + broken + kRecords[0]), 4);
    TextCodec codec;
    const auto show = [&](int record, CharsetSetting setting) {
        const ShowTextRequest request{setting, codec};
        return ScanRecordText(m_scratch, m_settings, m_records.c_str(), m_index.c_str(), record, record, "",
                              &request);
    };

    const ScanResult gbk = show(1, CharsetSetting::Auto);
    ASSERT_TRUE(gbk.shown);
    EXPECT_EQ(gbk.displayText, display());
    EXPECT_EQ(gbk.shown->text, "001r3\n6060 $a\xe6\x9c\xba\xe8\xaf\xbb\n");  // 机读
    EXPECT_EQ(gbk.shown->decision.charset, Charset::Gbk);
    EXPECT_EQ(gbk.shown->invalidBytes, 0u);
    EXPECT_TRUE(gbk.shown->problems.empty());

    const ScanResult decoded = show(2, CharsetSetting::Auto);
    ASSERT_TRUE(decoded.shown);
    EXPECT_EQ(decoded.displayText, display());  // the scratch file keeps the record's own bytes
    EXPECT_EQ(decoded.shown->decision.charset, Charset::Utf8);
    EXPECT_EQ(decoded.shown->text, "001u1\n24510$a\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xef\xbf\xbd\n");
    EXPECT_EQ(decoded.shown->invalidBytes, 1u);

    // The same record under a fixed set is read in that set.
    const ScanResult asGbk = show(2, CharsetSetting::Gbk);
    ASSERT_TRUE(asGbk.shown);
    EXPECT_EQ(asGbk.shown->decision.charset, Charset::Gbk);
    EXPECT_EQ(asGbk.displayText, decoded.displayText);

    // The problems are those the check of the file finds in that record.
    const ScanResult problems = show(3, CharsetSetting::Auto);
    ASSERT_TRUE(problems.shown);
    std::vector<std::string> checked;
    const int fd = ::open(m_records.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    CheckOptions options;
    options.first = options.last = 3;
    (void)CheckRecords(fd, options, NoMonitor(), [&checked](const CheckProblem& p) {
        checked.push_back(std::to_string(p.number) + " " + std::to_string(p.offset) + " " + std::string(p.code));
    });
    ::close(fd);
    std::vector<std::string> shown;
    for (const CheckProblem& p : problems.shown->problems)
        shown.push_back(std::to_string(p.number) + " " + std::to_string(p.offset) + " " + std::string(p.code));
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(shown, checked);
    EXPECT_TRUE(show(4, CharsetSetting::Auto).shown->problems.empty());
    EXPECT_TRUE(m_prompt.messages.empty());
}

// A record held in memory (a library server's) shows as the same record in a
// file does: text, set, invalid bytes and problems, under any setting.
TEST_F(ScanTest, RecordInMemoryShowsAsInAFile)
{
    std::string utf8 = MakeRecord({{"001", "u1"}, {"245", "10\x1f" "a\xce\x95\xce\xbb\xff"}});
    utf8[9] = 'a';
    std::string broken = MakeRecord({{"001", "b1"}, {"200", "1 \x1f" "aT"}});
    broken[broken.size() - 2] = 'x';
    const std::vector<std::string> records = {kRecords[2], utf8, broken};
    ASSERT_EQ(open(Joined(records)), 3);
    TextCodec codec;
    for (int record = 1; record <= 3; ++record) {
        for (CharsetSetting setting : {CharsetSetting::Auto, CharsetSetting::Gbk, CharsetSetting::Utf8}) {
            const ShowTextRequest request{setting, codec};
            const ScanResult inFile = ScanRecordText(m_scratch, m_settings, m_records.c_str(), m_index.c_str(),
                                                     record, record, "", &request);
            ASSERT_TRUE(inFile.shown);
            const std::string& bytes = records[static_cast<std::size_t>(record - 1)];
            const ShownRecordText inMemory = ShowRecordText(
                {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, dmNormal, request);
            EXPECT_EQ(inMemory.text, inFile.shown->text) << record;
            EXPECT_EQ(inMemory.decision.charset, inFile.shown->decision.charset) << record;
            EXPECT_EQ(inMemory.invalidBytes, inFile.shown->invalidBytes) << record;
            std::vector<std::string> codes, fileCodes;
            for (const CheckProblem& p : inMemory.problems)
                codes.emplace_back(p.code);
            for (const CheckProblem& p : inFile.shown->problems)
                fileCodes.emplace_back(p.code);
            EXPECT_EQ(codes, fileCodes) << record;
        }
    }
    EXPECT_FALSE(ShowRecordText({}, dmNormal, {CharsetSetting::Auto, codec}).text.size());
}

TEST_F(ScanTest, FindsEveryRecordOfAFileLargerThanOneRead)
{
    constexpr int kCount = 300;  // about 500 KB, records of 400 to 3,300 bytes
    std::vector<std::string> records;
    auto filler = [](int n) { return std::string(400 + (n * 977) % 2900, static_cast<char>('A' + n % 26)); };
    auto id = [](int n) { return "id" + std::to_string(n) + "end"; };
    for (int n = 1; n <= kCount; ++n)
        records.push_back(MakeRecord({{"001", "x"}, {"300", filler(n)}, {"900", id(n)}}));
    ASSERT_EQ(open(Joined(records, "\r\n")), kCount);
    for (int n = 1; n <= kCount; ++n) {
        ASSERT_EQ(scan(1, kCount, id(n)), n);
        const std::string text = display();
        ASSERT_TRUE(text.ends_with("\n900" + id(n) + "\n")) << n;
        ASSERT_EQ(std::count(text.begin(), text.end(), filler(n)[0]), static_cast<long>(filler(n).size())) << n;
    }
}

TEST_F(ScanTest, FullSizeRecordOverflowingFieldBufferStaysInBounds)
{
    // 5,000 entries each claiming 9,999 bytes of the same data, in a record of the largest length.
    constexpr std::size_t kEntries = 5000;
    const std::size_t base = kLeaderLength + kEntries * kDirectoryEntryLength + 1;
    char leader[32];
    std::snprintf(leader, sizeof leader, "%05zunam0 22%05zu   450 ", kRecordBufferSize, base);
    std::string record(leader, kLeaderLength);
    for (std::size_t i = 0; i < kEntries; ++i)
        record += "245999900000";
    record += "\x1e" + std::string(kRecordBufferSize - base - 3, 'x') + "end";
    ASSERT_EQ(open(record), 1);
    EXPECT_EQ(scan(1, 1, "end"), -1);  // past the 9,999 bytes every entry takes
    EXPECT_EQ(scan(1, 1, "5xxx"), 1);
    const std::string text = display();
    EXPECT_LE(text.size(), DisplayText::kCapacity);
    EXPECT_EQ(text.compare(0, 8, "245xxxxx"), 0);
}

// The byte-by-byte comparison written as plainly as possible: each entry's tag
// and body (never its terminator) searched for the pattern.
bool referenceHolds(const std::vector<Field>& fields, std::string pattern, bool caseSensitive)
{
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i)
        if (pattern[i] == '$' && IsAsciiLetterOrDigit(static_cast<unsigned char>(pattern[i + 1])))
            pattern[i] = '\x1f';
    auto fold = [caseSensitive](std::string s) {
        for (char& c : s)
            c = static_cast<char>(caseSensitive ? c : FoldUpper(static_cast<unsigned char>(c)));
        return s;
    };
    return std::any_of(fields.begin(), fields.end(),
                       [&](const Field& f) { return fold(f.tag + f.body).find(fold(pattern)) != std::string::npos; });
}

TEST_F(ScanTest, FastSearchAgreesWithTheByteByByteComparison)
{
    std::mt19937 random(2709);
    const std::string alphabet = "aAbB$\x1f\x1e 20\xb0";
    auto text = [&](std::size_t n) {
        std::string s;
        while (s.size() < n)
            s += alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 150; ++round) {
        std::vector<Field> fields;
        std::string bytes;
        for (std::size_t i = 0, n = 1 + random() % 6; i < n; ++i) {
            fields.push_back({text(3), text(random() % 90)});
            bytes += fields.back().tag + fields.back().body;
        }
        ASSERT_EQ(open(MakeRecord(fields)), 1);
        const std::string pattern = text(1 + random() % 3) + bytes.substr(random() % bytes.size(), 1 + random() % 40);
        for (const std::string& p : {pattern, pattern.substr(pattern.size() / 2)}) {
            for (bool caseSensitive : {true, false}) {
                m_settings.caseSensitive = caseSensitive;
                EXPECT_EQ(scan(1, 1, p), referenceHolds(fields, p, caseSensitive) ? 1 : -1)
                    << testing::PrintToString(p) << (caseSensitive ? " case" : " any case");
            }
        }
    }
}

}  // namespace
