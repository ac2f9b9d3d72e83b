// SPDX-License-Identifier: Apache-2.0
// The block search against the plain one: over generated files whose records
// hold the query at the ends of blocks, in tags, in MARC-8 and GBK records,
// under each delimiter variant, both find the same records and fields.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "RecordFiles.h"
#include "files/FileAccess.h"
#include "search/StreamSearch.h"

using namespace veltrane;
using testsupport::MakeRecord;

namespace {

/// Pieces a field is made of: plain words, parts of the queries below, GBK
/// and UTF-8 Chinese, MARC-8 combining marks, ligature halves and escapes.
const std::vector<std::string> kPieces = {
    "hay", "needle", "NeEdLe", "nee", "dle", "01 ", "2001 ", "45", "$a", "#", "\x1f" "a", "\x1f" "b",
    "\xb1\xb1\xbe\xa9",                  // 北京 in GBK
    "\xe5\x8c\x97\xe4\xba\xac",          // 北京 in UTF-8
    "\xb1\xb1", "\xbe\xa9\xec", "Caf", "\xe2" "e", "Cafe", "ab\xec" "cd", "abcd", "t\xfb" "s", "ts",
    "\x1b(N", "\x1b(B", "\x1b$1", "!0\x21", " ", "x", "\r\n",
};

struct Hit {
    std::int64_t record;
    std::string tag;
    std::size_t field;
    friend bool operator==(const Hit&, const Hit&) = default;
};

/// A file of records with fields drawn from kPieces: some look like MARC 21
/// records of MARC-8 text (245 and 008, high bytes), some like UNIMARC
/// records of GBK text (100 and 200), sizes from a few bytes to several
/// thousand so that records end at every place in a block.
std::string generatedFile(unsigned seed, int records)
{
    std::mt19937 random(seed);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const std::vector<std::string> tags = {"001", "008", "100", "200", "245", "201", "450", "520", "2001"};
    std::string file;
    for (int r = 0; r < records; ++r) {
        std::vector<testsupport::Field> fields;
        const bool marc21 = pick(2) == 0;
        fields.push_back({marc21 ? "008" : "100", marc21 ? "830101s1983" : "  \x1f" "a20010101d1983"});
        const std::size_t count = 1 + pick(12);
        for (std::size_t f = 0; f < count; ++f) {
            std::string tag = tags[pick(tags.size())].substr(0, 3);
            std::string body = pick(3) == 0 ? "1 " : "  ";
            const std::size_t pieces = pick(4) == 0 ? 100 + pick(200) : pick(20);
            for (std::size_t p = 0; p < pieces; ++p)
                body += kPieces[pick(kPieces.size())];
            fields.push_back({tag, body});
        }
        file += MakeRecord(fields);
        if (pick(5) == 0)
            file += "\r\n";
    }
    return file;
}

std::vector<Hit> searchAll(const std::string& path, const SearchQuery& query, std::int64_t from, SearchPath path_)
{
    std::vector<Hit> hits;
    fileaccess::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const SearchEnd end = SearchRecords(fd.get(), {0, 0, from, INT64_MAX}, query, NoMonitor(), 0,
                                        [&](const FoundRecord& found) {
                                            hits.push_back({found.number, std::string(found.fields.tag(found.field)),
                                                            found.field});
                                            return true;
                                        },
                                        path_);
    EXPECT_EQ(end.outcome, Outcome::Done);
    return hits;
}

TEST(BlockSearch, FindsWhatTheRecordByRecordSearchFinds)
{
    testsupport::TempDir dir;
    const std::string path = dir.write("generated.mrc", generatedFile(19, 500));
    ASSERT_GT(std::filesystem::file_size(path), 2u * 256 * 1024);  // blocks end all over the file
    struct Case {
        std::string pattern, text, tag;
        CharsetSetting charset = CharsetSetting::Auto;
    };
    const std::vector<Case> cases = {
        {"needle", "", ""},         {"$aneedle", "", ""},      {"2001 ", "", ""},        {"001 ", "", "200"},
        {"450", "", ""},            {"5", "", ""},             {"needle", "needle", ""}, {"", "北京", ""},
        {"", "北京", "200"},        {"", "Café", ""},          {"", "abcd", ""},         {"", "tsCaf", ""},
        {"", "aC", ""},             {"", "2001 ", ""},         {"", "$bhay", ""},        {"", "é", ""},
        {"", "Café", "", CharsetSetting::Marc8},               {"", "北京", "", CharsetSetting::Gbk},
        {"", "北京", "", CharsetSetting::Utf8},                {"", "#hay", ""},
    };
    std::size_t withHits = 0;
    for (const Case& c : cases)
        for (DelimiterMode mode : {dmNormal, dmSpecial1, dmSpecial2})
            for (bool caseSensitive : {false, true}) {
                const SearchQuery query{c.pattern, caseSensitive, mode, c.tag, c.text, c.charset};
                const std::vector<Hit> expected = searchAll(path, query, 1, SearchPath::OneByOne);
                EXPECT_EQ(searchAll(path, query, 1, SearchPath::Blocks), expected)
                    << "pattern '" << c.pattern << "' text '" << c.text << "' tag '" << c.tag << "' mode " << static_cast<int>(mode)
                    << (caseSensitive ? " case" : " any case");
                if (mode == dmNormal && !caseSensitive) {
                    EXPECT_EQ(searchAll(path, query, 150, SearchPath::Blocks),
                              searchAll(path, query, 150, SearchPath::OneByOne));
                }
                withHits += expected.empty() ? 0 : 1;
            }
    EXPECT_GT(withHits, cases.size() * 3);  // most of the queries are found somewhere
}

TEST(BlockSearch, StopsWhereTheRecordByRecordSearchStops)
{
    testsupport::TempDir dir;
    // The last record is cut off by the end of the file.
    std::string file = generatedFile(7, 800);
    file += MakeRecord({{"245", "  \x1f" "aneedle"}}).substr(0, 30);
    const std::string path = dir.write("cut.mrc", file);
    const SearchQuery query{"needle", false, dmNormal, {}, {}, {}};
    for (SearchPath path_ : {SearchPath::OneByOne, SearchPath::Blocks}) {
        fileaccess::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        std::int64_t found = 0;
        const SearchEnd end = SearchRecords(fd.get(), {0, 0, 1, INT64_MAX}, query, NoMonitor(), 0,
                                            [&](const FoundRecord&) { return ++found < 5; }, path_);
        EXPECT_EQ(end.outcome, Outcome::Done);
        EXPECT_EQ(found, 5);
        const SearchEnd cut = SearchRecords(fd.get(), {0, 0, 1, INT64_MAX}, query, NoMonitor(), 0,
                                            [](const FoundRecord&) { return true; }, path_);
        EXPECT_EQ(cut.outcome, Outcome::Unreadable);
        EXPECT_EQ(cut.record, 801);
        const SearchEnd ranged = SearchRecords(fd.get(), {0, 0, 10, 20}, query, NoMonitor(), 0,
                                               [](const FoundRecord&) { return true; }, path_);
        EXPECT_EQ(ranged.outcome, Outcome::Done);
        EXPECT_EQ(ranged.record, 20);
    }
}

TEST(BlockSearch, FindsMarc8TextWhoseRawBytesAreBrokenUp)
{
    testsupport::TempDir dir;
    // MARC 21 records with high bytes and no escape: read as MARC-8. A
    // ligature's second half between two letters decodes to nothing; a
    // combining mark stands before the letter it marks.
    std::string file;
    for (const char* title : {"long ab\xec" "cd", "Le Caf\xe2" "e", "plain", "the tw\xfb" "st"})
        file += MakeRecord({{"008", "830101s1983"}, {"245", std::string("10\x1f" "a") + title + "\xe1"}});
    const std::string path = dir.write("marc8.mrc", file);
    for (const auto& [text, record] : {std::pair{"long abcd", 1}, {"le café", 2}, {"THE TWST", 4}}) {
        const SearchQuery query{{}, false, dmNormal, {}, text, CharsetSetting::Auto};
        const std::vector<Hit> expected = {{record, "245", 1}};
        EXPECT_EQ(searchAll(path, query, 1, SearchPath::OneByOne), expected) << text;
        EXPECT_EQ(searchAll(path, query, 1, SearchPath::Blocks), expected) << text;
    }
}

}  // namespace

namespace {

TEST(BlockSearch, ReadsOnAfterAHoleAndAgreesAtEveryChunkEnd)
{
    // Records, a hole of zero bytes far longer than what is read ahead (a
    // sparse file: the reading jumps over it), then records again; and a
    // file whose records straddle the ends of the chunks read ahead.
    testsupport::TempDir dir;
    const std::string before = generatedFile(23, 300), after = generatedFile(29, 300);
    const std::string sparse = dir.file("sparse.mrc");
    {
        fileaccess::UniqueFd fd(::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        ASSERT_EQ(::pwrite(fd.get(), before.data(), before.size(), 0), static_cast<ssize_t>(before.size()));
        const off_t resume = static_cast<off_t>(before.size()) + 8 * 1024 * 1024;
        ASSERT_EQ(::pwrite(fd.get(), after.data(), after.size(), resume), static_cast<ssize_t>(after.size()));
    }
    const std::string dense = dir.write("dense.mrc", generatedFile(31, 2000));
    for (const std::string& path : {sparse, dense})
        for (const char* text : {"needle", "Café", "北京"}) {
            const SearchQuery query{{}, false, dmNormal, {}, text, CharsetSetting::Auto};
            const std::vector<Hit> expected = searchAll(path, query, 1, SearchPath::OneByOne);
            EXPECT_FALSE(expected.empty()) << text;
            EXPECT_EQ(searchAll(path, query, 1, SearchPath::Blocks), expected) << path << " " << text;
            EXPECT_EQ(searchAll(path, query, 420, SearchPath::Blocks), searchAll(path, query, 420, SearchPath::OneByOne))
                << path << " " << text;
        }
}

TEST(BlockSearch, ReportsAFileThatCannotBeReadAsThePlainSearchDoes)
{
    testsupport::TempDir dir;  // a folder opens, but reading it fails
    fileaccess::UniqueFd fd(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const SearchQuery query{"needle", false, dmNormal, {}, {}, {}};
    for (SearchPath path : {SearchPath::OneByOne, SearchPath::Blocks}) {
        const SearchEnd end = SearchRecords(fd.get(), {0, 0, 1, INT64_MAX}, query, NoMonitor(), 0,
                                            [](const FoundRecord&) { return true; }, path);
        EXPECT_EQ(end.outcome, Outcome::FileError);
        EXPECT_EQ(end.record, 1);
    }
}

}  // namespace
