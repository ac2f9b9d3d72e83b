// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Isbn.h"
#include "net/CatalogueQuery.h"

namespace {

using namespace veltrane;

CatalogueQuery Terms(std::vector<QueryTerm> terms)
{
    CatalogueQuery query;
    query.terms = std::move(terms);
    return query;
}

TEST(PqfQuery, EachKindHasItsBib1UseAttribute)
{
    TextCodec codec;
    const struct {
        QueryKind kind;
        std::string pqf;
    } rows[] = {
        {QueryKind::Isbn, "@attr 1=7 \"x\""},    {QueryKind::Issn, "@attr 1=8 \"x\""},
        {QueryKind::Title, "@attr 1=4 \"x\""},   {QueryKind::Author, "@attr 1=1003 \"x\""},
        {QueryKind::Subject, "@attr 1=21 \"x\""}, {QueryKind::Any, "@attr 1=1016 \"x\""},
    };
    for (const auto& row : rows) {
        const ServerQuery built = BuildPqf(Terms({{row.kind, "x"}}), Charset::Utf8, codec);
        EXPECT_EQ(built.text, row.pqf) << QueryKindName(row.kind);
        EXPECT_TRUE(built.error.empty());
    }
}

TEST(PqfQuery, SeveralTermsAndRawPqfAreAndedInPrefixForm)
{
    TextCodec codec;
    CatalogueQuery query = Terms({{QueryKind::Title, "red"}, {QueryKind::Author, "cao"}});
    query.pqf = "@attr 1=1016 dream";
    EXPECT_EQ(BuildPqf(query, Charset::Utf8, codec).text,
              "@and @and @attr 1=4 \"red\" @attr 1=1003 \"cao\" @attr 1=1016 dream");
}

TEST(PqfQuery, QuotesAndBackslashesInATermAreEscaped)
{
    TextCodec codec;
    EXPECT_EQ(BuildPqf(Terms({{QueryKind::Title, "say \"hi\" \\ bye"}}), Charset::Utf8, codec).text,
              "@attr 1=4 \"say \\\"hi\\\" \\\\ bye\"");
}

TEST(PqfQuery, EmptyQueryIsRefused)
{
    TextCodec codec;
    EXPECT_FALSE(BuildPqf(CatalogueQuery{}, Charset::Utf8, codec).error.empty());
}

TEST(TermConversion, ChineseTermGoesOutInTheServersSet)
{
    TextCodec codec;
    // 红楼梦 in GBK: BA EC C2 A5 C3 CE.
    const ServerQuery gbk = BuildPqf(Terms({{QueryKind::Title, "红楼梦"}}), Charset::Gbk, codec);
    EXPECT_EQ(gbk.text, "@attr 1=4 \"\xBA\xEC\xC2\xA5\xC3\xCE\"");
    const ServerQuery utf8 = BuildPqf(Terms({{QueryKind::Title, "红楼梦"}}), Charset::Utf8, codec);
    EXPECT_EQ(utf8.text, "@attr 1=4 \"红楼梦\"");
    const ServerQuery gb18030 = BuildPqf(Terms({{QueryKind::Title, "红楼梦"}}), Charset::Gb18030, codec);
    EXPECT_EQ(gb18030.text, gbk.text);
}

TEST(TermConversion, BackslashTrailByteIsDoubledSoPqfKeepsIt)
{
    TextCodec codec;
    // 乗 is 81 5C in GBK: the PQF reader would take the 0x5C as an escape.
    const ConvertedPqf converted = ConvertPqfText("\"乗\"", Charset::Gbk, codec);
    ASSERT_TRUE(converted.error.empty()) << converted.error;
    EXPECT_EQ(converted.text, "\"\x81\x5C\x5C\"");
}

TEST(TermConversion, CharacterTheSetCannotHoldIsRefusedByName)
{
    TextCodec codec;
    // U+1F600 is in GB18030 (four bytes) but not in GBK.
    const ServerQuery gbk = BuildPqf(Terms({{QueryKind::Title, "a😀"}}), Charset::Gbk, codec);
    EXPECT_TRUE(gbk.text.empty());
    EXPECT_NE(gbk.error.find("gbk"), std::string::npos) << gbk.error;
    EXPECT_NE(gbk.error.find("U+1F600"), std::string::npos) << gbk.error;
    EXPECT_TRUE(BuildPqf(Terms({{QueryKind::Title, "a😀"}}), Charset::Gb18030, codec).error.empty());
}

TEST(TermConversion, BytesThatAreNotUtf8AreRefused)
{
    TextCodec codec;
    for (Charset set : {Charset::Utf8, Charset::Gbk})
        EXPECT_NE(BuildPqf(Terms({{QueryKind::Title, "\xBA\xEC"}}), set, codec).error.find("not UTF-8"),
                  std::string::npos);
}

TEST(CqlQuery, DefaultIndexesAndEscapedTerms)
{
    CatalogueQuery query = Terms({{QueryKind::Isbn, "9787020002207"}, {QueryKind::Title, "C++ *\"x\"?"}});
    EXPECT_EQ(BuildCql(query, DefaultCqlIndexes()).text,
              "bath.isbn=\"9787020002207\" and dc.title=\"C++ \\*\\\"x\\\"\\?\"");
    const struct {
        QueryKind kind;
        std::string index;
    } rows[] = {{QueryKind::Issn, "bath.issn"},    {QueryKind::Author, "dc.creator"},
                {QueryKind::Subject, "dc.subject"}, {QueryKind::Any, "cql.serverChoice"}};
    for (const auto& row : rows)
        EXPECT_EQ(BuildCql(Terms({{row.kind, "t"}}), DefaultCqlIndexes()).text, row.index + "=\"t\"");
}

TEST(CqlQuery, ServerIndexesAndRawCqlInParentheses)
{
    CqlIndexes indexes = DefaultCqlIndexes();
    indexes[static_cast<std::size_t>(QueryKind::Title)] = "title";
    CatalogueQuery query = Terms({{QueryKind::Title, "红楼梦"}});
    query.cql = "a or b";
    EXPECT_EQ(BuildCql(query, indexes).text, "title=\"红楼梦\" and (a or b)");
}

TEST(ServerQueries, EachProtocolGetsItsLanguage)
{
    TextCodec codec;
    ServerDescription z3950;
    z3950.name = "z";
    ServerDescription sru;
    sru.name = "s";
    sru.protocol = ServerProtocol::Sru;
    const CatalogueQuery title = Terms({{QueryKind::Title, "x"}});
    EXPECT_EQ(QueryForServer(title, z3950, codec).language, ServerQuery::Language::Pqf);
    EXPECT_EQ(QueryForServer(title, sru, codec).language, ServerQuery::Language::Cql);

    CatalogueQuery pqf;
    pqf.pqf = "@attr 1=4 x";
    EXPECT_FALSE(QueryForServer(pqf, sru, codec).error.empty());
    CatalogueQuery cql;
    cql.cql = "dc.title=x";
    EXPECT_EQ(QueryForServer(cql, z3950, codec).language, ServerQuery::Language::Cql);
    cql.terms = title.terms;
    EXPECT_FALSE(QueryForServer(cql, z3950, codec).error.empty());
}

TEST(ServerAddresses, Z3950SruAndNonsense)
{
    const ParsedServer z = ParseServerAddress("localhost:210/Default?search-delay=1", false);
    ASSERT_TRUE(z.server);
    EXPECT_EQ(z.server->protocol, ServerProtocol::Z3950);
    EXPECT_EQ(z.server->address, "localhost:210/Default?search-delay=1");

    const ParsedServer overSru = ParseServerAddress("localhost:210/Default", true);
    ASSERT_TRUE(overSru.server);
    EXPECT_EQ(overSru.server->protocol, ServerProtocol::Sru);
    EXPECT_EQ(overSru.server->address, "http://localhost:210/Default");

    const ParsedServer url = ParseServerAddress("HTTPS://example.org/sru", false);
    ASSERT_TRUE(url.server);
    EXPECT_EQ(url.server->protocol, ServerProtocol::Sru);

    for (const char* bad : {"loc", "host:/db", "host:abc/db", "host:210", ":210/db", "http://", "host:210/"})
        EXPECT_FALSE(ParseServerAddress(bad, false).server) << bad;
}

TEST(IsbnNormalisation, TenAndThirteenDigitFormsBecomeIsbn13)
{
    const struct {
        const char* typed;
        const char* isbn13;
    } rows[] = {
        {"7-02-000220-X", "9787020002207"},   // ISBN-10 ending in X, hyphens
        {"702000220x", "9787020002207"},      // lowercase x
        {"978-7-02-000220-7", "9787020002207"},
        {" 9787020002207\r", "9787020002207"},
        {"0-306-40615-2", "9780306406157"},
        {"979-10-90636-07-1", "9791090636071"},
    };
    for (const auto& row : rows) {
        const std::optional<std::string> isbn = NormaliseIsbn(row.typed);
        ASSERT_TRUE(isbn) << row.typed;
        EXPECT_EQ(*isbn, row.isbn13) << row.typed;
    }
    for (const char* bad : {"", "7-02-000220-1", "9787020002208", "12345", "97870200022071", "X702000220",
                            "9771234567003", "ISBN 7020002207"})
        EXPECT_FALSE(NormaliseIsbn(bad)) << bad;
}

TEST(IsbnNormalisation, Isbn10OnlyFor978)
{
    EXPECT_EQ(Isbn10Of("9787020002207"), "702000220X");
    EXPECT_EQ(Isbn10Of("9780306406157"), "0306406152");
    EXPECT_FALSE(Isbn10Of("9791090636071"));
    EXPECT_FALSE(Isbn10Of("978702000220"));
}

}  // namespace
