// SPDX-License-Identifier: Apache-2.0
#include "commands/ConvertCommand.h"

#include <limits>
#include <optional>
#include <string>

#include "CommandSupport.h"
#include "RecordsToTarget.h"
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
    RecordsToTargetArguments shared;
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
        std::string error;
        if (std::optional<std::string> shared = readSharedOption(walker, name, parsed.options, parsed.shared)) {
            if (parsed.shared.help)
                return {};
            error = *shared;
        } else if (name == "--from") {
            error = format(parsed.options.from);
            if (error.empty() && (parsed.options.from == RecordFormat::Text || parsed.options.from == RecordFormat::Tsv))
                error = "the " + std::string(RecordFormatName(parsed.options.from)) +
                        " format cannot be read back; --from takes iso2709, marcxml, json, jsonl or mrk";
        } else if (name == "--to") {
            error = format(parsed.options.to);
            parsed.haveTo = true;
        } else {
            error = unknownOption(name);
        }
        if (!error.empty())
            return error;
    }
    if (!parsed.haveTo)
        return "option '--to FORMAT' is required";
    return finishSharedArguments(walker, parsed.options, parsed.shared);
}

int runConvertCommand(const std::vector<std::string_view>& arguments)
{
    ConvertArguments parsed;
    if (std::string error = parseArguments(arguments, parsed); !error.empty())
        return refuseUsage(kConvertCommand, error);
    if (parsed.shared.help)
        return printCommandHelp(kConvertCommand, kConvertHelp);
    const std::string& file = parsed.shared.file;

    // Text formats may come from a pipe or a device; ISO 2709 is framed from a file.
    RecordsToTarget run(parsed.shared);
    if (int status = run.open(parsed.options.from == RecordFormat::Iso2709); status != kExitSuccess)
        return status;

    auto warn = [](const ConvertWarning& warning) {
        tellError("record " + std::to_string(warning.number) + ": " + warning.problem);
    };
    const ConvertResult result = ConvertRecords(run.inputFd(), run.outputFd(), parsed.options, NoMonitor(), warn);
    switch (result.status) {
    case ConvertResult::Status::Done:
        break;
    case ConvertResult::Status::ReadError:
        return run.failedToRead(result.error);
    case ConvertResult::Status::FormatError:
        tellError(quotedName(file) + " is not readable as " + std::string(RecordFormatName(parsed.options.from)) +
                  ": " + result.message);
        return kExitFailure;
    case ConvertResult::Status::WriteError:
        return run.failedToWrite(result.error);
    case ConvertResult::Status::Cancelled:
        return kExitFailure;
    }
    const bool rangeGiven = parsed.options.first != 1 || parsed.options.last != std::numeric_limits<std::int64_t>::max();
    if (rangeGiven && parsed.options.first > result.records) {
        tellError("invalid record number " + std::to_string(parsed.options.first) + ": " + quotedName(file) +
                  " holds " + std::to_string(result.records) + " records");
        return kExitFailure;
    }
    if (rangeGiven && parsed.options.last != std::numeric_limits<std::int64_t>::max() &&
        parsed.options.last > result.records) {
        tellError("invalid record number " + std::to_string(parsed.options.last) + ": " + quotedName(file) +
                  " holds " + std::to_string(result.records) + " records");
        return kExitFailure;
    }
    // Nothing to convert is told, like a partial record: a file of filler
    // or of another format must not pass for an empty catalogue.
    if (result.records == 0)
        tellError("no record found in " + quotedName(file));
    if (!run.commit())
        return kExitFailure;
    return result.partial > 0 || result.records == 0 ? kExitNothingFound : kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
