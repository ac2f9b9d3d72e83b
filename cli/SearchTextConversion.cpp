// SPDX-License-Identifier: Apache-2.0
#include "SearchTextConversion.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "search/SearchText.h"

namespace veltrane::cli {

namespace {

// iconv reports an invalid input byte and a character the target set lacks
// with the same error, so the text goes through UTF-32 first: the first step
// can only fail on the input, the second only on GBK.
constexpr const char* kWideCharset = "UTF-32LE";

class Converter {
public:
    Converter(const char* to, const char* from) : m_handle(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            ::iconv_close(m_handle);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    [[nodiscard]] bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    /// Converts all of input; false with errno set at the first failure.
    bool convert(std::string_view input, std::string& output)
    {
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char chunk[256];
        for (;;) {
            char* out = chunk;
            std::size_t outLeft = sizeof chunk;
            std::size_t result = ::iconv(m_handle, inLeft > 0 ? &in : nullptr, &inLeft, &out, &outLeft);
            output.append(chunk, sizeof chunk - outLeft);
            if (result != static_cast<std::size_t>(-1)) {
                if (inLeft == 0)
                    return true;
                continue;
            }
            if (errno != E2BIG)
                return false;
        }
    }

private:
    iconv_t m_handle;
};

/// The text in wide characters, or the message why the locale's text is not.
std::string toWide(std::string_view text, std::string& error)
{
    const char* charset = ::nl_langinfo(CODESET);
    Converter converter(kWideCharset, charset);
    std::string wide;
    if (!converter.valid())
        error = std::string("cannot convert from ") + charset + "; give the bytes with --raw";
    else if (!converter.convert(text, wide))
        error = std::string("TEXT is not valid ") + charset +
                " text; set the locale (LC_ALL, LANG) or give the bytes with --raw";
    return wide;
}

/// The wide text as UTF-8.
std::string wideToUtf8(const std::string& wide)
{
    Converter converter("UTF-8", kWideCharset);
    std::string utf8;
    if (!converter.valid() || !converter.convert(wide, utf8))
        utf8.clear();
    return utf8;
}

/// The text in the set that limits its length; nothing, with the message,
/// when the set cannot hold one of its characters.
std::optional<std::string> limitingBytes(Charset set, const std::string& utf8, std::string& error)
{
    static TextCodec codec;
    const SearchTextBytes encoded = SearchTextIn(codec, set, utf8);
    if (!encoded.bytes) {
        char name[16];
        std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(encoded.unheld));
        error = std::string("TEXT holds a character that ") + (set == Charset::Gbk ? "GBK" : "GB18030") +
                " cannot hold (" + name + ")";
    }
    return encoded.bytes;
}

}  // namespace

TypedSearchText convertSearchText(std::string_view text, CharsetSetting setting)
{
    TypedSearchText result;
    const std::string wide = toWide(text, result.error);
    if (!result.error.empty())
        return result;
    result.utf8 = wideToUtf8(wide);
    std::string ignored;
    std::optional<std::string> limiting;
    switch (setting) {
    case CharsetSetting::Gbk:
        limiting = limitingBytes(Charset::Gbk, result.utf8, result.error);
        break;
    case CharsetSetting::Gb18030:
        limiting = limitingBytes(Charset::Gb18030, result.utf8, result.error);
        break;
    case CharsetSetting::Auto:
        limiting = limitingBytes(Charset::Gbk, result.utf8, ignored);
        break;
    case CharsetSetting::Utf8:
    case CharsetSetting::Marc8:
        break;
    }
    if (!result.error.empty())
        return result;
    result.searchedLength = limiting ? limiting->size() : result.utf8.size();
    return result;
}

}  // namespace veltrane::cli
