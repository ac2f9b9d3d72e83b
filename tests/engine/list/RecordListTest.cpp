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
#include "list/ListFill.h"
#include "list/ListRows.h"

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
