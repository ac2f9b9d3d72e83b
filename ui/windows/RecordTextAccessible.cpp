// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordTextAccessible.h"

#include <QAccessibleWidget>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>

#include "windows/RecordTextEdit.h"

namespace {

// The record text as an editable text that is read-only: its text is the
// display text and every offset is a position in it, whatever the document
// holds for the layout.
class RecordTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit RecordTextAccessible(RecordTextEdit* edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return edit()->toPlainText();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = edit()->isReadOnly();
        state.editable = !edit()->isReadOnly();
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        const QTextCursor cursor = edit()->textCursor();
        if (selectionIndex != 0 || !cursor.hasSelection())
            return;
        *startOffset = edit()->displayPosition(cursor.selectionStart());
        *endOffset = edit()->displayPosition(cursor.selectionEnd());
    }
    int selectionCount() const override { return edit()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex != 0)
            return;
        QTextCursor cursor = edit()->textCursor();
        cursor.clearSelection();
        edit()->setTextCursor(cursor);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex != 0)
            return;
        edit()->setTextCursor(cursorSelecting(startOffset, endOffset));
    }

    int cursorPosition() const override { return edit()->displayPosition(edit()->textCursor().position()); }
    void setCursorPosition(int position) override { edit()->setTextCursor(cursorSelecting(position, position)); }

    QString text(int startOffset, int endOffset) const override
    {
        const QString shown = edit()->toPlainText();
        startOffset = std::clamp(startOffset, 0, static_cast<int>(shown.size()));
        endOffset = std::clamp(endOffset, startOffset, static_cast<int>(shown.size()));
        return shown.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(edit()->toPlainText().size()); }

    QRect characterRect(int offset) const override
    {
        QTextCursor cursor = cursorSelecting(offset, offset);
        const QRect before = edit()->cursorRect(cursor);
        cursor.movePosition(QTextCursor::NextCharacter);
        const QRect after = edit()->cursorRect(cursor);
        QRect rect = before;
        // The character's width where it ends on the same line (either way, for right-to-left text).
        if (after.top() == before.top() && after.left() != before.left()) {
            rect.setLeft(std::min(before.left(), after.left()));
            rect.setWidth(std::abs(after.left() - before.left()));
        }
        return QRect(edit()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint at = edit()->viewport()->mapFromGlobal(point);
        if (!edit()->viewport()->rect().contains(at))
            return -1;
        return edit()->displayPosition(edit()->cursorForPosition(at).position());
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        // Brought into view as find shows a match: its end, then its start;
        // the cursor and the selection stay as they were.
        const QTextCursor kept = edit()->textCursor();
        edit()->setTextCursor(cursorSelecting(endIndex, endIndex));
        edit()->ensureCursorVisible();
        edit()->setTextCursor(cursorSelecting(startIndex, startIndex));
        edit()->ensureCursorVisible();
        const int vertical = edit()->verticalScrollBar()->value();
        const int horizontal = edit()->horizontalScrollBar()->value();
        edit()->setTextCursor(kept);
        edit()->verticalScrollBar()->setValue(vertical);
        edit()->horizontalScrollBar()->setValue(horizontal);
    }

    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    RecordTextEdit* edit() const { return static_cast<RecordTextEdit*>(widget()); }

    // A cursor of the record text from display offset anchor to display offset position.
    QTextCursor cursorSelecting(int anchor, int position) const
    {
        const int count = characterCount();
        QTextCursor cursor = edit()->textCursor();
        cursor.setPosition(edit()->documentPosition(std::clamp(anchor, 0, count)));
        cursor.setPosition(edit()->documentPosition(std::clamp(position, 0, count)), QTextCursor::KeepAnchor);
        return cursor;
    }
};

QAccessibleInterface* recordTextAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(RecordTextEdit::staticMetaObject.className()) && object != nullptr &&
        object->isWidgetType())
        return new RecordTextAccessible(static_cast<RecordTextEdit*>(object));
    return nullptr;
}

}  // namespace

void InstallRecordTextAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(recordTextAccessible);
        return true;
    }();
    (void)installed;
}
