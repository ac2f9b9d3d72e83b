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
    for (const RuleSetTables* set : {&Marc21Bibliographic(), &UnimarcBibliographic()}) {
        for (const FieldRule& field : set->fields) {
            SCOPED_TRACE(std::string(field.tag));
            EXPECT_FALSE(field.nameZh.empty());
            EXPECT_TRUE(field.zhTranslated);
            EXPECT_EQ(field.indicator1Name.empty(), field.indicator1NameZh.empty());
            EXPECT_EQ(field.indicator2Name.empty(), field.indicator2NameZh.empty());
            for (std::size_t k = 0; k < field.subfieldCount; ++k) {
                const SubfieldRule& subfield = set->subfields[field.firstSubfield + k];
                EXPECT_EQ(subfield.name.empty(), subfield.nameZh.empty()) << '$' << subfield.code;
                EXPECT_TRUE(subfield.zhTranslated);
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
}

}  // namespace
