// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordText.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

namespace {

// One per record text, owned by it.
class RecordTextFilter : public QObject {
public:
    RecordTextFilter(QPlainTextEdit* memo, std::function<void(int)> zoom) : QObject(memo), m_zoom(std::move(zoom)) {}

    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // A text that takes keys for its cursor claims these (an editable one
            // does); the record text must leave them to the record commands.
            const QKeyCombination key = static_cast<QKeyEvent*>(event)->keyCombination();
            const Qt::KeyboardModifiers modifiers = key.keyboardModifiers() & ~Qt::KeypadModifier;
            if (modifiers == Qt::ControlModifier && (key.key() == Qt::Key_Home || key.key() == Qt::Key_End)) {
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

int ZoomedPixelSize(int pixelSize, int steps)
{
    return std::clamp(pixelSize + steps * kRecordTextZoomStep, kMinRecordTextPixelSize, kMaxRecordTextPixelSize);
}

void PrepareRecordText(QPlainTextEdit* memo, int pixelSize, std::function<void(int steps)> zoom)
{
    memo->setReadOnly(true);
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    SetRecordTextPixelSize(memo, pixelSize);
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
