// SPDX-License-Identifier: Apache-2.0
#include "charset/Charset.h"

#include <iconv.h>
#include <yaz/yaz-iconv.h>

#include <array>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "charset/ByteWords.h"
#include "charset/CharsetInternal.h"
#include "charset/DoubleByteScan.h"
#include "charset/GbkPrivateUse.h"
#include "charset/Utf8.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {


struct TextCodec::Handles {
    inline static const iconv_t kClosed = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    std::unique_ptr<DoubleByteTable> gbkTable, gb18030Table;
    std::string scratch;  ///< text countInvalid() has decode() make and throws away

    /// The table of GBK or GB18030, made on first use; nullptr when the system
    /// lacks the set.
    [[nodiscard]] const DoubleByteTable* doubleByteTable(Charset charset);
    yaz_iconv_t marc8 = nullptr;
    bool marc8Tried = false;
    /// Per single-byte MARC-8 set (by its final byte): the bytes libyaz maps
    /// to nothing, found by asking libyaz once per set. It drops such bytes
    /// without a word; the display shows them as U+FFFD and counts them.
    std::array<std::optional<std::bitset<256>>, 128> marc8Unmapped;
    yaz_iconv_t marc8Probe = nullptr;  ///< a handle of its own, so probing never disturbs a run

    [[nodiscard]] std::size_t decodeMarc8(std::span<const unsigned char> bytes, std::string& out);
    [[nodiscard]] const std::bitset<256>& unmappedIn(unsigned char set);
    [[nodiscard]] bool eaccMapped(std::span<const unsigned char> triple);
    std::unordered_map<std::uint32_t, bool> eaccKnown;  ///< answers of the probe handle so far
    iconv_t fromGbk = kClosed, fromGb18030 = kClosed, toGbk = kClosed, toGb18030 = kClosed;

    ~Handles()
    {
        for (yaz_iconv_t h : {marc8, marc8Probe})
            if (h != nullptr)
                yaz_iconv_close(h);
        for (iconv_t h : {fromGbk, fromGb18030, toGbk, toGb18030})
            if (h != kClosed)
                iconv_close(h);
    }

    /// The handle, opened on first use; kClosed when the system lacks the set.
    static iconv_t open(iconv_t& handle, const char* to, const char* from)
    {
        if (handle == kClosed)
            handle = iconv_open(to, from);
        return handle;
    }
};

const DoubleByteTable* TextCodec::Handles::doubleByteTable(Charset charset)
{
    const bool gbk = charset == Charset::Gbk;
    std::unique_ptr<DoubleByteTable>& table = gbk ? gbkTable : gb18030Table;
    if (table)
        return table.get();
    const iconv_t cd = gbk ? open(fromGbk, "UTF-8", "GBK") : open(fromGb18030, "UTF-8", "GB18030");
    if (cd == kClosed)
        return nullptr;
    table = BuildDoubleByteTable(cd);
    return table.get();
}


TextCodec::TextCodec() : m_handles(std::make_unique<Handles>()) {}
TextCodec::~TextCodec() = default;

namespace {

/// Every byte as U+FFFD, for a set whose converter could not be opened.
std::size_t replaceAll(std::span<const unsigned char> bytes, std::string& out)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        AppendUtf8(out, kReplacementCharacter);
    return bytes.size();
}

/// What a converter refuses is left to convertLenient.
struct NoMending {
    std::size_t operator()(const char*, std::size_t, std::string&) const { return 0; }
};

/// Runs an iconv-like converter over bytes, appending to out. Where it stops,
/// `mend` may write the text of what it refused and return how many bytes
/// that took; otherwise the byte becomes U+FFFD and is counted, and
/// conversion goes on after it.
template <class Convert, class Reset, class Mend = NoMending>
std::size_t convertLenient(std::span<const unsigned char> bytes, std::string& out, Convert convert, Reset reset,
                           Mend mend = {})
{
    std::size_t invalid = 0;
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    // No set makes more than a few bytes of a byte; a converter that keeps
    // asking for room without end is stopped.
    const std::size_t outLimit = out.size() + bytes.size() * 16 + 256;
    while (true) {
        const std::size_t used = out.size();
        const std::size_t room = inLeft * 4 + 16;
        out.resize(used + room);
        char* outPtr = out.data() + used;
        std::size_t outLeft = room;
        const bool failed = convert(&in, &inLeft, &outPtr, &outLeft);
        out.resize(out.size() - outLeft);
        if (!failed) {
            if (inLeft == 0)
                return invalid;
            continue;
        }
        if (errno == E2BIG && out.size() < outLimit)
            continue;
        if (errno == E2BIG) {
            AppendUtf8(out, kReplacementCharacter);
            return invalid + inLeft;
        }
        // EILSEQ, or EINVAL for a sequence cut off at the end.
        if (inLeft == 0)
            return invalid;
        if (const std::size_t mended = mend(in, inLeft, out); mended > 0) {
            in += mended;
            inLeft -= mended;
            reset();
            continue;
        }
        ++in;
        --inLeft;
        ++invalid;
        AppendUtf8(out, kReplacementCharacter);
        reset();
    }
}


// MARC-8 escape sequences: ESC, then '$' for a multibyte set, then '(' or ','
// for G0 or ')' or '-' for G1, then '!' for ANSEL, then the final byte naming
// the set. Technique 1 escapes (ESC g, ESC b, ESC p, ESC s) have the final
// byte alone.
constexpr std::string_view kMarc8KnownFinals = "BsEgbp2NQ34S1";
constexpr unsigned char kMarc8Eacc = '1';  // the three-byte East Asian set
constexpr std::size_t kEaccCacheLimit = 1 << 16;
constexpr unsigned char kAnsel = 'E';
// ANSEL writes the double diacritics in two halves, one over each letter;
// Unicode has one combining character over both, so the second half maps to
// nothing, rightly.
constexpr unsigned char kAnselLigatureSecondHalf = 0xEC;
constexpr unsigned char kAnselDoubleTildeSecondHalf = 0xFB;

struct Marc8Escape {
    std::size_t length = 0;  ///< 0: the run ends inside it
    bool g1 = false;
    unsigned char final = 0;
};

Marc8Escape parseMarc8Escape(std::span<const unsigned char> bytes, std::size_t i)
{
    Marc8Escape e;
    std::size_t k = i + 1;
    if (k < bytes.size() && bytes[k] == '$')
        ++k;
    if (k < bytes.size() && (bytes[k] == '(' || bytes[k] == ','))
        ++k;
    else if (k < bytes.size() && (bytes[k] == ')' || bytes[k] == '-')) {
        e.g1 = true;
        ++k;
    }
    if (k < bytes.size() && bytes[k] == '!')
        ++k;
    if (k >= bytes.size())
        return e;
    e.final = bytes[k];
    e.length = k + 1 - i;
    return e;
}

/// Starts libyaz afresh with the sets g0 and g1 designated. After an error its
/// state is not to be trusted: it may still hold marks read for a base letter.
void restartMarc8(yaz_iconv_t cd, unsigned char g0, unsigned char g1)
{
    yaz_iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const unsigned char designate[] = {kEscapeByte, '(', g0, kEscapeByte, ')', g1};
    char* in = const_cast<char*>(reinterpret_cast<const char*>(designate));
    std::size_t inLeft = sizeof designate;
    std::array<char, 16> ignored;
    char* outPtr = ignored.data();
    std::size_t outLeft = ignored.size();
    yaz_iconv(cd, &in, &inLeft, &outPtr, &outLeft);
}

/// Runs libyaz over bytes without ending the run: its sets stay designated. A
/// byte it refuses becomes U+FFFD, and it goes on with g0 and g1 designated.
std::size_t feedMarc8(yaz_iconv_t cd, std::span<const unsigned char> bytes, std::string& out,
                      unsigned char g0 = 'B', unsigned char g1 = 'E')
{
    return convertLenient(
        bytes, out,
        [cd](char** in, std::size_t* inLeft, char** outPtr, std::size_t* outLeft) {
            if (yaz_iconv(cd, in, inLeft, outPtr, outLeft) != static_cast<std::size_t>(-1))
                return false;
            errno = yaz_iconv_error(cd) == YAZ_ICONV_E2BIG ? E2BIG : EILSEQ;
            return true;
        },
        [cd, g0, g1] { restartMarc8(cd, g0, g1); });
}

/// Ends a libyaz run: marks held for a base letter come out, and the next run
/// starts from the default sets (ASCII and ANSEL).
void endMarc8Run(yaz_iconv_t cd, std::string& out)
{
    std::array<char, 64> tail;
    char* tailPtr = tail.data();
    std::size_t tailLeft = tail.size();
    yaz_iconv(cd, nullptr, nullptr, &tailPtr, &tailLeft);
    out.append(tail.data(), tail.size() - tailLeft);
}

/// The bytes libyaz maps to nothing in the single-byte set `final`.
std::bitset<256> probeMarc8Set(yaz_iconv_t cd, unsigned char final)
{
    std::bitset<256> unmapped;
    for (int b = 0x21; b < 0x100; ++b) {
        if (b == 0x7F || b == 0x80)
            continue;
        // The byte in the set, then an ASCII space as a base for a mark.
        const unsigned char probe[] = {kEscapeByte, static_cast<unsigned char>(b < 0x80 ? '(' : ')'), final,
                                       static_cast<unsigned char>(b), kEscapeByte, '(', 'B', ' '};
        std::string text;
        const std::size_t invalid = feedMarc8(cd, probe, text);
        endMarc8Run(cd, text);
        unmapped[b] = invalid != 0 || text == " ";
    }
    unmapped[0x7F] = unmapped[0xFF] = true;
    unmapped[0x80] = true;
    if (final == kAnsel)
        unmapped[kAnselLigatureSecondHalf] = unmapped[kAnselDoubleTildeSecondHalf] = false;
    return unmapped;
}


}  // namespace

const std::bitset<256>& TextCodec::Handles::unmappedIn(unsigned char set)
{
    auto& table = marc8Unmapped[set & 0x7F];
    if (!table) {
        if (marc8Probe == nullptr)
            marc8Probe = yaz_iconv_open("UTF-8", "MARC8");
        table = marc8Probe != nullptr ? probeMarc8Set(marc8Probe, set) : std::bitset<256>();
    }
    return *table;
}

bool TextCodec::Handles::eaccMapped(std::span<const unsigned char> triple)
{
    const std::uint32_t key = triple[0] << 16 | triple[1] << 8 | triple[2];
    if (const auto it = eaccKnown.find(key); it != eaccKnown.end())
        return it->second;
    if (marc8Probe == nullptr)
        marc8Probe = yaz_iconv_open("UTF-8", "MARC8");
    bool mapped = false;
    if (marc8Probe != nullptr) {
        const unsigned char probe[] = {kEscapeByte, '$', '1', triple[0], triple[1], triple[2]};
        std::string text;
        mapped = feedMarc8(marc8Probe, probe, text) == 0 && !text.empty();
        endMarc8Run(marc8Probe, text);
    }
    // Bounded: a file of random triples must not grow it without end.
    if (eaccKnown.size() >= kEaccCacheLimit)
        eaccKnown.clear();
    eaccKnown.emplace(key, mapped);
    return mapped;
}

/// MARC-8 through libyaz, which knows the sets and moves each combining mark
/// after its base letter. What it would drop or stall on is taken out first:
/// an escape to a set it does not know becomes one U+FFFD (the run goes on in
/// the sets before it), a byte a single-byte set does not map becomes U+FFFD,
/// and C0 controls pass as they are.
std::size_t TextCodec::Handles::decodeMarc8(std::span<const unsigned char> bytes, std::string& out)
{
    const yaz_iconv_t cd = marc8;
    std::size_t invalid = 0;
    unsigned char g0 = 'B', g1 = 'E';
    std::size_t fed = 0;  // bytes before this have gone to libyaz or been replaced
    // libyaz never sees an escape within a stretch of text: each goes alone,
    // so the sets in use are known wherever it may fail.
    auto feed = [&](std::size_t end) {
        invalid += feedMarc8(cd, bytes.subspan(fed, end - fed), out, g0, g1);
        fed = end;
    };
    auto replace = [&](std::size_t at, std::size_t length, bool picture) {
        feed(at);
        if (picture) {
            out += static_cast<char>(bytes[at]);
        } else {
            AppendUtf8(out, kReplacementCharacter);
            invalid += length;
        }
        fed = at + length;
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char b = bytes[i];
        if (b == kEscapeByte) {
            const Marc8Escape e = parseMarc8Escape(bytes, i);
            if (e.length == 0) {
                replace(i, bytes.size() - i, false);  // cut off by the run's end
                break;
            }
            if (kMarc8KnownFinals.find(static_cast<char>(e.final)) == std::string_view::npos) {
                replace(i, e.length, false);
            } else {
                feed(i);
                (e.g1 ? g1 : g0) = e.final;
                feed(i + e.length);
            }
            i += e.length;
            continue;
        }
        if (b < 0x20) {
            replace(i, 1, true);
            ++i;
            continue;
        }
        const unsigned char set = b < 0x80 ? g0 : g1;
        if (set == kMarc8Eacc && b != ' ') {
            // Three bytes a character; libyaz drops a cut or unknown one. A
            // space is one by itself and ends a cut character.
            std::size_t n = 1;
            while (n < 3 && i + n < bytes.size() && bytes[i + n] > ' ')
                ++n;
            if (n < 3 || !eaccMapped(bytes.subspan(i, 3))) {
                replace(i, n, false);
            }
            i += n;
            continue;
        }
        if (b != ' ' && unmappedIn(set)[b])
            replace(i, 1, false);
        ++i;
    }
    feed(bytes.size());
    endMarc8Run(cd, out);
    return invalid;
}

std::size_t TextCodec::decode(Charset charset, std::span<const unsigned char> bytes, std::string& out)
{
    if (bytes.empty())
        return 0;
    // UTF-8 passes ASCII through as it is, controls included.
    if (charset == Charset::Utf8)
        return DecodeUtf8(bytes, out);
    // Most runs are plain ASCII, the same in every set (every MARC-8 run starts
    // in ASCII and ANSEL).
    if (AllPrintableAscii(bytes)) {
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return 0;
    }
    Handles& h = *m_handles;
    switch (charset) {
    case Charset::Utf8:
        return DecodeUtf8(bytes, out);
    case Charset::Gbk:
    case Charset::Gb18030: {
        const iconv_t cd = charset == Charset::Gbk ? Handles::open(h.fromGbk, "UTF-8", "GBK")
                                                   : Handles::open(h.fromGb18030, "UTF-8", "GB18030");
        if (cd == Handles::kClosed)
            return replaceAll(bytes, out);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        auto convert = [cd](char** in, std::size_t* inLeft, char** outPtr, std::size_t* outLeft) {
            return iconv(cd, in, inLeft, outPtr, outLeft) == static_cast<std::size_t>(-1);
        };
        auto reset = [cd] { iconv(cd, nullptr, nullptr, nullptr, nullptr); };
        if (charset == Charset::Gb18030)
            return convertLenient(bytes, out, convert, reset);
        // GBK codes the converter refuses but code page 936 gives a Private
        // Use character show as that character. They still count as invalid
        // bytes, as countInvalid counts them.
        bool privateUse = false;
        auto showPrivateUse = [&privateUse](const char* in, std::size_t inLeft, std::string& text) -> std::size_t {
            if (inLeft < 2)
                return 0;
            const std::optional<char32_t> cp =
                GbkPrivateUse(static_cast<unsigned char>(in[0]), static_cast<unsigned char>(in[1]));
            if (!cp)
                return 0;
            AppendUtf8(text, *cp);
            privateUse = true;
            return 2;
        };
        const std::size_t invalid = convertLenient(bytes, out, convert, reset, showPrivateUse);
        if (!privateUse)
            return invalid;
        const DoubleByteTable* table = h.doubleByteTable(Charset::Gbk);
        return table != nullptr ? CountInvalidDoubleByte(*table, bytes, false) : invalid;
    }
    case Charset::Marc8:
        if (!h.marc8Tried) {
            h.marc8Tried = true;
            h.marc8 = yaz_iconv_open("UTF-8", "MARC8");
        }
        if (h.marc8 == nullptr)
            return replaceAll(bytes, out);
        return h.decodeMarc8(bytes, out);
    }
    return replaceAll(bytes, out);
}

std::size_t TextCodec::countInvalid(Charset charset, std::span<const unsigned char> bytes)
{
    Handles& h = *m_handles;
    switch (charset) {
    case Charset::Utf8:
        return CountInvalidUtf8(bytes);
    case Charset::Gbk:
    case Charset::Gb18030: {
        const DoubleByteTable* table = h.doubleByteTable(charset);
        if (table == nullptr)
            return AllPrintableAscii(bytes) ? 0 : bytes.size();
        const std::size_t invalid = CountInvalidDoubleByte(*table, bytes, charset == Charset::Gb18030);
        if (invalid != kUnsettled)
            return invalid;
        break;
    }
    case Charset::Marc8:
        break;
    }
    h.scratch.clear();
    return decode(charset, bytes, h.scratch);
}

TextScan TextCodec::scanText(std::span<const unsigned char> bytes)
{
    TextScan scan;
    if (const DoubleByteTable* table = m_handles->doubleByteTable(Charset::Gbk)) {
        scan.invalidGbk = CountInvalidDoubleByte(*table, bytes, false, &scan);
        return scan;
    }
    scan.invalidGbk = countInvalid(Charset::Gbk, bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        scan.high |= bytes[i] >= 0x80;
        scan.escape |= bytes[i] == kEscapeByte;
        scan.highBeforeDigit |= i > 0 && bytes[i - 1] >= 0x80 && IsAsciiDigit(bytes[i]);
    }
    return scan;
}

namespace {

/// Valid UTF-8 text in GBK as code page 936 writes it: the Private Use
/// characters its decoding shows for the codes the converter leaves empty go
/// back to those codes, and a character the converter would drop without a
/// trace (it drops tag characters) cannot be held.
std::optional<std::string> encodeGbk(iconv_t cd, std::string_view utf8)
{
    std::string encoded;
    encoded.reserve(utf8.size() + 8);
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t codePoint = NextCodePoint(utf8, i);
        if (codePoint < 0x80 || codePoint == kCodePage936LoneByteCharacter) {
            encoded += static_cast<char>(codePoint < 0x80 ? codePoint : kCodePage936LoneByte);
            continue;
        }
        if (const std::optional<unsigned short> code = GbkPrivateUseCode(codePoint)) {
            encoded += static_cast<char>(*code >> 8);
            encoded += static_cast<char>(*code & 0xFF);
            continue;
        }
        char* in = const_cast<char*>(utf8.data() + start);
        std::size_t inLeft = i - start;
        char out[8];
        char* outPtr = out;
        std::size_t outLeft = sizeof out;
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || outPtr == out)
            return std::nullopt;
        encoded.append(out, static_cast<std::size_t>(outPtr - out));
    }
    return encoded;
}

}  // namespace

std::optional<std::string> TextCodec::encode(Charset charset, std::string_view utf8)
{
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
    std::string checked;
    if (DecodeUtf8(bytes, checked) != 0)
        return std::nullopt;
    if (charset == Charset::Utf8)
        return checked;
    if (charset == Charset::Marc8)
        return std::nullopt;
    Handles& h = *m_handles;
    const iconv_t cd = charset == Charset::Gbk ? Handles::open(h.toGbk, "GBK", "UTF-8")
                                               : Handles::open(h.toGb18030, "GB18030", "UTF-8");
    if (cd == Handles::kClosed)
        return std::nullopt;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (charset == Charset::Gbk)
        return encodeGbk(cd, checked);
    std::string encoded(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = encoded.data();
    std::size_t outLeft = encoded.size();
    // Every character takes at most four bytes in either set, never more than
    // its UTF-8 form plus one, so one pass always has room.
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    encoded.resize(encoded.size() - outLeft);
    return encoded;
}

}  // namespace veltrane
