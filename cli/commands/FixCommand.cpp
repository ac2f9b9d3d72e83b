// SPDX-License-Identifier: Apache-2.0
#include "commands/FixCommand.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "CommandSupport.h"
#include "RecordsToTarget.h"
#include "formats/RecordRepair.h"

namespace veltrane::cli {

namespace {

int runFixCommand(const std::vector<std::string_view>& arguments);

}  // namespace

const CliCommand kFixCommand{
    "fix", "fix [--mode M] [--charset C] [--dry-run] [--utf8] [-o TARGET [--overwrite]] FILE [A [B]]",
    "write records with their safe repairs made (structure, leader/09, tabs and line ends)", runFixCommand};

namespace {

constexpr std::string_view kFixHelp =
    "Writes the records of FILE (all, record A, or records A to B) as standard\n"
    "ISO 2709 with the repairs that need no cataloguer's judgement, on standard\n"
    "output or into TARGET; FILE itself is never changed:\n"
    "  - record length, base address and directory recomputed from the fields\n"
    "    as the reader reads them, and the leader's layout bytes (10-11 \"22\",\n"
    "    20-23 \"4500\"); leader bytes that are no character become blanks;\n"
    "  - junk between and after records left out;\n"
    "  - MARC 21 leader/09 set to what the record's bytes are: 'a' for UTF-8,\n"
    "    blank for MARC-8 (a record of ASCII keeps its own);\n"
    "  - a tab, CR or LF in data replaced by a blank.\n"
    "A record that needs none of these is written byte for byte as it was.\n"
    "\n"
    "  --mode 0|1|2   delimiter variant of FILE (see 'show --help'); the records\n"
    "                 are written with the standard delimiters\n"
    "  --charset C    the records' character set: auto (default), gbk, gb18030,\n"
    "                 utf-8 or marc-8\n"
    "  --utf8         also convert the text to UTF-8, declared by leader/09 'a'\n"
    "                 (MARC 21) or 100 $a/26-27 '50' (UNIMARC, CNMARC)\n"
    "  --dry-run      write nothing but, per record that would change, a line\n"
    "                 naming it and what is mended, then the unified diff of its\n"
    "                 mnemonic (.mrk) lines; junk to be left out is named too\n"
    "  -o TARGET      write into TARGET instead of standard output\n"
    "  --overwrite    replace an existing TARGET\n"
    "\n"
    "Bytes the reader cannot place (a field cut short, bytes after a field's\n"
    "terminator or between its indicators and first subfield, a record over\n"
    "99,999 bytes) are told per record on standard error. The number of records\n"
    "read, repaired and told ends standard error.\n"
    "\n"
    "Exit status: 0 every record written whole, 1 some record told (or, with\n"
    "--dry-run, anything that would change) or no record found, 2 a usage error\n"
    "or a file that cannot be read or written (no TARGET is then left behind).\n";

// Beyond this many losses in one record the rest are counted, not listed.
constexpr std::size_t kLossesListed = 10;

struct FixArguments {
    RepairOptions options;
    RecordsToTargetArguments shared;
};

std::string parseArguments(const std::vector<std::string_view>& arguments, FixArguments& parsed)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        const std::string name(*option);
        std::string error;
        if (std::optional<std::string> shared = readSharedOption(walker, name, parsed.options, parsed.shared)) {
            if (parsed.shared.help)
                return {};
            error = *shared;
        } else if (name == "--dry-run") {
            error = takeFlag(walker, name, parsed.options.dryRun);
        } else {
            error = unknownOption(name);
        }
        if (!error.empty())
            return error;
    }
    if (parsed.options.dryRun && !parsed.shared.target.empty())
        return "option '--dry-run' writes only the changes, on standard output; it takes no '-o'";
    return finishSharedArguments(walker, parsed.options, parsed.shared);
}

std::string countText(std::int64_t n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + ' ' + std::string(n == 1 ? one : many);
}

int runFixCommand(const std::vector<std::string_view>& arguments)
{
    FixArguments parsed;
    if (std::string error = parseArguments(arguments, parsed); !error.empty())
        return refuseUsage(kFixCommand, error);
    if (parsed.shared.help)
        return printCommandHelp(kFixCommand, kFixHelp);
    const std::string& file = parsed.shared.file;

    RecordsToTarget run(parsed.shared);
    if (int status = run.open(true); status != kExitSuccess)
        return status;

    auto tell = [](std::int64_t number, std::uint64_t, const RecordRepair& repair) {
        const std::string record = "record " + std::to_string(number) + ": ";
        for (std::size_t i = 0; i < repair.losses.size() && i < kLossesListed; ++i)
            tellError(record + repair.losses[i]);
        if (repair.losses.size() > kLossesListed)
            tellError(record + "and " + countText(static_cast<std::int64_t>(repair.losses.size() - kLossesListed),
                                                  "more problem", "more problems"));
    };
    const RepairResult result = RepairRecords(run.inputFd(), run.outputFd(), parsed.options, NoMonitor(), tell);
    switch (result.status) {
    case RepairResult::Status::Done:
        break;
    case RepairResult::Status::ReadError:
        return run.failedToRead(result.error);
    case RepairResult::Status::WriteError:
        return run.failedToWrite(result.error);
    case RepairResult::Status::Cancelled:
        return kExitFailure;
    }
    const bool rangeGiven = parsed.options.first != 1 || parsed.options.last != std::numeric_limits<std::int64_t>::max();
    const std::int64_t wanted =
        parsed.options.last == std::numeric_limits<std::int64_t>::max() ? parsed.options.first : parsed.options.last;
    if (rangeGiven && wanted > result.records) {
        tellError("invalid record number " + std::to_string(wanted) + ": " + quotedName(file) + " holds " +
                  std::to_string(result.records) + " records");
        return kExitFailure;
    }
    if (result.records == 0) {
        tellError("no record found in " + quotedName(file));
    } else {
        const std::int64_t taken = std::min(result.records, parsed.options.last) - parsed.options.first + 1;
        std::string summary = countText(taken, "record", "records") + ", " +
                              std::to_string(result.repaired) + (parsed.options.dryRun ? " to repair" : " repaired");
        if (result.partial > 0)
            summary += ", " + std::to_string(result.partial) + " not whole";
        if (result.dropped > 0)
            summary += ", " + countText(static_cast<std::int64_t>(result.dropped), "byte", "bytes") +
                       " between records left out";
        tellError(summary);
    }
    if (!run.commit())
        return kExitFailure;
    if (result.records == 0 || result.partial > 0)
        return kExitNothingFound;
    if (parsed.options.dryRun && (result.repaired > 0 || result.dropped > 0))
        return kExitNothingFound;
    return kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
