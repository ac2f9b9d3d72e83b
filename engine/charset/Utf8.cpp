// SPDX-License-Identifier: Apache-2.0
#include "charset/Utf8.h"

#include "charset/ByteWords.h"

namespace veltrane {

bool IsValidUtf8(std::span<const unsigned char> bytes)
{
    const unsigned char* const begin = bytes.data();
    const unsigned char* const end = begin + bytes.size();
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(SkipAscii(begin + i, end) - begin);
        if (i >= bytes.size())
            break;
        const std::size_t n = Utf8SequenceAt(bytes, i).length;
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::size_t DecodeUtf8(std::span<const unsigned char> bytes, std::string& out)
{
    std::size_t invalid = 0;
    const unsigned char* const begin = bytes.data();
    const unsigned char* const end = begin + bytes.size();
    std::size_t copied = 0;  // bytes before this are in out; valid text goes in whole stretches
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(SkipAscii(begin + i, end) - begin);
        if (i >= bytes.size())
            break;
        const Utf8Sequence s = Utf8SequenceAt(bytes, i);
        if (s.length == 0) {
            // One U+FFFD for each maximal start of a sequence, as Unicode
            // recommends; the count is of bytes.
            out.append(reinterpret_cast<const char*>(begin + copied), i - copied);
            AppendUtf8(out, kReplacementCharacter);
            invalid += s.subpart;
            i += s.subpart;
            copied = i;
        } else {
            i += s.length;
        }
    }
    out.append(reinterpret_cast<const char*>(begin + copied), bytes.size() - copied);
    return invalid;
}

std::size_t CountInvalidUtf8(std::span<const unsigned char> bytes)
{
    std::size_t invalid = 0;
    const unsigned char* const begin = bytes.data();
    const unsigned char* const end = begin + bytes.size();
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(SkipAscii(begin + i, end) - begin);
        if (i >= bytes.size())
            break;
        const Utf8Sequence s = Utf8SequenceAt(bytes, i);
        if (s.length == 0) {
            invalid += s.subpart;
            i += s.subpart;
        } else {
            i += s.length;
        }
    }
    return invalid;
}

bool CountUtf8Multibyte(std::span<const unsigned char> bytes, int& multibyte)
{
    const unsigned char* const begin = bytes.data();
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(SkipAscii(begin + i, begin + bytes.size()) - begin);
        if (i >= bytes.size())
            break;
        const std::size_t n = Utf8SequenceAt(bytes, i).length;
        if (n == 0)
            return false;
        multibyte += n > 1;
        i += n;
    }
    return true;
}

}  // namespace veltrane
