// SPDX-License-Identifier: Apache-2.0
// The profile of hand-made records: what it counts per record and per
// occurrence, the median size, and the year of publication by the rules of
// each format.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stop_token>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "RecordFiles.h"
#include "profile/FileProfile.h"

using namespace veltrane;
using testsupport::MakeRecord;

namespace {

RecordFields fieldsOf(const std::string& record)
{
    RecordFields fields;
    fields.assemble(reinterpret_cast<const unsigned char*>(record.data()), record.size());
    return fields;
}

std::optional<int> yearOf(const std::vector<testsupport::Field>& fields)
{
    return PublicationYear(fieldsOf(MakeRecord(fields)), 0x1F);
}

TEST(PublicationYear, FollowsEachFormatsOwnPlaceAndItsFallback)
{
    const std::string unimarc100 = "  \x1f" "a20010101d1998    km y0chiy0110    ea";
    EXPECT_EQ(yearOf({{"100", unimarc100}, {"210", "  \x1f" "a北京\x1f" "d[2003]"}}), 2003);
    EXPECT_EQ(yearOf({{"100", unimarc100}, {"210", "  \x1f" "a北京\x1f" "c出版社"}}), 1998);
    EXPECT_EQ(yearOf({{"100", "  \x1f" "a20010101d    "}}), std::nullopt);
    // MARC 21: 008/07-10 when 008/06 gives a date there, else 264 _1 $c, else 260 $c.
    EXPECT_EQ(yearOf({{"008", "830101s1983    nyu"}, {"260", "  \x1f" "c1999."}}), 1983);
    EXPECT_EQ(yearOf({{"008", "830101n19uu    nyu"}, {"260", "  \x1f" "cc1999."}}), 1999);
    EXPECT_EQ(yearOf({{"008", "830101s19uu    nyu"}, {"264", " 4\x1f" "c2001"}, {"264", " 1\x1f" "c[2010?]"}}), 2010);
    EXPECT_EQ(yearOf({{"245", "10\x1f" "aNo dates"}}), std::nullopt);
    EXPECT_EQ(yearOf({{"260", "  \x1f" "c12345"}}), std::nullopt);  // five digits are no year
}

TEST(FileProfile, CountsRecordsOccurrencesValuesAndSizes)
{
    ProfileBuilder builder(dmNormal, CharsetSetting::Auto);
    const std::vector<std::string> records = {
        MakeRecord({{"001", "a1"}, {"008", "830101s1983    nyu"}, {"245", "10\x1f" "aOne\x1f" "bsub\x1f" "bsub"}, {"650", " 0\x1f" "aX"}, {"650", " 0\x1f" "aY"}}),
        MakeRecord({{"001", "a2"}, {"245", "00\x1f" "aTwo"}, {"A45", "  \x1f" "a?"}}),
        MakeRecord({{"001", "a3"}, {"100", "  \x1f" "a20010101d2005    km y0chiy0110    ea"}, {"200", "1 \x1f" "a\xb1\xb1\xbe\xa9"}}),
    };
    for (const std::string& r : records)
        builder.add({reinterpret_cast<const unsigned char*>(r.data()), r.size()}, static_cast<std::uint32_t>(r.size()));
    const FileProfile profile = builder.finish();
    EXPECT_EQ(profile.records, 3);
    EXPECT_EQ(profile.smallest, records[1].size());
    EXPECT_EQ(profile.largest, records[0].size());
    EXPECT_EQ(profile.median, records[2].size());
    EXPECT_EQ(profile.tags.at("001").count.records, 3);
    EXPECT_EQ(profile.tags.at("650").count.records, 1);
    EXPECT_EQ(profile.tags.at("650").count.occurrences, 2);
    EXPECT_EQ(profile.tags.at("A45").count.records, 1);  // a tag of letters counts as any other
    EXPECT_EQ(profile.tags.at("245").shortest, std::string("00\x1f" "aTwo\x1e").size());
    EXPECT_EQ(profile.subfields.at({"245", 'b'}).records, 1);
    EXPECT_EQ(profile.subfields.at({"245", 'b'}).occurrences, 2);
    EXPECT_EQ(profile.subfields.at({"245", 'a'}).records, 2);
    EXPECT_EQ(profile.indicators.at({"245", 1}).at('1'), 1);
    EXPECT_EQ(profile.indicators.at({"245", 1}).at('0'), 1);
    EXPECT_EQ(profile.indicators.count({"001", 1}), 0u);  // control fields have none
    EXPECT_EQ((profile.charsets.at({"ascii", 0})), 2);
    EXPECT_EQ((profile.charsets.at({"gbk", 7})), 1);
    ASSERT_EQ(profile.marc21FixedData.count("am"), 1u);  // leader/06-07 of MakeRecord
    EXPECT_EQ(profile.marc21FixedData.at("am").values[6]['s'], 1);
    ASSERT_EQ(profile.unimarcGeneralData.values.size(), 36u);
    EXPECT_EQ(profile.unimarcGeneralData.values[8]['d'], 1);
    EXPECT_EQ(profile.leader.values[5]['n'], 3);
    EXPECT_EQ(profile.years, (std::map<int, std::int64_t>{{1983, 1}, {2005, 1}}));
    EXPECT_TRUE(profile.problems.empty());
}

TEST(FileProfile, CountsASubfieldCodeWhereverItsDelimiterStandsInAFieldOfAnyLength)
{
    // Fields are looked through many bytes at a time: delimiters at every
    // place of short fields, and about the edges of those steps in long ones,
    // one or two in a field, one ending it without a code.
    ProfileBuilder builder(dmNormal, CharsetSetting::Auto);
    std::map<char, std::int64_t> expected;
    auto addRecord = [&](std::size_t length, const std::vector<std::size_t>& delimiters) {
        std::string data = "10" + std::string(length, 'x');
        for (std::size_t at : delimiters) {
            data[2 + at] = '\x1f';
            if (at + 1 < length)
                data[3 + at] = static_cast<char>('a' + at % 26);
        }
        const std::string record = MakeRecord({{"001", "1"}, {"245", data}});
        // Whole, and cut off by the end of the file just after the last
        // delimiter, which then ends the field with no code.
        const std::size_t dataStart = record.size() - 2 - data.size();
        for (const std::size_t cut : {record.size(), dataStart + 2 + (delimiters.empty() ? 0 : delimiters.back() + 1)}) {
            const std::string bytes = record.substr(0, cut);
            const std::string field = bytes.substr(dataStart, record.size() - 1 - dataStart);
            for (std::size_t i = 0; i + 1 < field.size(); ++i)
                if (field[i] == '\x1f')
                    ++expected[field[i + 1]];
            builder.add({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()},
                        static_cast<std::uint32_t>(record.size()));
        }
    };
    for (std::size_t length = 0; length <= 200; ++length) {
        std::vector<std::size_t> places;
        for (std::size_t at : {0, 1, 5, 6, 7, 13, 14, 15, 16, 17, 29, 30, 31, 62, 63, 64, 65, 78, 79, 80, 81})
            if (at < length && (length <= 40 || at < 100))
                places.push_back(at);
        for (std::size_t at = 0; length <= 40 && at < length; ++at)
            places.push_back(at);
        for (std::size_t fromEnd : {1, 2, 3, 15, 16, 17})
            if (fromEnd <= length)
                places.push_back(length - fromEnd);
        for (std::size_t first : places) {
            addRecord(length, {first});
            for (std::size_t second : places)
                if (second > first + 1)
                    addRecord(length, {first, second});
        }
    }
    const FileProfile profile = builder.finish();
    std::map<char, std::int64_t> counted;
    for (const auto& [key, occurrences] : profile.subfields)
        if (key.first == "245")
            counted[key.second] = occurrences.occurrences;
    EXPECT_EQ(counted, expected);
}

TEST(FileProfile, APrintableDelimiterCountsOnlyBeforeALetterOrDigit)
{
    ProfileBuilder builder(dmSpecial1, CharsetSetting::Auto);
    const std::string record = MakeRecord({{"001", "x"}, {"245", "10$aPrice US$ 5$bsub"}}, '#', '\x1d');
    builder.add({reinterpret_cast<const unsigned char*>(record.data()), record.size()},
                static_cast<std::uint32_t>(record.size()));
    const FileProfile profile = builder.finish();
    EXPECT_EQ(profile.subfields.at({"245", 'a'}).occurrences, 1);
    EXPECT_EQ(profile.subfields.at({"245", 'b'}).occurrences, 1);
    EXPECT_EQ(profile.subfields.count({"245", ' '}), 0u);  // "$ " is data
}

TEST(FileProfile, ReportsProgressAgainstTheFileSizeAndAStopAtAnyTimeCancels)
{
    testsupport::TempDir dir;
    const std::string bytes = MakeRecord({{"001", "a1"}}) + MakeRecord({{"001", "a2"}}) + MakeRecord({{"001", "a3"}});
    const std::string path = dir.write("three.mrc", bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
    WorkMonitor monitor;
    monitor.interval = 1;
    monitor.progress = [&](std::uint64_t done, std::uint64_t total) { reports.emplace_back(done, total); };
    const ProfileResult done = ProfileRecords(fd, 1, INT64_MAX, dmNormal, CharsetSetting::Auto, monitor);
    EXPECT_EQ(done.outcome, Outcome::Done);
    ASSERT_FALSE(reports.empty());
    for (const auto& [at, total] : reports) {
        EXPECT_EQ(total, bytes.size());
        EXPECT_LE(at, total);
    }

    // Asked to stop while the last record is read: no check follows, yet the
    // work ends cancelled.
    std::stop_source stop;
    monitor.stop = stop.get_token();
    monitor.interval = bytes.size();
    monitor.progress = nullptr;
    (void)stop.request_stop();
    EXPECT_EQ(ProfileRecords(fd, 1, INT64_MAX, dmNormal, CharsetSetting::Auto, monitor).outcome, Outcome::Cancelled);
    ::close(fd);
}

TEST(FileProfile, ARecordCutOffAnywhereIsCountedOnceAndNothingPastItsBytesIsRead)
{
    // The file's last record may end anywhere: inside the leader, the
    // directory, or a field, which then holds fewer bytes than its entry says,
    // or none at all. Each byte is a copy of its own so that the sanitizers
    // see any read past the cut.
    const std::string whole = MakeRecord({{"001", "a1"}, {"008", "830101s1983    nyu"}, {"100", "  \x1f" "a20010101d2005"},
                                          {"245", "10\x1f" "aOne\x1f" "bsub"}, {"650", " 0\x1f" "aX"}});
    for (DelimiterMode mode : {dmNormal, dmSpecial1, dmSpecial2}) {
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            ProfileBuilder builder(mode, CharsetSetting::Auto);
            const std::vector<unsigned char> bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            builder.add({bytes.data(), bytes.size()}, static_cast<std::uint32_t>(whole.size()));
            EXPECT_EQ(builder.finish().records, 1) << "cut at " << cut;
        }
    }
}

TEST(FileProfile, WorkersCountWhatOneThreadCounts)
{
    // Records of many shapes over several of the stream's blocks, so that
    // each worker meets tags other than three digits in an order of its own;
    // junk between records, and a last record cut off.
    std::string file;
    const std::string unimarc100 = "  \x1f" "a20010101d1998    km y0chiy0110    ea";
    for (int i = 0; i < 12000; ++i) {
        const std::string n = std::to_string(i);
        std::vector<testsupport::Field> fields = {{"001", "id" + n}};
        switch (i % 4) {
        case 0: fields.push_back({"008", "830101s" + std::to_string(1900 + i % 120) + "    nyu"}); break;
        case 1: fields.push_back({"100", unimarc100}); fields.push_back({"200", "1 \x1f" "a\xb1\xb1\xbe\xa9"}); break;
        case 2: fields.push_back({"260", "  \x1f" "c" + std::to_string(1800 + i % 200)}); break;
        default: fields.push_back({i % 7 == 0 ? "A" + n.substr(0, 2) : "Z" + n.substr(n.size() - 1) + "9", "  \x1f" "bx"}); break;
        }
        fields.push_back({"245", std::string(1, "01"[i % 2]) + "0\x1f" "aTitle " + n + std::string(i % 300, 'x')});
        file += MakeRecord(fields);
        if (i % 1000 == 999)
            file += "junk";
    }
    file += MakeRecord({{"001", "last"}, {"245", "00\x1f" "acut"}}).substr(0, 40);
    testsupport::TempDir dir;
    const std::string path = dir.write("many.mrc", file);
    for (auto [from, to] : {std::pair<std::int64_t, std::int64_t>{1, INT64_MAX}, {5, 11000}}) {
        ProfileResult results[2];
        for (int workers : {1, 2}) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            results[workers - 1] = ProfileRecords(fd, from, to, dmNormal, CharsetSetting::Auto, NoMonitor(), workers);
            ::close(fd);
        }
        EXPECT_EQ(results[0].outcome, Outcome::Done);
        EXPECT_EQ(results[0].framed, results[1].framed);
        EXPECT_GT(results[0].profile.records, 10000);
        EXPECT_TRUE(results[0].profile == results[1].profile) << "records " << from << " to " << to;
    }
}

}  // namespace
