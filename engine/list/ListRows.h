// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "iso2709/RecordLayout.h"
#include "list/ColumnPath.h"
#include "list/RecordList.h"
#include "rules/RuleCheck.h"

namespace veltrane {

/// Makes a record's row of the list, decoded from the record's own set to
/// UTF-8:
/// - UNIMARC-shaped: title 200 $a, author 200 $f, publisher 210 $c, ISBN 010 $a;
/// - MARC 21: title 245 $a without trailing ISBD punctuation, author
///   100/110/111 $a else 245 $c, publisher 264 (second indicator 1) $b else
///   260 $b, ISBN 020 $a, their trailing punctuation left off too;
/// - both: 001, the year by `PublicationYear`, the set as `TellCharset` tells
///   it, and the count of its problems: the structural ones, and the content
///   findings of the rules `rules` gives it (none with RuleSetting::None),
///   not counting the notice that its kind has no rules.
/// The first occurrence of a field and subfield counts. Controls are left out
/// of the text; a non-sorting span (NSB ... NSE) stays in the title as it
/// reads and is left out of its sort key, which also starts past the
/// nonfiling characters of MARC 21's 245 (second indicator).
/// The columns of one's own follow their paths (`ColumnPath`), decoded the
/// same way, controls left out, blanks around a value trimmed unless it is
/// taken by positions (counted in characters of the decoded text).
/// Keeps its buffers and codec from record to record: use one per thread.
class ListRowMaker {
public:
    ListRowMaker(DelimiterMode mode, CharsetSetting setting, std::vector<ColumnPath> ownColumns = {},
                 RuleSetting rules = RuleSetting::None);
    ~ListRowMaker();
    ListRowMaker(const ListRowMaker&) = delete;
    ListRowMaker& operator=(const ListRowMaker&) = delete;

    /// The row of one record: its bytes as the file holds them
    /// (declaredLength of them, fewer when the file ends inside it).
    void make(std::span<const unsigned char> bytes, std::uint32_t declaredLength, ListRow& row);

private:
    struct Work;
    std::unique_ptr<Work> m_work;
};

}  // namespace veltrane
