// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "charset/UnimarcShape.h"
#include "iso2709/RecordFields.h"

namespace veltrane {

/// The character sets records are read in.
enum class Charset { Gbk, Gb18030, Utf8, Marc8 };

/// What a window or a command asks for: one set, or a decision per record.
enum class CharsetSetting { Auto, Gbk, Gb18030, Utf8, Marc8 };

/// The automatic rule that decided a record's set, numbered as the README
/// lists them and `charset` prints them.
enum class CharsetRule : int {
    None = 0,                ///< no rule: the setting named the set
    Marc21Utf8Leader = 1,    ///< UTF-8: leader/09 'a', MARC 21-shaped
    UnimarcUtf8 = 2,         ///< UTF-8: UNIMARC-shaped, 100 $a/26-27 "50"
    ValidUtf8 = 3,           ///< UTF-8: valid, with enough multibyte sequences
    Escape = 4,              ///< MARC-8: an ESC byte
    Marc8Diacritics = 5,     ///< MARC-8: high bytes mostly outside GB2312's Chinese pairs
    Gb18030FourByte = 6,     ///< GB18030: a four-byte sequence
    GbkOtherwise = 7,        ///< GBK: nothing else fits
};

/// The number a rule is reported with.
[[nodiscard]] constexpr int CharsetRuleNumber(CharsetRule rule) { return static_cast<int>(rule); }

/// The set a record is read in and why.
struct CharsetDecision {
    Charset charset = Charset::Gbk;
    CharsetRule rule = CharsetRule::None;
};

/// The name `--charset` uses: "gbk", "gb18030", "utf-8", "marc-8" ("auto" for
/// the setting).
[[nodiscard]] std::string_view CharsetName(Charset charset);
[[nodiscard]] std::string_view CharsetSettingName(CharsetSetting setting);
/// Reads a `--charset` name (case-insensitive); nothing for an unknown one.
[[nodiscard]] std::optional<CharsetSetting> ParseCharsetSetting(std::string_view name);

/// A record is UNIMARC-shaped when it has a field 100 whose $a starts with
/// eight digits or blanks followed by a lowercase letter (date of entry, type
/// of date); otherwise it is MARC 21-shaped. $a is what follows the first 0x1F
/// 'a' of the field, or its first "$a" when it has no 0x1F 'a'.
[[nodiscard]] bool IsUnimarcShaped(const RecordFields& record);

/// Decides the set of one record by the automatic rules (the README lists
/// them). Never fails: GBK when nothing else fits.
[[nodiscard]] CharsetDecision DetectCharset(const RecordFields& record);
/// The set a setting gives a record: the named one, or the detected one.
[[nodiscard]] CharsetDecision ChooseCharset(CharsetSetting setting, const RecordFields& record);

/// Whether a record (leader, tags and field bytes) is ASCII without ESC.
[[nodiscard]] bool HoldsOnlyAscii(const RecordFields& record);

/// A decision as a user is told it (`charset`, the information panel). Under
/// the automatic setting a record of ASCII without ESC reads the same in every
/// set, so it is told as "ascii", decided by no rule; it is still read in the
/// set the rules give it, so its display and search do not change.
struct ToldCharset {
    std::string_view name;  ///< "ascii", or the CharsetName of the set
    CharsetRule rule = CharsetRule::None;
};
[[nodiscard]] ToldCharset TellCharset(CharsetSetting setting, const CharsetDecision& decision,
                                      const RecordFields& record);

struct TextScan;  // charset/CharsetInternal.h

/// Converts between a record set and UTF-8. Each object owns its converter
/// handles: use one per thread.
class TextCodec {
public:
    TextCodec();
    ~TextCodec();
    TextCodec(const TextCodec&) = delete;
    TextCodec& operator=(const TextCodec&) = delete;

    /// Appends the UTF-8 form of bytes (one run of text in the set, such as a
    /// subfield) to out. Bytes that are not valid in the set become U+FFFD.
    /// Returns how many invalid bytes there were.
    std::size_t decode(Charset charset, std::span<const unsigned char> bytes, std::string& out);

    /// What decode() would return for bytes, without making the text: UTF-8,
    /// GBK and GB18030 are scanned byte by byte (GB18030 goes through the
    /// converter only for what is not ASCII or a two-byte character), MARC-8
    /// is decoded into a buffer of this object.
    [[nodiscard]] std::size_t countInvalid(Charset charset, std::span<const unsigned char> bytes);

    /// countInvalid for GBK together with what the automatic rules look for,
    /// in one pass over bytes that hold whole characters (such as fields back
    /// to back).
    [[nodiscard]] TextScan scanText(std::span<const unsigned char> bytes);

    /// The bytes of UTF-8 text in a set; nothing when the set cannot hold one
    /// of its characters (or it is not valid UTF-8). MARC-8 is not encoded:
    /// it is searched as decoded text.
    [[nodiscard]] std::optional<std::string> encode(Charset charset, std::string_view utf8);

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
};

}  // namespace veltrane
