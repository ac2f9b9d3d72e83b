// SPDX-License-Identifier: Apache-2.0
// The raw-byte rule for MARC-8 text against decoding: any piece of a field's
// decoded text, searched for, must pass the rule on the field's raw bytes, or
// a search would miss it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "RecordFiles.h"
#include "charset/Charset.h"
#include "charset/UnicodeCompose.h"
#include "charset/Utf8.h"
#include "iso2709/Iso2709Reader.h"
#include "iso2709/RecordLayout.h"
#include "search/Marc8Prefilter.h"

using namespace veltrane;

namespace {

/// The field as the search compares it: its tag, then each run between
/// subfield delimiters decoded on its own, composed and folded.
std::string decodedField(TextCodec& codec, const IsoField& field)
{
    std::string text(field.tag);
    const std::span<const unsigned char> data = field.data.first(field.data.empty() ? 0 : field.data.size() - 1);
    std::size_t runStart = 0;
    for (std::size_t k = 0; k <= data.size(); ++k) {
        if (k < data.size() && data[k] != kStandardSubfieldDelimiter)
            continue;
        (void)codec.decode(Charset::Marc8, data.subspan(runStart, k - runStart), text);
        if (k < data.size())
            text += static_cast<char>(kStandardSubfieldDelimiter);
        runStart = k + 1;
    }
    ComposeCanonically(text);
    for (char& c : text)
        c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
    return text;
}

/// Whether typed text holds "$" before a letter or digit, which names a
/// subfield: no record holds it literally.
bool namesSubfield(const std::string& text)
{
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '$' && IsAsciiLetterOrDigit(static_cast<unsigned char>(text[i + 1])))
            return true;
    return false;
}

/// Code point boundaries of text.
std::vector<std::size_t> boundaries(const std::string& text)
{
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < text.size();) {
        at.push_back(i);
        (void)NextCodePoint(text, i);
    }
    at.push_back(text.size());
    return at;
}

TEST(Marc8Prefilter, PassesEveryPieceOfTheDecodedTextOnTheRawBytes)
{
    const char* corpusDir = std::getenv("VELTRANE_CORPUS_DIR");
    const std::filesystem::path corpus = corpusDir != nullptr ? corpusDir : VELTRANE_SOURCE_DIR "/../shared/corpus";
    if (!std::filesystem::is_directory(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    std::string records;
    for (const char* name : {"marc4j_brkrtest_marc8.mrc", "marcperl_cjk1_marc8.marc", "xbib_irmarc8.mrc",
                             "solrmarc_uva_2000.mrc", "openlibrary_880_nihon_no_chasho.mrc"}) {
        std::ifstream in(corpus / name, std::ios::binary);
        records.append(std::istreambuf_iterator<char>(in), {});
    }
    // Hand-made fields: a ligature's second half and a double tilde's after
    // ASCII, a combining mark before its letter, escapes into CJK and back.
    for (const char* data : {"10\x1f" "along ab\xec" "cd\x1f" "bthe tw\xfb" "st", "  \x1f" "aLe Caf\xe2" "e noir",
                             "  \x1f" "a\x1b$1!0\x21!0\x22\x1b(B tail"}) {
        records += testsupport::MakeRecord({{"008", "830101s1983"}, {"245", data}});
    }
    TextCodec codec;
    Iso2709Reader reader;
    std::mt19937 random(880);
    std::size_t checked = 0;
    for (std::size_t at = 0; at + kLeaderLength <= records.size();) {
        const std::size_t end = records.find('\x1d', at);
        if (end == std::string::npos)
            break;
        const auto* bytes = reinterpret_cast<const unsigned char*>(records.data() + at);
        reader.read({bytes, end + 1 - at});
        at = end + 1;
        for (const IsoField& field : reader.fields()) {
            const std::string text = decodedField(codec, field);
            const std::vector<std::size_t> cut = boundaries(text);
            std::string raw(field.tag);
            raw.append(reinterpret_cast<const char*>(field.data.data()), field.data.empty() ? 0 : field.data.size() - 1);
            for (int probe = 0; probe < 6 && cut.size() > 2; ++probe) {
                const std::size_t from = cut[random() % (cut.size() - 1)];
                const std::size_t to = cut[std::min(cut.size() - 1, static_cast<std::size_t>(
                                                                        std::lower_bound(cut.begin(), cut.end(), from) - cut.begin()) +
                                                                        1 + random() % 12)];
                const std::string piece = text.substr(from, to - from);
                if (namesSubfield(piece))
                    continue;  // a typed "$a" names a subfield: no text holds it literally
                SearchQuery query;
                query.text = piece;
                const Marc8Prefilter rule(piece, query);
                EXPECT_TRUE(rule.mayHold(reinterpret_cast<const unsigned char*>(raw.data()), raw.size()))
                    << "'" << piece << "' in field " << field.tag << " '" << text << "'";
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 1000u);
}

TEST(Marc8Prefilter, RulesOutBytesThatCannotHoldTheText)
{
    SearchQuery query;
    const auto holds = [&](std::string_view text, std::string_view raw) {
        return Marc8Prefilter(text, query).mayHold(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
    };
    EXPECT_FALSE(holds("LONG ABCD", "245long abxd"));
    EXPECT_TRUE(holds("LONG ABCD", "245LONG ABcx"));   // all but the last letter, which a mark may precede
    EXPECT_TRUE(holds("LONG ABCD", "245LONG AB\xec" "CD"));
    EXPECT_FALSE(holds("北京", "245plain text"));       // ideographs need an escape
    EXPECT_TRUE(holds("北京", "245\x1b$1!0\x21"));
    EXPECT_TRUE(holds("é", "245anything"));             // no ASCII to look for, no escape needed
    EXPECT_EQ(FirstAsciiRunBreak(reinterpret_cast<const unsigned char*>("ab\xec"), 3, 2), 2u);
}

}  // namespace
