// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "charset/Charset.h"

namespace veltrane {

/// The kinds of query a cataloguer types, in the order the CQL indexes of a
/// server are kept.
enum class QueryKind { Isbn, Issn, Title, Author, Subject, Any };
inline constexpr std::size_t kQueryKindCount = 6;

/// The option word of a kind ("isbn", "issn", "title", "author", "subject", "any").
[[nodiscard]] std::string_view QueryKindName(QueryKind kind);

enum class ServerProtocol { Z3950, Sru };
/// The record syntax asked of a Z39.50 server. CNMARC travels as UNIMARC.
enum class RecordSyntax { Marc21, Unimarc };
enum class SruMethod { Get, Post };

/// The CQL index an SRU server searches each kind of query in.
using CqlIndexes = std::array<std::string, kQueryKindCount>;
/// bath.isbn, bath.issn, dc.title, dc.creator, dc.subject, cql.serverChoice.
[[nodiscard]] const CqlIndexes& DefaultCqlIndexes();

/// One server to search and how to talk to it.
struct ServerDescription {
    std::string name;     ///< what messages and the hit list call it
    ServerProtocol protocol = ServerProtocol::Z3950;
    /// Z39.50: "host:port/database"; SRU: "http://host:port/path".
    std::string address;
    std::string user, password;  ///< empty: no authentication
    RecordSyntax syntax = RecordSyntax::Marc21;
    /// The set a Z39.50 server takes query terms in (UTF-8, GBK or GB18030);
    /// SRU queries are always UTF-8.
    Charset termCharset = Charset::Utf8;
    SruMethod sruMethod = SruMethod::Get;
    std::string recordSchema = "marcxml";
    CqlIndexes cqlIndexes = DefaultCqlIndexes();
};

/// Reads a server given by address: "http://..." or "https://..." is SRU,
/// "host:port/database" Z39.50 (SRU over http://host:port/database when
/// `sru`). The name is the address as given. An error message when the text
/// is neither.
struct ParsedServer {
    std::optional<ServerDescription> server;
    std::string error;
};
[[nodiscard]] ParsedServer ParseServerAddress(std::string_view text, bool sru);

/// Reads a server character set name for query terms: utf-8, gbk, gb18030
/// (case-insensitive, "utf8" too); nothing for another.
[[nodiscard]] std::optional<Charset> ParseTermCharset(std::string_view name);
/// Reads "marc21" (or "usmarc") or "unimarc" (or "cnmarc"); nothing for another.
[[nodiscard]] std::optional<RecordSyntax> ParseRecordSyntax(std::string_view name);

}  // namespace veltrane
