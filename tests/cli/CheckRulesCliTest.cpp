// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CliProcess.h"
#include "RecordFiles.h"
#include "check/CheckTypes.h"

namespace {

using clitest::Finished;
using clitest::Sandbox;
using testsupport::MakeRecord;

// One MARC 21 record whose only content finding is a warning: field 248 is
// not defined. Its bytes: leader 24, directory 3 × 12 + 1, then 001 (3 bytes)
// and 245 (6 bytes), so 248 starts at byte 70.
// Its leader's type of control (byte 8) is blank, one of the codes MARC 21
// defines there.
const std::string kWarnedRecord = [] {
    std::string record = MakeRecord({{"001", "r1"}, {"245", "10\x1f" "aT"}, {"248", "  \x1f" "ax"}});
    record[8] = ' ';
    return record;
}();

TEST(CheckRulesCliTest, OutputsAndTheSeverityThatFails)
{
    Sandbox sandbox;
    const std::string file = sandbox.writeFile("warned.mrc", kWarnedRecord);
    const std::string line = "1\t70\tr1\tundefined-field\tfield 248 is not defined in marc21\n";

    Finished run = sandbox.run({"check", file});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");

    run = sandbox.run({"check", "--rules", "marc21", file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, line);

    run = sandbox.run({"check", "--rules", "auto", "--fail-on", "error", file});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, line);

    run = sandbox.run({"check", "--rules", "marc21", "--format", "jsonl", file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "{\"record\":1,\"offset\":70,\"id\":\"r1\",\"severity\":\"warning\",\"code\":\"undefined-field\","
                       "\"rules\":\"marc21\",\"message\":\"field 248 is not defined in marc21\",\"tag\":\"248\","
                       "\"occurrence\":1}\n");

    run = sandbox.run({"check", "--rules", "marc21", "--summary", "--format", "jsonl", file});
    EXPECT_EQ(run.out, "{\"code\":\"undefined-field\",\"rules\":\"marc21\",\"count\":1}\n");
    EXPECT_EQ(run.err, "");
}

/// A JSON Lines finding's value of a key ("code", "rules"), as the tool
/// writes it: no escapes in those values.
std::string jsonValue(const std::string& line, const std::string& key)
{
    const std::string start = "\"" + key + "\":\"";
    const std::size_t at = line.find(start);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + start.size();
    return line.substr(from, line.find('"', from) - from);
}

// A summary is counted without the findings' text: its counts are those of
// the findings the same check tells one by one, structural and content alike,
// and its exit status is theirs.
TEST(CheckRulesCliTest, TheSummaryCountsWhatTheFindingsTell)
{
    std::string entryMap = MakeRecord({{"001", "r4"}, {"245", "10\x1f" "aT"}, {"248", "  \x1f" "ax"}});
    entryMap.replace(20, 4, "4501");
    const std::string records =
        kWarnedRecord +
        MakeRecord({{"001", "r2"}, {"020", "  \x1f" "a0306406153"}, {"245", "10\x1f" "aOne\x1f" "aTwo\x1f" "aThree"}}) +
        "junk" + MakeRecord({{"001", "r3"}, {"245", "1\t\x1f" "bno title\t"}, {"880", "10\x1f" "aT"}}) + entryMap +
        MakeRecord({{"001", "u1"}, {"100", "  \x1f" "a20240101d2024    k  y0chiy50      ea"}, {"200", "1 \x1f" "bx"}});
    Sandbox sandbox;
    const std::string file = sandbox.writeFile("faults.mrc", records);
    for (const char* rules : {"none", "auto", "marc21", "unimarc", "cnmarc"}) {
        for (const char* failOn : {"warning", "error"}) {
            SCOPED_TRACE(std::string(rules) + " " + failOn);
            const Finished lines = sandbox.run({"check", "--rules", rules, "--fail-on", failOn, "--format", "jsonl", file});
            const Finished summary = sandbox.run({"check", "--rules", rules, "--fail-on", failOn, "--summary", file});
            EXPECT_EQ(summary.exitCode, lines.exitCode);
            std::map<std::pair<std::string, std::string>, int> told, counted;
            std::istringstream linesIn(lines.out);
            for (std::string line; std::getline(linesIn, line);) {
                const std::string code = jsonValue(line, "code");
                const bool structural = std::any_of(std::begin(veltrane::kCheckCodes), std::end(veltrane::kCheckCodes),
                                                    [&](const veltrane::CheckCode& c) { return c.code == code; });
                ++told[{code, structural ? std::string() : jsonValue(line, "rules")}];
            }
            std::istringstream summaryIn(summary.out);
            for (std::string line; std::getline(summaryIn, line);) {
                std::vector<std::string> columns;
                std::istringstream cells(line);
                for (std::string cell; std::getline(cells, cell, '\t');)
                    columns.push_back(cell);
                ASSERT_GE(columns.size(), 2u) << line;
                counted[{columns[0], columns.size() == 3 ? columns[1] : std::string()}] += std::stoi(columns.back());
            }
            EXPECT_EQ(counted, told);
            EXPECT_FALSE(told.empty());
        }
    }
}

}  // namespace
