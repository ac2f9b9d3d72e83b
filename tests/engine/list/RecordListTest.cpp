// SPDX-License-Identifier: Apache-2.0
// The record list: each format's columns decoded from the record's own set,
// the sort (numbers, nonfiling characters, non-sorting spans, stability,
// reverse), the filter, and a fill that is stopped.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stop_token>
#include <string>
#include <vector>

#include "RecordFiles.h"
#include "check/RecordCheck.h"
#include "list/ListFill.h"
#include "list/ListRows.h"
#include "list/TextOrder.h"

using namespace veltrane;
using testsupport::MakeRecord;

namespace {

const std::string kUnimarc100 = "  \x1f" "a20010101d1998    km y0chiy0110    ea";
// 100 $a/26-27 "50": the record says it is in UTF-8.
const std::string kUnimarcUtf8100 = "  \x1f" "a20010101d1998    km y0chiy50      ea";

ListRow rowOf(const std::string& record)
{
    ListRowMaker maker(dmNormal, CharsetSetting::Auto);
    ListRow row;
    maker.make({reinterpret_cast<const unsigned char*>(record.data()), record.size()},
               static_cast<std::uint32_t>(record.size()), row);
    return row;
}

std::string cellOf(const ListRow& row, ListColumn column) { return row.cells[static_cast<std::size_t>(column)]; }

RecordList listOf(const std::vector<std::string>& records)
{
    RecordList list;
    for (const std::string& r : records)
        list.append(rowOf(r));
    return list;
}

std::string marc21Titled(const std::string& title245, const std::string& year = "2000")
{
    return MakeRecord({{"008", "830101s" + year + "    nyu"}, {"245", title245}});
}

}  // namespace

TEST(ListColumns, Marc21TakesEachColumnFromItsFieldWithoutIsbdPunctuation)
{
    const ListRow row = rowOf(MakeRecord({{"001", "ocm123"},
                                          {"008", "830101s1983    nyu"},
                                          {"020", "  \x1f" "a0131103628 :\x1f" "c$20"},
                                          {"100", "1 \x1f" "aKernighan, Brian W.,\x1f" "eauthor."},
                                          {"245", "14\x1f" "aThe C programming language /\x1f" "cBrian W. Kernighan."},
                                          {"260", "  \x1f" "aEnglewood Cliffs :\x1f" "bPrentice-Hall,\x1f" "c1978."}}));
    EXPECT_EQ(cellOf(row, ListColumn::ControlNumber), "ocm123");
    EXPECT_EQ(cellOf(row, ListColumn::Title), "The C programming language");
    EXPECT_EQ(row.titleSortKey, "C programming language");
    EXPECT_EQ(cellOf(row, ListColumn::Author), "Kernighan, Brian W");
    EXPECT_EQ(cellOf(row, ListColumn::Publisher), "Prentice-Hall");
    EXPECT_EQ(cellOf(row, ListColumn::Year), "1983");
    EXPECT_EQ(cellOf(row, ListColumn::Isbn), "0131103628");
    EXPECT_EQ(cellOf(row, ListColumn::Charset), "ascii");
    EXPECT_EQ(cellOf(row, ListColumn::Problems), "0");
}

TEST(ListColumns, Marc21FallsBackTo245cAnd260AndPrefersPublication264)
{
    const ListRow row = rowOf(MakeRecord({{"245", "00\x1f" "aNo author here /\x1f" "cedited by Ann Lee."},
                                          {"260", "  \x1f" "bOld Press,\x1f" "c1999"},
                                          {"264", " 4\x1f" "bCopyright Co."},
                                          {"264", " 1\x1f" "bNew Press,\x1f" "c[2010]"}}));
    EXPECT_EQ(cellOf(row, ListColumn::Author), "edited by Ann Lee");
    EXPECT_EQ(cellOf(row, ListColumn::Publisher), "New Press");
    EXPECT_EQ(cellOf(row, ListColumn::Year), "2010");
    EXPECT_TRUE(row.titleSortKey.empty());  // it sorts as it reads
    const ListRow only260 = rowOf(MakeRecord({{"260", "  \x1f" "bOld Press,\x1f" "c1999"}}));
    EXPECT_EQ(cellOf(only260, ListColumn::Publisher), "Old Press");
    EXPECT_EQ(cellOf(only260, ListColumn::Title), "");
}

TEST(ListColumns, UnimarcInGbkAndUtf8IsDecodedFromEachRecordsOwnSet)
{
    // 北京 and 中华书局 in GBK.
    const ListRow gbk = rowOf(MakeRecord({{"001", "012345"},
                                          {"010", "  \x1f" "a7-101-00001-2\x1f" "dCNY12.00"},
                                          {"100", kUnimarc100},
                                          {"200", "1 \x1f" "a\xb1\xb1\xbe\xa9\x1f" "f\xd6\xd0\xbb\xaa\xca\xe9\xbe\xd6"},
                                          {"210", "  \x1f" "a\xb1\xb1\xbe\xa9\x1f" "c\xd6\xd0\xbb\xaa\xca\xe9\xbe\xd6\x1f" "d2003"}}));
    EXPECT_EQ(cellOf(gbk, ListColumn::Title), "北京");
    EXPECT_EQ(cellOf(gbk, ListColumn::Author), "中华书局");
    EXPECT_EQ(cellOf(gbk, ListColumn::Publisher), "中华书局");
    EXPECT_EQ(cellOf(gbk, ListColumn::Year), "2003");
    EXPECT_EQ(cellOf(gbk, ListColumn::Isbn), "7-101-00001-2");
    EXPECT_EQ(cellOf(gbk, ListColumn::Charset), "gbk");

    // The year falls back on 100 $a/9-12; a non-sorting span reads but does not sort.
    const ListRow utf8 = rowOf(MakeRecord({{"100", kUnimarcUtf8100},
                                           {"200", "1 \x1f" "a\xc2\x88" "Le \xc2\x89" "北京\x1f" "f张三"}}));
    EXPECT_EQ(cellOf(utf8, ListColumn::Title), "Le 北京");
    EXPECT_EQ(utf8.titleSortKey, "北京");
    EXPECT_EQ(cellOf(utf8, ListColumn::Author), "张三");
    EXPECT_EQ(cellOf(utf8, ListColumn::Year), "1998");
    EXPECT_EQ(cellOf(utf8, ListColumn::Charset), "utf-8");
}

TEST(ListColumns, ControlsNeverReachACellAndProblemsAreCounted)
{
    std::string record = MakeRecord({{"245", "00\x1f" "aTab\there\x01"}});
    record[10] = '3';  // indicator count
    record[11] = '3';  // subfield code length
    const ListRow row = rowOf(record);
    EXPECT_EQ(cellOf(row, ListColumn::Title), "Tabhere");
    EXPECT_EQ(cellOf(row, ListColumn::Problems), "2");
}

// 问题 counts the content findings of the window's rules with the structural
// problems: as many as `check` tells of the record under those rules, of
// each kind.
TEST(ListColumns, ProblemsCountTheFindingsOfTheRulesAsCheckTellsThem)
{
    std::string bytes = MakeRecord({{"245", "00\x1f" "aTab\there"}, {"245", "10\x1f" "bNo a"}});
    bytes[10] = '3';  // indicator count
    const std::string badCounts = bytes;
    const std::string gbkNoCountry = MakeRecord({{"001", "c1"},
                                                 {"010", "  \x1f" "a978-7-111-11111-4"},
                                                 {"100", kUnimarc100},
                                                 {"200", "1 \x1f" "a\xd6\xd0\xce\xc4"}});
    const std::string clean = MakeRecord({{"001", "m1"}, {"245", "10\x1f" "aA title"}});
    std::string holdings = MakeRecord({{"001", "h1"}, {"852", "  \x1f" "bMain"}});
    holdings[6] = 'u';  // no rule set covers holdings: their notice is no problem
    for (const std::string* each : {&badCounts, &gbkNoCountry, &clean, static_cast<const std::string*>(&holdings)}) {
        const std::string& record = *each;
        for (const RuleSetting rules : {RuleSetting::None, RuleSetting::Auto, RuleSetting::Unimarc}) {
            SCOPED_TRACE(::testing::PrintToString(record) + " " + std::to_string(static_cast<int>(rules)));
            FramedRecord framed;
            framed.number = 1;
            framed.declaredLength = static_cast<std::uint32_t>(record.size());
            framed.bytes = {reinterpret_cast<const unsigned char*>(record.data()), record.size()};
            CheckOptions options;
            options.rules = rules;
            RecordFields fields;
            TextCodec codec;
            std::vector<CheckProblem> told;
            CheckRecord(framed, options, fields, codec, told);
            // The list counts the reader's structural problems, not the
            // characters check looks at besides, nor the notice that a kind
            // of record has no rules.
            std::erase_if(told, [](const CheckProblem& p) {
                return p.code == "invalid-bytes" || p.code == "bad-utf8" || p.code == "no-rules";
            });
            ListRowMaker maker(dmNormal, CharsetSetting::Auto, {}, rules);
            ListRow row;
            maker.make(framed.bytes, framed.declaredLength, row);
            EXPECT_EQ(cellOf(row, ListColumn::Problems), std::to_string(told.size()));
            if (rules == RuleSetting::Auto && each != &clean && each != &holdings) {
                EXPECT_GT(told.size(), each == &badCounts ? 1u : 0u);
            }
        }
    }
}

TEST(RecordListSort, NumbersAsNumbersTitlesPastNonfilingStableAndReversible)
{
    const RecordList list = listOf({
        marc21Titled("04\x1f" "aThe zebra", "2000"),  // row 0
        marc21Titled("00\x1f" "aapple", "0999"),       // row 1: a three-digit year sorts first as a number
        marc21Titled("00\x1f" "aMango", "2000"),       // row 2
        marc21Titled("00\x1f" "aMango", "1000"),       // row 3
    });
    EXPECT_EQ(list.cell(1, ListColumn::Year), "999");
    EXPECT_EQ(SortListRows(list, FileOrder(4), ListColumn::Year, false), (ListOrder{1, 3, 0, 2}));
    EXPECT_EQ(SortListRows(list, FileOrder(4), ListColumn::Year, true), (ListOrder{0, 2, 3, 1}));
    // Code points: capitals before small letters; "The" is passed over.
    EXPECT_EQ(SortListRows(list, FileOrder(4), ListColumn::Title, false), (ListOrder{2, 3, 1, 0}));
    // Equal titles keep their file order both ways.
    EXPECT_EQ(SortListRows(list, FileOrder(4), ListColumn::Title, true), (ListOrder{0, 1, 2, 3}));
    EXPECT_EQ(SortListRows(list, FileOrder(4), ListColumn::Number, true), (ListOrder{3, 2, 1, 0}));
}

TEST(RecordListFilter, KeepsRowsHoldingTheTextInAColumnOrAnyIgnoringCase)
{
    const RecordList list = listOf({
        marc21Titled("00\x1f" "aGardening", "1990"),
        marc21Titled("00\x1f" "aThe garden", "2001"),
        marc21Titled("00\x1f" "aCooking", "1990"),
    });
    const ListOrder all = FileOrder(3);
    EXPECT_EQ(FilterListRows(list, all, ListColumn::Title, "GARDEN"), (ListOrder{0, 1}));
    EXPECT_EQ(FilterListRows(list, all, std::nullopt, "1990"), (ListOrder{0, 2}));
    EXPECT_EQ(FilterListRows(list, all, ListColumn::Title, "1990"), ListOrder{});
    EXPECT_EQ(FilterListRows(list, all, ListColumn::Number, "3"), ListOrder{2});
    EXPECT_EQ(FilterListRows(list, ListOrder{2, 1, 0}, std::nullopt, ""), (ListOrder{2, 1, 0}));
    EXPECT_EQ(FilterListRows(list, ListOrder{2, 1, 0}, std::nullopt, "g"), (ListOrder{2, 1, 0}));
}

TEST(RecordListFill, ReadsEveryRecordInOrderWithAnyWorkerCountAndStopsWhenAsked)
{
    testsupport::TempDir dir;
    std::string bytes;
    for (int i = 1; i <= 300; ++i)
        bytes += MakeRecord({{"001", std::to_string(i)}, {"245", "00\x1f" "aTitle " + std::to_string(i)}}) + "\r\n";
    const std::string path = dir.write("list.mrc", bytes);
    for (int workers : {1, 2}) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const ListRead read = ReadRecordList(fd, dmNormal, CharsetSetting::Auto, NoMonitor(), workers);
        ::close(fd);
        EXPECT_EQ(read.fill.outcome, Outcome::Done);
        ASSERT_EQ(read.list.rows(), 300u);
        EXPECT_EQ(read.list.cell(0, ListColumn::ControlNumber), "1");
        EXPECT_EQ(read.list.cell(299, ListColumn::Title), "Title 300");
    }
    std::stop_source stop;
    stop.request_stop();
    WorkMonitor monitor{stop.get_token(), {}, 1};
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ListRead stopped = ReadRecordList(fd, dmNormal, CharsetSetting::Auto, monitor, 1);
    ::close(fd);
    EXPECT_EQ(stopped.fill.outcome, Outcome::Cancelled);
    EXPECT_LT(stopped.list.rows(), 300u);
    EXPECT_EQ(stopped.fill.rows, static_cast<std::int64_t>(stopped.list.rows()));
}

TEST(ColumnPaths, TheGrammarTakesTagsCodesEveryAndPositions)
{
    struct Case {
        const char* typed;
        const char* tag;
        char code;
        bool every;
        std::optional<std::pair<std::size_t, std::size_t>> positions;
        const char* text;
    };
    const Case cases[] = {
        {"690a", "690", 'a', false, std::nullopt, "690$a"},
        {" 245$a ", "245", 'a', false, std::nullopt, "245$a"},
        {"245$a*", "245", 'a', true, std::nullopt, "245$a*"},
        {"008/35-37", "008", 0, false, std::pair<std::size_t, std::size_t>{35, 37}, "008/35-37"},
        {"ldr/06", "LDR", 0, false, std::pair<std::size_t, std::size_t>{6, 6}, "LDR/06"},
        {"100$a/9-12", "100", 'a', false, std::pair<std::size_t, std::size_t>{9, 12}, "100$a/09-12"},
        {"650*", "650", 0, true, std::nullopt, "650*"},
        {"2001", "200", '1', false, std::nullopt, "200$1"},
    };
    for (const Case& c : cases) {
        const ColumnPathParse parsed = ParseColumnPath(c.typed);
        ASSERT_TRUE(parsed.path) << c.typed << ": " << parsed.message;
        EXPECT_EQ(parsed.path->tag, c.tag) << c.typed;
        EXPECT_EQ(parsed.path->code, c.code) << c.typed;
        EXPECT_EQ(parsed.path->every, c.every) << c.typed;
        EXPECT_EQ(parsed.path->last.has_value(), c.positions.has_value()) << c.typed;
        if (c.positions) {
            EXPECT_EQ(parsed.path->first, c.positions->first) << c.typed;
            EXPECT_EQ(*parsed.path->last, c.positions->second) << c.typed;
        }
        EXPECT_EQ(parsed.path->text(), c.text);
        EXPECT_TRUE(ParseColumnPath(parsed.path->text()).path) << c.text;  // the text reads back
    }
}

TEST(ColumnPaths, ABadPathIsRefusedWithAMessageSayingWhy)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "请输入路径"},
        {"   ", "请输入路径"},
        {"24", "三个字母或数字的字段号"},
        {"2-5$a", "三个字母或数字的字段号"},
        {"245$", "子字段代码"},
        {"245$ab", "只有一个"},
        {"LDR$a", "头标（LDR）没有子字段"},
        {"LDR*", "不能用“*”"},
        {"008$a", "控制字段 008 没有子字段"},
        {"008/", "“/”后应是位置"},
        {"008/35-", "“-”后应是最后一个位置"},
        {"008/37-35", "结尾不能在开头之前"},
        {"008/999999", "“/”后应是位置"},
        {"245$a!", "无法理解“!”"},
    };
    for (const auto& [typed, why] : cases) {
        const ColumnPathParse parsed = ParseColumnPath(typed);
        EXPECT_FALSE(parsed.path) << typed;
        EXPECT_NE(parsed.message.find(why), std::string::npos) << typed << ": " << parsed.message;
    }
}

TEST(ColumnPaths, OwnColumnsTakeFirstOrEveryOccurrenceAndPositionsOfDecodedText)
{
    std::vector<ColumnPath> paths;
    for (const char* typed : {"690a", "650$a*", "008/35-37", "LDR/06", "100$a/9-12", "245", "650$x", "008/40-45",
                              "650$a"})
        paths.push_back(*ParseColumnPath(typed).path);
    ListRowMaker maker(dmNormal, CharsetSetting::Auto, paths);
    const std::string record = MakeRecord({{"008", "830101s1983    nyu           000 0 eng d"},
                                           {"100", "1 \x1f" "a20010101d1998"},
                                           {"245", "10\x1f" "aTitle /\x1f" "cAnn."},
                                           {"650", " 0\x1f" "a Cats \x1f" "aDogs"},
                                           {"650", " 0\x1f" "aBirds"},
                                           {"690", "  \x1f" "bno a here"},
                                           {"690", "  \x1f" "aLocal"}});
    ListRow row;
    maker.make({reinterpret_cast<const unsigned char*>(record.data()), record.size()},
               static_cast<std::uint32_t>(record.size()), row);
    ASSERT_EQ(row.own.size(), paths.size());
    EXPECT_EQ(row.own[0], "Local");                 // the first 690 that has $a
    EXPECT_EQ(row.own[1], "Cats ; Dogs ; Birds");   // every $a of every 650, trimmed
    EXPECT_EQ(row.own[2], "eng");
    EXPECT_EQ(row.own[3], "a");                     // MakeRecord's leader: a language material record
    EXPECT_EQ(row.own[4], "1998");
    EXPECT_EQ(row.own[5], "Title / Ann.");          // a data field whole
    EXPECT_EQ(row.own[6], "");                      // no such subfield
    EXPECT_EQ(row.own[7], "");                      // positions past the end
    EXPECT_EQ(row.own[8], "Cats");

    // A GBK value is decoded before its characters are counted.
    ListRowMaker gbkMaker(dmNormal, CharsetSetting::Gbk, {*ParseColumnPath("200$a/1-2").path});
    const std::string gbk = MakeRecord({{"100", kUnimarc100}, {"200", "1 \x1f" "a\xd6\xd0\xbb\xaa\xca\xe9\xbe\xd6"}});
    gbkMaker.make({reinterpret_cast<const unsigned char*>(gbk.data()), gbk.size()}, static_cast<std::uint32_t>(gbk.size()),
                  row);
    EXPECT_EQ(row.own[0], "华书");

    // The list keeps the cells of one's own after the others, sorts and filters them.
    RecordList list;
    ListRow a, b;
    a.own = {"zeta"};
    b.own = {"alpha"};
    list.append(a);
    list.append(b);
    EXPECT_EQ(list.columns(), static_cast<std::size_t>(kListColumnCount) + 1);
    EXPECT_EQ(list.cell(0, OwnColumn(0)), "zeta");
    EXPECT_EQ(list.cell(0, OwnColumn(1)), "");
    EXPECT_EQ(SortListRows(list, FileOrder(2), OwnColumn(0), false), (ListOrder{1, 0}));
    EXPECT_EQ(FilterListRows(list, FileOrder(2), std::nullopt, "ALPHA"), ListOrder{1});
    RecordList joined;
    joined.append(list);
    EXPECT_EQ(joined.cell(1, OwnColumn(0)), "alpha");
}

TEST(TextOrder, CodePointsWithEveryHanziInPinyinOrder)
{
    // 阿 a, 北 bei, 镕 rong (beyond GB2312), 上 shang, 赟 yun, 中 zhong; Latin
    // before hanzi, a text before those it begins, a CJK character the table
    // does not rank (U+9FFF) and Hangul after the ranked hanzi.
    const std::vector<std::string> ordered = {"", "Apple", "Zoo", "apple", "é", "阿", "北京", "北京大学", "镕",
                                              "上海", "赟", "中华", "\xe9\xbf\xbf", "한"};
    for (std::size_t i = 0; i < ordered.size(); ++i)
        for (std::size_t k = 0; k < ordered.size(); ++k)
            EXPECT_EQ(TextSortsBefore(ordered[i], ordered[k]), i < k) << ordered[i] << " / " << ordered[k];
    RecordList list;
    for (const char* title : {"上海", "北京", "阿城"}) {
        ListRow row;
        row.cells[static_cast<std::size_t>(ListColumn::Publisher)] = title;
        list.append(row);
    }
    EXPECT_EQ(SortListRows(list, FileOrder(3), ListColumn::Publisher, false), (ListOrder{2, 1, 0}));
}
