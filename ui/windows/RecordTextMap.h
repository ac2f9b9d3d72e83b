// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <optional>
#include <vector>

// Where each element of a record stands in its display text: which line
// starts which field, and where its tag, indicators and subfield codes are.
// The display text has one line per field (tag, then for a data field two
// indicators and the subfields, each after '$' and its code); a long field
// goes on over continuation lines that start with five spaces.

/// One line of the display text; positions are in the display text.
struct RecordTextLine {
    int start = 0;
    int length = 0;
    int field = -1;       ///< the record's field, 0-based, in display order; -1 on a continuation line
    QString tag;          ///< the field's tag (on its continuation lines too)
    int occurrence = 0;   ///< 1-based among the fields with that tag
    bool control = false; ///< a control field (00X): no indicators, no subfields
};

/// What stands at one position of the display text.
struct RecordTextElement {
    enum class Kind { None, Tag, Indicator, SubfieldCode, Data };
    Kind kind = Kind::None;
    int line = -1;           ///< into RecordTextMap::lines()
    int indicator = 0;       ///< Indicator: 1 or 2
    QChar value;             ///< Indicator: its value; SubfieldCode: the code
};

/// A span of the display text: [start, end).
struct RecordTextSpan {
    int start = 0;
    int end = 0;
};

class RecordTextMap {
public:
    RecordTextMap() = default;
    explicit RecordTextMap(const QString& displayText);

    [[nodiscard]] const std::vector<RecordTextLine>& lines() const { return m_lines; }
    /// The line holding display position `position`, or -1.
    [[nodiscard]] int lineAt(int position) const;
    /// The element at display position `position`.
    [[nodiscard]] RecordTextElement elementAt(int position) const;

    /// Where a content finding stands: the indicator (1 or 2), else the
    /// subfield `code` (its mark, code and value; the second of its kind when
    /// `second`), else byte `position` of a control field, else the whole
    /// field; nothing for a field not shown (a missing one).
    [[nodiscard]] std::optional<RecordTextSpan> placeOf(const QString& tag, int occurrence, int indicator,
                                                        QChar code, bool second = false, int position = -1) const;

private:
    /// The lines of field `first` line: it and its continuation lines.
    [[nodiscard]] int fieldEndLine(int first) const;

    QString m_text;
    std::vector<RecordTextLine> m_lines;
};
