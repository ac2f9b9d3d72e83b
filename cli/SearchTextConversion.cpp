#include "SearchTextConversion.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

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

GbkText convertToGbk(std::string_view text)
{
    const char* charset = ::nl_langinfo(CODESET);
    Converter toWide(kWideCharset, charset);
    Converter toGbk("GBK", kWideCharset);
    if (!toWide.valid() || !toGbk.valid())
        return {{}, std::string("cannot convert from ") + charset + " to GBK; give the bytes with --raw"};

    std::string wide;
    if (!toWide.convert(text, wide))
        return {{}, std::string("TEXT is not valid ") + charset +
                        " text; set the locale (LC_ALL, LANG) or give the bytes with --raw"};

    // One character at a time, so a failure names the character.
    GbkText result;
    for (std::size_t i = 0; i + 4 <= wide.size(); i += 4) {
        if (!toGbk.convert(std::string_view(wide).substr(i, 4), result.bytes)) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePointAt(wide, i)));
            return {{}, std::string("TEXT holds a character that GBK cannot hold (") + name + ")"};
        }
    }
    return result;
}

}  // namespace veltrane::cli
