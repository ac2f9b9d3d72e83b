#include "CliApp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CheckCommand.h"
#include "CommandLine.h"
#include "ConvertCommand.h"
#include "Output.h"
#include "display/DisplayText.h"
#include "files/FileAccess.h"
#include "files/RecordExtract.h"
#include "files/RecordFile.h"
#include "files/RecordIndex.h"
#include "iso2709/RecordLayout.h"
#include "display/RecordScan.h"
#include "iso2709/RecordStream.h"
#include "SearchTextConversion.h"
#include "TemporaryFiles.h"
#include "TerminalText.h"
#include "common/UserPrompt.h"

namespace veltrane::cli {

namespace {

void tell(std::string_view message)
{
    std::fprintf(stderr, "veltrane-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

/// Answers the engine without a window: its messages go to standard error and
/// the overwrite question is answered by the command-line options.
class TerminalPrompt final : public UserPrompt {
public:
    explicit TerminalPrompt(ExistingTarget existingTarget) : m_existingTarget(existingTarget) {}

    void showMessage(std::string_view text) override
    {
        m_toldFailure = true;
        tell(text);
    }

    OverwriteChoice askOverwrite(std::string_view) override
    {
        switch (m_existingTarget) {
        case ExistingTarget::Append:
            return OverwriteChoice::Append;
        case ExistingTarget::Overwrite:
            return OverwriteChoice::Overwrite;
        case ExistingTarget::Refuse:
            break;
        }
        m_refusedOverwrite = true;
        return OverwriteChoice::Cancel;
    }

    /// Whether a message was shown since the last call (then clears it).
    bool takeToldFailure() { return std::exchange(m_toldFailure, false); }
    [[nodiscard]] bool refusedOverwrite() const { return m_refusedOverwrite; }

private:
    ExistingTarget m_existingTarget;
    bool m_toldFailure = false;
    bool m_refusedOverwrite = false;
};

/// find's TEXT as it is searched for: the bytes given (--raw), or the typed
/// text compared with each record in its own set; nothing (told) when it
/// cannot be searched for.
std::optional<SearchQuery> searchQuery(const Invocation& invocation)
{
    const std::string& text = invocation.text;
    if (text.empty()) {
        tell("TEXT is empty");
        return std::nullopt;
    }
    SearchQuery query{text, invocation.caseSensitive, invocation.mode, invocation.tag, {}, invocation.charset};
    std::size_t length = text.size();
    const char* unit = " bytes";
    if (!invocation.rawText) {
        TypedSearchText converted = convertSearchText(text, invocation.charset);
        if (!converted.error.empty()) {
            tell(converted.error);
            return std::nullopt;
        }
        query.pattern.clear();
        query.text = std::move(converted.utf8);
        length = converted.searchedLength;
        unit = " bytes in the records' character set";
    }
    if (length > kMaxSearchTextLength) {
        tell("TEXT is " + std::to_string(length) + unit + "; at most " + std::to_string(kMaxSearchTextLength) +
             " are searched");
        return std::nullopt;
    }
    return query;
}

/// One run of a command over one record file. A find that is one of several
/// files' starts each line with the file's name and a tab, and takes a --from
/// beyond the file's records as nothing found.
class CommandRun {
public:
    explicit CommandRun(const Invocation& invocation, bool oneOfSeveral = false)
        : m_invocation(invocation), m_prompt(invocation.existingTarget), m_oneOfSeveral(oneOfSeveral)
    {
    }

    int run()
    {
        // A bad TEXT is told before a large file is indexed.
        if (m_invocation.command == Command::Find) {
            m_query = searchQuery(m_invocation);
            if (!m_query)
                return kExitFailure;
        }
        // A search and a count frame the records as they read them and need
        // no index.
        const bool needsIndex = m_invocation.command != Command::Find && m_invocation.command != Command::Count;
        if (int status = openRecordFile(needsIndex); status != kExitSuccess)
            return status;
        int status = kExitFailure;
        switch (*m_invocation.command) {
        case Command::Count:
            if (const std::optional<std::int64_t> count = countRecords()) {
                m_output.writeLine(static_cast<unsigned long long>(*count));
                status = kExitSuccess;
            }
            break;
        case Command::Index:
            status = printIndex();
            break;
        case Command::Show:
            status = show();
            break;
        case Command::Find:
            status = find();
            break;
        case Command::Extract:
            status = extract();
            break;
        case Command::Charset:
            status = printCharsets();
            break;
        }
        return finishOutput(status);
    }

    [[nodiscard]] bool outputFailed() const { return m_output.failed(); }

private:
    const char* fileName() const { return m_invocation.file.c_str(); }
    const char* indexFileName() const { return m_indexFileName.c_str(); }

    int openRecordFile(bool needsIndex)
    {
        struct stat info {};
        if (::stat(fileName(), &info) != 0) {
            tell("cannot open " + quoted(m_invocation.file) + ": " + std::strerror(errno));
            return kExitFailure;
        }
        if (S_ISDIR(info.st_mode)) {
            tell(quoted(m_invocation.file) + " is a directory");
            return kExitFailure;
        }
        // Records are read by position, more than once: a pipe or a device
        // cannot serve that.
        if (!S_ISREG(info.st_mode)) {
            tell(quoted(m_invocation.file) + " is not a regular file");
            return kExitFailure;
        }
        int fd = ::open(fileName(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            tell("cannot open " + quoted(m_invocation.file) + ": " + std::strerror(errno));
            return kExitFailure;
        }
        m_recordFd = fileaccess::UniqueFd(fd);
        m_recordFile = info;
        if (!needsIndex)
            return kExitSuccess;

        std::string error;
        std::optional<std::string> createdIndex = createIndexFile(m_prompt, error);
        if (!createdIndex) {
            if (!error.empty())
                tell(error);
            return kExitFailure;
        }
        m_indexFileName = *createdIndex;
        m_count = BuildRecordIndex(fileName(), indexFileName());
        if (m_count < 0) {
            tell("cannot index " + quoted(m_invocation.file) + " (unreadable file or no room in the temporary directory)");
            return kExitFailure;
        }
        return kExitSuccess;
    }

    /// Reads a record number within [1, maximum]; tells why not otherwise.
    std::optional<int> recordNumber(std::string_view text, int maximum)
    {
        std::optional<int> number = parseRecordNumber(text, maximum);
        if (!number)
            tell("invalid record number " + quoted(text) + ": record number must be between 1 and " +
                 std::to_string(maximum));
        return number;
    }

    bool refuseEmptyFile()
    {
        if (m_count > 0)
            return false;
        tell(quoted(m_invocation.file) + " holds no record");
        return true;
    }

    int printIndex()
    {
        // The index is read front to back in blocks: memory stays fixed
        // whatever the number of records.
        int fd = ::open(indexFileName(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            tell(std::string("cannot read the index: ") + std::strerror(errno));
            return kExitFailure;
        }
        const std::uint64_t wanted = static_cast<std::uint64_t>(m_count) + 1;  // the sentinel ends it
        std::uint64_t printed = 0;
        unsigned char block[kIndexEntrySize * 4096];
        std::size_t kept = 0;
        while (printed < wanted && !m_output.failed()) {
            ssize_t n = ::read(fd, block + kept, sizeof block - kept);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            std::size_t available = kept + static_cast<std::size_t>(n);
            std::size_t used = 0;
            for (; used + kIndexEntrySize <= available && printed < wanted; used += kIndexEntrySize, ++printed)
                m_output.writeLine(DecodeIndexEntry(block + used));
            kept = available - used;
            std::memmove(block, block + used, kept);
        }
        ::close(fd);
        if (printed < wanted && !m_output.failed()) {
            tell("cannot read the index: it ends early");
            return kExitFailure;
        }
        return kExitSuccess;
    }

    int show()
    {
        if (refuseEmptyFile())
            return kExitFailure;
        std::optional<int> first = recordNumber(m_invocation.first, m_count);
        if (!first)
            return kExitFailure;
        std::optional<int> last = first;
        if (m_invocation.last) {
            last = recordNumber(*m_invocation.last, m_count);
            if (!last)
                return kExitFailure;
            if (*last < *first) {
                tell("the last record number " + std::to_string(*last) + " is below the first " +
                     std::to_string(*first));
                return kExitFailure;
            }
        }
        RecordFile records;
        if (!records.openRecords(fileName())) {
            tell(fileaccess::kInvalidDriveMessage);
            return kExitFailure;
        }
        if (!records.openIndex(indexFileName())) {
            tell(fileaccess::kIndexFileMessage);
            return kExitFailure;
        }
        // Scripts read the bytes; a person at a terminal reads text.
        enum class Shown { Bytes, Utf8, Terminal };
        const Shown shown = m_invocation.rawText      ? Shown::Bytes
                            : m_invocation.utf8Output ? Shown::Utf8
                            : ::isatty(STDOUT_FILENO) ? Shown::Terminal
                                                      : Shown::Bytes;
        std::optional<TextCodec> codec;
        std::optional<TerminalText> terminal;
        if (shown != Shown::Bytes)
            codec.emplace();
        if (shown == Shown::Terminal)
            terminal.emplace();
        auto text = std::make_unique<DisplayText>();
        std::string utf8;
        int status = kExitSuccess;
        for (int k = *first; k <= *last && !m_output.failed(); ++k) {
            if (shown == Shown::Bytes && records.render(k, m_invocation.mode, *text) == Outcome::Done) {
                m_output.write(text->text());
                continue;
            }
            if (shown != Shown::Bytes && records.read(k) == Outcome::Done) {
                utf8.clear();
                decodedText(*codec, records.fields(), *text, utf8);
                m_output.write(shown == Shown::Terminal ? terminal->convert(utf8) : utf8);
                continue;
            }
            m_output.flush();
            tell("record " + std::to_string(k) + " cannot be shown: it is short or unreadable");
            status = kExitNothingFound;
        }
        return status;
    }

    /// Appends the display text of a record in UTF-8 to utf8 (one buffer for
    /// all records): a GBK record's byte layout decoded, so its lines stay as
    /// they always were; any other set's fields decoded and wrapped at 77
    /// display columns.
    void decodedText(TextCodec& codec, const RecordFields& fields, DisplayText& bytes, std::string& utf8) const
    {
        const CharsetDecision decision = ChooseCharset(m_invocation.charset, fields);
        if (decision.charset == Charset::Gbk) {
            bytes.clear();
            RenderDisplayText(bytes, fields.bytes().data(), fields.bytes().size(), FieldTerminator(m_invocation.mode),
                              SubfieldDelimiter(m_invocation.mode));
            (void)codec.decode(Charset::Gbk,
                               {reinterpret_cast<const unsigned char*>(bytes.text().data()), bytes.text().size()}, utf8);
            return;
        }
        (void)RenderDecodedDisplayText(codec, decision.charset, fields, FieldTerminator(m_invocation.mode),
                                       SubfieldDelimiter(m_invocation.mode), utf8);
    }

    int printCharsets()
    {
        int first = 1, last = m_count;
        if (!m_invocation.first.empty()) {
            if (refuseEmptyFile())
                return kExitFailure;
            std::optional<int> n = recordNumber(m_invocation.first, m_count);
            if (!n)
                return kExitFailure;
            first = last = *n;
            if (m_invocation.last) {
                std::optional<int> m = recordNumber(*m_invocation.last, m_count);
                if (!m)
                    return kExitFailure;
                if (*m < *n) {
                    tell("the last record number " + std::to_string(*m) + " is below the first " + std::to_string(*n));
                    return kExitFailure;
                }
                last = *m;
            }
        }
        RecordFile records;
        if (!records.openRecords(fileName()) || !records.openIndex(indexFileName())) {
            tell(records.recordsFd() < 0 ? fileaccess::kInvalidDriveMessage : fileaccess::kIndexFileMessage);
            return kExitFailure;
        }
        TextCodec codec;
        int status = kExitSuccess;
        for (int k = first; k <= last && !m_output.failed(); ++k) {
            if (records.read(k) != Outcome::Done) {
                m_output.flush();
                tell("record " + std::to_string(k) + " cannot be read: it is short or unreadable");
                status = kExitNothingFound;
                continue;
            }
            const CharsetDecision decision = DetectCharset(records.fields());
            const std::size_t invalid =
                RenderDecodedDisplayText(codec, decision.charset, records.fields(), FieldTerminator(m_invocation.mode),
                                         SubfieldDelimiter(m_invocation.mode))
                    .invalidBytes;
            m_output.write(std::to_string(k) + "\t" + std::string(CharsetName(decision.charset)) + "\t" +
                           std::to_string(decision.rule) + "\t" + std::to_string(invalid) + "\n");
        }
        return status;
    }

    int find()
    {
        // A well-formed --from is checked against the count the search itself
        // makes; only a malformed one needs a count first, for its message.
        std::int64_t from = 1;
        if (m_invocation.from) {
            std::optional<int> number = parseRecordNumber(*m_invocation.from, INT_MAX);
            if (!number) {
                std::optional<std::int64_t> count = countRecords();
                if (count)
                    (void)recordNumber(*m_invocation.from, static_cast<int>(*count + 1));
                return kExitFailure;
            }
            from = *number;
        }
        const SearchQuery& query = *m_query;
        bool found = false;
        const Status searched =
            SearchRecordStream(m_recordFd.get(), from, query, NoMonitor(), [&](std::int64_t record, std::string_view) {
                found = true;
                if (m_oneOfSeveral) {
                    m_output.write(m_invocation.file);
                    m_output.write("\t");
                }
                m_output.writeLine(static_cast<unsigned long long>(record));
                return m_invocation.allMatches && !m_output.failed();
            });
        if (searched.outcome == Outcome::FileError) {
            m_output.flush();
            tell("cannot index " + quoted(m_invocation.file) + " (unreadable file or no room in the temporary directory)");
            return kExitFailure;
        }
        if (!found && from > 1 && !m_oneOfSeveral) {
            std::optional<std::int64_t> count = countRecords();
            if (!count)
                return kExitFailure;
            if (from > *count + 1) {
                (void)recordNumber(*m_invocation.from, static_cast<int>(*count + 1));
                return kExitFailure;
            }
        }
        return found ? kExitSuccess : kExitNothingFound;
    }

    /// The number of records, framed as the index frames them; nothing (told)
    /// when the file cannot be read.
    std::optional<std::int64_t> countRecords()
    {
        RecordStream stream(m_recordFd.get());
        FramedRecord record;
        for (;;) {
            switch (stream.next(record, false)) {
            case RecordStream::Step::Record:
                continue;
            case RecordStream::Step::End:
                return stream.count();
            case RecordStream::Step::ReadError:
                break;
            }
            tell("cannot index " + quoted(m_invocation.file) + " (unreadable file or no room in the temporary directory)");
            return std::nullopt;
        }
    }

    int extract()
    {
        if (refuseEmptyFile())
            return kExitFailure;
        std::optional<int> first = recordNumber(m_invocation.first, m_count);
        if (!first)
            return kExitFailure;
        std::optional<int> last = recordNumber(*m_invocation.last, m_count);
        if (!last)
            return kExitFailure;
        if (*last < *first) {
            tell("the last record number " + std::to_string(*last) + " is below the first " + std::to_string(*first));
            return kExitFailure;
        }
        if (!targetIsAcceptable())
            return kExitFailure;

        int result = ExtractRecords(m_prompt, m_scratch, fileName(), indexFileName(), *first, *last,
                                    m_invocation.target.c_str());
        if (result != 1 || m_prompt.refusedOverwrite()) {
            if (m_prompt.refusedOverwrite())
                tell(quoted(m_invocation.target) + " exists; give --append or --overwrite");
            else if (!m_prompt.takeToldFailure())
                tell("cannot copy the records to " + quoted(m_invocation.target));
            return kExitFailure;
        }
        return kExitSuccess;
    }

    bool targetIsAcceptable()
    {
        const std::string& target = m_invocation.target;
        struct stat info {};
        if (::stat(target.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode)) {
                tell(quoted(target) + " is a directory");
                return false;
            }
            if (m_invocation.existingTarget == ExistingTarget::Refuse) {
                tell(quoted(target) + " exists; give --append or --overwrite");
                return false;
            }
            // Overwriting would empty the record file before its records are read.
            if (m_invocation.existingTarget == ExistingTarget::Overwrite && info.st_dev == m_recordFile.st_dev &&
                info.st_ino == m_recordFile.st_ino) {
                tell(quoted(target) + " is the record file itself; it cannot be overwritten with its own records");
                return false;
            }
            return true;
        }
        if (errno != ENOENT) {
            tell("cannot write " + quoted(target) + ": " + std::strerror(errno));
            return false;
        }
        std::string::size_type slash = target.rfind('/');
        std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            tell("cannot write " + quoted(target) + ": no such directory");
            return false;
        }
        return true;
    }

    int finishOutput(int status)
    {
        m_output.flush();
        if (!m_output.failed())
            return status;
        // A reader that went away (head, a closed pager) is not worth a message.
        if (m_output.error() != EPIPE)
            tell(std::string("cannot write the output: ") + std::strerror(m_output.error()));
        return kExitFailure;
    }

    const Invocation& m_invocation;
    TerminalPrompt m_prompt;
    StandardOutput m_output;
    struct stat m_recordFile {};
    fileaccess::UniqueFd m_recordFd;
    const ScratchDisplay m_scratch{std::string()};  ///< the tool shows no display file
    std::string m_indexFileName;
    int m_count = 0;
    std::optional<SearchQuery> m_query;  ///< find's TEXT as it is searched for
    bool m_oneOfSeveral;
};

/// find --all over several files, one after another: a file that cannot be
/// read is told and the others are still searched.
int findInFiles(const Invocation& invocation)
{
    if (!searchQuery(invocation))
        return kExitFailure;
    if (invocation.from && !parseRecordNumber(*invocation.from, INT_MAX)) {
        tell("invalid record number " + quoted(*invocation.from) + ": record number must be a whole number from 1");
        return kExitFailure;
    }
    bool found = false, failed = false;
    for (const std::string& file : invocation.files) {
        Invocation one = invocation;
        one.file = file;
        CommandRun run(one, true);
        const int status = run.run();
        // Output that cannot be written (a reader that went away) ends it all.
        if (run.outputFailed())
            return kExitFailure;
        found = found || status == kExitSuccess;
        failed = failed || status == kExitFailure;
    }
    // A file that was not searched weighs more than the hits of the others.
    return failed ? kExitFailure : found ? kExitSuccess : kExitNothingFound;
}

int printText(const std::string& text)
{
    StandardOutput output;
    output.write(text);
    return output.flush() ? kExitSuccess : kExitFailure;
}

}  // namespace

int runCli(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && (arguments[0] == "convert" || arguments[0] == "check")) {
        const std::vector<std::string_view> rest(arguments.begin() + 1, arguments.end());
        return arguments[0] == "convert" ? runConvertCommand(rest) : runCheckCommand(rest);
    }
    ParseResult parsed = parseCommandLine(arguments);
    if (!parsed.invocation) {
        tell(parsed.error);
        std::fputs(usageText(parsed.command).c_str(), stderr);
        return kExitFailure;
    }
    const Invocation& invocation = *parsed.invocation;
    switch (invocation.action) {
    case Invocation::Action::Help:
        return printText(helpText(invocation.command));
    case Invocation::Action::Version:
        return printText("veltrane-cli " VELTRANE_VERSION "\n");
    case Invocation::Action::Run:
        break;
    }

    installCleanupHandlers();
    const bool severalFiles = invocation.command == Command::Find && invocation.files.size() > 1;
    int status = severalFiles ? findInFiles(invocation) : CommandRun(invocation).run();
    removeTemporaryFiles();
    return status;
}

}  // namespace veltrane::cli
