// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "RecordFiles.h"
#include "TemporaryFiles.h"

namespace {

using clitest::Finished;
using clitest::Sandbox;
using testsupport::Joined;
using testsupport::MakeRecord;

const std::string kGbkChinese = "\xd6\xd0\xce\xc4";  // "中文" in GBK

const std::vector<std::string> kThreeRecords{
    MakeRecord({{"001", "r1"}, {"200", "1 \x1f" "aTitle one"}}),
    MakeRecord({{"001", "r2"}, {"200", "1 \x1f" "a" + kGbkChinese + "\x1f" "fAuthor"}}),
    MakeRecord({{"001", "r3"}, {"200", "1 \x1f" "aAnother TITLE -x"}}),
};

class CliTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::vector<std::string> left = sandbox.leftovers();
        EXPECT_TRUE(left.empty()) << "left behind: " << Joined(left, " ");
    }

    Sandbox sandbox;
};

TEST_F(CliTest, OutputAndStatusOfEachCommandAndBadInputRefusedWithNoOutput)
{
    const std::string records = Joined(kThreeRecords), file = sandbox.writeFile("three.mrc", records);
    const std::string empty = sandbox.writeFile("empty.mrc", ""), target = sandbox.filePath("target.mrc");
    const std::string crlfRecords = Joined(kThreeRecords, "\r\n"), crlf = sandbox.writeFile("crlf.mrc", crlfRecords);
    const std::string fresh = sandbox.filePath("fresh.mrc"), kept = sandbox.writeFile("kept.mrc", "old");
    const std::string appended = sandbox.writeFile("appended.mrc", "old");
    const std::string overwritten = sandbox.writeFile("overwritten.mrc", "old");
    const std::size_t a = kThreeRecords[0].size() + 2, b = a + kThreeRecords[1].size() + 2, end = records.size() + 6;
    // Record 2 runs past the end of the file: counted but unreadable.
    const std::string cut = sandbox.writeFile("cut.mrc", kThreeRecords[0] + kThreeRecords[1].substr(0, 50));
    const std::string first = "001r1\n2001 $aTitle one\n";
    const std::string missingDirectory = sandbox.filePath("missing");
    const std::string range = "record number must be between 1 and 3";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;  ///< empty: no message, with this output and status
        std::string out = "";
        int exitCode = 2;
    };
    const std::vector<Case> cases{
        {{"count", crlf}, "", "3\n", 0},
        {{"index", crlf}, "", Joined({"0", std::to_string(a), std::to_string(b), std::to_string(end)}, "\n"), 0},
        {{"count", empty}, "", "0\n", 0},
        {{"index", empty}, "", "0\n", 0},
        // The display text as the engine writes it, records one after another.
        {{"show", file, "1", "3"}, "",
         first + "001r2\n2001 $a" + kGbkChinese + "$fAuthor\n001r3\n2001 $aAnother TITLE -x\n", 0},
        {{"show", "--mode", "2", file, "2"}, "", "001r2\n2001 \x1f" "a" + kGbkChinese + "\x1f" "fAuthor\n", 0},
        {{"show", cut, "1", "2"}, "record 2 cannot be shown", first, 1},
        {{"extract", crlf, "2", "3", fresh}, "", "", 0},
        {{"extract", crlf, "1", "1", kept}, "exists; give --append or --overwrite"},
        {{"extract", "--append", crlf, "2", "2", appended}, "", "", 0},
        {{"extract", "--overwrite", crlf, "2", "2", overwritten}, "", "", 0},
        {{"find", file, "$aTitle"}, "", "1\n", 0},
        {{"find", "--case", file, "TITLE"}, "", "3\n", 0},
        {{"find", "--all", file, "title"}, "", "1\n3\n", 0},
        {{"find", "--from", "2", file, "title"}, "", "3\n", 0},
        {{"find", "--from", "4", file, "title"}, "", "", 1},  // after the last record: nothing found
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
        {{"find", "--charset", "gbk", file, "smile \xf0\x9f\x98\x80"}, "GBK cannot hold (U+1F600)"},
        {{"find", file, "smile \xf0\x9f\x98\x80"}, "", "", 1},  // automatic: sought in every set, refused by none
        {{"show", "--charset", "latin-1", file, "1"}, "character set must be auto"},
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
    // Extraction copies the raw bytes, separators included, and guards the target.
    const std::string second = kThreeRecords[1] + "\r\n";
    EXPECT_EQ(testsupport::ReadFile(fresh), second + kThreeRecords[2] + "\r\n");
    EXPECT_EQ(testsupport::ReadFile(kept), "old");
    EXPECT_EQ(testsupport::ReadFile(appended), "old" + second);
    EXPECT_EQ(testsupport::ReadFile(overwritten), second);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(missingDirectory));
    EXPECT_EQ(testsupport::ReadFile(file), records);
    EXPECT_EQ(testsupport::ReadFile(crlf), crlfRecords);
}

TEST_F(CliTest, FindWithTagAndOverSeveralFiles)
{
    const std::string one = sandbox.writeFile("one.mrc", Joined(kThreeRecords));
    const std::string two = sandbox.writeFile("two.mrc", Joined({
        MakeRecord({{"001", "s1"}, {"245", "10\x1f" "aSecond title"}}),
        MakeRecord({{"001", "s2"}, {"200", "1 \x1f" "aNothing"}, {"500", "  \x1f" "aTitle in a note"}}),
    }, "\n"));
    const std::string missing = sandbox.filePath("missing.mrc");
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
        int exitCode;
        std::string message = "";  ///< empty: no message
    };
    const std::vector<Case> cases{
        {{"find", "--all", "--tag", "500", two, "title"}, "2\n", 0},
        {{"find", "--all", "--tag=245", one, "title"}, "", 1},
        // The tag's own bytes are part of the field, as without --tag.
        {{"find", "--all", "--tag", "200", one, "2001 $aT"}, "1\n", 0},
        {{"find", "--tag", "20", one, "title"}, "", 2, "three characters"},
        {{"find", "--all", one, two, "title"}, one + "\t1\n" + one + "\t3\n" + two + "\t1\n" + two + "\t2\n", 0},
        {{"find", "--all", "--from", "2", "--tag", "200", one, two, "title"}, one + "\t3\n", 0},
        {{"find", "--all", "--from", "3", two, one, "title"}, one + "\t3\n", 0},
        {{"find", "--all", one, two, "absent"}, "", 1},
        {{"find", "--all", one, missing, two, "second"}, two + "\t1\n", 2, "cannot open '" + missing + "'"},
        {{"find", "--all", "--from", "0", one, two, "title"}, "", 2, "invalid record number '0'"},
        {{"find", one, two, "title"}, "", 2, "more than one FILE needs --all"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.arguments, " "));
        Finished run = sandbox.run(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(c.message.empty() ? run.err.empty() : run.err.find(c.message) != std::string::npos) << run.err;
    }
}

TEST_F(CliTest, CharacterSetsOfTheRecordsInShowFindAndCharset)
{
    // A GBK CNMARC record, a MARC 21 record in UTF-8 and one in MARC-8 ("é" as
    // a combining acute before the e).
    std::string utf8Record = MakeRecord({{"001", "u1"}, {"245", "10\x1f" "aCaf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87"}});
    utf8Record[9] = 'a';
    const std::string marc8Record = MakeRecord({{"001", "m1"}, {"008", "850101s1985    xx            000 0 eng d"},
                                                {"245", "10\x1f" "aCaf\xe2" "e"}});
    const std::string file = sandbox.writeFile("sets.mrc", kThreeRecords[1] + utf8Record + marc8Record);
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
        int exitCode = 0;
    };
    const std::vector<Case> cases{
        // Into a pipe: the bytes, as scripts have always read them.
        {{"show", file, "1"}, "001r2\n2001 $a" + kGbkChinese + "$fAuthor\n"},
        {{"show", "--utf8", file, "1", "3"},
         "001r2\n2001 $a中文$fAuthor\n001u1\n24510$aCafé 中文\n001m1\n008850101s1985    xx            000 0 eng d\n"
         "24510$aCafe\xcc\x81\n"},  // MARC-8's diacritic follows its letter as a combining mark
        // Read as GBK, the UTF-8 bytes give other characters: AD E6 lies in a
        // user-defined area and shows as its Private Use character (U+E15F).
        {{"show", "--utf8", "--charset", "gbk", file, "2"}, "001u1\n24510$aCaf茅 涓\xee\x85\x9f枃\n"},
        {{"find", "--all", file, "中文"}, "1\n2\n"},
        {{"find", "--all", file, "café"}, "2\n3\n"},
        {{"find", "--all", "--charset", "utf-8", file, "café"}, "2\n"},
        {{"charset", file}, "1\tgbk\t7\t0\n2\tutf-8\t1\t0\n3\tmarc-8\t5\t0\n"},
        {{"charset", file, "2", "3"}, "2\tutf-8\t1\t0\n3\tmarc-8\t5\t0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.arguments, " "));
        Finished run = sandbox.run(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(CliTest, AsciiRecordsAreToldAsAsciiAndShowAndFindAsBefore)
{
    std::string declared = MakeRecord({{"001", "a2"}, {"245", "10\x1f" "aPlain title"}});
    declared[9] = 'a';  // leader/09: UTF-8, yet nothing but ASCII
    const std::string file =
        sandbox.writeFile("ascii.mrc", MakeRecord({{"001", "a1"}, {"245", "10\x1f" "aPlain title"}}) + declared +
                                           MakeRecord({{"001", "g1"}, {"245", "10\x1f" "a" + kGbkChinese}}));
    Finished charset = sandbox.run({"charset", file});
    EXPECT_EQ(charset.exitCode, 0);
    EXPECT_EQ(charset.out, "1\tascii\t0\t0\n2\tascii\t0\t0\n3\tgbk\t7\t0\n");
    EXPECT_EQ(sandbox.run({"show", "--utf8", file, "1", "2"}).out,
              "001a1\n24510$aPlain title\n001a2\n24510$aPlain title\n");
    EXPECT_EQ(sandbox.run({"find", "--all", file, "plain"}).out, "1\n2\n");
}

TEST_F(CliTest, ShowOnATerminalWritesTheTerminalsCharacterSet)
{
    const std::string file = sandbox.writeFile("three.mrc", Joined(kThreeRecords));
    struct Case {
        const char* locale;
        std::vector<std::string> options;
        std::string expected;  // the title line as the terminal gets it
    };
    const Case cases[] = {
        {"C.UTF-8", {}, "2001 $a中文$fAuthor\r\n"},
        {"C.UTF-8", {"--raw"}, "2001 $a" + kGbkChinese + "$fAuthor\r\n"},
        {"C", {}, "2001 $a??$fAuthor\r\n"},  // ASCII cannot show the two characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        std::vector<std::string> arguments{"show"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.insert(arguments.end(), {file, "2"});
        const clitest::Finished run = sandbox.runOnTerminal(arguments, c.locale);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
    }
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
        // The signal is waited for before the pipe closes: otherwise a write
        // to the closed pipe may end the tool first.
        if (c.signal != 0)
            ::kill(pid, c.signal);
        else
            ::close(readFd);
        const Finished finished = sandbox.wait(pid);
        if (c.signal != 0)
            ::close(readFd);
        EXPECT_EQ(finished.signal, c.expectedSignal);
        EXPECT_EQ(finished.exitCode, c.expectedExitCode) << finished.err;
        EXPECT_TRUE(sandbox.leftovers().empty());
    }
}

}  // namespace
