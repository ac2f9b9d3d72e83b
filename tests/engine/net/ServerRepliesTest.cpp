// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "RecordFiles.h"
#include "net/HitSummary.h"
#include "net/ServerRecord.h"
#include "net/ServerSettings.h"

namespace {

using namespace veltrane;
using testsupport::MakeRecord;

std::span<const unsigned char> Bytes(const std::string& text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string MarcXml(const std::string& title)
{
    return "<record xmlns=\"http://www.loc.gov/MARC21/slim\">\n"
           "  <leader>00000nam a2200000 a 4500</leader>\n"
           "  <controlfield tag=\"001\">rec1</controlfield>\n"
           "  <datafield tag=\"245\" ind1=\"1\" ind2=\"0\"><subfield code=\"a\">" +
           title + "</subfield></datafield>\n</record>\n";
}

TEST(SruRecordReading, MarcXmlBecomesIso2709ReadInUtf8)
{
    TextCodec codec;
    const ServerRecordResult read = ReadMarcXmlReply(MarcXml("红楼梦 &amp; more"), codec);
    ASSERT_TRUE(read.record) << read.error;
    const std::string& bytes = read.record->iso2709;
    EXPECT_EQ(bytes.substr(0, 5), std::to_string(100000 + bytes.size()).substr(1));
    EXPECT_NE(bytes.find("\x1f" "a红楼梦 & more\x1e"), std::string::npos);
    EXPECT_EQ(bytes.back(), '\x1d');
    EXPECT_EQ(read.record->charset.charset, Charset::Utf8);
    EXPECT_TRUE(read.record->problems.empty());

    const HitSummary summary = SummariseRecord(bytes);
    EXPECT_EQ(summary.controlNumber, "rec1");
    EXPECT_EQ(summary.title, "红楼梦 & more");
}

TEST(SruRecordReading, BrokenXmlIsToldAndSkipped)
{
    for (const std::string& broken :
         {std::string("<record><leader>00000nam a2200000 a 4500</leader><datafield tag=\"245\""),
          std::string("<record><datafield tag=245 ind1=\" \"></datafield></record>"),
          std::string("<record><controlfield tag=\"001\">a &bogus; b</controlfield></record>"),
          std::string("not xml at all"), std::string()}) {
        TextCodec codec;
        const ServerRecordResult read = ReadMarcXmlReply(broken, codec);
        EXPECT_FALSE(read.record) << broken;
        EXPECT_FALSE(read.error.empty()) << broken;
    }
}

TEST(SruRecordReading, RecordPastTheLimitIsSkipped)
{
    std::string xml = "<record><leader>00000nam a2200000 a 4500</leader>";
    for (int i = 0; i < 20; ++i)
        xml += "<datafield tag=\"500\" ind1=\" \" ind2=\" \"><subfield code=\"a\">" + std::string(9000, 'x') +
               "</subfield></datafield>";
    xml += "</record>";
    TextCodec codec;
    const ServerRecordResult read = ReadMarcXmlReply(xml, codec);
    EXPECT_FALSE(read.record);
    EXPECT_NE(read.error.find("99999"), std::string::npos) << read.error;
}

TEST(SruRecordReading, TextInAnotherSetIsKeptAndReadByTheRules)
{
    // A server that sends GBK bytes while its reply says UTF-8: the record is
    // kept as it came, and the bytes its set cannot read are told.
    TextCodec codec;
    const ServerRecordResult read = ReadMarcXmlReply(MarcXml("\xBA\xEC\xC2\xA5\xC3\xCE"), codec);
    ASSERT_TRUE(read.record) << read.error;
    EXPECT_NE(read.record->iso2709.find("\xBA\xEC\xC2\xA5\xC3\xCE"), std::string::npos);
    ASSERT_EQ(read.record->problems.size(), 1u);
    EXPECT_NE(read.record->problems[0].find("not valid in utf-8"), std::string::npos) << read.record->problems[0];
}

TEST(Z3950RecordReading, RawBytesAreKeptAndChecked)
{
    const std::string record =
        MakeRecord({{"001", "cn1"}, {"100", "  \x1f" "a20031205d1998    em y0chiy0110    ea"},
                    {"200", "1 \x1f" "a\xBA\xEC\xC2\xA5\xC3\xCE\x1f" "f\xB2\xDC\xD1\xA9\xC7\xDB"}});
    TextCodec codec;
    const ServerRecordResult read = ReadIso2709Reply(Bytes(record), codec);
    ASSERT_TRUE(read.record) << read.error;
    EXPECT_EQ(read.record->iso2709, record);
    EXPECT_EQ(read.record->charset.charset, Charset::Gbk);
    EXPECT_TRUE(read.record->problems.empty());

    const HitSummary summary = SummariseRecord(record);
    EXPECT_EQ(summary.title, "红楼梦");
    EXPECT_EQ(summary.author, "曹雪芹");
    EXPECT_EQ(summary.date, "1998");

    std::string damaged = record;
    damaged[damaged.size() - 2] = 'x';  // the last field loses its terminator
    const ServerRecordResult told = ReadIso2709Reply(Bytes(damaged), codec);
    ASSERT_TRUE(told.record);
    EXPECT_FALSE(told.record->problems.empty());

    EXPECT_FALSE(ReadIso2709Reply(Bytes("00012nam"), codec).record);
    EXPECT_FALSE(ReadIso2709Reply(Bytes(std::string(100000, '0')), codec).record);
}

TEST(NamedServerSettings, GroupKeysQuotingAndEscapes)
{
    const std::string ini =
        "[General]\n"
        "nlc\\address=elsewhere:1/x\n"
        "[Servers]\n"
        "nlc\\address=\"192.0.2.1:2200/UCS01U\"\n"
        "nlc\\charset=gbk\n"
        "nlc\\syntax=unimarc\n"
        "nlc\\user=cat\n"
        "nlc\\password=\"p;w\\\"d\"\n"
        "loc\\address=http://lx2.loc.gov:210/LCDB\n"
        "loc\\title-index=title\n"
        "loc\\untested=true\n"
        "%U56FD%U56FE\\address=192.0.2.2:210/db\n"
        "broken\\syntax=marc99\n"
        "broken\\address=nowhere\n"
        "[RecentFiles]\n"
        "other\\address=192.0.2.3:210/db\n";
    const NamedServers named = ReadNamedServers(ini, "veltrane.conf");
    ASSERT_EQ(named.servers.size(), 3u);
    const NamedServer* nlc = named.find("nlc");
    ASSERT_NE(nlc, nullptr);
    EXPECT_EQ(nlc->server.address, "192.0.2.1:2200/UCS01U");
    EXPECT_EQ(nlc->server.protocol, ServerProtocol::Z3950);
    EXPECT_EQ(nlc->server.termCharset, Charset::Gbk);
    EXPECT_EQ(nlc->server.syntax, RecordSyntax::Unimarc);
    EXPECT_EQ(nlc->server.user, "cat");
    EXPECT_EQ(nlc->server.password, "p;w\"d");
    EXPECT_FALSE(nlc->untested);

    const NamedServer* loc = named.find("loc");
    ASSERT_NE(loc, nullptr);
    EXPECT_EQ(loc->server.protocol, ServerProtocol::Sru);
    EXPECT_EQ(loc->server.cqlIndexes[static_cast<std::size_t>(QueryKind::Title)], "title");
    EXPECT_EQ(loc->server.cqlIndexes[static_cast<std::size_t>(QueryKind::Isbn)], "bath.isbn");
    EXPECT_TRUE(loc->untested);

    EXPECT_NE(named.find("国图"), nullptr);
    EXPECT_EQ(named.find("broken"), nullptr);
    EXPECT_EQ(named.find("other"), nullptr);
    ASSERT_GE(named.problems.size(), 2u);
    EXPECT_EQ(named.problems.front().rfind("veltrane.conf:", 0), 0u) << named.problems.front();
}

}  // namespace

namespace {

TEST(NamedServerSettings, ShippedPresetsReadWholeAndUntested)
{
    const veltrane::NamedServers presets =
        veltrane::ReadNamedServersFile(std::string(VELTRANE_SOURCE_DIR) + "/packaging/servers.conf");
    EXPECT_TRUE(presets.problems.empty()) << presets.problems.front();
    ASSERT_FALSE(presets.servers.empty());
    for (const veltrane::NamedServer& preset : presets.servers)
        EXPECT_TRUE(preset.untested) << preset.server.name;
}

}  // namespace
