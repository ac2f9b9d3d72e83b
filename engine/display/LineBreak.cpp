// SPDX-License-Identifier: Apache-2.0
#include "display/LineBreak.h"

#include <cstring>
#include <string_view>

#include "charset/UnicodeWidth.h"
#include "charset/Utf8.h"
#include "display/LineWrap.h"

namespace veltrane {

char* BreakDecodedLine(char* floor, char* at, int& col, bool nextIsCode)
{
    char* breakAt = at;
    int carried = 0;  // columns of what moves to the continuation line
    // Back from the end, one character at a time, while it starts in the last columns.
    int behind = 0;  // columns from p to at
    bool followedByMark = false;
    for (char* p = at; p > floor;) {
        char* start = p - 1;
        while (start > floor && (static_cast<unsigned char>(*start) & 0xC0) == 0x80)
            --start;
        if (*start == '\n')
            break;
        std::size_t i = 0;
        const char32_t cp = NextCodePoint(std::string_view(start, static_cast<std::size_t>(p - start)), i);
        const int width = DisplayWidth(cp);
        if (col - behind - width < kLineColumns - kWordBreakColumns)
            break;
        if (cp == ' ' && !followedByMark) {
            breakAt = p;
            carried = behind;
            break;
        }
        followedByMark = IsClusterExtender(cp);
        behind += width;
        p = start;
    }
    if (breakAt == at && nextIsCode && at > floor && at[-1] == '$' && col > kContinuationIndent + 1) {
        breakAt = at - 1;
        carried = 1;
    }
    const std::size_t moved = static_cast<std::size_t>(at - breakAt);
    std::memmove(breakAt + kLineWrap.size(), breakAt, moved);
    std::memcpy(breakAt, kLineWrap.data(), kLineWrap.size());
    col = kContinuationIndent + carried;
    return at + kLineWrap.size();
}

}  // namespace veltrane
