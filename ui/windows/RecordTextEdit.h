// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QTextEdit>

#include <functional>
#include <vector>

/// The display text with each piece of a subfield value that holds right-to-left
/// text (Hebrew, Arabic) between FIRST STRONG ISOLATE (U+2068) and POP
/// DIRECTIONAL ISOLATE (U+2069), one piece per line; and the positions of those
/// marks in the result, ascending.
struct IsolatedText {
    QString text;
    std::vector<int> marks;
};
[[nodiscard]] IsolatedText IsolateRightToLeftValues(const QString& displayText);

/// A document window's record text (its MemoMarc). Its document holds the
/// display text plus bidi isolates around right-to-left subfield values, so
/// that the '$' marks, the codes and the punctuation between subfields keep
/// their places on the line while a value reads right to left. Nothing leaves
/// the widget with the isolates: its plain text, what is copied or dragged and
/// what assistive technology reads are the display text, and positions are
/// told in the display text (see documentPosition and displayPosition).
class RecordTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit RecordTextEdit(QWidget* parent = nullptr);

    /// Shows text, the display text of a record.
    void setDisplayText(const QString& text);
    /// The display text shown, without the isolates. (Hides QPlainTextEdit's
    /// own, which would give the document's text with them.)
    [[nodiscard]] QString toPlainText() const;
    /// The selected part of the display text ("" when nothing is selected).
    [[nodiscard]] QString selectedDisplayText() const;

    /// The document position of the character at display position `position`
    /// (after the isolate marks before it); the end of the display text maps
    /// to the end of the document.
    [[nodiscard]] int documentPosition(int position) const;
    /// The display position of document position `position`: a mark counts
    /// as the character after it.
    [[nodiscard]] int displayPosition(int position) const;

    /// The names shown beside the lines, one per line of the display text
    /// (an empty one shows nothing there); a tooltip gives a name in full.
    void setLineNames(QStringList names, QStringList toolTips = {});
    [[nodiscard]] const QStringList& lineNames() const { return m_lineNames; }
    /// Shows or hides the column of line names, left of the text.
    void setLineNamesShown(bool shown);
    [[nodiscard]] bool lineNamesShown() const { return m_lineNamesShown; }
    /// The column of line names (hidden while it is off).
    [[nodiscard]] QWidget* lineNameColumn() const;

    /// A line of the text as it stands in the viewport: its line number (0-based)
    /// and its top and bottom in viewport pixels.
    struct ShownLine {
        int line;
        int top;
        int bottom;
    };
    /// The lines in view, top to bottom.
    [[nodiscard]] std::vector<ShownLine> shownLines() const;

    /// What a tooltip over display position `position` says ("" for none).
    void setToolTipSource(std::function<QString(int position)> source) { m_toolTipSource = std::move(source); }

    /// Marks spans of the display text ([start, end)) with a red wavy underline,
    /// each with its message as the tooltip there; the text stays as it is.
    struct Underline {
        int start;
        int end;
        QString message;
    };
    void setUnderlines(std::vector<Underline> underlines);
    [[nodiscard]] const std::vector<Underline>& underlines() const { return m_underlines; }

    /// The display position of the character under viewport point `at`, or -1
    /// where no character is (past a line's end, below the text).
    [[nodiscard]] int displayPositionAt(QPoint at) const;

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class NameColumn;
    /// The column's width for the font in use (about eight Chinese characters).
    [[nodiscard]] int nameColumnWidth() const;
    void layOutNameColumn();

    /// The document's text from start to end (document positions) without the marks.
    [[nodiscard]] QString displayTextBetween(int start, int end) const;

    /// Whether position lies just after an isolate's opening mark, where the
    /// cursor shows just where it does before the mark.
    [[nodiscard]] bool followsOpeningMark(int position) const;

    std::vector<int> m_marks;  // document positions of the isolate marks, ascending
    bool m_settingText = false;
    QStringList m_lineNames;
    QStringList m_lineToolTips;
    bool m_lineNamesShown = false;
    NameColumn* m_nameColumn = nullptr;
    std::function<QString(int)> m_toolTipSource;
    std::vector<Underline> m_underlines;
};
