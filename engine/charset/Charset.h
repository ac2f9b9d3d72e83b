#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "iso2709/RecordFields.h"

namespace veltrane {

/// The character sets records are read in.
enum class Charset { Gbk, Gb18030, Utf8, Marc8 };

/// What a window or a command asks for: one set, or a decision per record.
enum class CharsetSetting { Auto, Gbk, Gb18030, Utf8, Marc8 };

/// The set a record is read in and why: `rule` is the number (1-7) of the
/// automatic rule that decided, 0 when the setting named the set.
struct CharsetDecision {
    Charset charset = Charset::Gbk;
    int rule = 0;
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
/// Whether the bytes of one field 100 (after its tag) make a record
/// UNIMARC-shaped.
[[nodiscard]] bool IsUnimarcGeneralData(std::span<const unsigned char> field100);

/// Decides the set of one record by the automatic rules (the README lists
/// them). Never fails: GBK when nothing else fits.
[[nodiscard]] CharsetDecision DetectCharset(const RecordFields& record);
/// One field of a record where it stands: its tag and the bytes after it.
struct FieldView {
    std::string_view tag;
    std::span<const unsigned char> data;
};
/// The bytes of fields as runs: fields that follow one another, as most
/// records hold them, make one run.
void JoinFieldBytes(std::span<const FieldView> fields, std::vector<std::span<const unsigned char>>& pieces);
/// DetectCharset of the RecordFields a record would give whose fields are
/// these, without copying them: every tag must be three ASCII letters or
/// digits and every field must end with an ASCII byte that is neither a digit
/// nor ESC (its terminator). `pieces` is scratch of the caller.
[[nodiscard]] CharsetDecision DetectCharset(std::span<const unsigned char, kLeaderLength> leader,
                                            std::span<const FieldView> fields,
                                            std::vector<std::span<const unsigned char>>& pieces);
/// What one pass over a record's text tells a record check: the count
/// TextCodec::countInvalid gives for GBK, and what the automatic rules look
/// for in it.
struct TextScan {
    std::size_t invalidGbk = 0;
    bool high = false;             ///< a byte 0x80 or above
    bool escape = false;           ///< an ESC, which starts a MARC-8 set change
    bool highBeforeDigit = false;  ///< a high byte followed by an ASCII digit, as in a GB18030 four-byte form
};
/// What the TextScans of all the fields of a record found, so that the
/// automatic rules need not scan the bytes again for them.
struct CharsetHints {
    bool escape = false;
    bool highBeforeDigit = false;
};
/// DetectCharset of fields where they stand, whose bytes JoinFieldBytes has
/// joined into `joined`, given the CharsetHints of those bytes.
[[nodiscard]] CharsetDecision DetectCharset(std::span<const unsigned char, kLeaderLength> leader,
                                            std::span<const FieldView> fields,
                                            std::span<const std::span<const unsigned char>> joined,
                                            const CharsetHints& hints);
/// The set a setting gives a record: the named one, or the detected one.
[[nodiscard]] CharsetDecision ChooseCharset(CharsetSetting setting, const RecordFields& record);

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

/// Display text of one record decoded to UTF-8: the byte layout's lines (tag,
/// then the field with '$' for a subfield delimiter before a letter or digit,
/// one line per field), wrapped at 77 display columns (East Asian wide and
/// full-width characters count 2, combining marks and format characters 0)
/// with five-space continuation lines. A break never falls inside a
/// character, never parts a combining mark from its base (only a run of
/// spacing marks wider than a whole line is broken between code points), so no
/// line is wider than 77 columns. Every line, the last included, ends with
/// '\n'; a wrap that falls exactly at a field's end makes no empty
/// continuation line. Each text run (tag, subfield, the bytes between
/// delimiters) is decoded on its own, so MARC-8 escapes start afresh in each.
/// Controls show as pictures: C0 controls as U+2400-U+241F (NUL as U+2400,
/// a lone subfield delimiter as U+241F), DEL as U+2421, C1 controls as U+FFFD
/// (not counted as invalid). invalidBytes counts the bytes not valid in the
/// set (U+FFFD stands for each such byte, or in UTF-8 for each maximal
/// ill-formed subpart).
struct DecodedDisplay {
    std::string text;
    std::size_t invalidBytes = 0;
};
[[nodiscard]] DecodedDisplay RenderDecodedDisplayText(TextCodec& codec, Charset charset, const RecordFields& record,
                                                      unsigned char fieldTerminator, unsigned char subfieldDelimiter);
/// The same text appended to out (whose buffer a caller may use again from
/// record to record); returns invalidBytes.
std::size_t RenderDecodedDisplayText(TextCodec& codec, Charset charset, const RecordFields& record,
                                     unsigned char fieldTerminator, unsigned char subfieldDelimiter, std::string& out);
/// The same text made the general way for every set: each run decoded
/// through the codec, then each line laid out. UTF-8 records take a single
/// pass over their bytes instead, which must give exactly this.
std::size_t RenderDecodedDisplayTextByRuns(TextCodec& codec, Charset charset, const RecordFields& record,
                                           unsigned char fieldTerminator, unsigned char subfieldDelimiter,
                                           std::string& out);

/// Display columns of one code point (0, 1 or 2) under the rule above.
[[nodiscard]] int DisplayWidth(char32_t codePoint);
/// Whether a code point stays on the line of the one before it: combining
/// marks (Mn, Mc, Me) and the zero-width joiner and non-joiner.
[[nodiscard]] bool IsClusterExtender(char32_t codePoint);

}  // namespace veltrane
