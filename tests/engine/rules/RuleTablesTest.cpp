// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "iso2709/Iso2709Reader.h"

#include "rules/RuleCheck.h"
#include "rules/RuleCodeMeanings.h"
#include "rules/RuleIndex.h"
#include "rules/RuleTables.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane::rules;

// The viewer names every element it shows in Chinese: an English name with no
// Chinese one beside it, or one not marked as our translation, is a fault of
// the table or of its generator.
TEST(RuleTablesTest, EveryNamedElementHasAChineseNameMarkedAsTranslated)
{
    for (const RuleSetTables* set :
         {&Marc21Bibliographic(), &Marc21Authority(), &UnimarcBibliographic(), &CnmarcBibliographic()}) {
        for (const FieldRule& field : set->fields) {
            SCOPED_TRACE(std::string(field.tag));
            EXPECT_FALSE(field.nameZh.empty());
            // CNMARC's own fields carry their sources' names; every other name is our translation.
            const bool cnmarcsOwn = set == &CnmarcBibliographic() && UnimarcBibliographic().field(field.tag) == nullptr;
            EXPECT_EQ(field.zhTranslated, !cnmarcsOwn);
            EXPECT_EQ(field.indicator1Name.empty(), field.indicator1NameZh.empty());
            EXPECT_EQ(field.indicator2Name.empty(), field.indicator2NameZh.empty());
            const FieldRule* unimarcField = UnimarcBibliographic().field(field.tag);
            for (std::size_t k = 0; k < field.subfieldCount; ++k) {
                const SubfieldRule& subfield = set->subfields[field.firstSubfield + k];
                EXPECT_EQ(subfield.name.empty(), subfield.nameZh.empty()) << '$' << subfield.code;
                // So are the subfields CNMARC adds to a UNIMARC field or gives a meaning of its own.
                const SubfieldRule* asUnimarc =
                    unimarcField == nullptr ? nullptr : UnimarcBibliographic().subfield(*unimarcField, subfield.code);
                const bool subfieldIsCnmarcsOwn = set == &CnmarcBibliographic() &&
                                                  (asUnimarc == nullptr || asUnimarc->name != subfield.name);
                EXPECT_EQ(subfield.zhTranslated, !subfieldIsCnmarcsOwn) << '$' << subfield.code;
            }
        }
    }
}

TEST(RuleTablesTest, NamesBelongToTheirTagAndCode)
{
    const FieldRule* title = Marc21Bibliographic().field("245");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->nameZh, "题名说明");
    EXPECT_EQ(title->indicator2Name, "Nonfiling characters");
    EXPECT_EQ(title->indicator2NameZh, "不排序字符数");
    EXPECT_EQ(Marc21Bibliographic().subfield(*title, 'c')->nameZh, "责任说明等");

    const FieldRule* unimarcTitle = UnimarcBibliographic().field("200");
    ASSERT_NE(unimarcTitle, nullptr);
    EXPECT_EQ(unimarcTitle->nameZh, "题名与责任说明");
    EXPECT_EQ(UnimarcBibliographic().subfield(*unimarcTitle, 'a')->nameZh, "正题名");
    EXPECT_EQ(UnimarcBibliographic().subfield(*UnimarcBibliographic().field("215"), 'd')->nameZh, "尺寸");

    // CNMARC: UNIMARC's fields and its own, named as its sources name them.
    EXPECT_EQ(CnmarcBibliographic().field("200")->nameZh, "题名与责任说明");
    EXPECT_EQ(UnimarcBibliographic().field("690"), nullptr);
    const FieldRule* chineseClass = CnmarcBibliographic().field("690");
    ASSERT_NE(chineseClass, nullptr);
    EXPECT_EQ(chineseClass->nameZh, "中国图书馆分类法分类号");
    EXPECT_EQ(CnmarcBibliographic().subfield(*chineseClass, 'a')->nameZh, "中图分类号");

    // CNMARC gives UNIMARC's local $9 of 200 its own meaning; UNIMARC keeps its own.
    EXPECT_EQ(CnmarcBibliographic().subfield(*CnmarcBibliographic().field("200"), '9')->nameZh, "汉语拼音");
    EXPECT_EQ(UnimarcBibliographic().subfield(*unimarcTitle, '9')->name, "Local Subfield");
    EXPECT_EQ(UnimarcBibliographic().subfield(*unimarcTitle, 'A'), nullptr);
}

TEST(RuleTablesTest, IndicatorValuesCarryTheirMeanings)
{
    const RuleSetTables& marc21 = Marc21Bibliographic();
    const FieldRule* title = marc21.field("245");
    ASSERT_NE(title, nullptr);
    const auto first = marc21.indicatorValuesOf(*title, 1);
    ASSERT_EQ(first.size(), 2U);
    EXPECT_EQ(first[0].value, '0');
    EXPECT_EQ(first[0].meaning, "No added entry");
    EXPECT_EQ(first[1].meaning, "Added entry");
    const auto second = marc21.indicatorValuesOf(*title, 2);
    ASSERT_EQ(second.size(), 10U);
    EXPECT_EQ(second[9].value, '9');
    EXPECT_EQ(second[9].meaning, "Number of nonfiling characters");
    // The allowed values and the meanings are the same list.
    for (const RuleSetTables* set : {&Marc21Bibliographic(), &Marc21Authority()}) {
        for (const FieldRule& field : set->fields) {
            if (field.open || field.control)
                continue;
            SCOPED_TRACE(std::string(field.tag));
            std::string values1, values2;
            for (const IndicatorValueRule& v : set->indicatorValuesOf(field, 1))
                values1 += v.value;
            for (const IndicatorValueRule& v : set->indicatorValuesOf(field, 2))
                values2 += v.value;
            EXPECT_EQ(values1, field.indicator1);
            EXPECT_EQ(values2, field.indicator2);
        }
    }
    const FieldRule* blankOrThesaurus = marc21.field("650");
    EXPECT_EQ(marc21.indicatorValuesOf(*blankOrThesaurus, 1)[0].value, ' ');
    EXPECT_EQ(marc21.indicatorValuesOf(*blankOrThesaurus, 2)[6].meaning, "Répertoire de vedettes-matière");
    EXPECT_TRUE(UnimarcBibliographic().indicatorValuesOf(*UnimarcBibliographic().field("200"), 1).empty());
}

// The viewer gives an indicator value's meaning in Chinese first: a value
// with the English only, or one English meaning told two ways in Chinese,
// is a fault of the table or of its generator.
TEST(RuleTablesTest, EveryIndicatorValueHasOneChineseMeaningMarkedAsTranslated)
{
    std::map<std::string_view, std::string_view> chineseOf;
    std::size_t values = 0;
    for (const RuleSetTables* set :
         {&Marc21Bibliographic(), &Marc21Authority(), &UnimarcBibliographic(), &CnmarcBibliographic()}) {
        for (const FieldRule& field : set->fields) {
            for (const int which : {1, 2}) {
                for (const IndicatorValueRule& v : set->indicatorValuesOf(field, which)) {
                    SCOPED_TRACE(std::string(field.tag) + '/' + std::to_string(which) + " '" + v.value + '\'');
                    ++values;
                    EXPECT_FALSE(v.meaningZh.empty());
                    EXPECT_TRUE(v.zhTranslated);
                    const auto [first, added] = chineseOf.try_emplace(v.meaning, v.meaningZh);
                    EXPECT_EQ(first->second, v.meaningZh) << v.meaning;
                }
            }
        }
    }
    EXPECT_GT(values, 1000U);
}

TEST(RuleTablesTest, IndicatorValuesMeanInChineseWhatTheyMeanInEnglish)
{
    const RuleSetTables& marc21 = Marc21Bibliographic();
    const FieldRule& title = *marc21.field("245");
    EXPECT_EQ(marc21.indicatorValuesOf(title, 1)[0].meaningZh, "题名无检索意义");
    EXPECT_EQ(marc21.indicatorValuesOf(title, 1)[1].meaningZh, "题名有检索意义");
    EXPECT_EQ(marc21.indicatorValuesOf(title, 2)[4].meaningZh, "非排序字符数");
    const FieldRule& topic = *marc21.field("650");
    EXPECT_EQ(marc21.indicatorValuesOf(topic, 1)[0].meaningZh, "无信息提供");
    EXPECT_EQ(marc21.indicatorValuesOf(topic, 2)[0].meaningZh, "美国国会图书馆主题词表");
    EXPECT_EQ(marc21.indicatorValuesOf(*marc21.field("020"), 2)[0].meaningZh, "未定义");
    const RuleSetTables& authority = Marc21Authority();
    const auto personalName = authority.indicatorValuesOf(*authority.field("100"), 1);
    ASSERT_EQ(personalName.size(), 3U);
    EXPECT_EQ(personalName[0].meaningZh, "名");
    EXPECT_EQ(personalName[1].meaningZh, "姓");
    EXPECT_EQ(personalName[2].meaningZh, "家族名称");
}

TEST(RuleTablesTest, AuthorityFieldsAreTheirOwn)
{
    const RuleSetTables& authority = Marc21Authority();
    EXPECT_EQ(authority.field("100")->name, "HEADING--PERSONAL NAME");
    EXPECT_EQ(authority.field("100")->nameZh, "标目——个人名称");
    EXPECT_FALSE(authority.field("100")->repeatable);
    EXPECT_EQ(authority.field("245"), nullptr);
    EXPECT_EQ(authority.field("400")->indicator2, " 1");
    EXPECT_TRUE(authority.mandatory.empty());
    EXPECT_FALSE(authority.oneMainEntry);
    EXPECT_TRUE(authority.materialByForm.empty());
}

// The viewer tells every finding in Chinese: a code added without its meaning would show bare.
TEST(RuleTablesTest, EveryFindingCodeHasAChineseMeaning)
{
    for (const veltrane::RuleCode& code : veltrane::kRuleCodes)
        EXPECT_FALSE(RuleCodeMeaningZh(code.code).empty()) << code.code;
    EXPECT_TRUE(RuleCodeMeaningZh("no-such-code").empty());
}

/// The rule of a coded position of the leader, or nullptr.
const FixedCodeRule* leaderRule(const RuleSetTables& tables, int position)
{
    for (const FixedCodeRule& rule : tables.fixedCodes)
        if (rule.block == "LDR" && rule.position == position)
            return &rule;
    return nullptr;
}

// The viewer tells a MARC 21 leader code by its meaning: every byte the check
// accepts at a coded position of the leader has one, in English and Chinese,
// and no byte it rejects has one.
TEST(RuleTablesTest, EveryMarc21LeaderCodeTheCheckAcceptsHasAMeaning)
{
    // A book and an authority record; the byte tried may turn one into the other.
    std::string book = testsupport::MakeRecord({{"001", "b1"}, {"245", "10\x1f" "aTitle"}});
    book[8] = ' ';
    std::string authority = testsupport::MakeRecord({{"001", "a1"}, {"100", "1 \x1f" "aName"}});
    authority.replace(5, 5, "nz  a");
    authority[17] = 'n';
    std::set<std::tuple<const RuleSetTables*, int, char>> accepted;
    veltrane::Iso2709Reader reader;
    for (const std::string& base : {book, authority}) {
        for (const int position : {5, 6, 7, 8, 9, 17, 18, 19}) {
            for (int byte = 0x20; byte < 0x7f; ++byte) {
                std::string record = base;
                record[static_cast<std::size_t>(position)] = static_cast<char>(byte);
                const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(record.data()),
                                                           record.size());
                reader.read(bytes);
                std::vector<veltrane::RuleFinding> found;
                const veltrane::RuleSet applied =
                    CheckRecordRules(reader, veltrane::RuleSetting::Marc21, {.record = bytes}, found);
                // Holdings, classification and community records get no rules.
                if (std::any_of(found.begin(), found.end(),
                                [](const veltrane::RuleFinding& f) { return f.code == "no-rules"; }))
                    continue;
                const RuleSetTables& tables =
                    applied == veltrane::RuleSet::Marc21 ? Marc21Bibliographic() : Marc21Authority();
                const bool rejected = std::any_of(found.begin(), found.end(), [&](const veltrane::RuleFinding& f) {
                    return f.code == "bad-fixed-value" && f.tag.empty() && f.position == position;
                });
                const char code = static_cast<char>(byte);
                SCOPED_TRACE(std::string(veltrane::RuleSetName(applied)) + " leader/" + std::to_string(position) +
                             " '" + code + '\'');
                const FixedCodeRule* rule = leaderRule(tables, position);
                if (rule == nullptr) {  // a position the format leaves uncoded (authority 07, 08, 19)
                    EXPECT_FALSE(rejected);
                    continue;
                }
                const FixedPositionMeanings* named = tables.meaningsOf(*rule);
                ASSERT_NE(named, nullptr);
                EXPECT_FALSE(named->nameZh.empty());
                const FixedCodeMeaning* meaning = tables.codeMeaning(*rule, std::string_view(&code, 1));
                EXPECT_EQ(meaning != nullptr, !rejected);
                if (meaning == nullptr)
                    continue;
                EXPECT_FALSE(meaning->meaning.empty());
                EXPECT_FALSE(meaning->meaningZh.empty());
                EXPECT_TRUE(meaning->zhTranslated);
                accepted.emplace(&tables, position, code);
            }
        }
    }
    // Every meaning the tables hold is of a code the check accepts.
    std::size_t meanings = 0;
    for (const RuleSetTables* tables : {&Marc21Bibliographic(), &Marc21Authority()})
        for (const FixedPositionMeanings& position : tables->fixedPositionMeanings)
            meanings += tables->codeMeaningsOf(position).size();
    EXPECT_EQ(accepted.size(), meanings);
    EXPECT_EQ(meanings, 50U + 16U);
}

TEST(RuleTablesTest, LeaderCodesMeanWhatTheirFormatSays)
{
    const RuleSetTables& books = Marc21Bibliographic();
    const FixedCodeRule& type = *leaderRule(books, 6);
    EXPECT_EQ(books.meaningsOf(type)->nameZh, "纪录类型");
    EXPECT_EQ(books.codeMeaning(type, "a")->meaning, "Language material");
    EXPECT_EQ(books.codeMeaning(type, "a")->meaningZh, "文字资料");
    EXPECT_EQ(books.codeMeaning(*leaderRule(books, 17), " ")->meaningZh, "完整级");
    EXPECT_EQ(books.codeMeaning(*leaderRule(books, 17), "n"), nullptr);
    const RuleSetTables& authority = Marc21Authority();
    EXPECT_EQ(authority.meaningsOf(*leaderRule(authority, 18))->nameZh, "标识符方针");
    EXPECT_EQ(authority.codeMeaning(*leaderRule(authority, 17), "n")->meaning, "Complete authority record");
    // Only the leader is explained: 006-008 and UNIMARC's label are checked, not told.
    for (const RuleSetTables* set : {&books, &UnimarcBibliographic(), &CnmarcBibliographic()})
        for (const FixedCodeRule& rule : set->fixedCodes)
            EXPECT_EQ(set->meaningsOf(rule) != nullptr, set == &books && rule.block == "LDR")
                << rule.block << '/' << int{rule.position};
}

// The check asks the index, not the tables: it must answer as they do, for
// every tag of digits and every code byte.
TEST(RuleTablesTest, TheIndexAnswersAsTheTablesDo)
{
    for (const RuleSetTables* set :
         {&Marc21Bibliographic(), &Marc21Authority(), &UnimarcBibliographic(), &CnmarcBibliographic()}) {
        const RuleIndex index(*set);
        for (int number = 0; number < 1000; ++number) {
            const std::string tag = std::string(1, static_cast<char>('0' + number / 100)) +
                                    static_cast<char>('0' + number / 10 % 10) + static_cast<char>('0' + number % 10);
            ASSERT_EQ(TagNumber(tag), number);
            const FieldRule* field = set->field(tag);
            ASSERT_EQ(index.field(number, tag), field) << tag;
            if (field == nullptr)
                continue;
            for (int code = 0; code < 256; ++code) {
                const SubfieldRule* subfield = set->subfield(*field, static_cast<char>(code));
                const auto byte = static_cast<unsigned char>(code);
                EXPECT_EQ(index.definedSubfields(*field).contains(byte), subfield != nullptr) << tag << ' ' << code;
                EXPECT_EQ(index.repeatableSubfields(*field).contains(byte), subfield != nullptr && subfield->repeatable)
                    << tag << ' ' << code;
            }
        }
    }
    EXPECT_EQ(TagNumber("0A1"), -1);
    EXPECT_EQ(TagNumber("10"), -1);
}

}  // namespace
