// SPDX-License-Identifier: Apache-2.0
#include "rules/StandardNumbers.h"

#include <string>

namespace veltrane::rules {

namespace {

/// The number's digits (and X), up to the qualifier that may follow it.
std::string numberPart(std::string_view value)
{
    std::string digits;
    for (char c : value) {
        if ((c >= '0' && c <= '9') || c == 'X' || c == 'x')
            digits += c == 'x' ? 'X' : c;
        else if (c == '-' || (c == ' ' && digits.empty()))
            continue;
        else
            break;
    }
    return digits;
}

int digitValue(char c)
{
    return c == 'X' ? 10 : c - '0';
}

/// Mod 11 with weights counting down to 1 at the check digit (ISBN-10 and ISSN).
NumberFault checkMod11(const std::string& digits)
{
    int sum = 0;
    const int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        if (digits[i] == 'X' && i != n - 1)
            return NumberFault::CheckDigit;
        sum += digitValue(digits[i]) * (n - i);
    }
    return sum % 11 == 0 ? NumberFault::None : NumberFault::CheckDigit;
}

}  // namespace

NumberFault CheckIsbn(std::string_view value)
{
    const std::string digits = numberPart(value);
    if (digits.size() == 10)
        return checkMod11(digits);
    if (digits.size() != 13)
        return NumberFault::Length;
    // ISBN-13: weights 1, 3, 1, 3, … over all thirteen digits, sum a multiple of 10.
    int sum = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (digits[i] == 'X')
            return NumberFault::CheckDigit;
        sum += (digits[i] - '0') * (i % 2 == 0 ? 1 : 3);
    }
    return sum % 10 == 0 ? NumberFault::None : NumberFault::CheckDigit;
}

NumberFault CheckIssn(std::string_view value)
{
    const std::string digits = numberPart(value);
    if (digits.size() != 8)
        return NumberFault::Length;
    return checkMod11(digits);
}

}  // namespace veltrane::rules
