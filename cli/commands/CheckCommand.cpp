// SPDX-License-Identifier: Apache-2.0
#include "commands/CheckCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "CommandSupport.h"
#include "files/FileAccess.h"
#include "Output.h"
#include "check/RecordCheck.h"
#include "rules/RuleCheck.h"

namespace veltrane::cli {

namespace {

int runCheckCommand(const std::vector<std::string_view>& arguments);

}  // namespace

const CliCommand kCheckCommand{"check",
                               "check [--mode M] [--charset C] [--rules R] [--format tsv|jsonl] [--summary] "
                               "[--fail-on error|warning] FILE [A [B]]",
                               "list structural and content problems of records", runCheckCommand};

namespace {

std::string checkHelp()
{
    std::string text =
        "Checks the structure of the records of FILE (all, record A, or records A\n"
        "to B) and prints one line per problem, fields separated by tabs:\n"
        "  record-number  byte-offset  001-value  code  description\n"
        "Junk between records is told with the number of the record before it.\n"
        "\n"
        "  --mode 0|1|2   delimiter variant (see 'show --help')\n"
        "  --charset C    the records' character set: auto (default), gbk, gb18030,\n"
        "                 utf-8 or marc-8\n"
        "  --summary      print the number of problems of each code instead (content\n"
        "                 codes also per rule set: code, rules, count)\n"
        "  --rules R      also check each record's content against the rules of its\n"
        "                 format: none (default), auto (per record: MARC 21, or for a\n"
        "                 UNIMARC-shaped record CNMARC when it is read in GBK or\n"
        "                 GB18030 or its 801 $a is CN, else UNIMARC), marc21,\n"
        "                 unimarc or cnmarc; content findings follow each record's\n"
        "                 structural ones\n"
        "  --format F     tsv (default) or jsonl: one JSON object a line with record,\n"
        "                 offset, id, severity, code, rules, message, and tag,\n"
        "                 occurrence, indicator, subfield, position where they apply\n"
        "  --fail-on S    error or warning (default): the least severity that makes\n"
        "                 the exit status 1\n"
        "\n"
        "Codes:\n";
    // The meanings line up two columns after the longest code.
    std::size_t column = 0;
    for (const CheckCode& c : kCheckCodes)
        column = std::max(column, c.code.size() + 2);
    for (const CheckCode& c : kCheckCodes) {
        text += "  ";
        text += c.code;
        text += std::string(column - c.code.size(), ' ');
        text += c.meaning;
        text += '\n';
    }
    text += "\nContent codes (--rules), each an error or a warning:\n";
    for (const RuleCode& c : kRuleCodes)
        column = std::max(column, c.code.size() + 2);
    for (const RuleCode& c : kRuleCodes) {
        text += "  ";
        text += c.code;
        text += std::string(column - c.code.size(), ' ');
        text += SeverityName(c.severity);
        text += ": ";
        text += c.meaning;
        text += '\n';
    }
    text += "\nStructural problems are errors.\n"
            "\nExit status: 0 nothing found, 1 problems found (of the --fail-on severity\n"
            "or worse), 2 a usage error or a file that cannot be read.\n";
    return text;
}

/// Reads the value of a choice option; the error when it is missing or not one
/// of the choices.
template <typename Accept>
std::string parseChoice(std::optional<std::string_view> value, std::string_view option, std::string_view choices,
                        Accept accept)
{
    if (!value)
        return "option '" + std::string(option) + "' needs a value: " + std::string(choices);
    if (!accept(*value))
        return "unknown value '" + std::string(*value) + "' for " + std::string(option) + ": " + std::string(choices);
    return {};
}

std::string findingJson(const CheckProblem& p)
{
    std::string json = "{\"record\":" + std::to_string(p.number) + ",\"offset\":" + std::to_string(p.offset) +
                       ",\"id\":" + jsonString(p.controlNumber) + ",\"severity\":" +
                       jsonString(SeverityName(p.severity)) + ",\"code\":" + jsonString(p.code) +
                       ",\"rules\":" + jsonString(RuleSetName(p.rules)) + ",\"message\":" + jsonString(p.description);
    if (!p.tag.empty())
        json += ",\"tag\":" + jsonString(p.tag);
    if (p.occurrence > 0)
        json += ",\"occurrence\":" + std::to_string(p.occurrence);
    if (p.indicator > 0)
        json += ",\"indicator\":" + std::to_string(p.indicator);
    if (p.subfield != 0)
        json += ",\"subfield\":" + jsonString(PrintableBytes({reinterpret_cast<const unsigned char*>(&p.subfield), 1}));
    if (p.position >= 0)
        json += ",\"position\":" + std::to_string(p.position);
    return json + "}\n";
}

/// The counts per structural code, as ever, then per content code and rule set.
void writeSummary(StandardOutput& output, const ProblemTally& tally, bool jsonl)
{
    auto write = [&](std::string_view code, std::optional<RuleSet> rules, std::uint64_t count) {
        if (jsonl)
            output.write("{\"code\":" + jsonString(code) +
                         (rules ? ",\"rules\":" + jsonString(RuleSetName(*rules)) : std::string()) +
                         ",\"count\":" + std::to_string(count) + "}\n");
        else
            output.write(std::string(code) + (rules ? "\t" + std::string(RuleSetName(*rules)) : std::string()) + '\t' +
                         std::to_string(count) + '\n');
    };
    for (const CheckCode& c : kCheckCodes)
        if (const std::uint64_t count = tally.count(c.code, std::nullopt); count > 0)
            write(c.code, std::nullopt, count);
    for (const RuleCode& c : kRuleCodes)
        for (const RuleSet set : {RuleSet::Marc21, RuleSet::Marc21Authority, RuleSet::Unimarc, RuleSet::Cnmarc})
            if (const std::uint64_t count = tally.count(c.code, set); count > 0)
                write(c.code, set, count);
}

int runCheckCommand(const std::vector<std::string_view>& arguments)
{
    CheckOptions options;
    bool summary = false;
    bool jsonl = false;
    bool failOnWarning = true;
    std::string file;
    ArgumentWalker walker(arguments);
    std::string error;
    while (std::optional<std::string_view> option = walker.nextOption()) {
        if (*option == "--help" || *option == "-h")
            return printCommandHelp(kCheckCommand, checkHelp());
        if (*option == "--mode")
            error = parseModeValue(walker.value(), options.mode);
        else if (*option == "--charset")
            error = parseCharsetValue(walker.value(), options.charset);
        else if (*option == "--summary" && !walker.hasAttachedValue())
            summary = true;
        else if (*option == "--rules")
            error = parseChoice(walker.value(), "--rules", "none, auto, marc21, unimarc or cnmarc",
                                [&](std::string_view v) {
                                    const auto setting = ParseRuleSetting(v);
                                    if (setting)
                                        options.rules = *setting;
                                    return setting.has_value();
                                });
        else if (*option == "--format")
            error = parseChoice(walker.value(), "--format", "tsv or jsonl", [&](std::string_view v) {
                jsonl = v == "jsonl";
                return v == "tsv" || v == "jsonl";
            });
        else if (*option == "--fail-on")
            error = parseChoice(walker.value(), "--fail-on", "error or warning", [&](std::string_view v) {
                failOnWarning = v == "warning";
                return v == "error" || v == "warning";
            });
        else
            error = "unknown option '" + std::string(*option) + "'";
        if (!error.empty())
            break;
    }
    if (error.empty())
        error = parseFileAndRange(walker.operands(), walker.optionsEnded(), file, options.first, options.last);
    if (!error.empty())
        return refuseUsage(kCheckCommand, error);

    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        tellError("cannot open " + quotedName(file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    if (!S_ISREG(info.st_mode)) {
        tellError(quotedName(file) + (S_ISDIR(info.st_mode) ? " is a directory" : " is not a regular file"));
        return kExitFailure;
    }
    fileaccess::UniqueFd input(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        tellError("cannot open " + quotedName(file) + ": " + std::strerror(errno));
        return kExitFailure;
    }

    StandardOutput output;
    ProblemTally tally;
    std::uint64_t failing = 0;
    std::string line;
    auto report = [&](const CheckProblem& p) {
        if (failOnWarning || p.severity == Severity::Error)
            ++failing;
        if (jsonl) {
            output.write(findingJson(p));
            return;
        }
        line.clear();
        line += std::to_string(p.number);
        line += '\t';
        line += std::to_string(p.offset);
        line += '\t';
        line += p.controlNumber;
        line += '\t';
        line += p.code;
        line += '\t';
        line += p.description;
        line += '\n';
        output.write(line);
    };
    const CheckResult result = summary ? CountProblems(input.get(), options, NoMonitor(), tally)
                                       : CheckRecords(input.get(), options, NoMonitor(), report);
    if (summary)
        failing = failOnWarning ? tally.total() : tally.count(Severity::Error);
    if (result.status == CheckResult::Status::ReadError) {
        output.flush();
        tellError("cannot read " + quotedName(file) + ": " + std::strerror(result.error));
        return kExitFailure;
    }
    const bool rangeGiven = options.first != 1 || options.last != std::numeric_limits<std::int64_t>::max();
    const std::int64_t wanted = options.last == std::numeric_limits<std::int64_t>::max() ? options.first : options.last;
    if (rangeGiven && wanted > result.records) {
        output.flush();
        tellError("invalid record number " + std::to_string(wanted) + ": " + quotedName(file) + " holds " +
                  std::to_string(result.records) + " records");
        return kExitFailure;
    }
    if (summary)
        writeSummary(output, tally, jsonl);
    if (!output.flush()) {
        if (output.error() != EPIPE)
            tellError(std::string("cannot write the output: ") + std::strerror(output.error()));
        return kExitFailure;
    }
    return failing > 0 ? kExitNothingFound : kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
