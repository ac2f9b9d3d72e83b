// SPDX-License-Identifier: Apache-2.0
#include "commands/ShowCommand.h"

#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "CommandSupport.h"
#include "RecordFileRun.h"
#include "iso2709/RecordLayout.h"
#include "TerminalText.h"
#include "charset/Charset.h"
#include "display/DisplayText.h"
#include "display/RecordTextWriter.h"
#include "display/RecordScan.h"
#include "files/FileAccess.h"
#include "files/RecordFile.h"

namespace veltrane::cli {

namespace {

constexpr std::string_view kShowHelp =
    "Writes the display text of record N, or of records N to M one after\n"
    "another, to standard output: one line per field, tag first, subfields\n"
    "shown as '$', long fields wrapped into indented continuation lines.\n"
    "Into a pipe or a file the text is the records' own bytes; on a terminal it\n"
    "is converted from each record's character set to the terminal's ('?' for a\n"
    "character it cannot show).\n"
    "\n"
    "  --mode 0|1|2   delimiter variant: 0 field terminator 0x1E and subfield\n"
    "                 delimiter 0x1F (default), 1 '#' and '$', 2 0x1E and '$'\n"
    "  --charset SET  the records' character set: auto (default: decided for\n"
    "                 each record), gbk, gb18030, utf-8 or marc-8\n"
    "  --utf8         write the text in UTF-8, wrapped at 77 display columns\n"
    "  --raw          write the records' bytes, even on a terminal\n";

struct ShowOptions {
    DelimiterMode mode = dmNormal;  ///< delimiter variant
    CharsetSetting charset = CharsetSetting::Auto;
    bool rawBytes = false;
    bool utf8 = false;
    std::string file;
    std::string first;
    std::optional<std::string> last;
};

int show(const ShowOptions& options, RecordFileRun& run)
{
    if (run.refuseEmptyFile())
        return kExitFailure;
    const std::optional<std::pair<int, int>> range = run.recordRange(options.first, options.last);
    if (!range)
        return kExitFailure;
    RecordFile records;
    if (!records.openRecords(run.fileName())) {
        tellError(fileaccess::kInvalidDriveMessage);
        return kExitFailure;
    }
    if (!records.openIndex(run.indexFileName())) {
        tellError(fileaccess::kIndexFileMessage);
        return kExitFailure;
    }
    // Scripts read the bytes; a person at a terminal reads text.
    enum class Shown { Bytes, Utf8, Terminal };
    const Shown shown = options.rawBytes          ? Shown::Bytes
                        : options.utf8            ? Shown::Utf8
                        : ::isatty(STDOUT_FILENO) ? Shown::Terminal
                                                  : Shown::Bytes;
    // Read as text, a GBK record's lines are those of its display bytes.
    TextCodec codec;
    RecordTextWriter writer(codec, {options.charset, options.mode, GbkTextLayout::DisplayBytes});
    std::optional<TerminalText> terminal;
    if (shown == Shown::Terminal)
        terminal.emplace();
    StandardOutput& output = run.output();
    auto text = std::make_unique<DisplayText>();
    std::string utf8;
    int status = kExitSuccess;
    for (int k = range->first; k <= range->second && !output.failed(); ++k) {
        if (records.read(k) == Outcome::Done) {
            if (shown == Shown::Bytes) {
                writer.writeDisplayBytes(records.fields(), *text);
                output.write(text->text());
            } else {
                utf8.clear();
                (void)writer.writeText(records.fields(), utf8);
                output.write(shown == Shown::Terminal ? terminal->convert(utf8) : utf8);
            }
            continue;
        }
        output.flush();
        tellError("record " + std::to_string(k) + " cannot be shown: it is short or unreadable");
        status = kExitNothingFound;
    }
    return status;
}

std::string parseArguments(const std::vector<std::string_view>& arguments, ShowOptions& options, bool& help)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        std::string error;
        if (isHelpOption(walker, *option)) {
            help = true;
            return {};
        }
        if (*option == "--mode")
            error = parseModeValue(walker.value(), options.mode);
        else if (*option == "--charset")
            error = parseSearchCharsetValue(walker.value(), options.charset);
        else if (*option == "--utf8" || *option == "--raw") {
            error = takeFlag(walker, *option, *option == "--utf8" ? options.utf8 : options.rawBytes);
            if (error.empty() && options.utf8 && options.rawBytes)
                error = "options '--utf8' and '--raw' exclude each other";
        } else
            error = unknownOption(*option);
        if (!error.empty())
            return error;
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 2, 3, operands); !error.empty())
        return error;
    options.file = operands[0];
    options.first = operands[1];
    if (operands.size() > 2)
        options.last = std::string(operands[2]);
    return {};
}

int runShow(const std::vector<std::string_view>& arguments)
{
    ShowOptions options;
    bool help = false;
    if (std::string error = parseArguments(arguments, options, help); !error.empty())
        return refuseUsage(kShowCommand, error);
    if (help)
        return printCommandHelp(kShowCommand, kShowHelp);
    return runWithTemporaryFiles([&] {
        RecordFileRun run(options.file);
        if (int status = run.open(true); status != kExitSuccess)
            return status;
        return run.finishOutput(show(options, run));
    });
}

}  // namespace

const CliCommand kShowCommand{"show", "show [--mode 0|1|2] [--charset SET] [--utf8 | --raw] FILE N [M]",
                              "print the display text of records", runShow};

}  // namespace veltrane::cli
