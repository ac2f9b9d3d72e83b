// SPDX-License-Identifier: Apache-2.0
#include "net/ServerDescription.h"

#include <algorithm>
#include <cctype>

namespace veltrane {

namespace {

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool allDigits(std::string_view text)
{
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string_view QueryKindName(QueryKind kind)
{
    static constexpr std::array<std::string_view, kQueryKindCount> kNames{"isbn",   "issn",    "title",
                                                                          "author", "subject", "any"};
    return kNames[static_cast<std::size_t>(kind)];
}

const CqlIndexes& DefaultCqlIndexes()
{
    static const CqlIndexes kDefaults{"bath.isbn", "bath.issn", "dc.title", "dc.creator", "dc.subject",
                                      "cql.serverChoice"};
    return kDefaults;
}

ParsedServer ParseServerAddress(std::string_view text, bool sru)
{
    ParsedServer parsed;
    ServerDescription server;
    server.name = std::string(text);
    const std::string lower = lowered(text.substr(0, 8));
    if (lower.starts_with("http://") || lower.starts_with("https://")) {
        const std::size_t hostStart = text.find("//") + 2;
        if (hostStart >= text.size() || text[hostStart] == '/') {
            parsed.error = "server '" + std::string(text) + "' names no host";
            return parsed;
        }
        server.protocol = ServerProtocol::Sru;
        server.address = std::string(text);
        parsed.server = std::move(server);
        return parsed;
    }
    const std::size_t colon = text.find(':');
    const std::size_t slash = text.find('/');
    const bool shaped = colon != std::string_view::npos && colon > 0 && slash != std::string_view::npos &&
                        slash > colon + 1 && slash + 1 < text.size() &&
                        allDigits(text.substr(colon + 1, slash - colon - 1)) &&
                        text.find_first_of(" \t", 0) == std::string_view::npos;
    if (!shaped) {
        parsed.error = "server '" + std::string(text) +
                       "' is not HOST:PORT/DATABASE, an http:// address or a name in the settings file";
        return parsed;
    }
    if (sru) {
        server.protocol = ServerProtocol::Sru;
        server.address = "http://" + std::string(text);
    } else {
        server.address = std::string(text);
    }
    parsed.server = std::move(server);
    return parsed;
}

std::optional<Charset> ParseTermCharset(std::string_view name)
{
    const std::string lower = lowered(name);
    if (lower == "utf-8" || lower == "utf8")
        return Charset::Utf8;
    if (lower == "gbk" || lower == "cp936")
        return Charset::Gbk;
    if (lower == "gb18030")
        return Charset::Gb18030;
    return std::nullopt;
}

std::optional<RecordSyntax> ParseRecordSyntax(std::string_view name)
{
    const std::string lower = lowered(name);
    if (lower == "marc21" || lower == "usmarc")
        return RecordSyntax::Marc21;
    if (lower == "unimarc" || lower == "cnmarc")
        return RecordSyntax::Unimarc;
    return std::nullopt;
}

}  // namespace veltrane
