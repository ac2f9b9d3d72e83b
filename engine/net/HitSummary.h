// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace veltrane {

/// What a hit list shows of a record, decoded to UTF-8 from the set the
/// automatic rules give it: the record list's columns of the same names
/// (list/ListRows.h says which fields they come from). Each is empty when
/// the record has none.
struct HitSummary {
    std::string controlNumber;  ///< 001
    std::string title;
    std::string author;
    std::string date;  ///< the year of publication
    std::string isbn;
};

/// The summary of one standard ISO 2709 record (all of `iso2709` is the record).
[[nodiscard]] HitSummary SummariseRecord(std::string_view iso2709);

}  // namespace veltrane
