// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "CommandTable.h"
#include "RecordFiles.h"

namespace {

using clitest::Finished;
using clitest::Sandbox;
using testsupport::Joined;
using testsupport::MakeRecord;
using veltrane::cli::allCommands;
using veltrane::cli::CliCommand;

const std::string kTwoRecords = MakeRecord({{"001", "r1"}, {"200", "1 \x1f" "aTitle one"}}) +
                                MakeRecord({{"001", "r2"}, {"200", "1 \x1f" "aTitle two"}});

std::string commandUsage(const CliCommand& command)
{
    return "usage: veltrane-cli " + std::string(command.usage) + "\n       veltrane-cli " + std::string(command.name) +
           " --help\n";
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class CommandTableTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::vector<std::string> left = sandbox.leftovers();
        EXPECT_TRUE(left.empty()) << "left behind: " << Joined(left, " ");
    }

    Sandbox sandbox;
};

TEST_F(CommandTableTest, EveryCommandOfTheTableHasItsHelpUsageAndUnknownOption)
{
    std::set<std::string_view> names;
    const std::string overall = veltrane::cli::overallUsage();
    for (const CliCommand* command : allCommands()) {
        SCOPED_TRACE(std::string(command->name));
        EXPECT_TRUE(names.insert(command->name).second) << "listed twice";
        EXPECT_EQ(veltrane::cli::findCommand(command->name), command);
        EXPECT_NE(overall.find("veltrane-cli " + std::string(command->usage) + "\n"), std::string::npos);

        for (const char* help : {"--help", "-h"}) {
            const Finished run = sandbox.run({std::string(command->name), help});
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_TRUE(run.out.starts_with("usage: veltrane-cli " + std::string(command->usage) + "\n\n")) << run.out;
            EXPECT_EQ(run.err, "");
        }
        const Finished unknown = sandbox.run({std::string(command->name), "--no-such-option", "x"});
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_EQ(unknown.out, "");
        EXPECT_EQ(unknown.err, "veltrane-cli: unknown option '--no-such-option'\n" + commandUsage(*command));
    }
    EXPECT_EQ(veltrane::cli::findCommand("help"), nullptr);
}

// One row per case: the arguments ({file} a file of two records, {missing} a
// name that does not exist), the status, the message on standard error (the
// usage of the command follows a usage error) and the start of the output.
struct Row {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
    bool usageFollows = false;
    std::string outputStart = "";
};

TEST_F(CommandTableTest, OptionsUsageErrorsAndExitStatusOfEachCommand)
{
    const std::string file = sandbox.writeFile("two.mrc", kTwoRecords);
    const std::string existing = sandbox.writeFile("existing.mrc", "old");
    const std::string missing = sandbox.filePath("missing.mrc");
    const std::string lateOption =
        "option --late after the operands: options come first, and '--' before an operand that begins with '-'";
    const std::vector<Row> rows{
        // count and index take no option and one FILE.
        {{"count", "{file}"}, 0, "", false, "2\n"},
        {{"count", "--", "{file}"}, 0, "", false, "2\n"},
        {{"count"}, 2, "missing operand", true},
        {{"count", "{file}", "extra"}, 2, "unexpected operand 'extra'", true},
        {{"count", "{file}", "--late"}, 2, lateOption, true},
        {{"count", "--help=yes"}, 2, "unknown option '--help'", true},
        {{"count", "{missing}"}, 2, "cannot open '{missing}': No such file or directory"},
        {{"index", "{file}"}, 0, "", false, "0\n"},
        {{"index", "{file}", "1"}, 2, "unexpected operand '1'", true},
        // show
        {{"show", "{file}", "2"}, 0, "", false, "001r2\n"},
        {{"show", "--mode", "1", "{file}", "1"}, 0, "", false, "001r1"},
        {{"show", "--mode=2", "--charset=gbk", "--raw", "{file}", "1", "2"}, 0, "", false, "001r1"},
        {{"show", "--utf8", "{file}", "1"}, 0, "", false, "001r1\n"},
        {{"show", "--mode", "3", "{file}", "1"}, 2, "delimiter mode must be 0, 1 or 2, not '3'", true},
        {{"show", "--mode"}, 2, "option '--mode' needs a value: 0, 1 or 2", true},
        {{"show", "--charset", "latin-1", "{file}", "1"}, 2,
         "character set must be auto, gbk, gb18030, utf-8 or marc-8, not 'latin-1'", true},
        {{"show", "--utf8", "--raw", "{file}", "1"}, 2, "options '--utf8' and '--raw' exclude each other", true},
        {{"show", "--raw", "--utf8", "{file}", "1"}, 2, "options '--utf8' and '--raw' exclude each other", true},
        {{"show", "--utf8=yes", "{file}", "1"}, 2, "option '--utf8' takes no value", true},
        {{"show", "--tag", "200", "{file}", "1"}, 2, "unknown option '--tag'", true},
        {{"show", "{file}"}, 2, "missing operand", true},
        {{"show", "{file}", "1", "2", "3"}, 2, "unexpected operand '3'", true},
        {{"show", "{file}", "3"}, 2, "invalid record number '3': record number must be between 1 and 2"},
        {{"show", "{file}", "2", "1"}, 2, "the last record number 1 is below the first 2"},
        // find
        {{"find", "{file}", "two"}, 0, "", false, "2\n"},
        {{"find", "--all", "--case", "{file}", "Title"}, 0, "", false, "1\n2\n"},
        {{"find", "--case", "{file}", "TITLE"}, 1, ""},
        {{"find", "--tag=200", "--from", "2", "--raw", "{file}", "Title"}, 0, "", false, "2\n"},
        {{"find", "--all", "{file}", "{file}", "two"}, 0, "", false, "{file}\t2\n{file}\t2\n"},
        {{"find", "--all", "{missing}", "{file}", "two"}, 2, "cannot open '{missing}': No such file or directory",
         false, "{file}\t2\n"},
        {{"find", "{file}", "{file}", "two"}, 2, "more than one FILE needs --all", true},
        {{"find", "--tag", "20", "{file}", "x"}, 2, "option '--tag' needs a field tag of three characters, e.g. 200",
         true},
        {{"find", "--from"}, 2, "option '--from' needs a record number", true},
        {{"find", "--from", "4", "{file}", "x"}, 2,
         "invalid record number '4': record number must be between 1 and 3 (the file holds 2 records; from 3 on "
         "nothing is found)"},
        {{"find", "--from", "0", "{file}", "x"}, 2,
         "invalid record number '0': record number must be between 1 and 3 (the file holds 2 records; from 3 on "
         "nothing is found)"},
        {{"find", "--from", "3", "{file}", "x"}, 1, ""},
        {{"find", "--all=yes", "{file}", "x"}, 2, "option '--all' takes no value", true},
        {{"find", "--utf8", "{file}", "x"}, 2, "unknown option '--utf8'", true},
        {{"find", "{file}"}, 2, "missing operand", true},
        {{"find", "{file}", ""}, 2, "TEXT is empty"},
        // charset
        {{"charset", "--mode", "1", "{file}"}, 0, "", false, "1\t"},
        {{"charset", "{file}", "2"}, 0, "", false, "2\t"},
        {{"charset", "--charset", "gbk", "{file}"}, 2, "unknown option '--charset'", true},
        {{"charset", "{file}", "1", "2", "3"}, 2, "unexpected operand '3'", true},
        {{"charset", "{file}", "0"}, 2, "invalid record number '0': record number must be between 1 and 2"},
        // extract (the rows leave no new file behind)
        {{"extract", "--append", "{file}", "1", "1", "{existing}"}, 0, ""},
        {{"extract", "{file}", "1", "1", "{existing}"}, 2, "'{existing}' exists; give --append or --overwrite"},
        {{"extract", "--append", "--overwrite", "{file}", "1", "1", "{existing}"}, 2,
         "options '--append' and '--overwrite' exclude each other", true},
        {{"extract", "--overwrite=yes", "{file}", "1", "1", "{existing}"}, 2, "option '--overwrite' takes no value",
         true},
        {{"extract", "--mode", "1", "{file}", "1", "1", "{existing}"}, 2, "unknown option '--mode'", true},
        {{"extract", "{file}", "1", "1"}, 2, "missing operand", true},
        {{"extract", "{file}", "1", "1", "{existing}", "more"}, 2, "unexpected operand 'more'", true},
        // convert
        {{"convert", "--to", "mrk", "{file}", "2"}, 0, "", false, "=LDR  "},
        {{"convert", "--to=jsonl", "--mode", "0", "--charset", "gbk", "{file}"}, 0, "", false, "{"},
        {{"convert", "{file}"}, 2, "option '--to FORMAT' is required", true},
        {{"convert", "--to", "pdf", "{file}"}, 2,
         "unknown format 'pdf': iso2709, marcxml, json, jsonl, mrk, text or tsv", true},
        {{"convert", "--from", "text", "--to", "mrk", "{file}"}, 2,
         "the text format cannot be read back; --from takes iso2709, marcxml, json, jsonl or mrk", true},
        {{"convert", "--to", "mrk", "--overwrite", "{file}"}, 2, "option '--overwrite' needs '-o TARGET'", true},
        {{"convert", "--to", "mrk", "-o", "", "{file}"}, 2, "option '-o' needs a TARGET file", true},
        {{"convert", "--to", "mrk", "--utf8=yes", "{file}"}, 2, "option '--utf8' takes no value", true},
        {{"convert", "--to", "mrk", "{file}", "1", "2", "3"}, 2, "unexpected operand '3'", true},
        {{"convert", "--to", "mrk", "{file}", "0"}, 2, "invalid record number '0': record numbers start at 1", true},
        {{"convert", "--to", "mrk", "-o", "{existing}", "{file}"}, 2,
         "'{existing}' exists; give --overwrite to replace it"},
        {{"convert", "--to", "mrk", "{file}", "3"}, 2, "invalid record number 3: '{file}' holds 2 records"},
        // check
        {{"check", "{file}"}, 0, ""},
        {{"check", "--summary", "--mode=0", "--charset", "utf-8", "{file}", "1", "2"}, 0, ""},
        {{"check", "--summary=yes", "{file}"}, 2, "unknown option '--summary'", true},
        {{"check", "--charset", "x", "{file}"}, 2,
         "unknown character set 'x': auto, gbk, gb18030, utf-8 or marc-8", true},
        {{"check", "--mode", "4", "{file}"}, 2, "delimiter mode must be 0, 1 or 2, not '4'", true},
        {{"check", "{file}", "2", "1"}, 2, "the last record number 1 is below the first 2", true},
        {{"check", "{file}", "--late"}, 2, lateOption, true},
        {{"check"}, 2, "missing operand", true},
        {{"check", "{file}", "5"}, 2, "invalid record number 5: '{file}' holds 2 records"},
        {{"check", "--rules", "unimarc", "{file}", "1"}, 1, "", false, "1\t0\tr1\tmissing-field\tfield 801 is missing\n"},
        {{"check", "--rules=unimarc", "--format", "jsonl", "{file}", "2"}, 1, "", false, "{\"record\":2,\"offset\":"},
        {{"check", "--rules", "unimarc", "--summary", "{file}"}, 1, "", false, "missing-field\tunimarc\t2\n"},
        {{"check", "--rules", "x", "{file}"}, 2, "unknown value 'x' for --rules: none, auto, marc21, unimarc or cnmarc",
         true},
        {{"check", "--format"}, 2, "option '--format' needs a value: tsv or jsonl", true},
        {{"check", "--fail-on", "info", "{file}"}, 2, "unknown value 'info' for --fail-on: error or warning", true},
        // profile
        {{"profile", "{file}"}, 0, "", false, "records\tsmallest\tmedian\tlargest\n2\t"},
        {{"profile", "--format=json", "--mode", "1", "--charset", "gbk", "{file}", "2"}, 0, "", false,
         "{\"records\":1,"},
        {{"profile", "--format", "csv", "{file}"}, 2, "unknown format 'csv': tsv or json", true},
        {{"profile", "--format"}, 2, "option '--format' needs a value: tsv or json", true},
        {{"profile", "--charset", "x", "{file}"}, 2,
         "unknown character set 'x': auto, gbk, gb18030, utf-8 or marc-8", true},
        {{"profile", "{file}", "2", "1"}, 2, "the last record number 1 is below the first 2", true},
        {{"profile"}, 2, "missing operand", true},
        {{"profile", "{file}", "3"}, 2, "invalid record number 3: '{file}' holds 2 records"},
        {{"profile", "{missing}"}, 2, "cannot open '{missing}': No such file or directory"},
    };
    auto filled = [&](const std::string& text) {
        return replaced(replaced(replaced(text, "{file}", file), "{missing}", missing), "{existing}", existing);
    };
    for (const Row& row : rows) {
        std::vector<std::string> arguments;
        for (const std::string& argument : row.arguments)
            arguments.push_back(filled(argument));
        SCOPED_TRACE(Joined(row.arguments, " "));
        const Finished run = sandbox.run(arguments);
        EXPECT_EQ(run.exitCode, row.exitCode);
        std::string expectedErr = row.message.empty() ? "" : "veltrane-cli: " + filled(row.message) + "\n";
        if (row.usageFollows)
            expectedErr += commandUsage(*veltrane::cli::findCommand(row.arguments[0]));
        EXPECT_EQ(run.err, expectedErr);
        EXPECT_TRUE(run.out.starts_with(filled(row.outputStart))) << run.out;
        if (row.usageFollows) {
            EXPECT_EQ(run.out, "");
        }
    }
    EXPECT_EQ(testsupport::ReadFile(existing), "old" + kTwoRecords.substr(0, kTwoRecords.size() / 2));
}

TEST_F(CommandTableTest, TheToolsOwnOptionsAndUnknownCommands)
{
    const std::string overall = veltrane::cli::overallUsage();
    const std::vector<Row> rows{
        {{}, 2, "no command given", true},
        {{"list"}, 2, "unknown command 'list'", true},
        {{"--list"}, 2, "unknown option '--list'", true},
        {{"--help=yes"}, 2, "unknown option '--help=yes'", true},
        {{"--help", "show"}, 2, "unexpected argument 'show'", true},
        {{"--version", "x"}, 2, "unexpected argument 'x'", true},
        {{"--version"}, 0, "", false, "veltrane-cli "},
        {{"--help"}, 0, "", false, "veltrane-cli: read MARC (ISO 2709) record files"},
        {{"-h"}, 0, "", false, "veltrane-cli: read MARC (ISO 2709) record files"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Joined(row.arguments, " "));
        const Finished run = sandbox.run(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.err, row.message.empty() ? "" : "veltrane-cli: " + row.message + "\n" + overall);
        EXPECT_TRUE(run.out.starts_with(row.outputStart)) << run.out;
    }
    // The overall help lists the usage of every command, and names each under "Commands:".
    const std::string help = sandbox.run({"--help"}).out;
    EXPECT_NE(help.find(overall), std::string::npos);
    const std::size_t commands = help.find("\nCommands:\n");
    ASSERT_NE(commands, std::string::npos);
    for (const CliCommand* command : allCommands())
        EXPECT_NE(help.find("\n  " + std::string(command->name) + " ", commands), std::string::npos) << command->name;
}

}  // namespace
