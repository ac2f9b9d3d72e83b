// SPDX-License-Identifier: Apache-2.0
#include "rules/StandardNumbers.h"


namespace veltrane::rules {

namespace {

/// A number's digits (and X), up to the qualifier that may follow it, summed
/// as they come for both checks: past kMost of them only their being too
/// many counts.
struct NumberScan {
    static constexpr int kMost = 14;
    int count = 0;
    int firstX = -1;  ///< where the first X is
    /// The digits weighted count, count - 1, …, 1 from the first (ISBN-10,
    /// ISSN): the sum of the running sums.
    int countingDown = 0;
    int alternating = 0;  ///< weighted 1, 3, 1, 3, … from the first (ISBN-13)

    explicit NumberScan(std::string_view value)
    {
        int running = 0, weight = 1;  // the ISBN-13 weight of the next digit: 1, 3, 1, …
        for (const char c : value) {
            auto digit = static_cast<unsigned>(static_cast<unsigned char>(c) - '0');
            if (digit > 9) {
                if ((c | 0x20) == 'x') {
                    digit = 10;
                    if (firstX < 0)
                        firstX = count;
                } else if (c == '-' || (c == ' ' && count == 0)) {
                    continue;
                } else {
                    break;
                }
            }
            running += static_cast<int>(digit);
            countingDown += running;
            alternating += static_cast<int>(digit) * weight;
            weight ^= 2;
            if (++count == kMost)
                break;
        }
    }

    /// Mod 11 with weights counting down to 1 at the check digit, which
    /// alone may be X (ISBN-10 and ISSN).
    [[nodiscard]] NumberFault mod11() const
    {
        if (firstX >= 0 && firstX != count - 1)
            return NumberFault::CheckDigit;
        return countingDown % 11 == 0 ? NumberFault::None : NumberFault::CheckDigit;
    }
};

}  // namespace

NumberFault CheckIsbn(std::string_view value)
{
    const NumberScan number(value);
    if (number.count == 10)
        return number.mod11();
    if (number.count != 13)
        return NumberFault::Length;
    // ISBN-13: weights 1, 3, 1, 3, … over all thirteen digits, sum a multiple of 10.
    if (number.firstX >= 0)
        return NumberFault::CheckDigit;
    return number.alternating % 10 == 0 ? NumberFault::None : NumberFault::CheckDigit;
}

NumberFault CheckIssn(std::string_view value)
{
    const NumberScan number(value);
    return number.count != 8 ? NumberFault::Length : number.mod11();
}

}  // namespace veltrane::rules
