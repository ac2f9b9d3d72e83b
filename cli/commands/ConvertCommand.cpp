// SPDX-License-Identifier: Apache-2.0
#include "commands/ConvertCommand.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "CommandSupport.h"
#include "files/FileAccess.h"
#include "files/TargetFile.h"
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

// The temporary target, removed when a signal ends the process. Only a fixed
// buffer and a flag, so the handler can read them safely.
char g_partialTarget[PATH_MAX];
volatile sig_atomic_t g_partialTargetActive = 0;

extern "C" void removePartialTargetAndReraise(int signalNumber)
{
    if (g_partialTargetActive)
        ::unlink(g_partialTarget);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    ::raise(signalNumber);
}

void installPartialTargetHandlers()
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old {};
        ::sigaction(signalNumber, nullptr, &old);
        if (old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = removePartialTargetAndReraise;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
}

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
            std::optional<std::string_view> value = walker.value();
            if (!value || value->empty())
                error = "option '-o' needs a TARGET file";
            else
                parsed.target = *value;
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

/// TARGET as the engine's target-file transaction writes it: beside, renamed
/// into place only when everything went well, so a failed run leaves no
/// partial target. The file beside is removed when a signal ends the process.
class ConvertTarget {
public:
    ~ConvertTarget() { discard(); }

    /// Refuses an existing TARGET without --overwrite, a directory, and the
    /// record file itself; creates the file beside it.
    bool open(const std::string& target, bool overwrite, const fileaccess::FileIdentity& recordFile)
    {
        m_target = target;
        TargetWrite write = TargetWrite::Create;
        struct stat info {};
        if (::stat(target.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode)) {
                tellError(quotedName(target) + " is a directory");
                return false;
            }
            if (fileaccess::FileIdentity{info.st_dev, info.st_ino} == recordFile) {
                tellError(quotedName(target) + " is the record file itself; it cannot be a target");
                return false;
            }
            if (!overwrite) {
                tellError(quotedName(target) + " exists; give --overwrite to replace it");
                return false;
            }
            write = TargetWrite::Overwrite;
        } else if (errno != ENOENT) {
            tellError("cannot write " + quotedName(target) + ": " + std::strerror(errno));
            return false;
        }
        constexpr std::size_t kBesideNameExtra = std::string_view(".").size() + std::string_view(".veltrane-XXXXXX").size();
        if (target.size() + kBesideNameExtra >= sizeof g_partialTarget) {
            tellError("cannot write " + quotedName(target) + ": the name is too long");
            return false;
        }
        // The file beside and its entry for the signal handler come and go together.
        sigset_t all, previous;
        sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &previous);
        const int error = m_file.open(target, write, TargetPlacement::Beside);
        if (error == 0) {
            const std::string& temporary = m_file.temporaryPath();
            std::memcpy(g_partialTarget, temporary.c_str(), temporary.size() + 1);
            g_partialTargetActive = 1;
        }
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (error != 0) {
            tellError("cannot write " + quotedName(target) + ": " + std::strerror(error));
            return false;
        }
        return true;
    }

    [[nodiscard]] int fd() const { return m_file.fd(); }

    /// Puts the written file in TARGET's place.
    bool commit()
    {
        const int error = m_file.commit();
        g_partialTargetActive = 0;
        if (error != 0) {
            tellError("cannot write " + quotedName(m_target) + ": " + std::strerror(error));
            return false;
        }
        return true;
    }

    void discard()
    {
        m_file.rollback();
        g_partialTargetActive = 0;
    }

private:
    std::string m_target;
    TargetFile m_file;
};

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

    ConvertTarget target;
    int outputFd = STDOUT_FILENO;
    if (!parsed.target.empty()) {
        installPartialTargetHandlers();
        if (!target.open(parsed.target, parsed.overwrite, *recordFile))
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
