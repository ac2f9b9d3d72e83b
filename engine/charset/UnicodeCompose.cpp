// SPDX-License-Identifier: Apache-2.0
#include "charset/UnicodeCompose.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "charset/Utf8.h"

namespace veltrane {

namespace {

struct Composition {
    char32_t base, mark, composite;
};
constexpr Composition kCompositions[] = {
#include "charset/UnicodeCompose.generated.inc"
};

// No second character of a composition stands below this: most characters of
// a text are passed without a look in the table.
constexpr char32_t kLowestMark = [] {
    char32_t lowest = kCompositions[0].mark;
    for (const Composition& c : kCompositions)
        lowest = std::min(lowest, c.mark);
    return lowest;
}();

std::optional<char32_t> composed(char32_t base, char32_t mark)
{
    if (mark < kLowestMark)
        return std::nullopt;
    const auto* end = std::end(kCompositions);
    const auto* it = std::lower_bound(std::begin(kCompositions), end, Composition{base, mark, 0},
                                      [](const Composition& a, const Composition& b) {
                                          return a.base != b.base ? a.base < b.base : a.mark < b.mark;
                                      });
    if (it != end && it->base == base && it->mark == mark)
        return it->composite;
    return std::nullopt;
}

}  // namespace

void ComposeCanonically(std::string& text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0xCC; }))
        return;  // no byte that can start a combining mark (U+0300 and up)
    std::string out;
    out.reserve(text.size());
    std::size_t baseAt = std::string::npos;  // where the last base character starts in out
    char32_t base = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (baseAt != std::string::npos) {
            if (const std::optional<char32_t> joined = composed(base, cp)) {
                out.resize(baseAt);
                base = *joined;
                AppendUtf8(out, base);
                continue;
            }
        }
        const bool mark = (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF)
                          || (cp >= 0x1DC0 && cp <= 0x1DFF) || (cp >= 0x20D0 && cp <= 0x20FF)
                          || (cp >= 0xFE20 && cp <= 0xFE2F) || (cp >= 0x3099 && cp <= 0x309A);
        if (!mark) {
            baseAt = out.size();
            base = cp;
        }
        AppendUtf8(out, cp);
    }
    text = std::move(out);
}

}  // namespace veltrane
