// SPDX-License-Identifier: Apache-2.0
#include "commands/CheckCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "CommandSupport.h"
#include "files/FileAccess.h"
#include "Output.h"
#include "check/RecordCheck.h"

namespace veltrane::cli {

namespace {

int runCheckCommand(const std::vector<std::string_view>& arguments);

}  // namespace

const CliCommand kCheckCommand{"check", "check [--mode M] [--charset C] [--summary] FILE [A [B]]",
                               "list structural problems of records", runCheckCommand};

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
        "  --summary      print the number of problems of each code instead\n"
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
    text += "\nExit status: 0 nothing found, 1 problems found, 2 a usage error or a file\n"
            "that cannot be read.\n";
    return text;
}

int runCheckCommand(const std::vector<std::string_view>& arguments)
{
    CheckOptions options;
    bool summary = false;
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
    std::map<std::string_view, std::uint64_t> counts;
    std::string line;
    auto report = [&](const CheckProblem& p) {
        if (summary) {
            ++counts[p.code];
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
    const CheckResult result = CheckRecords(input.get(), options, NoMonitor(), report);
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
        for (const CheckCode& c : kCheckCodes)
            if (auto found = counts.find(c.code); found != counts.end()) {
                output.write(std::string(c.code) + '\t' + std::to_string(found->second) + '\n');
            }
    if (!output.flush()) {
        if (output.error() != EPIPE)
            tellError(std::string("cannot write the output: ") + std::strerror(output.error()));
        return kExitFailure;
    }
    return result.problems > 0 ? kExitNothingFound : kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
