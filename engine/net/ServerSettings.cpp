// SPDX-License-Identifier: Apache-2.0
#include "net/ServerSettings.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "charset/Utf8.h"
#include "formats/TextReaderBase.h"

namespace veltrane {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

/// A key: %XX and %UXXXX stand for characters QSettings does not keep as they are.
std::string unescapedKey(std::string_view key)
{
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const bool wide = key[i] == '%' && i + 1 < key.size() && key[i + 1] == 'U';
        const std::size_t digits = wide ? 4 : 2;
        const std::size_t from = i + (wide ? 2 : 1);
        if (key[i] == '%' && from + digits <= key.size()) {
            char32_t cp = 0;
            bool hex = true;
            for (std::size_t d = 0; d < digits; ++d) {
                const int v = textreading::hexValue(key[from + d]);
                hex = hex && v >= 0;
                cp = cp * 16 + static_cast<char32_t>(std::max(v, 0));
            }
            if (hex) {
                AppendUtf8(out, cp);
                i = from + digits - 1;
                continue;
            }
        }
        out += key[i];
    }
    return out;
}

/// A value: quoted parts, backslash escapes and \xHHHH characters; a value
/// with unquoted commas is a list, kept here as the text it is.
std::string unescapedValue(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"')
            continue;
        if (c != '\\' || i + 1 >= value.size()) {
            out += c;
            continue;
        }
        const char e = value[++i];
        switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'v': out += '\v'; break;
        case '0': out += '\0'; break;
        case 'x': {
            char32_t cp = 0;
            std::size_t n = 0;
            while (n < 4 && i + 1 < value.size() && textreading::hexValue(value[i + 1]) >= 0) {
                cp = cp * 16 + static_cast<char32_t>(textreading::hexValue(value[++i]));
                ++n;
            }
            AppendUtf8(out, cp);
            break;
        }
        default: out += e; break;
        }
    }
    return out;
}

bool truth(std::string_view value) { return value == "true" || value == "1" || value == "yes"; }

struct Pending {
    NamedServer named;
    bool sru = false;
    bool hasAddress = false;
    std::size_t line = 0;
};

}  // namespace

const NamedServer* NamedServers::find(std::string_view name) const
{
    for (const NamedServer& named : servers)
        if (named.server.name == name)
            return &named;
    return nullptr;
}

NamedServers ReadNamedServers(std::string_view iniText, std::string_view origin)
{
    NamedServers result;
    std::vector<Pending> pending;
    auto problem = [&](std::size_t line, const std::string& what) {
        result.problems.push_back(std::string(origin) + ":" + std::to_string(line) + ": " + what);
    };
    bool inGroup = false;
    std::size_t lineNumber = 0;
    while (!iniText.empty()) {
        const std::size_t end = iniText.find('\n');
        std::string_view line = trimmed(iniText.substr(0, end));
        iniText.remove_prefix(end == std::string_view::npos ? iniText.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[" + std::string(kServersGroup) + "]";
            continue;
        }
        if (!inGroup)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string key = unescapedKey(trimmed(line.substr(0, equals)));
        const std::string value = unescapedValue(trimmed(line.substr(equals + 1)));
        const std::size_t separator = key.find_last_of("\\/");
        if (separator == std::string::npos || separator == 0)
            continue;
        const std::string name = key.substr(0, separator);
        const std::string field = key.substr(separator + 1);
        auto it = std::find_if(pending.begin(), pending.end(),
                               [&](const Pending& p) { return p.named.server.name == name; });
        if (it == pending.end()) {
            pending.emplace_back();
            it = std::prev(pending.end());
            it->named.server.name = name;
            it->line = lineNumber;
        }
        ServerDescription& server = it->named.server;
        if (field == "address") {
            server.address = value;
            it->hasAddress = !value.empty();
        } else if (field == "sru") {
            it->sru = truth(value);
        } else if (field == "sru-method") {
            if (value == "get" || value == "post")
                server.sruMethod = value == "post" ? SruMethod::Post : SruMethod::Get;
            else
                problem(lineNumber, "server " + name + ": sru-method must be get or post, not '" + value + "'");
        } else if (field == "syntax") {
            if (const std::optional<RecordSyntax> syntax = ParseRecordSyntax(value))
                server.syntax = *syntax;
            else
                problem(lineNumber, "server " + name + ": syntax must be marc21 or unimarc, not '" + value + "'");
        } else if (field == "charset") {
            if (const std::optional<Charset> set = ParseTermCharset(value))
                server.termCharset = *set;
            else
                problem(lineNumber, "server " + name + ": charset must be utf-8, gbk or gb18030, not '" + value + "'");
        } else if (field == "user") {
            server.user = value;
        } else if (field == "password") {
            server.password = value;
        } else if (field == "schema") {
            server.recordSchema = value;
        } else if (field == "untested") {
            it->named.untested = truth(value);
        } else if (field.ends_with("-index")) {
            bool known = false;
            for (std::size_t k = 0; k < kQueryKindCount; ++k)
                if (field == std::string(QueryKindName(static_cast<QueryKind>(k))) + "-index") {
                    server.cqlIndexes[k] = value;
                    known = true;
                }
            if (!known)
                problem(lineNumber, "server " + name + ": unknown key '" + field + "'");
        } else {
            problem(lineNumber, "server " + name + ": unknown key '" + field + "'");
        }
    }
    for (Pending& p : pending) {
        if (!p.hasAddress) {
            problem(p.line, "server " + p.named.server.name + " has no address");
            continue;
        }
        ParsedServer parsed = ParseServerAddress(p.named.server.address, p.sru);
        if (!parsed.server) {
            problem(p.line, parsed.error);
            continue;
        }
        p.named.server.protocol = parsed.server->protocol;
        p.named.server.address = parsed.server->address;
        result.servers.push_back(std::move(p.named));
    }
    return result;
}

NamedServers ReadNamedServersFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return ReadNamedServers(text.str(), path);
}

std::string SettingsFilePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config == '/')
        return std::string(config) + "/Veltrane/veltrane.conf";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return std::string(home) + "/.config/Veltrane/veltrane.conf";
    return {};
}

}  // namespace veltrane
