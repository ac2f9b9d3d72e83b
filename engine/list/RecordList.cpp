// SPDX-License-Identifier: Apache-2.0
#include "list/RecordList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

#include "iso2709/RecordLayout.h"
#include "list/TextOrder.h"

namespace veltrane {

namespace {

constexpr int kStoredCells = kListColumnCount - 1;  // every column but the number
constexpr int kTitleKeySlot = kStoredCells;          // after the cells
constexpr int kSlotsPerRow = kStoredCells + 1;
constexpr std::size_t kArenaLimit = std::numeric_limits<std::uint32_t>::max();
// Rows a sort or filter handles between two looks at its stop token.
constexpr std::size_t kStopCheckRows = 1 << 16;

int slotOf(ListColumn column) { return static_cast<int>(column) - 1; }

/// A cell's value when it is a whole number of at most 18 digits.
std::optional<std::uint64_t> wholeNumber(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

std::string_view ListColumnHeading(ListColumn column)
{
    switch (column) {
    case ListColumn::Number: return "纪录号";
    case ListColumn::ControlNumber: return "001";
    case ListColumn::Title: return "题名";
    case ListColumn::Author: return "责任者";
    case ListColumn::Publisher: return "出版者";
    case ListColumn::Year: return "年代";
    case ListColumn::Isbn: return "ISBN";
    case ListColumn::Charset: return "字符集";
    case ListColumn::Problems: return "问题";
    }
    return {};
}

void RecordList::append(const ListRow& row)
{
    if (rows() == 0)
        m_ownColumns = row.own.size();
    std::size_t size = kSlotsPerRow + m_ownColumns;
    for (int c = 1; c < kListColumnCount; ++c)
        size += row.cells[static_cast<std::size_t>(c)].size();
    size += row.titleSortKey.size();
    for (std::size_t k = 0; k < m_ownColumns && k < row.own.size(); ++k)
        size += row.own[k].size();
    const std::size_t start = m_arena.size();
    if (start + size > kArenaLimit) {
        m_rowStart.push_back(static_cast<std::uint32_t>(kArenaLimit));
        return;
    }
    for (int c = 1; c < kListColumnCount; ++c) {
        m_arena += row.cells[static_cast<std::size_t>(c)];
        m_arena += '\0';
    }
    m_arena += row.titleSortKey;
    m_arena += '\0';
    for (std::size_t k = 0; k < m_ownColumns; ++k) {
        if (k < row.own.size())
            m_arena += row.own[k];
        m_arena += '\0';
    }
    m_rowStart.push_back(static_cast<std::uint32_t>(start));
}

void RecordList::append(const RecordList& rows)
{
    if (this->rows() == 0)
        m_ownColumns = rows.m_ownColumns;
    const std::size_t base = m_arena.size();
    if (base + rows.m_arena.size() > kArenaLimit || rows.m_ownColumns != m_ownColumns) {
        for (std::size_t row = 0; row < rows.rows(); ++row) {
            ListRow copy;
            for (int c = 1; c < kListColumnCount; ++c)
                copy.cells[static_cast<std::size_t>(c)] = rows.cell(row, static_cast<ListColumn>(c));
            const std::string_view key = rows.slot(row, kTitleKeySlot);
            copy.titleSortKey.assign(key.data(), key.size());
            for (std::size_t k = 0; k < rows.m_ownColumns; ++k)
                copy.own.emplace_back(rows.cell(row, OwnColumn(k)));
            append(copy);
        }
        return;
    }
    m_arena += rows.m_arena;
    m_rowStart.reserve(m_rowStart.size() + rows.m_rowStart.size());
    for (std::uint32_t start : rows.m_rowStart)
        m_rowStart.push_back(start == kArenaLimit ? start : static_cast<std::uint32_t>(base + start));
}

void RecordList::clear()
{
    m_arena.clear();
    m_rowStart.clear();
    m_ownColumns = 0;
}

void RecordList::shrinkToFit()
{
    m_arena.shrink_to_fit();
    m_rowStart.shrink_to_fit();
}

std::string_view RecordList::slot(std::size_t row, int index) const
{
    if (row >= m_rowStart.size() || m_rowStart[row] == kArenaLimit)
        return {};
    const char* at = m_arena.data() + m_rowStart[row];
    for (int i = 0; i < index; ++i)
        at += std::strlen(at) + 1;
    return {at, std::strlen(at)};
}

std::string_view RecordList::cell(std::size_t row, ListColumn column) const
{
    if (column == ListColumn::Number || static_cast<std::size_t>(column) >= columns())
        return {};
    return slot(row, static_cast<int>(column) < kListColumnCount ? slotOf(column)
                                                                   : kSlotsPerRow + static_cast<int>(column) - kListColumnCount);
}

std::string_view RecordList::titleSortKey(std::size_t row) const
{
    const std::string_view key = slot(row, kTitleKeySlot);
    return key.empty() ? cell(row, ListColumn::Title) : key;
}

std::size_t RecordList::bytesUsed() const
{
    return m_arena.capacity() + m_rowStart.capacity() * sizeof(std::uint32_t);
}

ListOrder FileOrder(std::size_t rows)
{
    ListOrder order(rows);
    std::iota(order.begin(), order.end(), 0u);
    return order;
}

ListOrder SortListRows(const RecordList& list, ListOrder order, ListColumn column, bool descending,
                       const std::stop_token& stop)
{
    if (column == ListColumn::Number) {
        std::stable_sort(order.begin(), order.end(),
                         [descending](std::uint32_t a, std::uint32_t b) { return descending ? b < a : a < b; });
        return order;
    }
    // Each row's key is found once, not once a comparison.
    struct Key {
        std::string_view text;
        std::optional<std::uint64_t> number;
    };
    std::vector<Key> keys(list.rows());
    for (std::size_t row = 0; row < keys.size(); ++row) {
        if (row % kStopCheckRows == 0 && stop.stop_requested())
            return order;
        keys[row].text = column == ListColumn::Title ? list.titleSortKey(row) : list.cell(row, column);
        keys[row].number = wholeNumber(keys[row].text);
    }
    const Key none;
    auto keyOf = [&](std::uint32_t row) -> const Key& { return row < keys.size() ? keys[row] : none; };
    auto less = [](const Key& a, const Key& b) {
        if (a.number && b.number)
            return *a.number < *b.number;
        return TextSortsBefore(a.text, b.text);
    };
    auto before = [&](std::uint32_t a, std::uint32_t b) {
        return descending ? less(keyOf(b), keyOf(a)) : less(keyOf(a), keyOf(b));
    };
    // A merge sort in runs, so that a stop is seen between steps: runs
    // sorted one by one, then merged pairwise (both steps stable).
    const std::size_t n = order.size();
    const auto at = [&order](std::size_t i) { return order.begin() + static_cast<std::ptrdiff_t>(i); };
    for (std::size_t start = 0; start < n; start += kStopCheckRows) {
        if (stop.stop_requested())
            return order;
        std::stable_sort(at(start), at(std::min(start + kStopCheckRows, n)), before);
    }
    for (std::size_t width = kStopCheckRows; width < n; width *= 2)
        for (std::size_t low = 0; low + width < n; low += 2 * width) {
            if (stop.stop_requested())
                return order;
            std::inplace_merge(at(low), at(low + width), at(std::min(low + 2 * width, n)), before);
        }
    return order;
}

namespace {

/// Whether text holds needle (already folded), ASCII letters ignoring case.
bool holdsFolded(std::string_view text, std::string_view needle)
{
    if (needle.size() > text.size())
        return false;
    const unsigned char first = static_cast<unsigned char>(needle[0]);
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (FoldUpper(static_cast<unsigned char>(text[i])) != first)
            continue;
        std::size_t k = 1;
        while (k < needle.size() && FoldUpper(static_cast<unsigned char>(text[i + k])) == static_cast<unsigned char>(needle[k]))
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}

}  // namespace

ListOrder FilterListRows(const RecordList& list, const ListOrder& order, std::optional<ListColumn> column,
                         std::string_view text, const std::stop_token& stop)
{
    if (text.empty())
        return order;
    std::string needle(text);
    for (char& c : needle)
        c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
    ListOrder kept;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k % kStopCheckRows == 0 && stop.stop_requested())
            return kept;
        const std::uint32_t row = order[k];
        bool holds = false;
        for (int c = 0; c < static_cast<int>(list.columns()) && !holds; ++c) {
            const ListColumn each = static_cast<ListColumn>(c);
            if (column && *column != each)
                continue;
            if (each == ListColumn::Number)
                holds = holdsFolded(RecordList::numberText(row), needle);
            else
                holds = holdsFolded(list.cell(row, each), needle);
        }
        if (holds)
            kept.push_back(row);
    }
    return kept;
}

}  // namespace veltrane
