// SPDX-License-Identifier: Apache-2.0
#include "commands/FindCommand.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "RecordFileRun.h"
#include "iso2709/RecordLayout.h"
#include "SearchTextConversion.h"
#include "files/RecordFile.h"
#include "search/RecordSearch.h"

namespace veltrane::cli {

namespace {

constexpr std::string_view kFindHelp =
    "Prints the number of the first record from N on that holds TEXT; with\n"
    "--all, the number of every such record, one a line. A match lies within one\n"
    "field (its tag included); '$' before a letter or digit stands for the\n"
    "subfield delimiter, so '$aTitle' finds subfield a starting with Title.\n"
    "TEXT is converted from the terminal's character set into each record's set\n"
    "and compared there (MARC-8 records as decoded text).\n"
    "\n"
    "With --all, several FILEs may be given: each is searched in turn and each\n"
    "line is then FILE, a tab and the record number. Exit status 0 when any\n"
    "record was found, 1 when none was, 2 when a FILE could not be read (it is\n"
    "told, and the other FILEs are still searched).\n"
    "\n"
    "  --mode 0|1|2   delimiter variant (see 'show --help')\n"
    "  --charset SET  the records' character set (see 'show --help'); a TEXT that\n"
    "                 one given set cannot hold is refused\n"
    "  --case         distinguish upper and lower case letters\n"
    "  --from N       start at record N (default 1), in each FILE\n"
    "  --tag TAG      a match must lie within a field with this three-character\n"
    "                 tag, e.g. 200 or 245\n"
    "  --all          print every matching record, not only the first\n"
    "  --raw          search for the bytes of TEXT as given, unconverted\n";

struct FindOptions {
    DelimiterMode mode = dmNormal;  ///< delimiter variant
    CharsetSetting charset = CharsetSetting::Auto;
    bool caseSensitive = false;
    bool allMatches = false;
    bool rawText = false;  ///< TEXT as bytes
    std::optional<std::string> from;
    std::string tag;  ///< three tag bytes, or empty for any field
    std::vector<std::string> files;  ///< several only with --all
    std::string text;
};

/// TEXT as it is searched for: the bytes given (--raw), or the typed text
/// compared with each record in its own set; nothing (told) when it cannot
/// be searched for.
std::optional<SearchQuery> searchQuery(const FindOptions& options)
{
    const std::string& text = options.text;
    if (text.empty()) {
        tellError("TEXT is empty");
        return std::nullopt;
    }
    SearchQuery query{text, options.caseSensitive, options.mode, options.tag, {}, options.charset};
    std::size_t length = text.size();
    const char* unit = " bytes";
    if (!options.rawText) {
        TypedSearchText converted = convertSearchText(text, options.charset);
        if (!converted.error.empty()) {
            tellError(converted.error);
            return std::nullopt;
        }
        query.pattern.clear();
        query.text = std::move(converted.utf8);
        length = converted.searchedLength;
        unit = " bytes in the records' character set";
    }
    if (length > kMaxSearchTextLength) {
        tellError("TEXT is " + std::to_string(length) + unit + "; at most " + std::to_string(kMaxSearchTextLength) +
                  " are searched");
        return std::nullopt;
    }
    return query;
}

/// Tells a --from outside the numbers a search of `count` records takes: 1 to
/// count + 1, the last finding nothing (as a search from the record after the
/// last hit does when that hit was the last record).
void tellFromOutOfRange(std::string_view from, std::int64_t count)
{
    tellError("invalid record number " + quotedName(from) + ": record number must be between 1 and " +
              std::to_string(count + 1) + " (the file holds " + std::to_string(count) + " record" +
              (count == 1 ? "" : "s") + "; from " + std::to_string(count + 1) + " on nothing is found)");
}

/// Searches one file. One of several files starts each line with the file's
/// name and a tab, and takes a --from beyond the file's records as nothing
/// found.
int findInFile(const FindOptions& options, const SearchQuery& query, const std::string& file, bool oneOfSeveral,
               bool& outputFailed)
{
    RecordFileRun run(file);
    // A search frames the records as it reads them and needs no index.
    if (int status = run.open(false); status != kExitSuccess)
        return status;
    StandardOutput& output = run.output();
    auto finish = [&](int status) {
        status = run.finishOutput(status);
        outputFailed = output.failed();
        return status;
    };
    // A well-formed --from is checked against the count the search itself
    // makes; only a malformed one needs a count first, for its message.
    std::int64_t from = 1;
    if (options.from) {
        std::optional<int> number = parseRecordNumber(*options.from, INT_MAX);
        if (!number) {
            if (std::optional<std::int64_t> count = run.countRecords())
                tellFromOutOfRange(*options.from, *count);
            return finish(kExitFailure);
        }
        from = *number;
    }
    bool found = false;
    const Status searched =
        SearchRecordStream(run.recordFd(), from, query, NoMonitor(), [&](std::int64_t record, std::string_view) {
            found = true;
            if (oneOfSeveral) {
                output.write(file);
                output.write("\t");
            }
            output.writeLine(static_cast<unsigned long long>(record));
            return options.allMatches && !output.failed();
        });
    if (searched.outcome == Outcome::FileError) {
        output.flush();
        run.tellUnreadable();
        return finish(kExitFailure);
    }
    if (!found && from > 1 && !oneOfSeveral) {
        std::optional<std::int64_t> count = run.countRecords();
        if (!count)
            return finish(kExitFailure);
        if (from > *count + 1) {
            tellFromOutOfRange(*options.from, *count);
            return finish(kExitFailure);
        }
    }
    return finish(found ? kExitSuccess : kExitNothingFound);
}

/// find --all over several files, one after another: a file that cannot be
/// read is told and the others are still searched.
int findInFiles(const FindOptions& options, const SearchQuery& query)
{
    if (options.from && !parseRecordNumber(*options.from, INT_MAX)) {
        tellError("invalid record number " + quotedName(*options.from) +
                  ": record number must be a whole number from 1");
        return kExitFailure;
    }
    bool found = false, failed = false;
    for (const std::string& file : options.files) {
        bool outputFailed = false;
        const int status = findInFile(options, query, file, true, outputFailed);
        // Output that cannot be written (a reader that went away) ends it all.
        if (outputFailed)
            return kExitFailure;
        found = found || status == kExitSuccess;
        failed = failed || status == kExitFailure;
    }
    // A file that was not searched weighs more than the hits of the others.
    return failed ? kExitFailure : found ? kExitSuccess : kExitNothingFound;
}

std::string parseArguments(const std::vector<std::string_view>& arguments, FindOptions& options, bool& help)
{
    ArgumentWalker walker(arguments);
    while (std::optional<std::string_view> option = walker.nextOption()) {
        std::string error;
        if (isHelpOption(walker, *option)) {
            help = true;
            return {};
        }
        if (*option == "--mode") {
            error = parseModeValue(walker.value(), options.mode);
        } else if (*option == "--from") {
            if (std::optional<std::string_view> value = walker.value())
                options.from = std::string(*value);
            else
                error = "option '--from' needs a record number";
        } else if (*option == "--tag") {
            std::optional<std::string_view> value = walker.value();
            if (value && value->size() == 3)
                options.tag = std::string(*value);
            else
                error = "option '--tag' needs a field tag of three characters, e.g. 200";
        } else if (*option == "--charset") {
            error = parseSearchCharsetValue(walker.value(), options.charset);
        } else if (*option == "--case") {
            error = takeFlag(walker, *option, options.caseSensitive);
        } else if (*option == "--all") {
            error = takeFlag(walker, *option, options.allMatches);
        } else if (*option == "--raw") {
            error = takeFlag(walker, *option, options.rawText);
        } else {
            error = unknownOption(*option);
        }
        if (!error.empty())
            return error;
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 2, operands.max_size(), operands); !error.empty())
        return error;
    if (operands.size() > 2 && !options.allMatches)
        return "more than one FILE needs --all";
    options.files.assign(operands.begin(), operands.end() - 1);
    options.text = operands.back();
    return {};
}

int runFind(const std::vector<std::string_view>& arguments)
{
    FindOptions options;
    bool help = false;
    if (std::string error = parseArguments(arguments, options, help); !error.empty())
        return refuseUsage(kFindCommand, error);
    if (help)
        return printCommandHelp(kFindCommand, kFindHelp);
    return runWithTemporaryFiles([&] {
        // A bad TEXT is told before a large file is read.
        const std::optional<SearchQuery> query = searchQuery(options);
        if (!query)
            return kExitFailure;
        if (options.files.size() > 1)
            return findInFiles(options, *query);
        bool outputFailed = false;
        return findInFile(options, *query, options.files.front(), false, outputFailed);
    });
}

}  // namespace

const CliCommand kFindCommand{
    "find", "find [--mode 0|1|2] [--charset SET] [--case] [--from N] [--tag TAG] [--all] [--raw] FILE [FILE...] TEXT",
    "print the numbers of records that hold a text", runFind};

}  // namespace veltrane::cli
