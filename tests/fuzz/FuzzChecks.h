// SPDX-License-Identifier: Apache-2.0
#pragma once

// Checks that run one engine operation over arbitrary bytes and compare the
// result with what must hold for any input. Shared by the libFuzzer targets and
// by the test that replays the seed corpus and every crash input kept under
// tests/regressions.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzchecks {

/// The bytes are a record file: its index must list the records the index rule
/// finds (computed here independently), end with the sentinel, and hold no
/// entry after it.
std::string checkRecordIndex(const std::uint8_t* data, std::size_t size);

/// The bytes are a record file: every record is shown in all three delimiter
/// variants with the text its fields, taken apart here independently, lay
/// out; a record cut off by the end of the file not at all; no message.
std::string checkScanShow(const std::uint8_t* data, std::size_t size);

/// The bytes are a record file; a search text is cut from the file itself so it
/// often matches. A find gives the record a byte-by-byte comparison over the
/// independently taken fields finds first in its range, or nothing when it
/// finds none (an unreadable record ends both).
std::string checkScanSearch(const std::uint8_t* data, std::size_t size);

/// The first byte picks the delimiter variant, the rest are the field bytes:
/// no line of the text is longer than 78 bytes, and the text is the byte
/// rule's, taken a byte at a time.
std::string checkDisplayText(const std::uint8_t* data, std::size_t size);

/// The bytes are one record, rendered as decoded display text in every set
/// and delimiter variant: the text is valid UTF-8, no line is wider than 77
/// columns, and no continuation line starts with a combining mark unless the
/// line before it holds one character and its marks alone.
std::string checkDecodedDisplay(const std::uint8_t* data, std::size_t size);

/// The last bytes pick a range; the rest is a record file. A new target must end
/// up with exactly the source bytes from the first record's offset to the
/// sentinel (capped at the file size).
std::string checkExtract(const std::uint8_t* data, std::size_t size);

/// The first byte picks the input format and the delimiter variant, the rest
/// is the input: converting it into every format, checking it, fixing it and
/// profiling it end without a crash, and every XML output is complete; what
/// fix writes passes the check but for bytes its set cannot read (all of it
/// with --utf8), and fixing it again changes nothing.
std::string checkConvertAny(const std::uint8_t* data, std::size_t size);

/// The bytes are a record file, put into standard ISO 2709 first. When the
/// check finds nothing and the conversion warns of nothing, ISO 2709 to
/// MARCXML, JSON, JSON Lines and mnemonic text and back is the identity.
std::string checkConvertRoundTrip(const std::uint8_t* data, std::size_t size);

/// The first byte says how a server sent the rest: odd, a MARCXML record of
/// an SRU reply; even, ISO 2709 bytes of a Z39.50 reply. A record read is
/// standard ISO 2709 of at most 99,999 bytes whose leader gives its length and
/// which ends with the record terminator, and its hit-list cells are UTF-8
/// without tabs or line ends; a record skipped says why.
std::string checkServerReply(const std::uint8_t* data, std::size_t size);

/// A check returns a description of the first broken expectation, or an empty
/// string when everything held.
struct NamedCheck {
    const char* name;  ///< the fuzz target's name and its folder under tests/regressions
    std::string (*check)(const std::uint8_t* data, std::size_t size);
};

inline constexpr NamedCheck kChecks[] = {
    {"record_index", checkRecordIndex}, {"scan_show", checkScanShow},
    {"scan_search", checkScanSearch},   {"display_text", checkDisplayText},
    {"extract", checkExtract},          {"decoded_display", checkDecodedDisplay},
    {"convert_any", checkConvertAny},
    {"convert_round_trip", checkConvertRoundTrip},
    {"server_reply", checkServerReply},
};

}  // namespace fuzzchecks
