// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"

namespace veltrane {

/// A record a server sent, made one of ours: standard ISO 2709 bytes, the set
/// the automatic rules read it in, and the structural problems our reader
/// found in it and the bytes that set cannot read (the record is kept; they
/// are told).
struct ServerRecord {
    std::string iso2709;
    CharsetDecision charset;
    std::vector<std::string> problems;
};

/// A server's record read, or why it is skipped (error non-empty).
struct ServerRecordResult {
    std::optional<ServerRecord> record;
    std::string error;
};

/// Reads the ISO 2709 bytes a Z39.50 server sent (fetched raw: never
/// converted by the client) with the engine's reader. Skipped: a record of
/// more than 99,999 bytes, or bytes with no whole leader.
[[nodiscard]] ServerRecordResult ReadIso2709Reply(std::span<const unsigned char> bytes, TextCodec& codec);

/// Reads one MARCXML (or MarcXchange) record an SRU server sent (UTF-8 text)
/// and writes it as ISO 2709. Skipped: XML that cannot be read, no record in
/// it, or a record that would pass 99,999 bytes.
[[nodiscard]] ServerRecordResult ReadMarcXmlReply(std::string_view xml, TextCodec& codec);

}  // namespace veltrane
