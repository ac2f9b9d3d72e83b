// SPDX-License-Identifier: Apache-2.0
#include "net/CatalogueQuery.h"

#include <array>
#include <cstdio>
#include <optional>
#include <span>

#include "charset/Utf8.h"

namespace veltrane {

namespace {

std::string describeCharacter(std::string_view utf8Character, char32_t codePoint)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codePoint));
    return "'" + std::string(utf8Character) + "' (" + code + ")";
}

std::span<const unsigned char> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string quotedPqfTerm(std::string_view term)
{
    std::string out = "\"";
    for (char c : term) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string quotedCqlTerm(std::string_view term)
{
    std::string out = "\"";
    for (char c : term) {
        // Inside quotes '*', '?' and '^' still mask or anchor; escaped they are themselves.
        if (c == '"' || c == '\\' || c == '*' || c == '?' || c == '^')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

int Bib1UseAttribute(QueryKind kind)
{
    static constexpr std::array<int, kQueryKindCount> kUse{7, 8, 4, 1003, 21, 1016};
    return kUse[static_cast<std::size_t>(kind)];
}

ConvertedPqf ConvertPqfText(std::string_view utf8, Charset termCharset, TextCodec& codec)
{
    ConvertedPqf converted;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const Utf8Sequence sequence = Utf8SequenceAt(bytesOf(utf8), at);
        if (sequence.length == 0) {
            converted.text.clear();
            converted.error = "the query holds bytes that are not UTF-8";
            return converted;
        }
        const std::string_view character = utf8.substr(at, sequence.length);
        at += sequence.length;
        if (sequence.length == 1 || termCharset == Charset::Utf8) {
            converted.text += character;
            continue;
        }
        const std::optional<std::string> inSet = codec.encode(termCharset, character);
        if (!inSet) {
            converted.text.clear();
            converted.error = "the server's character set " + std::string(CharsetName(termCharset)) +
                              " cannot hold " + describeCharacter(character, sequence.codePoint);
            return converted;
        }
        for (char c : *inSet) {
            if (c == '\\')
                converted.text += '\\';
            converted.text += c;
        }
    }
    return converted;
}

ServerQuery BuildPqf(const CatalogueQuery& query, Charset termCharset, TextCodec& codec)
{
    std::vector<std::string> parts;
    for (const QueryTerm& term : query.terms)
        parts.push_back("@attr 1=" + std::to_string(Bib1UseAttribute(term.kind)) + " " + quotedPqfTerm(term.text));
    if (!query.pqf.empty())
        parts.push_back(query.pqf);
    std::string utf8;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        utf8 += "@and ";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            utf8 += ' ';
        utf8 += parts[i];
    }
    ServerQuery built;
    ConvertedPqf converted = ConvertPqfText(utf8, termCharset, codec);
    built.text = std::move(converted.text);
    built.error = std::move(converted.error);
    if (built.text.empty() && built.error.empty())
        built.error = "the query is empty";
    return built;
}

ServerQuery BuildCql(const CatalogueQuery& query, const CqlIndexes& indexes)
{
    ServerQuery built;
    built.language = ServerQuery::Language::Cql;
    std::vector<std::string> parts;
    for (const QueryTerm& term : query.terms)
        parts.push_back(indexes[static_cast<std::size_t>(term.kind)] + "=" + quotedCqlTerm(term.text));
    if (!query.cql.empty())
        parts.push_back(parts.empty() ? query.cql : "(" + query.cql + ")");
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            built.text += " and ";
        built.text += parts[i];
    }
    if (built.text.empty())
        built.error = "the query is empty";
    else if (!IsValidUtf8(bytesOf(built.text)))
        built.error = "the query holds bytes that are not UTF-8";
    return built;
}

ServerQuery QueryForServer(const CatalogueQuery& query, const ServerDescription& server, TextCodec& codec)
{
    if (server.protocol == ServerProtocol::Sru) {
        if (!query.pqf.empty()) {
            ServerQuery refused;
            refused.error = "a PQF query cannot go to the SRU server " + server.name + "; give it as CQL (--cql)";
            return refused;
        }
        return BuildCql(query, server.cqlIndexes);
    }
    if (!query.cql.empty()) {
        if (!query.terms.empty() || !query.pqf.empty()) {
            ServerQuery refused;
            refused.error = "raw CQL cannot be combined with other terms for the Z39.50 server " + server.name;
            return refused;
        }
        // Z39.50 carries CQL as a query type of its own; the server may not take it.
        return BuildCql(query, server.cqlIndexes);
    }
    return BuildPqf(query, server.termCharset, codec);
}

}  // namespace veltrane
