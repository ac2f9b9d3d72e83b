#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../hardening/HardeningSupport.h"
#include "CliProcess.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"
#include "TemporaryFiles.h"

namespace {

using clitest::Finished;
using clitest::Sandbox;
using testsupport::Joined;
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

/// Display text of record k as the engine renders it in this process: what
/// the tool's output is compared with.
std::string engineDisplayText(const std::string& file, int k, int mode)
{
    testsupport::TempDir scratch;
    hardening::RecordingPrompt prompt;
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
        EXPECT_TRUE(left.empty()) << "left behind: " << Joined(left, " ");
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
        {"crlf_between_records", a + "\r\n" + b + "\r\n", {0, a.size() + 2, a.size() + b.size() + 4}},
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

TEST_F(CliTest, ExtractCopiesRawRangesAndGuardsTheTarget)
{
    const std::string records = Joined(kThreeRecords, "\r\n"), f = sandbox.writeFile("three.mrc", records);
    const std::string second = kThreeRecords[1] + "\r\n";
    struct Case {
        std::string name;
        std::vector<std::string> arguments;  ///< the target is added
        std::string oldTarget;  ///< empty: no target file before
        int exitCode;
        std::string newTarget;
    };
    const std::vector<Case> cases{
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

TEST_F(CliTest, FindPrintsMatchesAndBadInputIsRefusedWithNoOutput)
{
    const std::string records = Joined(kThreeRecords), file = sandbox.writeFile("three.mrc", records);
    const std::string empty = sandbox.writeFile("empty.mrc", ""), target = sandbox.filePath("target.mrc");
    const std::string missingDirectory = sandbox.filePath("missing");
    const std::string range = "record number must be between 1 and 3";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;  ///< empty: no message, with this output and status
        std::string out = "";
        int exitCode = 2;
    };
    const std::vector<Case> cases{
        {{"find", file, "$aTitle"}, "", "1\n", 0},
        {{"find", "--case", file, "TITLE"}, "", "3\n", 0},
        {{"find", "--all", file, "title"}, "", "1\n3\n", 0},
        {{"find", "--from", "2", file, "title"}, "", "3\n", 0},
        {{"find", "--from", "4", file, "title"}, "", "", 1},
        {{"find", file, "中文"}, "", "2\n", 0},
        {{"find", "--raw", file, kGbkChinese}, "", "2\n", 0},
        {{"find", "--", file, "-x"}, "", "3\n", 0},
        {{}, "no command given"},
        {{"show", "--bogus", file, "1"}, "unknown option '--bogus'"},
        {{"extract", "--append", "--overwrite", file, "1", "1", target}, "exclude each other"},
        {{"show", file, "0"}, range},
        {{"show", empty, "1"}, "holds no record"},
        {{"count", sandbox.filePath("missing.mrc")}, "No such file or directory"},
        {{"count", sandbox.filePath(".")}, "is a directory"},
        {{"find", file, ""}, "TEXT is empty"},
        {{"find", file, std::string(256, 'a')}, "at most 255"},
        {{"find", file, "smile \xf0\x9f\x98\x80"}, "GBK cannot hold (U+1F600)"},
        {{"extract", file, "1", "1", missingDirectory + "/out.mrc"}, "no such directory"},
        {{"extract", "--overwrite", file, "1", "2", file}, "record file itself"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.arguments, " "));
        Finished run = sandbox.run(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(c.message.empty() ? run.err.empty() : run.err.find(c.message) != std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(missingDirectory));
    EXPECT_EQ(testsupport::ReadFile(file), records);
}

TEST_F(CliTest, InterruptedOrClosedPipeLeavesNoFileBehind)
{
    // Far more display text than a pipe holds: the tool is still writing when
    // the reader goes away or the signal comes.
    constexpr int kCount = 3000;
    std::string bytes;
    for (int k = 1; k <= kCount; ++k)
        bytes += MakeRecord({{"001", "rec" + std::to_string(k)}, {"200", std::string(150, 'x')}});
    const std::string file = sandbox.writeFile("many.mrc", bytes);
    struct Case {
        int signal;  ///< sent to the tool; 0: the reader closes the pipe, the tool ignoring SIGPIPE
        int expectedSignal, expectedExitCode;
    } cases[] = {{SIGINT, SIGINT, -1}, {0, 0, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal);
        int readFd = -1;
        const pid_t pid = sandbox.start({"show", file, "1", std::to_string(kCount)}, readFd, c.signal == 0);
        char first = 0;
        ASSERT_EQ(::read(readFd, &first, 1), 1);
        EXPECT_EQ(first, '0');  // "001rec1"
        const std::vector<std::string> running = sandbox.leftovers();  // the index is there while it runs
        EXPECT_NE(std::find(running.begin(), running.end(), "idx0"), running.end());
        if (c.signal != 0)
            ::kill(pid, c.signal);
        ::close(readFd);
        const Finished finished = sandbox.wait(pid);
        EXPECT_EQ(finished.signal, c.expectedSignal);
        EXPECT_EQ(finished.exitCode, c.expectedExitCode) << finished.err;
        EXPECT_TRUE(sandbox.leftovers().empty());
    }
}

// The scratch file on disk is the fallback where no memory file can be had;
// the tool's runs above only ever see the memory file.
TEST(TemporaryFiles, ScratchFileOnDiskIsPrivateBesideTheIndexAndRemoved)
{
    testsupport::TempDir directory;
    std::string error;
    const std::optional<std::string> scratch = veltrane::cli::createScratchFileOnDisk(directory.file("idx0"), error);
    ASSERT_TRUE(scratch) << error;
    EXPECT_EQ(std::filesystem::path(*scratch).parent_path(), directory.path());
    struct stat info {};
    ASSERT_EQ(::stat(scratch->c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 0);
    veltrane::cli::removeTemporaryFiles();
    EXPECT_FALSE(std::filesystem::exists(*scratch));
}

}  // namespace
