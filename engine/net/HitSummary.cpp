// SPDX-License-Identifier: Apache-2.0
#include "net/HitSummary.h"

#include <span>

#include "list/ListRows.h"

namespace veltrane {

namespace {

/// A list cell: tabs and line ends would break a line of the hit list.
std::string cell(const ListRow& row, ListColumn column)
{
    std::string text = row.cells[static_cast<std::size_t>(column)];
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

}  // namespace

HitSummary SummariseRecord(std::string_view iso2709)
{
    ListRowMaker maker(dmNormal, CharsetSetting::Auto);
    ListRow row;
    maker.make({reinterpret_cast<const unsigned char*>(iso2709.data()), iso2709.size()},
               static_cast<std::uint32_t>(iso2709.size()), row);
    return {cell(row, ListColumn::ControlNumber), cell(row, ListColumn::Title), cell(row, ListColumn::Author),
            cell(row, ListColumn::Year), cell(row, ListColumn::Isbn)};
}

}  // namespace veltrane
