// SPDX-License-Identifier: Apache-2.0
#include "commands/FetchCommand.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "Output.h"
#include "SearchTextConversion.h"
#include "TargetOutput.h"
#include "charset/Charset.h"
#include "net/FetchClient.h"
#include "net/HitSummary.h"
#include "net/Isbn.h"
#include "net/ServerSettings.h"

#ifndef VELTRANE_DATA_DIR
#define VELTRANE_DATA_DIR "/usr/share/veltrane"
#endif

namespace veltrane::cli {

namespace {

int runFetchCommand(const std::vector<std::string_view>& arguments);

}  // namespace

const CliCommand kFetchCommand{
    "fetch",
    "fetch [--server NAME|HOST:PORT/DB|URL]... [--sru] [--syntax marc21|unimarc] [--server-charset SET]\n"
    "                    [--isbn X | --issn X | --title T | --author A | --subject S | --any T | --pqf Q | --cql Q]...\n"
    "                    [--isbn-list FILE] [--max N] [--timeout S] [--list] [-o TARGET [--append | --overwrite]]",
    "search Z39.50 and SRU servers and fetch their records (copy cataloguing)", runFetchCommand};

namespace {

constexpr std::string_view kFetchHelp =
    "Searches library servers over Z39.50 or SRU, all at once, and writes the\n"
    "records they send as ISO 2709, to standard output or into TARGET.\n"
    "\n"
    "  --server S       a server: HOST:PORT/DATABASE (Z39.50), http://HOST:PORT/PATH\n"
    "                   (SRU), or a name from the [Servers] group of the settings\n"
    "                   file (see 'man veltrane-cli'); may be given several times\n"
    "  --sru            HOST:PORT/DATABASE servers are searched over SRU\n"
    "  --syntax S       record syntax asked of Z39.50 servers: marc21 (default) or\n"
    "                   unimarc (CNMARC too)\n"
    "  --server-charset SET  the set Z39.50 servers take query terms in: utf-8\n"
    "                   (default), gbk or gb18030; SRU queries are always UTF-8\n"
    "  --isbn, --issn, --title, --author, --subject, --any TEXT\n"
    "                   a term of that kind; several are combined with AND\n"
    "  --pqf Q, --cql Q a raw query (PQF for Z39.50, CQL for SRU), ANDed with the terms\n"
    "  --isbn-list FILE one ISBN a line (ISBN-10 or ISBN-13, hyphens or not): each is\n"
    "                   searched as ISBN-13, and a 978 number with no hit again as\n"
    "                   ISBN-10; the servers are tried in the order given and the\n"
    "                   records of the first with a hit kept. A line ISBN<TAB>SERVER<TAB>HITS\n"
    "                   per ISBN goes to standard error.\n"
    "  --max N          records fetched from each server, at most (default 100)\n"
    "  --timeout S      seconds any one wait on a server may last (default 30)\n"
    "  --list           print a hit list instead of the records: server, number,\n"
    "                   001, title, author, date and ISBN, tab-separated, in UTF-8\n"
    "  -o TARGET        write the records into TARGET\n"
    "  --append         add them after the content of an existing TARGET\n"
    "  --overwrite      replace an existing TARGET\n"
    "\n"
    "Options given here apply to every server, a named one's settings included.\n"
    "Each server's hits and every server that failed go to standard error.\n"
    "Exit status: 0 records found, 1 nothing found and no server failed, 2 a\n"
    "usage error, or nothing found and some server failed (no TARGET is then\n"
    "left behind, and an appended one keeps its old content).\n";

struct FetchArguments {
    std::vector<std::string> servers;
    bool sru = false;
    std::optional<RecordSyntax> syntax;
    std::optional<Charset> termCharset;
    CatalogueQuery query;
    std::string isbnList;
    FetchOptions options;
    bool list = false;
    bool help = false;
    std::string target;
    ExistingTargetRule existing = ExistingTargetRule::Refuse;
};

/// A positive decimal number of at most 9 digits.
std::optional<std::size_t> positiveNumber(std::string_view text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value >= 1 ? std::optional<std::size_t>(value) : std::nullopt;
}

/// A typed term in UTF-8, from the terminal's set.
std::string typedTerm(std::string_view option, std::string_view value, std::string& error)
{
    TypedSearchText text = convertSearchText(value, CharsetSetting::Auto);
    if (!text.error.empty())
        error = "option '" + std::string(option) + "': " + text.error;
    return text.utf8;
}

std::string parseArguments(const std::vector<std::string_view>& arguments, FetchArguments& parsed)
{
    ArgumentWalker walker(arguments);
    bool appendOrOverwrite = false;
    while (std::optional<std::string_view> option = walker.nextOption()) {
        const std::string name(*option);
        std::string error;
        auto needValue = [&](std::string_view what) -> std::optional<std::string_view> {
            std::optional<std::string_view> value = walker.value();
            if (!value || value->empty()) {
                error = "option '" + name + "' needs " + std::string(what);
                return std::nullopt;
            }
            return value;
        };
        std::optional<QueryKind> kind;
        for (std::size_t k = 0; k < kQueryKindCount; ++k)
            if (name == "--" + std::string(QueryKindName(static_cast<QueryKind>(k))))
                kind = static_cast<QueryKind>(k);
        if (isHelpOption(walker, name)) {
            parsed.help = true;
            return {};
        } else if (kind) {
            if (std::optional<std::string_view> value = needValue("a term")) {
                std::string term = typedTerm(name, *value, error);
                parsed.query.terms.push_back({*kind, std::move(term)});
            }
        } else if (name == "--pqf" || name == "--cql") {
            if (std::optional<std::string_view> value = needValue("a query")) {
                std::string& into = name == "--pqf" ? parsed.query.pqf : parsed.query.cql;
                if (!into.empty())
                    error = "option '" + name + "' may be given once";
                else
                    into = typedTerm(name, *value, error);
            }
        } else if (name == "--server") {
            if (std::optional<std::string_view> value = needValue("a server"))
                parsed.servers.emplace_back(*value);
        } else if (name == "--sru") {
            error = takeFlag(walker, name, parsed.sru);
        } else if (name == "--syntax") {
            if (std::optional<std::string_view> value = needValue("marc21 or unimarc")) {
                parsed.syntax = ParseRecordSyntax(*value);
                if (!parsed.syntax)
                    error = "record syntax must be marc21 or unimarc, not '" + std::string(*value) + "'";
            }
        } else if (name == "--server-charset") {
            if (std::optional<std::string_view> value = needValue("a set: utf-8, gbk or gb18030")) {
                parsed.termCharset = ParseTermCharset(*value);
                if (!parsed.termCharset)
                    error = "server character set must be utf-8, gbk or gb18030, not '" + std::string(*value) + "'";
            }
        } else if (name == "--isbn-list") {
            if (std::optional<std::string_view> value = needValue("a FILE"))
                parsed.isbnList = *value;
        } else if (name == "--max" || name == "--timeout") {
            if (std::optional<std::string_view> value = needValue("a number")) {
                const std::optional<std::size_t> number = positiveNumber(*value);
                if (!number)
                    error = "option '" + name + "' needs a whole number from 1, not '" + std::string(*value) + "'";
                else if (name == "--max")
                    parsed.options.maxRecords = *number;
                else
                    parsed.options.timeoutSeconds = static_cast<int>(*number);
            }
        } else if (name == "--list") {
            error = takeFlag(walker, name, parsed.list);
        } else if (name == "-o" || name == "--output") {
            if (std::optional<std::string_view> value = needValue("a TARGET file"))
                parsed.target = *value;
        } else if (name == "--append" || name == "--overwrite") {
            bool given = false;
            error = takeFlag(walker, name, given);
            if (error.empty() && appendOrOverwrite)
                error = "options '--append' and '--overwrite' exclude each other";
            appendOrOverwrite = true;
            parsed.existing = name == "--append" ? ExistingTargetRule::Append : ExistingTargetRule::Overwrite;
        } else {
            error = unknownOption(name);
        }
        if (!error.empty())
            return error;
    }
    std::vector<std::string_view> operands;
    if (std::string error = takeOperands(walker, 0, 0, operands); !error.empty())
        return error;
    if (parsed.servers.empty())
        return "no server: give --server NAME, HOST:PORT/DATABASE or an http:// address";
    if (parsed.isbnList.empty() && parsed.query.empty())
        return "no query: give --isbn, --issn, --title, --author, --subject, --any, --pqf, --cql or --isbn-list";
    if (!parsed.isbnList.empty() && !parsed.query.empty())
        return "option '--isbn-list' cannot be combined with other query options";
    if (appendOrOverwrite && parsed.target.empty())
        return "options '--append' and '--overwrite' need '-o TARGET'";
    if (parsed.list && !parsed.target.empty())
        return "option '--list' prints a hit list on standard output; it takes no '-o TARGET'";
    return {};
}

/// The servers of the command line: addresses as they are, names from the
/// settings file, then from the presets; the command line's options over both.
bool resolveServers(const FetchArguments& parsed, std::vector<ServerDescription>& servers)
{
    std::optional<NamedServers> settings, presets;
    bool ok = true;
    for (const std::string& given : parsed.servers) {
        ParsedServer address = ParseServerAddress(given, parsed.sru);
        std::optional<ServerDescription> server = address.server;
        if (!server) {
            if (!settings) {
                const std::string path = SettingsFilePath();
                settings = path.empty() ? NamedServers{} : ReadNamedServersFile(path);
                presets = ReadNamedServersFile(std::string(VELTRANE_DATA_DIR) + "/servers.conf");
            }
            const NamedServer* named = settings->find(given);
            if (named == nullptr)
                named = presets->find(given);
            if (named == nullptr) {
                for (const std::string& problem : settings->problems)
                    tellError(problem);
                tellError(address.error);
                ok = false;
                continue;
            }
            if (named->untested)
                tellError("server " + given + " is a preset nobody has tested against the server");
            server = named->server;
        }
        if (parsed.syntax)
            server->syntax = *parsed.syntax;
        if (parsed.termCharset)
            server->termCharset = *parsed.termCharset;
        servers.push_back(std::move(*server));
    }
    return ok;
}

/// What a run found, for the exit status.
struct Tally {
    std::size_t records = 0;
    bool someFailed = false;
};

/// Tells each server's hits, failure and notes on standard error.
void tellServer(const ServerDescription& server, const ServerResult& result, Tally& tally)
{
    for (const std::string& note : result.notes)
        tellError(server.name + ": " + note);
    if (result.failed) {
        tally.someFailed = true;
        tellError(server.name + ": failed: " + result.failure);
        return;
    }
    tellError(server.name + ": " + std::to_string(result.hits) + (result.hits == 1 ? " hit, " : " hits, ") +
              std::to_string(result.records.size()) + " fetched");
}

/// The records, or the hit list, as they are written out.
class FetchOutput {
public:
    explicit FetchOutput(bool list) : m_list(list) {}

    void add(const ServerDescription& server, const ServerResult& result)
    {
        for (const FetchedRecord& fetched : result.records) {
            if (!m_list) {
                m_bytes += fetched.record.iso2709;
                continue;
            }
            const HitSummary summary = SummariseRecord(fetched.record.iso2709);
            const std::string cells[] = {server.name,   std::to_string(fetched.position), summary.controlNumber,
                                         summary.title, summary.author, summary.date, summary.isbn};
            for (const std::string& cell : cells) {
                if (&cell != cells)
                    m_bytes += '\t';
                m_bytes += cell;
            }
            m_bytes += '\n';
        }
    }

    [[nodiscard]] const std::string& bytes() const { return m_bytes; }

private:
    bool m_list;
    std::string m_bytes;
};

bool writeAll(int fd, std::string_view bytes, int& error)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/// Searches each ISBN of the list on the servers in turn.
bool fetchIsbnList(const FetchArguments& parsed, const std::vector<ServerDescription>& servers, FetchOutput& output,
                   Tally& tally)
{
    std::ifstream file(parsed.isbnList, std::ios::binary);
    if (!file) {
        tellError("cannot open " + quotedName(parsed.isbnList) + ": " + std::strerror(errno));
        return false;
    }
    std::string line;
    std::size_t lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        const std::optional<std::string> isbn13 = NormaliseIsbn(line);
        if (!isbn13) {
            tellError(quotedName(parsed.isbnList) + " line " + std::to_string(lineNumber) + ": '" + line +
                      "' is not an ISBN-10 or ISBN-13");
            tally.someFailed = true;
            continue;
        }
        std::vector<std::string> forms{*isbn13};
        if (std::optional<std::string> isbn10 = Isbn10Of(*isbn13))
            forms.push_back(*isbn10);
        bool found = false;
        for (const std::string& form : forms) {
            CatalogueQuery query;
            query.terms.push_back({QueryKind::Isbn, form});
            for (const ServerDescription& server : servers) {
                const FetchResult result = FetchRecords({&server, 1}, query, parsed.options, NoMonitor());
                const ServerResult& answer = result.servers.front();
                for (const std::string& note : answer.notes)
                    tellError(server.name + ": " + note);
                if (answer.failed) {
                    tally.someFailed = true;
                    tellError(server.name + ": failed: " + answer.failure);
                    continue;
                }
                if (answer.hits == 0)
                    continue;
                std::fprintf(stderr, "%s\t%s\t%llu\n", isbn13->c_str(), server.name.c_str(),
                             static_cast<unsigned long long>(answer.hits));
                output.add(server, answer);
                tally.records += answer.records.size();
                found = true;
                break;
            }
            if (found)
                break;
        }
        if (!found)
            std::fprintf(stderr, "%s\t-\t0\n", isbn13->c_str());
    }
    if (file.bad()) {
        tellError("cannot read " + quotedName(parsed.isbnList) + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

int runFetchCommand(const std::vector<std::string_view>& arguments)
{
    FetchArguments parsed;
    if (std::string error = parseArguments(arguments, parsed); !error.empty())
        return refuseUsage(kFetchCommand, error);
    if (parsed.help)
        return printCommandHelp(kFetchCommand, kFetchHelp);
    std::vector<ServerDescription> servers;
    if (!resolveServers(parsed, servers))
        return kExitFailure;

    // An existing TARGET is refused before any server is asked.
    TargetOutput target;
    if (!parsed.target.empty()) {
        TargetOutput::installSignalHandlers();
        if (!target.open(parsed.target, parsed.existing, "give --append or --overwrite", std::nullopt))
            return kExitFailure;
    }

    FetchOutput output(parsed.list);
    Tally tally;
    if (!parsed.isbnList.empty()) {
        if (!fetchIsbnList(parsed, servers, output, tally))
            return kExitFailure;
    } else {
        const FetchResult result = FetchRecords(servers, parsed.query, parsed.options, NoMonitor());
        for (std::size_t i = 0; i < servers.size(); ++i) {
            tellServer(servers[i], result.servers[i], tally);
            output.add(servers[i], result.servers[i]);
            tally.records += result.servers[i].records.size();
        }
    }
    if (tally.records == 0)
        return tally.someFailed ? kExitFailure : kExitNothingFound;

    int error = 0;
    if (!writeAll(parsed.target.empty() ? STDOUT_FILENO : target.fd(), output.bytes(), error)) {
        if (!(parsed.target.empty() && error == EPIPE))
            tellError("cannot write " + (parsed.target.empty() ? std::string("the output") : quotedName(parsed.target)) +
                      ": " + std::strerror(error));
        return kExitFailure;
    }
    if (!parsed.target.empty() && !target.commit())
        return kExitFailure;
    return kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
