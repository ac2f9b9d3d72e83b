// SPDX-License-Identifier: Apache-2.0
#include "formats/LineDiff.h"

#include <algorithm>
#include <vector>

namespace veltrane {

namespace {

// Above this many cells the middle of two texts is not matched line by line:
// a record's lines are few, and a repair changes a handful of them.
constexpr std::size_t kMaxMatchCells = 4'000'000;

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

struct Edit {
    char mark;           ///< ' ', '-' or '+'
    std::size_t before;  ///< lines of `before` ahead of this one
    std::size_t after;   ///< lines of `after` ahead of this one
    std::string_view line;
};

/// The edits that turn a into b: the common head and tail kept, the middle
/// matched by its longest common subsequence.
std::vector<Edit> edits(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b)
{
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const std::size_t n = a.size() - head - tail, m = b.size() - head - tail;

    std::vector<Edit> out;
    std::size_t i = 0, j = 0;
    for (; i < head; ++i, ++j)
        out.push_back({' ', i, j, a[i]});
    if (n > 0 && m > 0 && (n + 1) * (m + 1) <= kMaxMatchCells) {
        // common[x][y]: the longest common subsequence of a's middle from x and b's from y.
        std::vector<std::size_t> common((n + 1) * (m + 1), 0);
        auto at = [&](std::size_t x, std::size_t y) -> std::size_t& { return common[x * (m + 1) + y]; };
        for (std::size_t x = n; x-- > 0;)
            for (std::size_t y = m; y-- > 0;)
                at(x, y) = a[head + x] == b[head + y] ? at(x + 1, y + 1) + 1 : std::max(at(x + 1, y), at(x, y + 1));
        std::size_t x = 0, y = 0;
        while (x < n || y < m) {
            if (x < n && y < m && a[head + x] == b[head + y]) {
                out.push_back({' ', i++, j++, a[head + x]});
                ++x, ++y;
            } else if (y == m || (x < n && at(x + 1, y) >= at(x, y + 1))) {
                out.push_back({'-', i++, j, a[head + x++]});
            } else {
                out.push_back({'+', i, j++, b[head + y++]});
            }
        }
    } else {
        for (std::size_t x = 0; x < n; ++x)
            out.push_back({'-', i++, j, a[head + x]});
        for (std::size_t y = 0; y < m; ++y)
            out.push_back({'+', i, j++, b[head + y]});
    }
    for (std::size_t k = 0; k < tail; ++k, ++i, ++j)
        out.push_back({' ', i, j, a[i]});
    return out;
}

void appendRange(std::string& out, std::size_t start, std::size_t count)
{
    // An empty side is named by the line before it, as diff -u does.
    out += std::to_string(count == 0 ? start : start + 1);
    if (count != 1) {
        out += ',';
        out += std::to_string(count);
    }
}

}  // namespace

void AppendUnifiedDiff(std::string_view before, std::string_view after, std::string& out, std::size_t context)
{
    if (before == after)
        return;
    const std::vector<Edit> script = edits(splitLines(before), splitLines(after));
    std::size_t k = 0;
    while (k < script.size()) {
        while (k < script.size() && script[k].mark == ' ')
            ++k;
        if (k == script.size())
            break;
        // A hunk runs from `context` lines before its first change to
        // `context` after its last, taking in changes closer than twice that.
        const std::size_t first = k >= context ? k - context : 0;
        std::size_t last = k;  // one past the last change
        for (std::size_t scan = k; scan < script.size(); ++scan) {
            if (script[scan].mark != ' ')
                last = scan + 1;
            else if (scan - last >= 2 * context)
                break;
        }
        const std::size_t end = std::min(script.size(), last + context);
        std::size_t removed = 0, added = 0;
        for (std::size_t e = first; e < end; ++e) {
            removed += script[e].mark != '+' ? 1 : 0;
            added += script[e].mark != '-' ? 1 : 0;
        }
        out += "@@ -";
        appendRange(out, script[first].before, removed);
        out += " +";
        appendRange(out, script[first].after, added);
        out += " @@\n";
        for (std::size_t e = first; e < end; ++e) {
            out += script[e].mark;
            out += script[e].line;
            if (script[e].line.empty() || script[e].line.back() != '\n')
                out += '\n';
        }
        k = end;
    }
}

}  // namespace veltrane
