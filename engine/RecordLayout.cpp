#include "RecordLayout.h"

namespace veltrane {

std::uint32_t ParseDigits(const unsigned char* bytes, std::size_t n)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n && IsAsciiDigit(bytes[i]); ++i)
        value = value * 10 + static_cast<std::uint32_t>(bytes[i] - '0');
    return value;
}

unsigned char FieldTerminator(int mode)
{
    return mode == dmSpecial1 ? kSpecialFieldTerminator : kStandardFieldTerminator;
}

unsigned char SubfieldDelimiter(int mode)
{
    return (mode == dmSpecial1 || mode == dmSpecial2) ? kSpecialSubfieldDelimiter
                                                      : kStandardSubfieldDelimiter;
}

}  // namespace veltrane
