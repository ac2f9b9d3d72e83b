// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "files/FileAccess.h"
#include "check/RecordCheck.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane;
using testsupport::MakeRecord;

// Three clean records of 100 to 999 bytes, so a length fits in three digits.
std::vector<std::string> CleanRecords()
{
    std::vector<std::string> records;
    for (int i = 1; i <= 3; ++i)
        records.push_back(MakeRecord({{"001", "id" + std::to_string(i)},
                                      {"245", "10\x1f" "aA title long enough for three digits " + std::to_string(i)},
                                      {"500", "  \x1f" "aA note"}}));
    return records;
}

std::string Joined(const std::vector<std::string>& records)
{
    std::string all;
    for (const std::string& r : records)
        all += r;
    return all;
}

std::size_t FieldStart(const std::string& record, int entry)
{
    const std::size_t base = std::stoul(record.substr(12, 5));
    return base + std::stoul(record.substr(24 + 12 * entry + 7, 5));
}

/// Every problem as one line each, for a failure message.
std::string Listed(const std::vector<CheckProblem>& problems)
{
    std::string text;
    for (const CheckProblem& p : problems)
        text += std::string(p.code) + ": " + p.description + "\n";
    return text;
}

struct FaultRow {
    const char* code;
    std::int64_t number;  ///< the record the problem is told with
    std::function<std::string(std::vector<std::string>)> make;
    CharsetSetting charset = CharsetSetting::Auto;
    bool controlNumberReadable = true;
};

const FaultRow kFaults[] = {
    {"length-digits", 2, [](auto r) { r[1].replace(0, 5, r[1].substr(2, 3) + "  "); return Joined(r); }},
    {"length-short", 2, [](auto r) { r[2].replace(0, 5, "00020"); return Joined(r); }},
    {"truncated", 3, [](auto r) { return Joined(r).substr(0, Joined(r).size() - 20); }},
    {"length-mismatch", 2, [](auto r) { r[1].back() = 'X'; return Joined(r); }},
    {"base-address", 2, [](auto r) { r[1].replace(12, 5, "99999"); return Joined(r); }, CharsetSetting::Auto, false},
    {"directory-length", 2,
     [](auto r) {
         // One byte too many before the directory's terminator.
         const std::size_t base = std::stoul(r[1].substr(12, 5));
         r[1].insert(base - 1, "X");
         char digits[6];
         std::snprintf(digits, sizeof digits, "%05zu", base + 1);
         r[1].replace(12, 5, digits);
         std::snprintf(digits, sizeof digits, "%05zu", r[1].size());
         r[1].replace(0, 5, digits);
         return Joined(r);
     }},
    {"directory-end", 2, [](auto r) { r[1][std::stoul(r[1].substr(12, 5)) - 1] = 'X'; return Joined(r); }},
    {"entry-digits", 2, [](auto r) { r[1][24 + 12 + 4] = 'x'; return Joined(r); }},
    {"field-outside", 2, [](auto r) { r[1].replace(24 + 12 * 2 + 7, 5, "90000"); return Joined(r); }},
    {"field-overlap", 2, [](auto r) { r[1].replace(24 + 12 * 2 + 7, 5, r[1].substr(24 + 12 + 7, 5)); r[1].replace(24 + 12 * 2 + 3, 4, r[1].substr(24 + 12 + 3, 4)); return Joined(r); }},
    {"field-terminator", 2, [](auto r) { r[1][FieldStart(r[1], 2) - 1] = 'X'; return Joined(r); }},
    {"junk", 1, [](auto r) { return r[0] + "junk" + r[1] + r[2]; }},
    {"invalid-bytes", 3, [](auto r) { r[2][FieldStart(r[2], 1) + 5] = '\xff'; return Joined(r); }, CharsetSetting::Gbk},
    {"bad-utf8", 1, [](auto r) { r[0][9] = 'a'; r[0][FieldStart(r[0], 1) + 5] = '\xc3'; return Joined(r); },
     CharsetSetting::Utf8},
};

std::vector<CheckProblem> Check(const std::string& bytes, const CheckOptions& options, CheckResult& result)
{
    testsupport::TempDir dir;
    const std::string path = dir.write("records.mrc", bytes);
    fileaccess::UniqueFd fd(::open(path.c_str(), O_RDONLY));
    std::vector<CheckProblem> problems;
    result = CheckRecords(fd.get(), options, NoMonitor(), [&](const CheckProblem& p) { problems.push_back(p); });
    return problems;
}

TEST(RecordCheck, EachFaultIsToldWithItsCodeOnItsRecordAndNothingElse)
{
    for (const FaultRow& row : kFaults) {
        SCOPED_TRACE(row.code);
        CheckOptions options;
        options.charset = row.charset;
        CheckResult result;
        std::vector<CheckProblem> problems = Check(row.make(CleanRecords()), options, result);
        ASSERT_EQ(problems.size(), 1u) << Listed(problems);
        EXPECT_EQ(problems[0].code, row.code) << problems[0].description;
        EXPECT_EQ(problems[0].number, row.number);
        EXPECT_EQ(problems[0].controlNumber, row.controlNumberReadable ? "id" + std::to_string(row.number) : "");
        EXPECT_EQ(result.problems, 1u);
    }
}

TEST(RecordCheck, CleanFilesAndUtf8TextGiveNothing)
{
    std::vector<std::string> records = CleanRecords();
    records.push_back(MakeRecord({{"001", "u"}, {"245", "10\x1f" "a中文 Ärger"}}));
    records.back()[9] = 'a';
    for (CharsetSetting charset : {CharsetSetting::Auto, CharsetSetting::Utf8}) {
        CheckOptions options;
        options.charset = charset;
        CheckResult result;
        EXPECT_TRUE(Check(Joined(records), options, result).empty());
        EXPECT_EQ(result.records, 4);
    }
}

TEST(RecordCheck, OffsetsPointAtTheFaultAndTheRangeLimitsWhatIsTold)
{
    std::vector<std::string> records = CleanRecords();
    const std::string file = records[0] + " \r\n" + records[1] + " \r\n" + records[2];
    CheckOptions options;
    CheckResult result;
    std::vector<CheckProblem> problems = Check(file, options, result);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].offset, records[0].size());
    EXPECT_EQ(problems[1].number, 2);
    options.first = options.last = 2;
    problems = Check(file, options, result);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].number, 2);
}

TEST(RecordCheck, LineEndsBetweenRecordsAreNoJunk)
{
    struct Row {
        const char* name;
        std::string separator;  ///< between the records, and after the last
        std::uint64_t junk;     ///< junk problems told
    } rows[] = {
        {"crlf", "\r\n", 0},
        {"lf", "\n", 0},
        {"blank_lines", "\r\n\r\n\n\r", 0},
        {"long_run", std::string(40, '\n'), 0},
        {"space_before_line_end", " \n", 3},
        {"nul_after_line_end", std::string("\n\0", 2), 3},
        {"letters_among_line_ends", "\r\nxx\r\n", 3},
        {"line_ends_around_a_long_run", "\n" + std::string(40, '.') + "\n", 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> records = CleanRecords();
        CheckResult result;
        std::vector<CheckProblem> problems =
            Check(records[0] + row.separator + records[1] + row.separator + records[2] + row.separator, {}, result);
        EXPECT_EQ(result.problems, row.junk);
        for (const CheckProblem& p : problems) {
            EXPECT_EQ(p.code, "junk");
            EXPECT_EQ(p.description.substr(0, p.description.find(' ')), std::to_string(row.separator.size()));
        }
        EXPECT_EQ(result.records, 3);
    }
}

// Several MiB of records in every set the detection tells apart, with faults
// of every kind, junk, line ends and a cut at the end: enough for many
// batches of the threaded check.
std::string VariedFile(std::mt19937& random, std::size_t size)
{
    const std::string texts[] = {"plain text", "\xd6\xd0\xce\xc4\xca\xe9\xc3\xfb",  // GBK
                                 "\xe4\xb8\xad\xe6\x96\x87 \xc3\x84rger \xc3\xa9t\xc3\xa9",  // UTF-8
                                 "\x1b(3\x1b)4abc\x1b(B", "\xe1" "e\xe2" "a",               // MARC-8
                                 "\x81\x30\x81\x30\xb0\xa1",                              // GB18030
                                 "\xff\xfe\x80 bad", "\xc3\x28\xed\xa0\x80"};
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    auto text = [&] {
        std::string t;
        for (std::size_t k = pick(40) + 1; k > 0; --k)
            t += texts[pick(std::size(texts))];
        return t;
    };
    std::string file;
    for (int serial = 1; file.size() < size; ++serial) {
        std::vector<testsupport::Field> fields{{"001", pick(8) == 0 ? text() : "id" + std::to_string(serial)}};
        if (pick(2) == 0)
            fields.push_back({"100", "  \x1f" "a20231201d1999    em y0chiy" + std::string(pick(2) ? "50" : "01") + "10    ea"});
        if (pick(3) == 0)
            fields.push_back({"008", "240101s2024    xx            000 0 eng d"});
        for (std::size_t k = pick(6) + 1; k > 0; --k)
            fields.push_back({pick(2) ? "245" : "520", "10\x1f" "a" + text() + "\x1f" "b" + text()});
        std::string record = MakeRecord(fields);
        if (pick(3) == 0)
            record[9] = 'a';
        if (pick(4) == 0) {
            // Any byte after the record length (a short one would end the
            // file), mostly in the leader and the directory.
            const std::size_t base = std::stoul(record.substr(12, 5));
            for (std::size_t k = pick(3) + 1; k > 0; --k) {
                const std::size_t at = pick(3) == 0 ? 5 + pick(record.size() - 5) : 5 + pick(base - 5);
                const char bytes[] = {'0', '9', 'x', ' ', '\x1e', '\x1d', '\x1f', '\xff'};
                record[at] = bytes[pick(std::size(bytes))];
            }
        }
        if (pick(30) == 0)
            record.back() = 'X';
        file += record;
        const std::string separators[] = {"", "", "", "\r\n", "\n", "junk", std::string(3, '\0'), " \r\n"};
        file += separators[pick(std::size(separators))];
    }
    return file.substr(0, file.size() - pick(300));
}

TEST(RecordCheck, CheckingOnWorkerThreadsTellsWhatOneThreadTells)
{
    std::mt19937 random(13);
    const std::string varied = VariedFile(random, 7 * 1024 * 1024);
    // Junk longer than a batch between two records, and a hole of zeros.
    std::string withLongJunk = VariedFile(random, 1024 * 1024);
    withLongJunk += std::string(5 * 1024 * 1024, 'x') + CleanRecords()[0] + std::string(3 * 1024 * 1024, '\0') +
                    VariedFile(random, 1024 * 1024);
    struct Row {
        CharsetSetting charset;
        std::int64_t first, last;
    } rows[] = {{CharsetSetting::Auto, 1, std::numeric_limits<std::int64_t>::max()},
                {CharsetSetting::Gbk, 1, std::numeric_limits<std::int64_t>::max()},
                {CharsetSetting::Utf8, 1, std::numeric_limits<std::int64_t>::max()},
                {CharsetSetting::Auto, 1, 1},
                {CharsetSetting::Auto, 2, 2},
                {CharsetSetting::Auto, 777, 4321},
                {CharsetSetting::Auto, 3000, std::numeric_limits<std::int64_t>::max()}};
    for (const std::string* file : {&varied, static_cast<const std::string*>(&withLongJunk)})
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.first) + "-" + std::to_string(row.last));
        CheckOptions options;
        options.charset = row.charset;
        options.first = row.first;
        options.last = row.last;
        options.workers = 1;
        CheckResult one;
        const std::vector<CheckProblem> expected = Check(*file, options, one);
        if (row.last - row.first > 1000 && file == &varied) {
            ASSERT_GT(expected.size(), 100u);
        }
        for (int workers : {2, 3}) {
            SCOPED_TRACE(workers);
            options.workers = workers;
            CheckResult many;
            const std::vector<CheckProblem> got = Check(*file, options, many);
            EXPECT_EQ(many.records, one.records);
            EXPECT_EQ(many.problems, one.problems);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(got[i].number, expected[i].number);
                EXPECT_EQ(got[i].offset, expected[i].offset);
                EXPECT_EQ(got[i].controlNumber, expected[i].controlNumber);
                EXPECT_EQ(got[i].code, expected[i].code);
                ASSERT_EQ(got[i].description, expected[i].description);
            }
        }
    }
}

// A check that only counts, on worker threads or on one, counts what a check
// that tells each problem tells: per code, per rule set and per severity,
// junk between records and the rules' findings among them.
TEST(RecordCheck, CountingTalliesWhatATellingCheckTells)
{
    std::mt19937 random(17);
    std::string file = VariedFile(random, 3 * 1024 * 1024);
    file += std::string(5 * 1024 * 1024, 'x') + CleanRecords()[0] + VariedFile(random, 1024 * 1024);
    testsupport::TempDir dir;
    const std::string path = dir.write("records.mrc", file);
    for (const RuleSetting rules : {RuleSetting::None, RuleSetting::Auto, RuleSetting::Cnmarc}) {
        CheckOptions options;
        options.rules = rules;
        options.workers = 1;
        CheckResult told;
        const std::vector<CheckProblem> problems = Check(file, options, told);
        ASSERT_GT(problems.size(), 100u);
        ProblemTally expected;
        for (const CheckProblem& p : problems)
            expected.add(p);
        for (int workers : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(rules)) + " on " + std::to_string(workers));
            options.workers = workers;
            fileaccess::UniqueFd fd(::open(path.c_str(), O_RDONLY));
            ProblemTally counted;
            const CheckResult result = CountProblems(fd.get(), options, NoMonitor(), counted);
            EXPECT_EQ(result.records, told.records);
            EXPECT_EQ(result.problems, told.problems);
            EXPECT_EQ(counted.total(), problems.size());
            EXPECT_EQ(counted.count(Severity::Warning), expected.count(Severity::Warning));
            for (const CheckCode& c : kCheckCodes)
                EXPECT_EQ(counted.count(c.code), expected.count(c.code)) << c.code;
            for (const RuleCode& c : kRuleCodes)
                for (const RuleSet set : {RuleSet::Marc21, RuleSet::Marc21Authority, RuleSet::Unimarc, RuleSet::Cnmarc})
                    EXPECT_EQ(counted.count(c.code, set), expected.count(c.code, set)) << c.code;
        }
    }
}

}  // namespace
