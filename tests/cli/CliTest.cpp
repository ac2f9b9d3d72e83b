#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"
#include "../engine/ScriptedPrompt.h"

namespace {

using clitest::Finished;
using clitest::Sandbox;
using testsupport::MakeRecord;

const std::string kExampleRecord =
    MakeRecord({{"001", "c01"}, {"200", "1 \x1f" "aTitle text\x1f" "fAuth"}});
const std::string kExampleDisplay = "001c01\n2001 $aTitle text$fAuth\n";

const std::string kGbkChinese = "\xd6\xd0\xce\xc4";  // "中文" in GBK

const std::vector<std::string> kThreeRecords{
    MakeRecord({{"001", "r1"}, {"200", "1 \x1f" "aTitle one"}}),
    MakeRecord({{"001", "r2"}, {"200", "1 \x1f" "a" + kGbkChinese + "\x1f" "fAuthor"}}),
    MakeRecord({{"001", "r3"}, {"200", "1 \x1f" "aAnother TITLE -x"}}),
};

std::string joined(const std::vector<std::string>& parts, const std::string& separator = "")
{
    std::string all;
    for (const std::string& part : parts)
        all += part + separator;
    return all;
}

/// Display text of record k as the engine renders it in this process: what
/// the tool's output is compared with.
std::string engineDisplayText(const std::string& file, int k, int mode)
{
    testsupport::TempDir scratch;
    ScriptedPrompt prompt;
    const std::string index = scratch.file("idx");
    veltrane::ScratchDisplayFile = scratch.file("display");
    veltrane::DelimiterMode = mode;
    bool shown = veltrane::BuildRecordIndex(file.c_str(), index.c_str()) >= k
                 && veltrane::ScanRecords(prompt, file.c_str(), index.c_str(), k, k, "") == k;
    veltrane::DelimiterMode = veltrane::dmNormal;
    return shown ? testsupport::ReadFile(veltrane::ScratchDisplayFile) : "<not rendered>";
}

class CliTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::vector<std::string> left = sandbox.leftovers();
        EXPECT_TRUE(left.empty()) << "left behind: " << joined(left, " ");
    }

    Sandbox sandbox;
};

TEST_F(CliTest, CountAndIndexGiveRecordsAndSentinel)
{
    const std::string &a = kThreeRecords[0], &b = kThreeRecords[1];
    struct Case {
        std::string name, bytes;
        std::vector<std::size_t> index;  // the last entry is the sentinel
    };
    const std::vector<Case> cases{
        {"empty_file", "", {0}},
        {"back_to_back", a + b, {0, a.size(), a.size() + b.size()}},
        {"crlf_between_records", a + "\r\n" + b + "\r\n", {0, a.size() + 2, a.size() + b.size() + 4}},
        {"trailing_digit_junk", a + "0\n", {0, a.size()}},
        {"leader_of_exactly_24", "00024" + std::string(19, ' '), {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = sandbox.writeFile(c.name + ".mrc", c.bytes);
        Finished count = sandbox.run({"count", file});
        EXPECT_EQ(count.exitCode, 0) << count.err;
        EXPECT_EQ(count.out, std::to_string(c.index.size() - 1) + "\n");
        EXPECT_EQ(count.err, "");
        std::string expectedIndex;
        for (std::size_t offset : c.index)
            expectedIndex += std::to_string(offset) + "\n";
        Finished index = sandbox.run({"index", file});
        EXPECT_EQ(index.exitCode, 0) << index.err;
        EXPECT_EQ(index.out, expectedIndex);
    }
}

TEST_F(CliTest, ShowMatchesTheEngineInEveryDelimiterMode)
{
    Finished example = sandbox.run({"show", sandbox.writeFile("example.mrc", kExampleRecord), "1"});
    EXPECT_EQ(example.exitCode, 0) << example.err;
    EXPECT_EQ(example.out, kExampleDisplay);
    EXPECT_EQ(example.err, "");
    // The sample holds GBK text and fields long enough to wrap.
    const std::string sample = VELTRANE_SAMPLE_PATH;
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::string expected;
        for (int k = 1; k <= 3; ++k)
            expected += engineDisplayText(sample, k, mode);
        Finished range = sandbox.run({"show", "--mode", std::to_string(mode), sample, "1", "3"});
        EXPECT_EQ(range.exitCode, 0) << range.err;
        EXPECT_EQ(range.out, expected);

        Finished single = sandbox.run({"show", "--mode=" + std::to_string(mode), "--", sample, "2"});
        EXPECT_EQ(single.out, engineDisplayText(sample, 2, mode));
    }
}

TEST_F(CliTest, ShowGoesOnPastARecordThatCannotBeShownAndFails)
{
    // The last record runs past the end of the file: counted but unreadable.
    std::string cut = kThreeRecords[1].substr(0, kThreeRecords[1].size() - 10);
    std::string file = sandbox.writeFile("cut.mrc", kExampleRecord + cut);
    Finished shown = sandbox.run({"show", file, "1", "2"});
    EXPECT_EQ(shown.exitCode, 1);
    EXPECT_EQ(shown.out, kExampleDisplay);
    EXPECT_NE(shown.err.find("record 2 cannot be shown"), std::string::npos) << shown.err;
}

TEST_F(CliTest, FindPrintsMatchingRecordNumbers)
{
    const std::string f = sandbox.writeFile("three.mrc", joined(kThreeRecords));
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
        int exitCode;
    };
    const std::vector<Case> cases{
        {{f, "$aTitle"}, "1\n", 0},
        {{f, "title"}, "1\n", 0},
        {{"--case", f, "title"}, "", 1},
        {{"--case", f, "TITLE"}, "3\n", 0},
        {{"--all", f, "title"}, "1\n3\n", 0},
        {{"--all", f, "2001 "}, "1\n2\n3\n", 0},
        {{"--from", "2", f, "title"}, "3\n", 0},
        {{"--from=3", "--all", f, "title"}, "3\n", 0},
        {{"--from", "4", f, "title"}, "", 1},
        {{f, "中文"}, "2\n", 0},
        {{"--raw", f, kGbkChinese}, "2\n", 0},
        {{"--raw", f, "中文"}, "", 1},
        {{"--mode", "1", f, "$aTitle"}, "", 1},
        {{"--", f, "-x"}, "3\n", 0},
        {{"--", f, "--x"}, "", 1},
        {{f, std::string(255, 'a')}, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(joined(c.arguments, " "));
        std::vector<std::string> arguments{"find"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        Finished found = sandbox.run(arguments);
        EXPECT_EQ(found.exitCode, c.exitCode) << found.err;
        EXPECT_EQ(found.out, c.out);
        EXPECT_EQ(found.err, "");
    }
}

TEST_F(CliTest, ExtractCopiesRawRangesAndGuardsTheTarget)
{
    const std::string records = joined(kThreeRecords, "\r\n"), f = sandbox.writeFile("three.mrc", records);
    const std::string first = kThreeRecords[0] + "\r\n", second = kThreeRecords[1] + "\r\n";
    struct Case {
        std::string name;
        std::vector<std::string> arguments;  ///< the target is added
        std::string oldTarget;  ///< empty: no target file before
        int exitCode;
        std::string newTarget;
    };
    const std::vector<Case> cases{
        {"new_target", {f, "1", "1"}, "", 0, first},
        {"range_keeps_separators", {f, "2", "3"}, "", 0, second + kThreeRecords[2] + "\r\n"},
        {"existing_target_refused", {f, "1", "1"}, "old", 2, "old"},
        {"append", {"--append", f, "2", "2"}, "old", 0, "old" + second},
        {"overwrite", {"--overwrite", f, "2", "2"}, "old", 0, second},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string target = c.oldTarget.empty() ? sandbox.filePath(c.name) : sandbox.writeFile(c.name, c.oldTarget);
        std::vector<std::string> arguments{"extract"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        arguments.push_back(target);
        Finished extracted = sandbox.run(arguments);
        EXPECT_EQ(extracted.exitCode, c.exitCode) << extracted.err;
        EXPECT_EQ(extracted.out, "");
        EXPECT_EQ(testsupport::ReadFile(target), c.newTarget);
    }
    EXPECT_EQ(testsupport::ReadFile(f), records);
}

TEST_F(CliTest, BadInputIsRefusedWithAMessageAndNoOutput)
{
    const std::string records = joined(kThreeRecords), file = sandbox.writeFile("three.mrc", records);
    const std::string empty = sandbox.writeFile("empty.mrc", ""), target = sandbox.filePath("target.mrc");
    const std::string missingDirectory = sandbox.filePath("missing");
    const std::string range = "record number must be between 1 and 3";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases{
        {{}, "no command given"},
        {{}, "usage: veltrane-cli count FILE"},
        {{"show", "--bogus"}, "usage: veltrane-cli show [--mode 0|1|2] FILE N [M]"},
        {{"frobnicate", file}, "unknown command 'frobnicate'"},
        {{"--mode", "1", "show", file, "1"}, "unknown option '--mode'"},
        {{"show", "--bogus", file, "1"}, "unknown option '--bogus'"},
        {{"count", "--all", file}, "unknown option '--all'"},
        {{"find", "--all=yes", file, "a"}, "takes no value"},
        {{"show", file}, "missing operand"},
        {{"show", "--mode"}, "needs a value"},
        {{"count", file, "1"}, "unexpected operand '1'"},
        {{"show", file, "1", "--mode", "1"}, "option --mode after the operands"},
        {{"find", file, "--all"}, "option --all after the operands"},
        {{"extract", "--append", "--overwrite", file, "1", "1", target}, "exclude each other"},
        {{"show", "--mode", "3", file, "1"}, "must be 0, 1 or 2"},
        {{"show", file, "0"}, range},
        {{"show", file, "-1"}, range},
        {{"show", file, "4"}, range},
        {{"show", file, "x"}, range},
        {{"show", file, "1x"}, range},
        {{"show", file, "+1"}, range},
        {{"show", file, " 1"}, range},
        {{"show", file, "99999999999999999999"}, range},
        {{"show", file, "1", "4"}, range},
        {{"extract", file, "0", "1", target}, range},
        {{"show", file, "3", "2"}, "below the first"},
        {{"extract", file, "2", "1", target}, "below the first"},
        {{"find", "--from", "0", file, "a"}, "between 1 and 4"},
        {{"find", "--from", "5", file, "a"}, "between 1 and 4"},
        {{"show", empty, "1"}, "holds no record"},
        {{"count", sandbox.filePath("missing.mrc")}, "No such file or directory"},
        {{"count", sandbox.filePath(".")}, "is a directory"},
        {{"find", file, ""}, "TEXT is empty"},
        {{"find", sandbox.filePath("missing.mrc"), ""}, "TEXT is empty"},
        {{"find", file, std::string(256, 'a')}, "at most 255"},
        {{"find", file, joined(std::vector<std::string>(128, "中"))}, "at most 255"},
        {{"find", file, "smile \xf0\x9f\x98\x80"}, "GBK cannot hold (U+1F600)"},
        {{"find", file, "\xff"}, "not valid UTF-8"},
        {{"extract", file, "1", "1", missingDirectory + "/out.mrc"}, "no such directory"},
        {{"extract", "--overwrite", file, "1", "2", file}, "record file itself"},
        {{"extract", "--overwrite", file, "1", "2", sandbox.filePath(".")}, "is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(joined(c.arguments, " "));
        Finished refused = sandbox.run(c.arguments);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find(c.message), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(missingDirectory));
    EXPECT_EQ(testsupport::ReadFile(file), records);
}

TEST_F(CliTest, UnwritableTemporaryDirectoryFailsBeforeAnyOutput)
{
    std::string file = sandbox.writeFile("example.mrc", kExampleRecord);  // TMP comes before TMPDIR
    sandbox.setEnvironment("TMP", sandbox.filePath("missing"));
    const std::vector<std::string> runs[] = {{"count", file}, {"show", file, "1"}};
    for (const std::vector<std::string>& arguments : runs) {
        Finished failed = sandbox.run(arguments);
        EXPECT_EQ(failed.exitCode, 2);
        EXPECT_EQ(failed.out, "");
        EXPECT_NE(failed.err.find("tempnam couldn't create name"), std::string::npos) << failed.err;
    }
}

TEST_F(CliTest, HelpAndVersionGoToStandardOutput)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const std::vector<Case> cases{
        {{"--help"}, "usage: veltrane-cli count FILE"},
        {{"-h"}, "Exit status"},
        {{"show", "--help"}, "usage: veltrane-cli show [--mode 0|1|2] FILE N [M]"},
        {{"find", "--case", "-h"}, "--from N"},
        {{"--version"}, "veltrane-cli 2.0.1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(joined(c.arguments, " "));
        Finished helped = sandbox.run(c.arguments);
        EXPECT_EQ(helped.exitCode, 0);
        EXPECT_EQ(helped.err, "");
        EXPECT_NE(helped.out.find(c.expected), std::string::npos) << helped.out;
    }
}

}  // namespace
