// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

/// The columns of a record list, in the order it shows them; the columns of
/// one's own follow, kListColumnCount + k being the k-th (`OwnColumn`).
enum class ListColumn : int {
    Number = 0,     ///< 纪录号: the record's number in the file (1-based)
    ControlNumber,  ///< 001
    Title,          ///< 题名
    Author,         ///< 责任者
    Publisher,      ///< 出版者
    Year,           ///< 年代
    Isbn,           ///< ISBN
    Charset,        ///< 字符集: the set as a user is told it
    Problems,       ///< 问题: how many structural problems the record has
};
inline constexpr int kListColumnCount = 9;
/// The k-th column of one's own (0-based).
[[nodiscard]] constexpr ListColumn OwnColumn(std::size_t k) { return static_cast<ListColumn>(kListColumnCount + static_cast<int>(k)); }

/// A column's heading (UTF-8).
[[nodiscard]] std::string_view ListColumnHeading(ListColumn column);

/// The text of one record's row: one UTF-8 cell per column but the number,
/// and the title as it sorts (empty when it sorts as it reads), then the cells
/// of the columns of one's own.
struct ListRow {
    std::array<std::string, kListColumnCount> cells;  ///< cells[Number] is unused
    std::string titleSortKey;
    std::vector<std::string> own;
};

/// The rows of a record list, row k (0-based) being record k + 1 of the file.
/// Every row's cells lie in one UTF-8 arena, each ended by a NUL byte, with a
/// 32-bit offset a row: the cells never hold NUL (controls are left out when
/// a row is made). The arena stops taking rows at 4 GiB; a row it refuses
/// reads as empty cells. Every row has as many cells of one's own as the
/// first row appended had (missing ones are empty, extra ones dropped).
class RecordList {
public:
    /// Appends a row.
    void append(const ListRow& row);
    /// Appends every row of another list after this one's.
    void append(const RecordList& rows);
    void clear();
    /// Gives back the room grown for rows to come (once the fill has ended).
    void shrinkToFit();

    /// Rows filled so far.
    [[nodiscard]] std::size_t rows() const { return m_rowStart.size(); }
    /// Columns, the number and those of one's own counted.
    [[nodiscard]] std::size_t columns() const { return kListColumnCount + m_ownColumns; }
    /// The text of a cell (the number is made from the row); empty past the
    /// rows filled.
    [[nodiscard]] std::string_view cell(std::size_t row, ListColumn column) const;
    /// The number of record row + 1, as the list shows it.
    [[nodiscard]] static std::string numberText(std::size_t row) { return std::to_string(row + 1); }
    /// The title as it sorts: past its nonfiling characters and non-sorting spans.
    [[nodiscard]] std::string_view titleSortKey(std::size_t row) const;
    /// Bytes the list holds (arena and offsets).
    [[nodiscard]] std::size_t bytesUsed() const;

private:
    /// The cells of a row, each after the last, the title's sort key last.
    [[nodiscard]] std::string_view slot(std::size_t row, int index) const;

    std::string m_arena;
    std::vector<std::uint32_t> m_rowStart;
    std::size_t m_ownColumns = 0;
};

/// Row indexes (0-based) of a list in the order it shows them.
using ListOrder = std::vector<std::uint32_t>;

/// Rows 0 .. rows - 1 sorted by a column, stably (rows of equal cells keep
/// their order from `order`): cells that are both whole numbers compare as
/// numbers, titles by their sort key, text as `TextSortsBefore` orders it
/// (code points, hanzi in pinyin order); reversed
/// with `descending`, ties still in their earlier order. A stop asked for
/// through `stop` ends it early with an order that means nothing (the caller
/// that stopped it throws it away).
[[nodiscard]] ListOrder SortListRows(const RecordList& list, ListOrder order, ListColumn column, bool descending,
                                     const std::stop_token& stop = {});

/// The rows of `order` whose cell in `column` (any column when nothing)
/// holds `text`, ASCII letters compared ignoring case, in the same order.
/// All of them for an empty text. Stops early, as the sort does.
[[nodiscard]] ListOrder FilterListRows(const RecordList& list, const ListOrder& order,
                                       std::optional<ListColumn> column, std::string_view text,
                                       const std::stop_token& stop = {});

/// 0, 1, ..., rows - 1.
[[nodiscard]] ListOrder FileOrder(std::size_t rows);

}  // namespace veltrane
