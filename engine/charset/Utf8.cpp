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

namespace {

/// Walks bytes as the decoder reads them and calls onInvalid(offset, bytes) for
/// each maximal start of an ill-formed sequence; returns the bytes invalid.
template <typename OnInvalid>
std::size_t WalkInvalidUtf8(std::span<const unsigned char> bytes, OnInvalid onInvalid)
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
            onInvalid(i, s.subpart);
            invalid += s.subpart;
            i += s.subpart;
        } else {
            i += s.length;
        }
    }
    return invalid;
}

}  // namespace

std::size_t DecodeUtf8(std::span<const unsigned char> bytes, std::string& out)
{
    const char* const begin = reinterpret_cast<const char*>(bytes.data());
    std::size_t copied = 0;  // bytes before this are in out; valid text goes in whole stretches
    // One U+FFFD for each maximal start of a sequence, as Unicode recommends;
    // the count is of bytes.
    const std::size_t invalid = WalkInvalidUtf8(bytes, [&](std::size_t at, std::size_t length) {
        out.append(begin + copied, at - copied);
        AppendUtf8(out, kReplacementCharacter);
        copied = at + length;
    });
    out.append(begin + copied, bytes.size() - copied);
    return invalid;
}

std::size_t CountInvalidUtf8(std::span<const unsigned char> bytes)
{
    return WalkInvalidUtf8(bytes, [](std::size_t, std::size_t) {});
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
