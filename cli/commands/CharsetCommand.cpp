// SPDX-License-Identifier: Apache-2.0
#include "commands/CharsetCommand.h"

#include <optional>
#include <string>

#include "CommandSupport.h"
#include "RecordFileRun.h"
#include "iso2709/RecordLayout.h"
#include "charset/Charset.h"
#include "display/DecodedText.h"
#include "display/RecordScan.h"
#include "files/FileAccess.h"
#include "files/RecordFile.h"

namespace veltrane::cli {

namespace {

constexpr std::string_view kCharsetHelp =
    "Prints, for every record (or record N, or records N to M), its number, the\n"
    "character set the automatic rules give it (gbk, gb18030, utf-8 or marc-8),\n"
    "the number of the rule that decided, and the count of bytes not valid in\n"
    "that set, separated by tabs. A record with no byte above 0x7F and no ESC\n"
    "reads the same in every set: it is ascii, rule 0.\n"
    "\n"
    "  --mode 0|1|2   delimiter variant (see 'show --help')\n";

struct CharsetOptions {
    DelimiterMode mode = dmNormal;  ///< delimiter variant
    std::string file;
    std::string first;  ///< empty: every record
    std::optional<std::string> last;
};

int printCharsets(const CharsetOptions& options, RecordFileRun& run)
{
    int first = 1, last = run.count();
    if (!options.first.empty()) {
        if (run.refuseEmptyFile())
            return kExitFailure;
        const std::optional<std::pair<int, int>> range = run.recordRange(options.first, options.last);
        if (!range)
            return kExitFailure;
        std::tie(first, last) = *range;
    }
    RecordFile records;
    if (!records.openRecords(run.fileName()) || !records.openIndex(run.indexFileName())) {
        tellError(records.recordsFd() < 0 ? fileaccess::kInvalidDriveMessage : fileaccess::kIndexFileMessage);
        return kExitFailure;
    }
    StandardOutput& output = run.output();
    TextCodec codec;
    int status = kExitSuccess;
    for (int k = first; k <= last && !output.failed(); ++k) {
        if (records.read(k) != Outcome::Done) {
            output.flush();
            tellError("record " + std::to_string(k) + " cannot be read: it is short or unreadable");
            status = kExitNothingFound;
            continue;
        }
        const CharsetDecision decision = DetectCharset(records.fields());
        const std::size_t invalid =
            RenderDecodedDisplayText(codec, decision.charset, records.fields(), FieldTerminator(options.mode),
                                     SubfieldDelimiter(options.mode))
                .invalidBytes;
        const ToldCharset told = TellCharset(CharsetSetting::Auto, decision, records.fields());
        output.write(std::to_string(k) + "\t" + std::string(told.name) + "\t" +
                     std::to_string(CharsetRuleNumber(told.rule)) + "\t" + std::to_string(invalid) + "\n");
    }
    return status;
}

std::string parseArguments(const std::vector<std::string_view>& arguments, CharsetOptions& options, bool& help)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        if (isHelpOption(walker, *option)) {
            help = true;
            return {};
        }
        if (*option != "--mode")
            return unknownOption(*option);
        if (std::string error = parseModeValue(walker.value(), options.mode); !error.empty())
            return error;
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 1, 3, operands); !error.empty())
        return error;
    options.file = operands[0];
    if (operands.size() > 1)
        options.first = operands[1];
    if (operands.size() > 2)
        options.last = std::string(operands[2]);
    return {};
}

int runCharset(const std::vector<std::string_view>& arguments)
{
    CharsetOptions options;
    bool help = false;
    if (std::string error = parseArguments(arguments, options, help); !error.empty())
        return refuseUsage(kCharsetCommand, error);
    if (help)
        return printCommandHelp(kCharsetCommand, kCharsetHelp);
    return runWithTemporaryFiles([&] {
        RecordFileRun run(options.file);
        if (int status = run.open(true); status != kExitSuccess)
            return status;
        return run.finishOutput(printCharsets(options, run));
    });
}

}  // namespace

const CliCommand kCharsetCommand{"charset", "charset [--mode 0|1|2] FILE [N [M]]",
                                 "print each record's character set and the rule that decided it",
                                 runCharset};

}  // namespace veltrane::cli
