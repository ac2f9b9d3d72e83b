// SPDX-License-Identifier: Apache-2.0
#include "list/ColumnPath.h"

#include <cctype>

namespace veltrane {

namespace {

constexpr std::size_t kMaxPosition = 99'999;  // a record's length never reaches past it

bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// Reads the decimal number at text[at...], moving at past it.
std::optional<std::size_t> number(std::string_view text, std::size_t& at)
{
    const std::size_t start = at;
    std::size_t value = 0;
    while (at < text.size() && isDigit(text[at]) && value <= kMaxPosition)
        value = value * 10 + static_cast<std::size_t>(text[at++] - '0');
    if (at == start || value > kMaxPosition)
        return std::nullopt;
    return value;
}

ColumnPathParse refuse(std::string message) { return {std::nullopt, std::move(message)}; }

}  // namespace

std::string ColumnPath::text() const
{
    std::string out = tag;
    if (code != 0) {
        out += '$';
        out += code;
    }
    if (every)
        out += '*';
    if (last) {
        const auto two = [](std::size_t n) { return n < 10 ? "0" + std::to_string(n) : std::to_string(n); };
        out += '/' + two(first);
        if (*last != first)
            out += '-' + two(*last);
    }
    return out;
}

ColumnPathParse ParseColumnPath(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty())
        return refuse("请输入路径，例如 245$a、245$a*、008/35-37 或 LDR/06。");
    ColumnPath path;
    std::size_t at = 0;
    if (text.size() >= 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'L'
        && std::toupper(static_cast<unsigned char>(text[1])) == 'D' && std::toupper(static_cast<unsigned char>(text[2])) == 'R') {
        path.tag = "LDR";
    } else if (text.size() >= 3 && isAlnum(text[0]) && isAlnum(text[1]) && isAlnum(text[2])) {
        path.tag = std::string(text.substr(0, 3));
    } else {
        return refuse("“" + std::string(text) + "”的开头应是三个字母或数字的字段号，或 LDR（头标）。");
    }
    at = 3;
    // The subfield code, with or without '$' before it.
    if (at < text.size() && text[at] == '$') {
        ++at;
        if (at >= text.size() || !isAlnum(text[at]))
            return refuse("“$”后应是一个字母或数字的子字段代码。");
    }
    if (at < text.size() && isAlnum(text[at])) {
        if (path.leader())
            return refuse("头标（LDR）没有子字段，只能取位置，例如 LDR/06。");
        if (path.tag.compare(0, 2, "00") == 0)
            return refuse("控制字段 " + path.tag + " 没有子字段，只能取位置，例如 008/35-37。");
        path.code = text[at++];
        if (at < text.size() && isAlnum(text[at]))
            return refuse("子字段代码只有一个字母或数字：“" + std::string(text) + "”。");
    }
    if (at < text.size() && text[at] == '*') {
        if (path.leader())
            return refuse("头标（LDR）只有一个，不能用“*”。");
        path.every = true;
        ++at;
    }
    if (at < text.size() && text[at] == '/') {
        ++at;
        const std::optional<std::size_t> from = number(text, at);
        if (!from)
            return refuse("“/”后应是位置，例如 /06 或 /35-37（从 0 数起）。");
        std::optional<std::size_t> to = from;
        if (at < text.size() && text[at] == '-') {
            ++at;
            to = number(text, at);
            if (!to)
                return refuse("“-”后应是最后一个位置，例如 /35-37。");
            if (*to < *from)
                return refuse("位置的结尾不能在开头之前：“" + std::string(text) + "”。");
        }
        path.first = *from;
        path.last = to;
    }
    if (at < text.size())
        return refuse("无法理解“" + std::string(text.substr(at)) + "”：路径的形式如 245$a、245$a*、008/35-37、"
                      "LDR/06 或 100$a/9-12。");
    return {std::move(path), {}};
}

}  // namespace veltrane
