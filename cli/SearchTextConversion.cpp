#include "SearchTextConversion.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>

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

std::uint32_t codePointAt(const std::string& wide, std::size_t i)
{
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(wide[i + k])) << (8 * k);
    return value;
}

}  // namespace

namespace {

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

/// The wide text in a set, one character at a time so that a failure names
/// the character; nothing (with the message) when the set cannot hold one.
std::optional<std::string> wideTo(const char* set, const char* shownName, const std::string& wide, std::string& error)
{
    Converter converter(set, kWideCharset);
    std::string bytes;
    for (std::size_t i = 0; i + 4 <= wide.size(); i += 4) {
        if (!converter.valid() || !converter.convert(std::string_view(wide).substr(i, 4), bytes)) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePointAt(wide, i)));
            error = std::string("TEXT holds a character that ") + shownName + " cannot hold (" + name + ")";
            return std::nullopt;
        }
    }
    return bytes;
}

}  // namespace

TypedSearchText convertSearchText(std::string_view text, CharsetSetting setting)
{
    TypedSearchText result;
    const std::string wide = toWide(text, result.error);
    if (!result.error.empty())
        return result;
    std::string ignored;
    const std::optional<std::string> utf8 = wideTo("UTF-8", "UTF-8", wide, ignored);
    result.utf8 = utf8.value_or(std::string());
    std::optional<std::string> limiting;
    switch (setting) {
    case CharsetSetting::Gbk:
        limiting = wideTo("GBK", "GBK", wide, result.error);
        break;
    case CharsetSetting::Gb18030:
        limiting = wideTo("GB18030", "GB18030", wide, result.error);
        break;
    case CharsetSetting::Auto:
        limiting = wideTo("GBK", "GBK", wide, ignored);
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
