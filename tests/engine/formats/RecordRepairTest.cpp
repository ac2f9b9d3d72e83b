// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "check/RecordCheck.h"
#include "files/FileAccess.h"
#include "formats/LineDiff.h"
#include "formats/RecordRepair.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane;
using testsupport::MakeRecord;

std::string Sub(char code, const std::string& text) { return std::string(1, '\x1f') + code + text; }

/// The record with `bytes` written over it from `at` on.
std::string Patched(std::string record, std::size_t at, std::string_view bytes)
{
    record.replace(at, bytes.size(), bytes);
    return record;
}

const std::string kUtf8Title = "Caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9" "e na\xc3\xafve";  // é è û é ï
const std::string kMarc8Title = "Caf\xe2" "e";  // MARC-8 acute before the e
const std::string kUnimarc100 = "20031201d2003    em y0chiy0110    ea";

std::string Marc21(const std::string& title, std::string_view coding = " ")
{
    return Patched(MakeRecord({{"001", "r1"}, {"245", "10" + Sub('a', title)}}), 9, coding);
}

struct Repaired {
    RepairResult result;
    std::string out;
    std::vector<RecordRepair> told;
};

class RecordRepairTest : public ::testing::Test {
protected:
    Repaired repair(const std::string& input, RepairOptions options = {})
    {
        const std::string in = m_dir.write("in" + std::to_string(++m_files), input);
        const std::string outPath = m_dir.file("out" + std::to_string(m_files));
        fileaccess::UniqueFd inFd(::open(in.c_str(), O_RDONLY));
        fileaccess::UniqueFd outFd(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        Repaired r;
        r.result = RepairRecords(inFd.get(), outFd.get(), options, NoMonitor(),
                                 [&](std::int64_t, std::uint64_t, const RecordRepair& t) { r.told.push_back(t); });
        r.out = testsupport::ReadFile(outPath);
        return r;
    }

    /// The structural problems `check` finds in bytes.
    std::vector<std::string> checked(const std::string& bytes)
    {
        const std::string path = m_dir.write("check" + std::to_string(++m_files), bytes);
        fileaccess::UniqueFd fd(::open(path.c_str(), O_RDONLY));
        std::vector<std::string> problems;
        (void)CheckRecords(fd.get(), {}, NoMonitor(),
                           [&](const CheckProblem& p) { problems.push_back(std::string(p.code) + " " + p.description); });
        return problems;
    }

    testsupport::TempDir m_dir;
    int m_files = 0;
};

TEST_F(RecordRepairTest, SoundRecordsComeOutByteForByte)
{
    // The directory of the last one lists its fields out of their data's order.
    std::string unordered = MakeRecord({{"001", "r1"}, {"245", "10" + Sub('a', "T")}, {"500", "  " + Sub('a', "N")}});
    const std::string entry245 = unordered.substr(36, 12), entry500 = unordered.substr(48, 12);
    unordered = Patched(Patched(unordered, 36, entry500), 48, entry245);
    const std::string rows[] = {
        Marc21("Plain title"),
        Marc21(kUtf8Title, "a"),
        Marc21("\x1b(2\x1b(B" + kMarc8Title),
        MakeRecord({{"001", "u1"}, {"100", "  " + Sub('a', kUnimarc100)}, {"200", "1 " + Sub('a', "\xd6\xd0\xce\xc4")}}),
        unordered,
    };
    for (const std::string& record : rows) {
        ASSERT_TRUE(checked(record).empty()) << record;
        const Repaired r = repair(record + record);
        EXPECT_EQ(r.out, record + record);
        EXPECT_EQ(r.result.repaired, 0);
        EXPECT_TRUE(r.told.empty());
    }
}

TEST_F(RecordRepairTest, BrokenRecordsComeOutSoundAndAsExpected)
{
    const std::string sound = Marc21("Title");
    struct Row {
        const char* name;
        std::string input;
        std::string expected;
        bool lost = false;
    };
    const Row rows[] = {
        {"length_one_short", Patched(sound, 0, "00062"), sound},
        {"layout_bytes", Patched(Patched(sound, 10, "34"), 20, "9999"), sound},
        {"tab_cr_lf_in_data",
         MakeRecord({{"001", "r\t1"}, {"245", "10" + Sub('a', "A\r\nB") + Sub('b', "c\td")}}),
         MakeRecord({{"001", "r 1"}, {"245", "10" + Sub('a', "A  B") + Sub('b', "c d")}})},
        {"utf8_flagged_blank", Marc21(kUtf8Title, " "), Marc21(kUtf8Title, "a")},
        {"marc8_flagged_utf8", Marc21(kMarc8Title, "a"), Marc21(kMarc8Title, " ")},
        {"control_byte_in_leader", Patched(sound, 7, "\x14"), Patched(sound, 7, " ")},
        {"wide_indicator", MakeRecord({{"245", "1\xc3\xa1" + Sub('a', kUtf8Title)}}),
         Patched(MakeRecord({{"245", "1 " + Sub('a', kUtf8Title)}}), 9, "a"), true},
        {"delimiter_in_tag", MakeRecord({{"001", "r1"}, {"\x1e" "01", "  " + Sub('a', "x")}, {"245", "10" + Sub('a', "Title")}}),
         sound, true},
        {"field_without_terminator", sound.substr(0, sound.size() - 2) + "\x1d", sound.substr(0, sound.size() - 2) + "\x1d",
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(checked(row.input).empty() && row.input.find_first_of("\t\r\n") == std::string::npos &&
                     row.input[9] == row.expected[9]);
        const Repaired r = repair(row.input);
        if (std::string(row.name) != "field_without_terminator") {
            EXPECT_EQ(r.out, row.expected);
        }
        EXPECT_TRUE(checked(r.out).empty()) << checked(r.out).front();
        EXPECT_EQ(r.result.repaired, 1);
        ASSERT_EQ(r.told.size(), 1u);
        EXPECT_FALSE(r.told[0].repairs.empty());
        EXPECT_EQ(!r.told[0].losses.empty(), row.lost);
        EXPECT_EQ(r.result.partial, row.lost ? 1 : 0);
    }
}

TEST_F(RecordRepairTest, FlaggedUtf8WithAFewBadBytesStaysUtf8)
{
    // Not MARC-8 either: only what reads whole as MARC-8 loses the flag.
    const std::string record = Marc21(kUtf8Title + "\xff", "a");
    EXPECT_EQ(repair(record).out, record);
}

TEST_F(RecordRepairTest, JunkBetweenAndAfterRecordsIsLeftOut)
{
    const std::string a = Marc21("A"), b = Marc21("B");
    const Repaired r = repair(a + "\r\n" + b + "junk!\n" + a + "tail");
    EXPECT_EQ(r.out, a + b + a);
    EXPECT_EQ(r.result.records, 3);
    EXPECT_EQ(r.result.repaired, 0);
    EXPECT_EQ(r.result.dropped, 2u + 6 + 4);
    RepairOptions range;
    range.first = range.last = 2;
    EXPECT_EQ(repair(a + "\r\n" + b + "junk!\n" + a, range).out, b);
}

TEST_F(RecordRepairTest, Utf8ConvertsAndDeclaresTheSet)
{
    RepairOptions utf8;
    utf8.utf8 = true;
    EXPECT_EQ(repair(Marc21(kMarc8Title)).out, Marc21(kMarc8Title));
    EXPECT_EQ(repair(Marc21(kMarc8Title), utf8).out, Marc21("Cafe\xcc\x81", "a"));
    utf8.charset = CharsetSetting::Gbk;
    const std::string unimarc =
        MakeRecord({{"100", "  " + Sub('a', kUnimarc100)}, {"200", "1 " + Sub('a', "\xd6\xd0\xce\xc4")}});
    std::string in50 = kUnimarc100;
    in50.replace(26, 2, "50");
    EXPECT_EQ(repair(unimarc, utf8).out,
              MakeRecord({{"100", "  " + Sub('a', in50)}, {"200", "1 " + Sub('a', "\xe4\xb8\xad\xe6\x96\x87")}}));
}

TEST_F(RecordRepairTest, DryRunShowsTheMnemonicDiffAndWritesNoRecord)
{
    RepairOptions dry;
    dry.dryRun = true;
    const std::string sound = Marc21("Title");
    const std::string tabbed = MakeRecord({{"001", "r1"}, {"245", "10" + Sub('a', "Ti\ttle")}});
    const Repaired r = repair(sound + "junk" + tabbed, dry);
    const std::string offset = std::to_string(sound.size() + 4);
    EXPECT_EQ(r.out, "junk: 4 bytes at byte " + std::to_string(sound.size()) + " left out\n"
                     "--- record 2 at byte " + offset + "\n"
                     "+++ record 2 repaired\n"
                     "@@ -1,3 +1,3 @@\n"
                     " =LDR  00064nam0\\2200049\\\\\\4500\n"
                     " =001  r1\n"
                     "-=245  10$aTi{09}tle\n"
                     "+=245  10$aTi tle\n");
    EXPECT_EQ(r.result.repaired, 1);
}

TEST(LineDiffTest, HunksHoldTheChangesWithThreeLinesAround)
{
    struct Row {
        const char* name;
        std::string before, after, diff;
    };
    const std::string ten = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n";
    const Row rows[] = {
        {"same", ten, ten, ""},
        {"one_changed", "a\nb\nc\n", "a\nB\nc\n", "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
        {"added_at_end", "a\n", "a\nb\n", "@@ -1 +1,2 @@\n a\n+b\n"},
        {"all_removed", "a\nb\n", "", "@@ -1,2 +0,0 @@\n-a\n-b\n"},
        {"far_apart", ten, "x\n2\n3\n4\n5\n6\n7\n8\n9\ny\n",
         "@@ -1,4 +1,4 @@\n-1\n+x\n 2\n 3\n 4\n@@ -7,4 +7,4 @@\n 7\n 8\n 9\n-10\n+y\n"},
        {"close_together", ten, "1\n2\nx\n4\n5\n6\n7\ny\n9\n10\n",
         "@@ -1,10 +1,10 @@\n 1\n 2\n-3\n+x\n 4\n 5\n 6\n 7\n-8\n+y\n 9\n 10\n"},
        {"no_last_line_end", "a\nb", "a\nc", "@@ -1,2 +1,2 @@\n a\n-b\n+c\n"},
    };
    for (const Row& row : rows) {
        std::string out;
        AppendUnifiedDiff(row.before, row.after, out);
        EXPECT_EQ(out, row.diff) << row.name;
    }
}

}  // namespace
