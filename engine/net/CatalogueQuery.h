// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "net/ServerDescription.h"

namespace veltrane {

/// One term of a query by kind, as typed (UTF-8).
struct QueryTerm {
    QueryKind kind = QueryKind::Any;
    std::string text;
};

/// What a cataloguer asks every server: terms by kind, combined with AND,
/// and, for experts, raw PQF and raw CQL (UTF-8) ANDed with them.
struct CatalogueQuery {
    std::vector<QueryTerm> terms;
    std::string pqf;
    std::string cql;

    [[nodiscard]] bool empty() const { return terms.empty() && pqf.empty() && cql.empty(); }
};

/// The Bib-1 use attribute of a kind: 7, 8, 4, 1003, 21, 1016.
[[nodiscard]] int Bib1UseAttribute(QueryKind kind);

/// A query in one server's own language, or why it cannot be sent.
struct ServerQuery {
    enum class Language { Pqf, Cql };
    Language language = Language::Pqf;
    /// PQF in the server's term set (terms converted, ASCII syntax), or CQL
    /// in UTF-8.
    std::string text;
    std::string error;  ///< empty when the query can be sent
};

/// PQF for the terms and the raw PQF (both UTF-8), every term converted to
/// `termCharset`: "@attr 1=4 \"term\"", several ANDed as "@and A B". Text
/// the set cannot hold, or bytes that are not UTF-8, are refused with a
/// message naming the character.
[[nodiscard]] ServerQuery BuildPqf(const CatalogueQuery& query, Charset termCharset, TextCodec& codec);

/// CQL for the terms and the raw CQL: index="term" (with '"', '\\', '*', '?'
/// and '^' escaped so each is itself), several joined with " and ".
[[nodiscard]] ServerQuery BuildCql(const CatalogueQuery& query, const CqlIndexes& indexes);

/// The query as `server` takes it: SRU servers get CQL; Z39.50 servers PQF
/// (raw CQL alone goes to them as CQL, and raw CQL with other terms is
/// refused, as is raw PQF for an SRU server).
[[nodiscard]] ServerQuery QueryForServer(const CatalogueQuery& query, const ServerDescription& server, TextCodec& codec);

/// UTF-8 PQF text in a term set: ASCII stays as it is, every other character
/// goes through the set's codec, and a backslash byte inside a converted
/// character (GBK trail bytes may be 0x5C) is doubled so that the PQF reader
/// does not take it as an escape. An error message instead when the set
/// cannot hold a character.
struct ConvertedPqf {
    std::string text;
    std::string error;
};
[[nodiscard]] ConvertedPqf ConvertPqfText(std::string_view utf8, Charset termCharset, TextCodec& codec);

}  // namespace veltrane
