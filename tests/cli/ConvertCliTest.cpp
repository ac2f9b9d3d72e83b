// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "RecordFiles.h"

namespace {

using clitest::Finished;
using clitest::Sandbox;
using testsupport::Joined;
using testsupport::MakeRecord;
using testsupport::ReadFile;

const std::vector<std::string> kRecords{
    MakeRecord({{"001", "r1"}, {"245", "10\x1f" "aOne"}}),
    MakeRecord({{"001", "r2"}, {"245", "10\x1f" "aTwo"}}),
};
const std::string kMrk =
    "=LDR  00061nam0\\2200049\\\\\\4500\n=001  r1\n=245  10$aOne\n\n"
    "=LDR  00061nam0\\2200049\\\\\\4500\n=001  r2\n=245  10$aTwo\n\n";

class ConvertCliTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::vector<std::string> left = sandbox.leftovers();
        EXPECT_TRUE(left.empty()) << "left behind: " << Joined(left, " ");
    }
    /// Names in the folder of the record files other than those given.
    std::vector<std::string> extraFiles(const std::vector<std::string>& known) const
    {
        std::vector<std::string> extra;
        for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(sandbox.filePath("x")).parent_path())) {
            const std::string name = e.path().filename().string();
            if (std::find(known.begin(), known.end(), name) == known.end())
                extra.push_back(name);
        }
        return extra;
    }

    Sandbox sandbox;
};

TEST_F(ConvertCliTest, TargetsAndStatuses)
{
    const std::string file = sandbox.writeFile("in.mrc", Joined(kRecords));
    const std::string existing = sandbox.writeFile("existing.mrk", "old");
    const std::string fresh = sandbox.filePath("fresh.mrk");
    std::string cut = kRecords[1];
    cut[cut.size() - 2] = 'X';  // the last field's terminator
    const std::string partial = sandbox.writeFile("partial.mrc", kRecords[0] + cut);
    const std::string notXml = sandbox.writeFile("bad.xml", "<record><leader>");
    const std::string failed = sandbox.filePath("failed.mrc");
    // Filler bytes where a record would start: no leader is found.
    const std::string filler = sandbox.writeFile("filler.mrc", std::string(3, '\0') + "filler text\n");
    const std::string empty = sandbox.writeFile("empty.mrc", "");
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string message;  ///< part of standard error ("" for none)
    };
    const Case cases[] = {
        {{"convert", "--to", "mrk", file}, 0, kMrk, ""},
        {{"convert", "--to", "mrk", file, "2"}, 0, kMrk.substr(kMrk.size() / 2), ""},
        {{"convert", "--to", "mrk", "-o", fresh, file}, 0, "", ""},
        {{"convert", "--to", "mrk", "-o", existing, file}, 2, "", "exists; give --overwrite"},
        {{"convert", "--to", "iso2709", "--overwrite", "-o", file, file}, 2, "", "is the record file itself"},
        {{"convert", "--to", "iso2709", "-o", failed, "--from", "marcxml", notXml}, 2, "", "is not readable as marcxml"},
        {{"convert", "--to", "iso2709", "-o", failed, file, "3"}, 2, "", "holds 2 records"},
        // A range wholly past the end is told by its first number (fix tells its last).
        {{"convert", "--to", "mrk", file, "3", "4"}, 2, "", "invalid record number 3: '" + file + "' holds 2"},
        {{"convert", "--to", "mrk", sandbox.filePath(".")}, 2, "", "is a directory"},
        // Records in text formats may come from a device or a pipe; ISO 2709 is read from a file.
        {{"convert", "--from", "mrk", "--to", "mrk", "/dev/null"}, 1, "", "no record found in '/dev/null'"},
        {{"convert", "--to", "mrk", "/dev/null"}, 2, "", "'/dev/null' is not a regular file"},
        {{"convert", "--to", "mrk", partial}, 1, "", "record 2: field 245 does not end with its terminator"},
        {{"convert", "--to", "marcxml", filler}, 1, "<?xml", "no record found in '" + filler + "'"},
        {{"convert", "--to", "mrk", empty}, 1, "", "no record found in '" + empty + "'"},
        {{"convert", "--to", "pdf", file}, 2, "", "unknown format 'pdf'"},
        {{"convert", file}, 2, "", "'--to FORMAT' is required"},
        {{"check", file}, 0, "", ""},
        {{"check", partial}, 1, "2\t120\tr2\tfield-terminator\t", ""},
        {{"check", "--summary", partial}, 1, "field-terminator\t1\n", ""},
        {{"check", "--mode", "7", file}, 2, "", "delimiter mode must be 0, 1 or 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.arguments, " "));
        Finished run = sandbox.run(c.arguments);
        EXPECT_EQ(run.exitCode, c.status) << run.err;
        if (!c.out.empty())
            EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
        if (c.message.empty())
            EXPECT_EQ(run.err, "");
        else
            EXPECT_NE(run.err.find("veltrane-cli: "), std::string::npos);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(fresh), kMrk);
    EXPECT_EQ(ReadFile(existing), "old");
    EXPECT_EQ(ReadFile(file), Joined(kRecords));
    // No partial target of a failed conversion, no temporary file beside it.
    EXPECT_FALSE(std::filesystem::exists(failed));
    std::vector<std::string> extra = extraFiles({"in.mrc", "existing.mrk", "fresh.mrk", "partial.mrc", "bad.xml", "filler.mrc", "empty.mrc"});
    EXPECT_TRUE(extra.empty()) << Joined(extra, " ");

    Finished replaced = sandbox.run({"convert", "--to", "mrk", "--overwrite", "-o", existing, file});
    EXPECT_EQ(replaced.exitCode, 0);
    EXPECT_EQ(ReadFile(existing), kMrk);
}

TEST_F(ConvertCliTest, FixWritesThroughTheTargetAndTellsWhatItDid)
{
    std::string tabbed = MakeRecord({{"001", "r3"}, {"245", "10\x1f" "aT\tab"}});
    const std::string fixedTabbed = MakeRecord({{"001", "r3"}, {"245", "10\x1f" "aT ab"}});
    const std::string file = sandbox.writeFile("in.mrc", Joined(kRecords) + "junk" + tabbed);
    const std::string existing = sandbox.writeFile("existing.mrc", "old");
    const std::string fresh = sandbox.filePath("fresh.mrc");
    std::string cut = kRecords[1];
    cut[cut.size() - 2] = 'X';  // the last field's terminator
    const std::string partial = sandbox.writeFile("partial.mrc", kRecords[0] + cut);
    const std::string empty = sandbox.writeFile("empty.mrc", "");
    const std::string whole = Joined(kRecords) + fixedTabbed;
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string message;
    };
    const Case cases[] = {
        {{"fix", file}, 0, whole, "3 records, 1 repaired, 4 bytes between records left out"},
        {{"fix", file, "1", "2"}, 0, Joined(kRecords), "2 records, 0 repaired"},
        {{"fix", "-o", fresh, file}, 0, "", "1 repaired"},
        {{"fix", "-o", existing, file}, 2, "", "exists; give --overwrite"},
        {{"fix", "--overwrite", "-o", file, file}, 2, "", "is the record file itself"},
        {{"fix", "-o", fresh, "--dry-run", file}, 2, "", "it takes no '-o'"},
        {{"fix", partial}, 1, kRecords[0], "record 2: field 245 does not end with its terminator"},
        {{"fix", empty}, 1, "", "no record found in '" + empty + "'"},
        {{"fix", file, "4"}, 2, "", "holds 3 records"},
        {{"fix", file, "4", "5"}, 2, "", "invalid record number 5: '" + file + "' holds 3"},
        {{"fix", sandbox.filePath(".")}, 2, "", "is a directory"},
        {{"fix", "/dev/null"}, 2, "", "'/dev/null' is not a regular file"},
        {{"fix", "--dry-run", file}, 1, "junk: 4 bytes at byte 122 left out\n--- record 3 at byte 126\n", "1 to repair"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.arguments, " "));
        Finished run = sandbox.run(c.arguments);
        EXPECT_EQ(run.exitCode, c.status) << run.err;
        EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(fresh), whole);
    EXPECT_EQ(ReadFile(existing), "old");
    EXPECT_EQ(ReadFile(file), Joined(kRecords) + "junk" + tabbed);
    Finished replaced = sandbox.run({"fix", "--overwrite", "-o", existing, file});
    EXPECT_EQ(replaced.exitCode, 0);
    EXPECT_EQ(ReadFile(existing), whole);
    std::vector<std::string> extra = extraFiles({"in.mrc", "existing.mrc", "fresh.mrc", "partial.mrc", "empty.mrc"});
    EXPECT_TRUE(extra.empty()) << Joined(extra, " ");
}

TEST_F(ConvertCliTest, HelpNamesEveryFormatAndEveryCheckCode)
{
    Finished convertHelp = sandbox.run({"convert", "--help"});
    EXPECT_EQ(convertHelp.exitCode, 0);
    for (const char* format : {"iso2709", "marcxml", "json", "jsonl", "mrk", "text"})
        EXPECT_NE(convertHelp.out.find(format), std::string::npos) << format;
    Finished checkHelp = sandbox.run({"check", "--help"});
    EXPECT_EQ(checkHelp.exitCode, 0);
    for (const char* code : {"bad-utf8", "leader-characters", "indicator-count", "subfield-code-length", "entry-map",
                             "indicators", "empty-subfield"})
        EXPECT_NE(checkHelp.out.find(code), std::string::npos) << code;
    Finished overall = sandbox.run({"--help"});
    EXPECT_NE(overall.out.find("convert"), std::string::npos);
    EXPECT_NE(overall.out.find("check"), std::string::npos);
}

/// The codes `check --help` lists, with the severity it gives each content
/// code ("" for a structural one).
std::vector<std::pair<std::string, std::string>> helpCodes(const std::string& help)
{
    std::vector<std::pair<std::string, std::string>> codes;
    std::istringstream lines(help.substr(help.find("\nCodes:\n")));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.starts_with("  ") || line.starts_with("   "))
            continue;
        std::istringstream words(line);
        std::string code, next;
        words >> code >> next;
        codes.emplace_back(code, next == "warning:" ? "warning" : next == "error:" ? "error" : "");
    }
    return codes;
}

// A code the tool reports and its documents leave out, or give another
// severity, misleads whoever gates a load on it.
TEST_F(ConvertCliTest, TheManualAndTheReadmeGiveEveryCheckCodeItsSeverity)
{
    Finished help = sandbox.run({"check", "--help"});
    ASSERT_EQ(help.exitCode, 0);
    const std::vector<std::pair<std::string, std::string>> codes = helpCodes(help.out);
    ASSERT_GT(codes.size(), 30u);
    const std::string manual = ReadFile(VELTRANE_SOURCE_DIR "/packaging/man/veltrane-cli.1");
    const std::string readme = ReadFile(VELTRANE_SOURCE_DIR "/README.md");
    for (const auto& [code, severity] : codes) {
        SCOPED_TRACE(code);
        // The manual: ".B code", ".BR code ..." or ".BR other \", \" code" heads
        // the code's paragraph, which a warning's begins with "(w)".
        std::size_t at = manual.find("\n.B " + code + "\n");
        if (at == std::string::npos)
            at = manual.find("\n.BR " + code + " ");
        if (at == std::string::npos)
            at = manual.find("\", \" " + code + "\n");
        ASSERT_NE(at, std::string::npos);
        const std::size_t text = manual.find('\n', at + 1) + 1;
        if (!severity.empty())
            EXPECT_EQ(manual.compare(text, 3, "(w)") == 0, severity == "warning") << manual.substr(text, 60);
        // The README: one row of the table of content codes, with its severity.
        if (!severity.empty()) {
            const std::size_t row = readme.find("\n| `" + code + "`");
            const std::size_t shared = readme.find(", `" + code + "` |");
            ASSERT_FALSE(row == std::string::npos && shared == std::string::npos);
            const std::size_t found = row != std::string::npos ? row + 1 : readme.rfind("\n| ", shared) + 1;
            const std::string line = readme.substr(found, readme.find('\n', found) - found);
            EXPECT_NE(line.find("| " + severity + " |"), std::string::npos) << line;
        }
    }
    // Every command has its paragraph in the manual.
    for (const char* command : {"count", "index", "show", "find", "extract", "charset", "convert", "check", "fix",
                                "profile", "fetch"})
        EXPECT_TRUE(manual.find("\n.TP\n.BI " + std::string(command) + " ") != std::string::npos ||
                    manual.find("\n.TP\n.B " + std::string(command) + "\n") != std::string::npos)
            << command;
}

}  // namespace
