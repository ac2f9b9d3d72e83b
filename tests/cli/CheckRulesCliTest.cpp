// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "CliProcess.h"
#include "RecordFiles.h"

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

}  // namespace
