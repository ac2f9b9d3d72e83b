// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "charset/Charset.h"

namespace veltrane {

/// What a hit list shows of a record, decoded to UTF-8 from its own set.
/// Each is empty when the record has none.
struct HitSummary {
    std::string controlNumber;  ///< 001
    std::string title;          ///< UNIMARC 200 $a; MARC 21 245 $a
    std::string author;         ///< UNIMARC 700/701/702 $a, else 200 $f; MARC 21 100/110/111 $a, else 245 $c
    std::string date;           ///< the year of publication, by the profile's rule
    std::string isbn;           ///< UNIMARC 010 $a; MARC 21 020 $a
};

/// The summary of one standard ISO 2709 record, read in the set the
/// automatic rules give it.
[[nodiscard]] HitSummary SummariseRecord(std::string_view iso2709, TextCodec& codec);

}  // namespace veltrane
