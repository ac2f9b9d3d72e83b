// SPDX-License-Identifier: Apache-2.0
#include "search/SearchText.h"

#include "charset/Utf8.h"
#include "search/RecordSearch.h"

namespace veltrane {

SearchTextBytes SearchTextIn(TextCodec& codec, Charset set, std::string_view typedUtf8)
{
    SearchTextBytes result;
    result.bytes = codec.encode(set, typedUtf8);
    if (result.bytes || set == Charset::Marc8)
        return result;
    // Name the character that stopped it: one character at a time.
    for (std::size_t i = 0; i < typedUtf8.size();) {
        const std::size_t start = i;
        const char32_t codePoint = NextCodePoint(typedUtf8, i);
        if (!codec.encode(set, typedUtf8.substr(start, i - start))) {
            result.unheld = codec.encode(Charset::Utf8, typedUtf8.substr(start, i - start)) ? codePoint
                                                                                             : kReplacementCharacter;
            return result;
        }
    }
    result.unheld = kReplacementCharacter;  // whole characters pass, the text does not
    return result;
}

TypedSearchText CheckTypedSearchText(TextCodec& codec, CharsetSetting setting, std::string_view typedUtf8)
{
    TypedSearchText result;
    std::optional<std::string> gbk = SearchTextIn(codec, Charset::Gbk, typedUtf8).bytes;
    if (setting == CharsetSetting::Gbk && !gbk) {
        result.refusal = SearchTextRefusal::NotInGbk;
        return result;
    }
    if (setting == CharsetSetting::Gb18030 && !gbk && !SearchTextIn(codec, Charset::Gb18030, typedUtf8).bytes) {
        result.refusal = SearchTextRefusal::NotInGb18030;
        return result;
    }
    result.length = gbk ? gbk->size() : typedUtf8.size();
    if (result.length > kMaxSearchTextLength) {
        result.refusal = SearchTextRefusal::TooLong;
        return result;
    }
    if (gbk)
        result.gbk = std::move(*gbk);
    return result;
}

}  // namespace veltrane
