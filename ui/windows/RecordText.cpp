// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextOption>
#include <QWheelEvent>

#include <algorithm>
#include <memory>
#include <vector>
#include <utility>

#include "display/LineWrap.h"
#include "windows/RecordTextAccessible.h"
#include "windows/RecordTextEdit.h"

namespace {

// One per record text, owned by it.
class RecordTextFilter : public QObject {
public:
    RecordTextFilter(QPlainTextEdit* memo, std::function<void(int)> zoom) : QObject(memo), m_zoom(std::move(zoom)) {}

    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // Ctrl+Home and Ctrl+End stay the text's own (start and end of the
            // record); Alt+Home and Alt+End, the first and last record, must
            // reach the record commands whatever the text would make of them.
            const QKeyCombination key = static_cast<QKeyEvent*>(event)->keyCombination();
            const Qt::KeyboardModifiers modifiers = key.keyboardModifiers() & ~Qt::KeypadModifier;
            if (modifiers == Qt::AltModifier && (key.key() == Qt::Key_Home || key.key() == Qt::Key_End)) {
                event->ignore();
                return true;
            }
            return false;
        }
        case QEvent::Wheel: {
            auto* wheel = static_cast<QWheelEvent*>(event);
            if (!(wheel->modifiers() & Qt::ControlModifier))
                return false;
            // Fine-grained wheels and touch pads send parts of a notch; a step is a whole one.
            m_pending += wheel->angleDelta().y();
            const int steps = m_pending / QWheelEvent::DefaultDeltasPerStep;
            m_pending -= steps * QWheelEvent::DefaultDeltasPerStep;
            if (steps != 0 && m_zoom)
                m_zoom(steps);
            // Never the text's own zoom, which would change this window only.
            return true;
        }
        default:
            return false;
        }
    }

private:
    std::function<void(int)> m_zoom;
    int m_pending = 0;
};

}  // namespace

QString JoinWrappedLines(const QString& text)
{
    QString joined = text;
    joined.remove(QString::fromLatin1(veltrane::kLineWrap.data(), static_cast<qsizetype>(veltrane::kLineWrap.size())));
    return joined;
}

namespace {

// Folds ASCII letters only, as the search does: a string of the same length.
QString foldAsciiCase(QString text)
{
    for (QChar& c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return text;
}

}  // namespace

bool SelectFirstMatch(RecordTextEdit* memo, const QString& text, bool caseSensitive, const QString& tag)
{
    const QString shown = memo->toPlainText();
    const QString wrap = QString::fromLatin1(veltrane::kLineWrap.data(), static_cast<qsizetype>(veltrane::kLineWrap.size()));
    // The text without its wraps, and where each of its characters stands in the text shown.
    QString joined;
    std::vector<int> at;
    joined.reserve(shown.size());
    at.reserve(static_cast<std::size_t>(shown.size()));
    for (qsizetype i = 0; i < shown.size();) {
        if (shown[i] == QLatin1Char('\n') && QStringView(shown).sliced(i).startsWith(wrap)) {
            i += wrap.size();
            continue;
        }
        joined += shown[i];
        at.push_back(static_cast<int>(i));
        ++i;
    }
    const QString haystack = caseSensitive ? joined : foldAsciiCase(joined);
    const QString needle = caseSensitive ? text : foldAsciiCase(text);
    qsizetype found = -1;
    for (qsizetype from = 0; !needle.isEmpty() && (found = haystack.indexOf(needle, from)) >= 0; from = found + 1) {
        const qsizetype lineStart = joined.lastIndexOf(QLatin1Char('\n'), found) + 1;
        if (tag.isEmpty() || QStringView(joined).sliced(lineStart).startsWith(tag))
            break;
    }
    QTextCursor cursor = memo->textCursor();
    if (found < 0) {
        cursor.setPosition(0);
        memo->setTextCursor(cursor);
        return false;
    }
    const qsizetype last = found + needle.size() - 1;
    // The end into view first, then the start, where the cursor stays: the
    // whole match shows, its start at least.
    const int end = memo->documentPosition(at[static_cast<std::size_t>(last)]) + 1;
    cursor.setPosition(end);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
    cursor.setPosition(memo->documentPosition(at[static_cast<std::size_t>(found)]), QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
    return true;
}

int ZoomedPixelSize(int pixelSize, int steps)
{
    return std::clamp(pixelSize + steps * kRecordTextZoomStep, kMinRecordTextPixelSize, kMaxRecordTextPixelSize);
}

void PrepareRecordText(RecordTextEdit* memo, int pixelSize, std::function<void(int steps)> zoom)
{
    // Before anything asks for the text's accessible interface, which is made once per widget.
    InstallRecordTextAccessibility();
    memo->setReadOnly(true);
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Every line reads left to right, whatever script it starts with: the tag,
    // the '$' marks and a continuation line's indent keep their places, while
    // Hebrew or Arabic text within a line still reads right to left.
    QTextOption lines = memo->document()->defaultTextOption();
    lines.setTextDirection(Qt::LeftToRight);
    memo->document()->setDefaultTextOption(lines);
    SetRecordTextPixelSize(memo, pixelSize);
    auto* copyJoined = new QAction(QStringLiteral("复制为连续文本"), memo);
    copyJoined->setObjectName(QStringLiteral("MCopyJoined"));
    copyJoined->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copyJoined->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(copyJoined, &QAction::triggered, memo, [memo] {
        if (memo->textCursor().hasSelection())
            QApplication::clipboard()->setText(JoinWrappedLines(memo->selectedDisplayText()));
    });
    memo->addAction(copyJoined);
    memo->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(memo, &QWidget::customContextMenuRequested, memo, [memo, copyJoined](const QPoint& at) {
        std::unique_ptr<QMenu> menu(memo->createStandardContextMenu(at));
        // Right after Copy, its sibling.
        const QList<QAction*> items = menu->actions();
        const auto copy = std::find_if(items.begin(), items.end(), [](QAction* item) {
            return item->objectName() == QLatin1String("edit-copy");
        });
        menu->insertAction(copy != items.end() && copy + 1 != items.end() ? *(copy + 1) : nullptr, copyJoined);
        menu->exec(memo->viewport()->mapToGlobal(at));
    });
    auto* filter = new RecordTextFilter(memo, std::move(zoom));
    memo->installEventFilter(filter);
    // Wheel events go to the viewport, not to the text widget itself.
    memo->viewport()->installEventFilter(filter);
}

void SetRecordTextPixelSize(QPlainTextEdit* memo, int pixelSize)
{
    QFont font = memo->font();
    if (font.pixelSize() == pixelSize)
        return;
    font.setPixelSize(pixelSize);
    memo->setFont(font);
}
