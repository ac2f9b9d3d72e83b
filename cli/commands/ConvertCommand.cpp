// SPDX-License-Identifier: Apache-2.0
#include "commands/ConvertCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "CommandSupport.h"
#include "TargetOutput.h"
#include "files/FileAccess.h"
#include "formats/RecordConvert.h"

namespace veltrane::cli {

namespace {

int runConvertCommand(const std::vector<std::string_view>& arguments);

}  // namespace

const CliCommand kConvertCommand{
    "convert",
    "convert [--mode M] [--charset C] [--from FORMAT] --to FORMAT [--utf8] [-o TARGET [--overwrite]] FILE [A [B]]",
    "write records as ISO 2709, MARCXML, JSON, JSON Lines, .mrk, text or a long table (TSV)", runConvertCommand};

namespace {

constexpr std::string_view kConvertHelp =
    "Converts records of FILE (all, record A, or records A to B, numbered as\n"
    "count and show number them) into another format, on standard output or\n"
    "into TARGET.\n"
    "\n"
    "FORMAT is one of:\n"
    "  iso2709   standard ISO 2709 (0x1E, 0x1F, 0x1D), length, base address and\n"
    "            directory recomputed; the record's bytes are kept unless --utf8\n"
    "  marcxml   a MARC 21 slim collection in UTF-8\n"
    "  json      one array of MARC-in-JSON objects\n"
    "  jsonl     MARC-in-JSON, one record per line\n"
    "  mrk       mnemonic lines (=LDR, =245  10$a...), a blank line between records\n"
    "  text      the display text in UTF-8\n"
    "  tsv       the long table for data engines: a header line, then one row\n"
    "            for the leader, one per control field and one per subfield:\n"
    "            record, id (the 001), field (0 for the leader), tag (LDR),\n"
    "            ind1, ind2, subfield (0 but in data fields), code, value; tab,\n"
    "            CR, LF and backslash written as \\t, \\r, \\n and \\\\\n"
    "\n"
    "  --mode 0|1|2   delimiter variant of ISO 2709 input (see 'show --help'); in\n"
    "                 variants 1 and 2 a '$' before an ASCII letter or digit is a\n"
    "                 subfield delimiter, any other '$' is data\n"
    "  --charset C    the records' character set: auto (default), gbk, gb18030,\n"
    "                 utf-8 or marc-8\n"
    "  --from FORMAT  the format of FILE (default iso2709): marcxml, json, jsonl, mrk\n"
    "  --to FORMAT    the format to write\n"
    "  --utf8         with --to iso2709: convert the text to UTF-8, declared by\n"
    "                 leader byte 9 'a' (MARC 21) or 100 $a/26-27 '50' (UNIMARC)\n"
    "  -o TARGET      write into TARGET instead of standard output\n"
    "  --overwrite    replace an existing TARGET\n"
    "\n"
    "A record read only in part is converted as far as it goes, with a warning\n"
    "naming it. Exit status: 0 every record converted whole, 1 some only in part\n"
    "or no record found, 2 a usage error or a file that cannot be read or written\n"
    "(no TARGET is then left behind).\n";

struct ConvertArguments {
    ConvertOptions options;
    bool haveTo = false;
    bool overwrite = false;
    bool help = false;
    std::string file;
    std::string target;  ///< empty: standard output
};

std::string parseArguments(const std::vector<std::string_view>& arguments, ConvertArguments& parsed)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        const std::string name(*option);
        auto format = [&](RecordFormat& into) -> std::string {
            std::optional<std::string_view> value = walker.value();
            if (!value)
                return "option '" + name + "' needs a format: iso2709, marcxml, json, jsonl, mrk, text or tsv";
            std::optional<RecordFormat> f = ParseRecordFormat(*value);
            if (!f)
                return "unknown format '" + std::string(*value) + "': iso2709, marcxml, json, jsonl, mrk, text or tsv";
            into = *f;
            return {};
        };
        auto flag = [&](bool& into) -> std::string {
            if (walker.hasAttachedValue())
                return "option '" + name + "' takes no value";
            into = true;
            return {};
        };
        std::string error;
        if (name == "--help" || name == "-h") {
            parsed.help = true;
            return {};
        } else if (name == "--mode") {
            error = parseModeValue(walker.value(), parsed.options.mode);
        } else if (name == "--charset") {
            error = parseCharsetValue(walker.value(), parsed.options.charset);
        } else if (name == "--from") {
            error = format(parsed.options.from);
            if (error.empty() && (parsed.options.from == RecordFormat::Text || parsed.options.from == RecordFormat::Tsv))
                error = "the " + std::string(RecordFormatName(parsed.options.from)) +
                        " format cannot be read back; --from takes iso2709, marcxml, json, jsonl or mrk";
        } else if (name == "--to") {
            error = format(parsed.options.to);
            parsed.haveTo = true;
        } else if (name == "-o" || name == "--output") {
            error = parseTargetValue(walker.value(), parsed.target);
        } else if (name == "--overwrite") {
            error = flag(parsed.overwrite);
        } else if (name == "--utf8") {
            error = flag(parsed.options.utf8);
        } else {
            error = "unknown option '" + name + "'";
        }
        if (!error.empty())
            return error;
    }
    if (!parsed.haveTo)
        return "option '--to FORMAT' is required";
    if (parsed.overwrite && parsed.target.empty())
        return "option '--overwrite' needs '-o TARGET'";
    return parseFileAndRange(walker.operands(), walker.optionsEnded(), parsed.file, parsed.options.first,
                             parsed.options.last);
}

int runConvertCommand(const std::vector<std::string_view>& arguments)
{
    ConvertArguments parsed;
    if (std::string error = parseArguments(arguments, parsed); !error.empty())
        return refuseUsage(kConvertCommand, error);
    if (parsed.help)
        return printCommandHelp(kConvertCommand, kConvertHelp);

    struct stat info {};
    if (::stat(parsed.file.c_str(), &info) != 0) {
        tellError("cannot open " + quotedName(parsed.file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    if (S_ISDIR(info.st_mode)) {
        tellError(quotedName(parsed.file) + " is a directory");
        return kExitFailure;
    }
    if (parsed.options.from == RecordFormat::Iso2709 && !S_ISREG(info.st_mode)) {
        tellError(quotedName(parsed.file) + " is not a regular file");
        return kExitFailure;
    }
    fileaccess::UniqueFd input(::open(parsed.file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        tellError("cannot open " + quotedName(parsed.file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    const std::optional<fileaccess::FileIdentity> recordFile = fileaccess::identityOf(input.get());
    if (!recordFile) {
        tellError("cannot open " + quotedName(parsed.file) + ": " + std::strerror(errno));
        return kExitFailure;
    }

    TargetOutput target;
    int outputFd = STDOUT_FILENO;
    if (!parsed.target.empty()) {
        TargetOutput::installSignalHandlers();
        if (!target.open(parsed.target, parsed.overwrite ? ExistingTargetRule::Overwrite : ExistingTargetRule::Refuse,
                         "give --overwrite to replace it", recordFile))
            return kExitFailure;
        outputFd = target.fd();
    } else if (std::optional<fileaccess::FileIdentity> out = fileaccess::identityOf(STDOUT_FILENO);
               out && *out == *recordFile) {
        tellError("standard output is the record file itself; it cannot be a target");
        return kExitFailure;
    }

    auto warn = [](const ConvertWarning& warning) {
        tellError("record " + std::to_string(warning.number) + ": " + warning.problem);
    };
    const ConvertResult result = ConvertRecords(input.get(), outputFd, parsed.options, NoMonitor(), warn);
    switch (result.status) {
    case ConvertResult::Status::Done:
        break;
    case ConvertResult::Status::ReadError:
        tellError("cannot read " + quotedName(parsed.file) + ": " + std::strerror(result.error));
        return kExitFailure;
    case ConvertResult::Status::FormatError:
        tellError(quotedName(parsed.file) + " is not readable as " +
                  std::string(RecordFormatName(parsed.options.from)) + ": " + result.message);
        return kExitFailure;
    case ConvertResult::Status::WriteError:
        // A reader that went away (head, a closed pager) is not worth a message.
        if (!(parsed.target.empty() && result.error == EPIPE))
            tellError("cannot write " + (parsed.target.empty() ? std::string("the output") : quotedName(parsed.target)) +
                      ": " + std::strerror(result.error));
        return kExitFailure;
    case ConvertResult::Status::Cancelled:
        return kExitFailure;
    }
    const bool rangeGiven = parsed.options.first != 1 || parsed.options.last != std::numeric_limits<std::int64_t>::max();
    if (rangeGiven && parsed.options.first > result.records) {
        tellError("invalid record number " + std::to_string(parsed.options.first) + ": " + quotedName(parsed.file) +
                  " holds " + std::to_string(result.records) + " records");
        return kExitFailure;
    }
    if (rangeGiven && parsed.options.last != std::numeric_limits<std::int64_t>::max() &&
        parsed.options.last > result.records) {
        tellError("invalid record number " + std::to_string(parsed.options.last) + ": " + quotedName(parsed.file) +
                  " holds " + std::to_string(result.records) + " records");
        return kExitFailure;
    }
    // Nothing to convert is told, like a partial record: a file of filler
    // or of another format must not pass for an empty catalogue.
    if (result.records == 0)
        tellError("no record found in " + quotedName(parsed.file));
    if (!parsed.target.empty() && !target.commit())
        return kExitFailure;
    return result.partial > 0 || result.records == 0 ? kExitNothingFound : kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
