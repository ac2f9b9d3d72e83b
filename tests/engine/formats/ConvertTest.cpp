// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <stop_token>
#include <string>
#include <vector>

#include "EngineTestDoubles.h"
#include "files/FileAccess.h"
#include "check/RecordCheck.h"
#include "formats/RecordConvert.h"
#include "files/RecordIndex.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane;
using testsupport::Joined;
using testsupport::MakeRecord;

constexpr char kSf = '\x1f';

/// The record with leader bytes 5-11 and 17-23 taken from `leader` (24 bytes;
/// its length and base address are the record's own).
std::string WithLeader(std::string record, std::string_view leader)
{
    for (std::size_t i = 5; i < 24; ++i)
        if (i < 12 || i >= 17)
            record[i] = leader[i];
    return record;
}

std::string Sub(char code, const std::string& text) { return std::string(1, kSf) + code + text; }

struct Converted {
    ConvertResult result;
    std::string out;
    std::vector<ConvertWarning> warnings;
};

class ConvertTest : public ::testing::Test {
protected:
    Converted convert(const std::string& input, ConvertOptions options)
    {
        const std::string in = m_dir.write("in" + std::to_string(++m_files), input);
        const std::string outPath = m_dir.file("out" + std::to_string(m_files));
        fileaccess::UniqueFd inFd(::open(in.c_str(), O_RDONLY));
        fileaccess::UniqueFd outFd(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        Converted c;
        c.result = ConvertRecords(inFd.get(), outFd.get(), options, NoMonitor(),
                                  [&](const ConvertWarning& w) { c.warnings.push_back(w); });
        c.out = testsupport::ReadFile(outPath);
        return c;
    }
    static ConvertOptions to(RecordFormat format, RecordFormat from = RecordFormat::Iso2709)
    {
        ConvertOptions o;
        o.from = from;
        o.to = format;
        o.charset = CharsetSetting::Utf8;
        return o;
    }

    testsupport::TempDir m_dir;
    int m_files = 0;
};

const std::string kLongText(9'999 - 2 - 2 - 1, 'x');  // with indicators, "\x1fa" and terminator: 9,999 bytes

struct MrkRow {
    const char* name;
    std::string record;
    std::string mrk;
};

std::vector<MrkRow> MrkRows()
{
    const std::string blanks008 = "850101s1985    xx            000 0 eng d";
    std::vector<MrkRow> rows{
        {"blank indicators and blanks in the leader and 008",
         WithLeader(MakeRecord({{"001", "ocm 123"}, {"008", blanks008}, {"245", "  " + Sub('a', "A title")}}),
                    "00000cam  2200000 a 4500"),
         "=LDR  00123cam\\\\2200061\\a\\4500\n=001  ocm\\123\n=008  850101s1985\\\\\\\\xx\\\\\\\\\\\\\\\\\\\\\\\\000\\0\\eng\\d\n"
         "=245  \\\\$aA title\n\n"},
        {"dollar, backslash and braces in the data",
         MakeRecord({{"001", "a$b\\c"}, {"245", "10" + Sub('a', "US$5 C:\\dir {x}") + Sub('c', "}{")}}),
         "=LDR  00080nam0\\2200049\\\\\\4500\n=001  a{dollar}b{bsol}c\n"
         "=245  10$aUS{dollar}5 C:{bsol}dir {lcub}x{rcub}$c{rcub}{lcub}\n\n"},
        {"an empty subfield and a field without subfields",
         MakeRecord({{"245", "10" + Sub('a', "") + Sub('b', "rest")}, {"500", "1 "}}),
         "=LDR  00064nam0\\2200049\\\\\\4500\n=245  10$a$brest\n=500  1\\\n\n"},
        {"UTF-8 text and a control byte", MakeRecord({{"245", "00" + Sub('a', "中文\ttab")}}),
         "=LDR  00053nam0\\2200037\\\\\\4500\n=245  00$a中文{09}tab\n\n"},
        {"a field of 9,999 bytes", MakeRecord({{"520", "  " + Sub('a', kLongText)}}),
         "=LDR  10037nam0\\2200037\\\\\\4500\n=520  \\\\$a" + kLongText + "\n\n"},
    };
    return rows;
}

TEST_F(ConvertTest, MnemonicLinesAreWrittenAsCataloguersWriteThemAndReadBackToTheSameRecord)
{
    for (const MrkRow& row : MrkRows()) {
        SCOPED_TRACE(row.name);
        Converted written = convert(row.record, to(RecordFormat::Mrk));
        EXPECT_EQ(written.out, row.mrk);
        EXPECT_EQ(written.result.partial, 0);
        Converted back = convert(row.mrk, to(RecordFormat::Iso2709, RecordFormat::Mrk));
        EXPECT_EQ(back.out, row.record);
        EXPECT_TRUE(back.warnings.empty());
    }
}

TEST_F(ConvertTest, WellFormedRecordsComeBackByteIdenticalThroughEveryTextFormat)
{
    std::string file;
    for (const MrkRow& row : MrkRows())
        file += row.record;
    file += WithLeader(MakeRecord({{"001", "u1"}, {"100", "1 " + Sub('a', "Müller, Jörg") + Sub('d', "1950-")},
                                   {"245", "10" + Sub('a', "<Ärger> & \"Ruhe\"") + Sub('6', "880-01")}}),
                       "00000nam a2200000 i 4500");
    for (RecordFormat format : {RecordFormat::MarcXml, RecordFormat::Json, RecordFormat::JsonLines, RecordFormat::Mrk}) {
        SCOPED_TRACE(std::string(RecordFormatName(format)));
        Converted there = convert(file, to(format));
        EXPECT_EQ(there.result.converted, 6);
        Converted back = convert(there.out, to(RecordFormat::Iso2709, format));
        EXPECT_EQ(back.result.status, ConvertResult::Status::Done) << back.result.message;
        EXPECT_EQ(back.out, file);
        EXPECT_TRUE(back.warnings.empty()) << back.warnings.front().problem;
    }
}

TEST_F(ConvertTest, TextFormatsHaveTheShapeOtherToolsRead)
{
    const std::string record = MakeRecord({{"001", "x1"}, {"245", "1 " + Sub('a', "T\x01") + Sub('b', "q\"\\")}});
    Converted xml = convert(record, to(RecordFormat::MarcXml));
    EXPECT_EQ(xml.out,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<collection xmlns=\"http://www.loc.gov/MARC21/slim\">\n"
              "<record>\n  <leader>00065nam0 2200049   4500</leader>\n  <controlfield tag=\"001\">x1</controlfield>\n"
              "  <datafield tag=\"245\" ind1=\"1\" ind2=\" \">\n    <subfield code=\"a\">T\xEF\xBF\xBD</subfield>\n"
              "    <subfield code=\"b\">q\"\\</subfield>\n  </datafield>\n</record>\n</collection>\n");
    // The control byte XML cannot hold is counted in the record's warning.
    ASSERT_EQ(xml.warnings.size(), 1u);
    EXPECT_EQ(xml.warnings[0].number, 1);
    EXPECT_NE(xml.warnings[0].problem.find("1 characters XML 1.0 cannot hold"), std::string::npos);
    EXPECT_EQ(xml.result.partial, 1);

    const std::string json = "{\"leader\":\"00065nam0 2200049   4500\",\"fields\":[{\"001\":\"x1\"},{\"245\":{\"ind1\":"
                             "\"1\",\"ind2\":\" \",\"subfields\":[{\"a\":\"T\\u0001\"},{\"b\":\"q\\\"\\\\\"}]}}]}";
    EXPECT_EQ(convert(record + record, to(RecordFormat::Json)).out, "[\n" + json + ",\n" + json + "\n]\n");
    EXPECT_EQ(convert(record + record, to(RecordFormat::JsonLines)).out, json + "\n" + json + "\n");
    EXPECT_EQ(convert("", to(RecordFormat::Json)).out, "[]\n");
}

TEST_F(ConvertTest, PrintableDelimitersBecomeStandardOnesAndOtherDollarsStayData)
{
    // Variant 1: '#' ends fields, '$' before a letter or digit starts a subfield.
    const std::string variant1 = MakeRecord({{"001", "p1"}, {"200", "1 $aPrice $5 $$b2$"}}, '#');
    const std::string standard = MakeRecord({{"001", "p1"}, {"200", "1 \x1f" "aPrice \x1f" "5 $\x1f" "b2$"}});
    ConvertOptions options = to(RecordFormat::Iso2709);
    options.mode = dmSpecial1;
    EXPECT_EQ(convert(variant1, options).out, standard);
    const std::string variant2 = MakeRecord({{"001", "p1"}, {"200", "1 $aPrice $5 $$b2$"}});
    options.mode = dmSpecial2;
    EXPECT_EQ(convert(variant2, options).out, standard);
}

TEST_F(ConvertTest, PartialRecordsAreConvertedAsFarAsTheyGoWithAWarningEach)
{
    std::string noTerminator = MakeRecord({{"001", "b2"}, {"245", "10" + Sub('a', "Cut")}});
    noTerminator[noTerminator.size() - 2] = 'X';  // the last field's terminator
    const std::string good = MakeRecord({{"001", "g1"}, {"245", "10" + Sub('a', "Fine")}});
    const std::string noIndicators = MakeRecord({{"001", "b3"}, {"245", Sub('a', "No indicators")}});
    Converted c = convert(good + noTerminator + noIndicators, to(RecordFormat::Mrk));
    EXPECT_EQ(c.result.converted, 3);
    EXPECT_EQ(c.result.partial, 2);
    ASSERT_EQ(c.warnings.size(), 2u);
    EXPECT_EQ(c.warnings[0].number, 2);
    EXPECT_NE(c.warnings[0].problem.find("field 245 does not end with its terminator"), std::string::npos);
    EXPECT_EQ(c.warnings[1].number, 3);
    EXPECT_NE(c.warnings[1].problem.find("field 245 has 0 indicators"), std::string::npos);
    EXPECT_NE(c.out.find("=245  10$aCutX\n"), std::string::npos);
}

TEST_F(ConvertTest, TheLongTableHasARowForTheLeaderEachControlFieldAndEachSubfieldNumberedAsInTheFile)
{
    std::vector<std::string> records;
    for (int i = 1; i <= 3; ++i)
        records.push_back(MakeRecord({{"001", "n" + std::to_string(i)},
                                      {"245", "10" + Sub('a', "tab\there, back\\slash") + Sub('c', "line\nend \"q\"")},
                                      {"500", "1 "}}));
    ConvertOptions options = to(RecordFormat::Tsv);
    options.first = 2;
    options.last = 2;
    const Converted c = convert(Joined(records, ""), options);
    EXPECT_EQ(c.out, "record\tid\tfield\ttag\tind1\tind2\tsubfield\tcode\tvalue\n"
                     "2\tn2\t0\tLDR\t\t\t0\t\t" + records[1].substr(0, 24) + "\n"
                     "2\tn2\t1\t001\t\t\t0\t\tn2\n"
                     "2\tn2\t2\t245\t1\t0\t1\ta\ttab\\there, back\\\\slash\n"
                     "2\tn2\t2\t245\t1\t0\t2\tc\tline\\nend \"q\"\n");  // 500 has no subfield: no row
    EXPECT_TRUE(c.warnings.empty());
}

TEST_F(ConvertTest, RangeSelectsRecordsByTheirNumbers)
{
    std::vector<std::string> records;
    for (int i = 1; i <= 4; ++i)
        records.push_back(MakeRecord({{"001", "n" + std::to_string(i)}}));
    ConvertOptions options = to(RecordFormat::Iso2709);
    options.first = 2;
    options.last = 3;
    Converted c = convert(Joined(records, "\r\n"), options);
    EXPECT_EQ(c.out, records[1] + records[2]);
    EXPECT_EQ(c.result.converted, 2);
}

TEST_F(ConvertTest, ChosenRecordsComeInTheOrderGivenThroughTheIndexAsItFramedThem)
{
    std::vector<std::string> records;
    for (int i = 1; i <= 4; ++i)
        records.push_back(MakeRecord({{"001", "n" + std::to_string(i)}}));
    // The last record is cut short by the end of the file.
    const std::string cut = records[3].substr(0, records[3].size() - 5);
    const std::string in = m_dir.write("chosen.mrc", records[0] + "\r\n" + records[1] + records[2] + cut);
    const std::string index = m_dir.file("chosen.idx");
    ASSERT_EQ(BuildRecordIndex(in.c_str(), index.c_str()), 4);
    auto chosen = [&](std::vector<std::int64_t> numbers) {
        const std::string outPath = m_dir.file("chosen" + std::to_string(++m_files));
        fileaccess::UniqueFd inFd(::open(in.c_str(), O_RDONLY));
        fileaccess::UniqueFd indexFd(::open(index.c_str(), O_RDONLY));
        fileaccess::UniqueFd outFd(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        Converted c;
        c.result = ConvertChosenRecords(inFd.get(), indexFd.get(), numbers, outFd.get(), to(RecordFormat::Iso2709),
                                        NoMonitor(), [&](const ConvertWarning& w) { c.warnings.push_back(w); });
        c.out = testsupport::ReadFile(outPath);
        return c;
    };
    Converted c = chosen({3, 1, 3});
    EXPECT_EQ(c.result.status, ConvertResult::Status::Done);
    EXPECT_EQ(c.out, records[2] + records[0] + records[2]);
    EXPECT_EQ(c.result.converted, 3);
    // A cut record is written as far as it goes, with a warning, as a range would write it.
    ConvertOptions last = to(RecordFormat::Iso2709);
    last.first = 4;
    EXPECT_EQ(chosen({4}).out, convert(records[0] + records[1] + records[2] + cut, last).out);
    EXPECT_FALSE(chosen({4}).warnings.empty());
    // A number the index does not hold is a read error, and nothing more is written.
    c = chosen({2, 5, 1});
    EXPECT_EQ(c.result.status, ConvertResult::Status::ReadError);
    EXPECT_EQ(c.result.converted, 1);
}

TEST_F(ConvertTest, OtherCharacterSetsComeBackInUtf8FlaggedWhenMarc21Shaped)
{
    const std::string gbk = "\xd6\xd0\xce\xc4";  // 中文
    const std::string marc21 = MakeRecord({{"001", "c1"}, {"245", "10" + Sub('a', gbk)}});
    const std::string unimarc = MakeRecord({{"001", "c2"}, {"100", "  " + Sub('a', "20031201d2003    em y0chiy0110    ea")},
                                            {"200", "1 " + Sub('a', gbk)}});
    ConvertOptions options = to(RecordFormat::MarcXml);
    options.charset = CharsetSetting::Gbk;
    Converted c = convert(marc21 + unimarc, options);
    EXPECT_NE(c.out.find("<leader>00062nam0a2200049   4500</leader>"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("<leader>00115nam0 2200061   4500</leader>"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find(">中文</subfield>"), std::string::npos);

    options.to = RecordFormat::Iso2709;
    options.utf8 = true;
    const std::string expected = MakeRecord({{"001", "c1"}, {"245", "10" + Sub('a', "中文")}});
    EXPECT_EQ(convert(marc21, options).out, WithLeader(expected, "00000nam0a2200000   4500"));
    options.utf8 = false;
    EXPECT_EQ(convert(marc21, options).out, marc21);
}

TEST_F(ConvertTest, UnimarcShapedRecordsDeclareUtf8InTheirGeneralDataAndKeepTheirLeader)
{
    const std::string gbk = "\xd6\xd0\xce\xc4";  // 中文
    const std::string generalData = "20031201d2003    em y0chiy0110    ea";  // 26-27: "01"
    const std::string declared = "20031201d2003    em y0chiy5010    ea";
    const std::string unimarc = MakeRecord({{"001", "c2"}, {"100", "  " + Sub('a', generalData)},
                                            {"200", "1 " + Sub('a', gbk)}});
    ConvertOptions options = to(RecordFormat::Iso2709);
    options.charset = CharsetSetting::Gbk;
    options.utf8 = true;
    const std::string expected = MakeRecord({{"001", "c2"}, {"100", "  " + Sub('a', declared)},
                                             {"200", "1 " + Sub('a', "中文")}});
    EXPECT_EQ(convert(unimarc, options).out, WithLeader(expected, "00000nam0 2200000   4500"));
    // Forced to UTF-8 though ASCII throughout: declared all the same.
    const std::string ascii = MakeRecord({{"100", "  " + Sub('a', generalData)}, {"200", "1 " + Sub('a', "Title")}});
    const std::string asciiDeclared =
        MakeRecord({{"100", "  " + Sub('a', declared)}, {"200", "1 " + Sub('a', "Title")}});
    EXPECT_EQ(convert(ascii, options).out, WithLeader(asciiDeclared, "00000nam0 2200000   4500"));

    // Text formats are UTF-8 too.
    options = to(RecordFormat::Mrk);
    options.charset = CharsetSetting::Gbk;
    const Converted text = convert(unimarc, options);
    EXPECT_NE(text.out.find("=100  \\\\$a" + declared + "\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("=LDR  00115nam0\\2200061\\\\\\4500\n"), std::string::npos) << text.out;
    // A general data too short to name a set is left as it is.
    const std::string shortData = MakeRecord({{"100", "  " + Sub('a', "20031201d2003")}, {"200", "1 " + Sub('a', gbk)}});
    EXPECT_NE(convert(shortData, options).out.find("$a20031201d2003\n"), std::string::npos);
}

TEST_F(ConvertTest, SubfieldsWithNoCodeAreLeftOutAndTold)
{
    // A bare delimiter ending the field, and one before another.
    const std::string record =
        MakeRecord({{"001", "e1"}, {"383", "  " + Sub('b', "op. 3") + "\x1f"}, {"245", "10\x1f" + Sub('a', "T")}});
    for (RecordFormat format : {RecordFormat::MarcXml, RecordFormat::Json, RecordFormat::Mrk}) {
        SCOPED_TRACE(std::string(RecordFormatName(format)));
        const Converted c = convert(record, to(format));
        EXPECT_EQ(c.result.partial, 1);
        EXPECT_EQ(c.out.find("code=\"\""), std::string::npos) << c.out;
        EXPECT_EQ(c.out.find("{\"\":"), std::string::npos) << c.out;
        ASSERT_EQ(c.warnings.size(), 2u);
        EXPECT_EQ(c.warnings[0].problem, "field 383 has a subfield delimiter with no code: left out");
        EXPECT_EQ(c.warnings[1].problem, "field 245 has a subfield delimiter with no code: left out");
    }
    EXPECT_NE(convert(record, to(RecordFormat::Mrk)).out.find("=383  \\\\$bop. 3\n=245  10$aT\n"), std::string::npos);
    // Read from a text format, such a subfield is left out too.
    const Converted json = convert("[{\"leader\":\"00000nam  2200000   4500\",\"fields\":[{\"245\":{\"ind1\":\"1\","
                                   "\"ind2\":\"0\",\"subfields\":[{\"\":\"x\"},{\"a\":\"T\"}]}}]}]",
                                   to(RecordFormat::MarcXml, RecordFormat::Json));
    EXPECT_EQ(json.out.find("code=\"\""), std::string::npos) << json.out;
    ASSERT_EQ(json.warnings.size(), 1u);
    EXPECT_EQ(json.warnings[0].problem, "field 245 has a subfield with no code: left out");
}

TEST_F(ConvertTest, BrokenTextInputStopsWithAFormatErrorOrAPartialRecord)
{
    struct Row {
        RecordFormat from;
        std::string text;
        ConvertResult::Status status;
        std::int64_t partial;
    };
    const Row rows[] = {
        {RecordFormat::MarcXml, "<collection><record><leader>x", ConvertResult::Status::FormatError, 0},
        {RecordFormat::MarcXml, "<record><controlfield tag='001'>a&bogus;</controlfield></record>",
         ConvertResult::Status::FormatError, 0},
        {RecordFormat::MarcXml, "<marc:record xmlns:marc='x'><marc:controlfield tag='001'>a</marc:controlfield></marc:record>",
         ConvertResult::Status::Done, 1},  // no leader
        {RecordFormat::Json, "[{\"leader\":\"x\"", ConvertResult::Status::FormatError, 0},
        {RecordFormat::Json, "[{\"leader\":\"00000nam  2200000   4500\",\"fields\":[{\"245\":7}]}]",
         ConvertResult::Status::Done, 1},
        {RecordFormat::JsonLines, "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[", ConvertResult::Status::FormatError, 0},
        {RecordFormat::Mrk, "=LDR  00000nam  2200000   4500\nnot a field\n", ConvertResult::Status::Done, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        Converted c = convert(row.text, to(RecordFormat::Iso2709, row.from));
        EXPECT_EQ(c.result.status, row.status);
        EXPECT_EQ(c.result.partial, row.partial);
    }
}


namespace cancel {

using testsupport::ReportWatch;

enum class Ended { Done, Cancelled, Other };

}  // namespace cancel

TEST_F(ConvertTest, ConversionAndCheckReportRisingProgressAndACancelAnywhereLeavesThePromisedState)
{
    using cancel::Ended;
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes += MakeRecord({{"001", "n" + std::to_string(i)}, {"245", "10" + Sub('a', std::string(200, 'a' + i % 26))}});
    const std::string in = m_dir.write("long.mrc", bytes);
    const std::string target = m_dir.file("target.xml");
    std::string whole;  // the target of a run to the end
    // A conversion to a target keeps it only when done, as its callers do.
    auto convertTo = [&](const WorkMonitor& monitor) {
        fileaccess::UniqueFd inFd(::open(in.c_str(), O_RDONLY));
        fileaccess::UniqueFd outFd(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        const ConvertResult result = ConvertRecords(inFd.get(), outFd.get(), to(RecordFormat::MarcXml), monitor,
                                                    [](const ConvertWarning&) {});
        const std::string written = testsupport::ReadFile(target);
        // Whatever left before a stop is the start of the whole output.
        if (!whole.empty()) {
            EXPECT_EQ(whole.compare(0, written.size(), written), 0);
        }
        if (result.status != ConvertResult::Status::Done)
            ::unlink(target.c_str());
        return result.status == ConvertResult::Status::Done        ? Ended::Done
               : result.status == ConvertResult::Status::Cancelled ? Ended::Cancelled
                                                                    : Ended::Other;
    };
    auto check = [&](const WorkMonitor& monitor) {
        fileaccess::UniqueFd inFd(::open(in.c_str(), O_RDONLY));
        std::size_t problems = 0;
        const CheckResult result = CheckRecords(inFd.get(), {}, monitor, [&](const CheckProblem&) { ++problems; });
        EXPECT_EQ(problems, 0u);
        return result.status == CheckResult::Status::Done        ? Ended::Done
               : result.status == CheckResult::Status::Cancelled ? Ended::Cancelled
                                                                  : Ended::Other;
    };
    struct Work {
        const char* name;
        std::function<Ended(const WorkMonitor&)> run;
        std::function<void()> checkCancelled;  // the state a cancel promises
    };
    const Work works[] = {
        {"conversion to a target", convertTo, [&] { EXPECT_FALSE(std::filesystem::exists(target)); }},
        {"check", check, [] {}},
    };
    for (const Work& work : works) {
        SCOPED_TRACE(work.name);
        cancel::ReportWatch all;
        whole.clear();
        EXPECT_EQ(work.run(all.monitor), Ended::Done);
        EXPECT_TRUE(all.rising);
        EXPECT_EQ(all.last, bytes.size());
        EXPECT_EQ(all.lastTotal, bytes.size());
        ASSERT_GE(all.reports, 4);  // the first, some on the way, the last
        if (std::filesystem::exists(target)) {
            whole = testsupport::ReadFile(target);
            EXPECT_NE(whole.find("</collection>"), std::string::npos);
            std::filesystem::remove(target);
        }
        // Early (at the first report), midway, and at the last report before
        // the end.
        for (int stopAt : {1, all.reports / 2, all.reports - 1}) {
            SCOPED_TRACE(stopAt);
            cancel::ReportWatch cancelled(stopAt);
            EXPECT_EQ(work.run(cancelled.monitor), Ended::Cancelled);
            EXPECT_TRUE(cancelled.rising);
            EXPECT_LT(cancelled.reports, all.reports);
            work.checkCancelled();
        }
    }
}

}  // namespace

namespace {

TEST_F(ConvertTest, MarcXmlEscapesMarkupWhereverItFallsInLongText)
{
    // Text is passed over in blocks of sixteen bytes: markup and multibyte
    // characters at every place in and across a block must come out as the
    // byte-by-byte rule gives them.
    const std::string pieces[] = {"a", "Z", "0", " ", "&", "<", ">", "\"", "'", "é", "中", "\x7f"};
    auto escaped = [](const std::string& piece) -> std::string {
        if (piece == "&")
            return "&amp;";
        if (piece == "<")
            return "&lt;";
        if (piece == ">")
            return "&gt;";
        return piece;
    };
    std::mt19937 random(1613);
    for (int n = 0; n < 300; ++n) {
        std::string text, expected;
        const int length = static_cast<int>(random() % 70);
        for (int k = 0; k < length; ++k) {
            const std::string& piece = pieces[random() % 3 == 0 ? random() % std::size(pieces) : random() % 4];
            text += piece;
            expected += escaped(piece);
        }
        const Converted c = convert(MakeRecord({{"245", "10" + Sub('a', text)}}), to(RecordFormat::MarcXml));
        ASSERT_EQ(c.result.status, ConvertResult::Status::Done);
        EXPECT_NE(c.out.find("<subfield code=\"a\">" + expected + "</subfield>"), std::string::npos)
            << testing::PrintToString(text);
        EXPECT_TRUE(c.warnings.empty());
    }
}

}  // namespace

TEST_F(ConvertTest, AHundredWhoseFirstSubfieldIsNotAStillMakesTheRecordUnimarcShaped)
{
    // UNIMARC-shaped records keep leader byte 9 when their text is decoded; the
    // general processing data need not be the field's first subfield.
    const std::string record =
        MakeRecord({{"001", "u1"},
                    {"100", "  " + Sub('b', "x") + Sub('a', "20031201d2003    em y0chiy0110    ea")},
                    {"200", "1 " + Sub('a', "\xd6\xd0\xce\xc4")}});
    ConvertOptions options = to(RecordFormat::MarcXml);
    options.charset = CharsetSetting::Gbk;
    const Converted c = convert(record, options);
    EXPECT_NE(c.out.find("<leader>00118nam0 2200061   4500</leader>"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find(">中文</subfield>"), std::string::npos) << c.out;
}

TEST_F(ConvertTest, IllFormedUtf8AfterADelimiterIsACodeOfOneByte)
{
    // A subfield code or an indicator is one character; bytes that are no
    // well-formed sequence (overlong, surrogate, past U+10FFFF) are one byte
    // each, and the rest of them belongs to the subfield's value.
    const std::string fffd = "\xef\xbf\xbd";
    struct Row {
        const char* name;
        std::string field245;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"overlong_code", "10" + std::string("\x1f\xe0\x80\x80" "bc"),
         {"<subfield code=\"" + fffd + "\">" + fffd + fffd + "bc</subfield>"}},
        {"surrogate_code", "10" + std::string("\x1f\xed\xa0\x80" "de"),
         {"<subfield code=\"" + fffd + "\">" + fffd + fffd + "de</subfield>"}},
        {"past_last_code_point_code", "10" + std::string("\x1f\xf4\x90\x80\x80" "fg"),
         {"<subfield code=\"" + fffd + "\">" + fffd + fffd + fffd + "fg</subfield>"}},
        {"well_formed_code_stays_whole", "10" + std::string("\x1f\xc3\xa9" "hi"),
         {"<subfield code=\"\xc3\xa9\">hi</subfield>"}},
        {"overlong_indicator", std::string("\xe0\x80\x80" "0") + Sub('a', "T"),
         {"ind1=\"" + fffd + "\" ind2=\"" + fffd + "\"", "<subfield code=\"a\">T</subfield>"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Converted c = convert(MakeRecord({{"001", "o1"}, {"245", row.field245}}), to(RecordFormat::MarcXml));
        for (const std::string& part : row.expected)
            EXPECT_NE(c.out.find(part), std::string::npos) << c.out;
    }
}

TEST_F(ConvertTest, MnemonicIndicatorsAreWholeCharactersOnly)
{
    // A stray lead byte is one indicator: it must not swallow the next
    // indicator and the subfield delimiter.
    const std::string mrk = "=LDR  00000nam0\\2200000\\\\\\4500\n=245  \xe4X$aT\n\n";
    const Converted c = convert(mrk, to(RecordFormat::MarcXml, RecordFormat::Mrk));
    EXPECT_NE(c.out.find("ind1=\"\xef\xbf\xbd\" ind2=\"X\""), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("<subfield code=\"a\">T</subfield>"), std::string::npos) << c.out;
}

// The record text is one writer among the formats: convert writes a record's
// text with the record text writer, laid out by display columns whatever the
// set (a GBK record's Chinese character wraps to the next line, where its
// display bytes keep it on the first), and the model's writers leave a
// record's own fields alone.
TEST_F(ConvertTest, TextIsTheRecordTextWritersColumnLayout)
{
    const std::string record = testsupport::MakeRecord({{"300", std::string(73, 'x') + "\xd6\xd0"}});
    ConvertOptions options = to(RecordFormat::Text);
    options.charset = CharsetSetting::Gbk;
    const Converted text = convert(record, options);
    EXPECT_EQ(text.result.status, ConvertResult::Status::Done);
    EXPECT_EQ(text.out, "300" + std::string(73, 'x') + "\n     \xe4\xb8\xad\n");

    RecordFields fields;
    fields.assemble(reinterpret_cast<const unsigned char*>(record.data()), record.size());
    std::string out;
    for (RecordFormat format : {RecordFormat::Iso2709, RecordFormat::MarcXml, RecordFormat::Json,
                                RecordFormat::JsonLines, RecordFormat::Mrk})
        EXPECT_FALSE(MakeRecordWriter(format)->writeFields(fields, out)) << RecordFormatName(format);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(MakeRecordWriter(RecordFormat::Text, {CharsetSetting::Gbk, dmNormal, GbkTextLayout::Columns})
                    ->writeFields(fields, out));
    EXPECT_EQ(out, text.out);
}
