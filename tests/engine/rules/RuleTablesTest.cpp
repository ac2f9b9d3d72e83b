// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "rules/RuleTables.h"

namespace {

using namespace veltrane::rules;

// The viewer names every element it shows in Chinese: an English name with no
// Chinese one beside it, or one not marked as our translation, is a fault of
// the table or of its generator.
TEST(RuleTablesTest, EveryNamedElementHasAChineseNameMarkedAsTranslated)
{
    for (const RuleSetTables* set : {&Marc21Bibliographic(), &UnimarcBibliographic(), &CnmarcBibliographic()}) {
        for (const FieldRule& field : set->fields) {
            SCOPED_TRACE(std::string(field.tag));
            EXPECT_FALSE(field.nameZh.empty());
            EXPECT_EQ(field.zhTranslated, !field.open);  // CNMARC's own fields carry their sources' names
            EXPECT_EQ(field.indicator1Name.empty(), field.indicator1NameZh.empty());
            EXPECT_EQ(field.indicator2Name.empty(), field.indicator2NameZh.empty());
            for (std::size_t k = 0; k < field.subfieldCount; ++k) {
                const SubfieldRule& subfield = set->subfields[field.firstSubfield + k];
                EXPECT_EQ(subfield.name.empty(), subfield.nameZh.empty()) << '$' << subfield.code;
                EXPECT_EQ(subfield.zhTranslated, !field.open);
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
}

}  // namespace
