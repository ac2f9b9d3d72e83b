// SPDX-License-Identifier: Apache-2.0
#include "commands/ExtractCommand.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "CommandSupport.h"
#include "RecordFileRun.h"
#include "display/RecordScan.h"
#include "files/RecordExtract.h"

namespace veltrane::cli {

namespace {

constexpr std::string_view kExtractHelp =
    "Copies records A to B of FILE byte for byte, separators included, into\n"
    "TARGET, which is created when missing. An existing TARGET is left alone\n"
    "unless one of the options says what to do with it.\n"
    "\n"
    "  --append       add the records after the content of an existing TARGET\n"
    "  --overwrite    replace the content of an existing TARGET\n";

struct ExtractOptions {
    ExistingTarget existingTarget = ExistingTarget::Refuse;
    std::string file;
    std::string first;
    std::string last;
    std::string target;
};

bool targetIsAcceptable(const ExtractOptions& options, const RecordFileRun& run)
{
    const std::string& target = options.target;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            tellError(quotedName(target) + " is a directory");
            return false;
        }
        if (options.existingTarget == ExistingTarget::Refuse) {
            tellError(quotedName(target) + " exists; give --append or --overwrite");
            return false;
        }
        // Overwriting would empty the record file before its records are read.
        const struct stat& recordFile = run.recordFileInfo();
        if (options.existingTarget == ExistingTarget::Overwrite && info.st_dev == recordFile.st_dev &&
            info.st_ino == recordFile.st_ino) {
            tellError(quotedName(target) + " is the record file itself; it cannot be overwritten with its own records");
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        tellError("cannot write " + quotedName(target) + ": " + std::strerror(errno));
        return false;
    }
    std::string::size_type slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        tellError("cannot write " + quotedName(target) + ": no such directory");
        return false;
    }
    return true;
}

int extract(const ExtractOptions& options, RecordFileRun& run)
{
    if (run.refuseEmptyFile())
        return kExitFailure;
    const std::optional<std::pair<int, int>> range = run.recordRange(options.first, options.last);
    if (!range || !targetIsAcceptable(options, run))
        return kExitFailure;

    const ScratchDisplay noDisplayFile{std::string()};  // the tool shows no display file
    TerminalPrompt& prompt = run.prompt();
    const ExtractResult result = ExtractRecords(prompt, noDisplayFile, run.fileName(), run.indexFileName(),
                                                range->first, range->second, options.target.c_str());
    switch (result.outcome) {
    case ExtractOutcome::Copied:
        return kExitSuccess;
    case ExtractOutcome::Declined:
        // Only an existing target without --append or --overwrite is declined.
        tellError(quotedName(options.target) + " exists; give --append or --overwrite");
        break;
    case ExtractOutcome::Failed:
        prompt.showMessage(result.message);
        break;
    case ExtractOutcome::QuestionUnavailable:
    case ExtractOutcome::Cancelled:
        tellError("cannot copy the records to " + quotedName(options.target));
        break;
    }
    return kExitFailure;
}

std::string parseArguments(const std::vector<std::string_view>& arguments, ExtractOptions& options, bool& help)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        if (isHelpOption(walker, *option)) {
            help = true;
            return {};
        }
        if (*option != "--append" && *option != "--overwrite")
            return unknownOption(*option);
        bool chosen = false;
        if (std::string error = takeFlag(walker, *option, chosen); !error.empty())
            return error;
        const ExistingTarget wanted = *option == "--append" ? ExistingTarget::Append : ExistingTarget::Overwrite;
        if (options.existingTarget != ExistingTarget::Refuse && options.existingTarget != wanted)
            return "options '--append' and '--overwrite' exclude each other";
        options.existingTarget = wanted;
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 4, 4, operands); !error.empty())
        return error;
    options.file = operands[0];
    options.first = operands[1];
    options.last = operands[2];
    options.target = operands[3];
    return {};
}

int runExtract(const std::vector<std::string_view>& arguments)
{
    ExtractOptions options;
    bool help = false;
    if (std::string error = parseArguments(arguments, options, help); !error.empty())
        return refuseUsage(kExtractCommand, error);
    if (help)
        return printCommandHelp(kExtractCommand, kExtractHelp);
    return runWithTemporaryFiles([&] {
        RecordFileRun run(options.file, options.existingTarget);
        if (int status = run.open(true); status != kExitSuccess)
            return status;
        return run.finishOutput(extract(options, run));
    });
}

}  // namespace

const CliCommand kExtractCommand{"extract", "extract [--append | --overwrite] FILE A B TARGET",
                                 "copy a range of records into another file", runExtract};

}  // namespace veltrane::cli
