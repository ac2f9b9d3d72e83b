// SPDX-License-Identifier: Apache-2.0
#include "net/Isbn.h"

namespace veltrane {

namespace {

char isbn13CheckDigit(std::string_view twelveDigits)
{
    int sum = 0;
    for (std::size_t i = 0; i < 12; ++i)
        sum += (twelveDigits[i] - '0') * (i % 2 == 0 ? 1 : 3);
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

char isbn10CheckDigit(std::string_view nineDigits)
{
    int sum = 0;
    for (std::size_t i = 0; i < 9; ++i)
        sum += (nineDigits[i] - '0') * static_cast<int>(10 - i);
    const int check = (11 - sum % 11) % 11;
    return check == 10 ? 'X' : static_cast<char>('0' + check);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::string> NormaliseIsbn(std::string_view text)
{
    std::string compact;
    for (char c : text) {
        if (c == '-' || c == ' ' || c == '\t' || c == '\r')
            continue;
        if (compact.size() == 13)
            return std::nullopt;
        compact += c == 'x' ? 'X' : c;
    }
    if (compact.size() == 10) {
        for (std::size_t i = 0; i < 9; ++i)
            if (!isDigit(compact[i]))
                return std::nullopt;
        if (compact[9] != isbn10CheckDigit(compact))
            return std::nullopt;
        std::string isbn13 = "978" + compact.substr(0, 9);
        isbn13 += isbn13CheckDigit(isbn13);
        return isbn13;
    }
    if (compact.size() == 13) {
        for (char c : compact)
            if (!isDigit(c))
                return std::nullopt;
        if (!compact.starts_with("978") && !compact.starts_with("979"))
            return std::nullopt;
        if (compact[12] != isbn13CheckDigit(compact))
            return std::nullopt;
        return compact;
    }
    return std::nullopt;
}

std::optional<std::string> Isbn10Of(std::string_view isbn13)
{
    if (isbn13.size() != 13 || !isbn13.starts_with("978"))
        return std::nullopt;
    for (char c : isbn13)
        if (!isDigit(c))
            return std::nullopt;
    std::string isbn10(isbn13.substr(3, 9));
    isbn10 += isbn10CheckDigit(isbn10);
    return isbn10;
}

}  // namespace veltrane
