// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "iso2709/RecordFields.h"
#include "search/QueryMatcher.h"
#include "search/RecordSearch.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane;
using testsupport::MakeRecord;

std::vector<std::string> Records(std::mt19937& random)
{
    std::vector<std::string> records;
    const char* tags[] = {"001", "100", "200", "245", "500", "a1Z"};
    for (int r = 0; r < 300; ++r) {
        std::vector<testsupport::Field> fields;
        const int n = 1 + static_cast<int>(random() % 8);
        for (int f = 0; f < n; ++f) {
            std::string body = "1 ";
            for (int s = static_cast<int>(random() % 3); s >= 0; --s) {
                body += "\x1f" + std::string(1, static_cast<char>('a' + random() % 4));
                for (int k = static_cast<int>(random() % 24); k > 0; --k)
                    body += "abcXYZ $-\xb0\xa1"[random() % 12];
            }
            fields.push_back({tags[random() % std::size(tags)], body});
        }
        std::string record = MakeRecord(fields);
        // Some records point a field past their end or cut their directory.
        if (random() % 5 == 0)
            record[24 + 7 + random() % 5] = '9';
        if (random() % 7 == 0)
            record.resize(24 + random() % (record.size() - 24));
        records.push_back(record);
    }
    return records;
}

/// A piece of the record (so that many patterns match), now and then with
/// its letters in the other case.
std::string Pattern(const std::string& record, std::mt19937& random)
{
    const std::size_t length = 1 + random() % 5;
    std::string pattern = record.substr(random() % (record.size() - length), length);
    if (random() % 2 == 0)
        for (char& c : pattern)
            c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
    return pattern;
}

// The matcher first tests the raw record cheaply and takes it apart only when
// it may hold the pattern; taking every record apart and comparing field by
// field must find the same field.
TEST(QueryPrefilter, MatchesAsComparingEveryFieldOfEveryRecord)
{
    std::mt19937 random(19);
    RecordFields fields, plainFields;
    int found = 0;
    for (const std::string& record : Records(random)) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
        plainFields.assemble(bytes, record.size());
        for (int k = 0; k < 6; ++k) {
            SearchQuery query;
            query.pattern = Pattern(record, random);
            query.caseSensitive = random() % 2 == 0;
            if (random() % 3 == 0)
                query.tag = "245";
            SCOPED_TRACE(query.pattern);
            QueryMatcher matcher(query);
            const std::optional<std::size_t> plain = RecordMatcher(query).matchIn(plainFields);
            EXPECT_EQ(matcher.match(bytes, record.size(), fields), plain) << record;
            found += plain ? 1 : 0;
        }
    }
    EXPECT_GT(found, 300) << "most patterns are pieces of their record";
}

}  // namespace
