#pragma once

// Drives the dialogs of the record commands in headless tests: a dialog is
// answered from a timer while its exec() runs.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace dialogdriver {

/// Runs act on the next modal dialog once it is shown, when it is a D. When none
/// appears, or another kind, or the dialog is still open five seconds after act,
/// *missed is set and the dialog is rejected, so the test fails instead of
/// hanging.
template <class D>
void onNextDialog(std::function<void(D*)> act, bool* missed = nullptr)
{
    auto* poll = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, act, missed] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<D*>(modal);
        const bool shown = dialog != nullptr && dialog->isVisible();
        if (!shown && clock->elapsed() < 5000)
            return;
        poll->stop();
        poll->deleteLater();
        if (!shown) {
            if (missed != nullptr)
                *missed = true;
            if (auto* stray = qobject_cast<QDialog*>(modal))
                stray->reject();
            return;
        }
        // Let the dialog's own modal loop start before it is answered.
        QTimer::singleShot(20, dialog, [act, missed, guarded = QPointer<D>(dialog)] {
            act(guarded);
            QTimer::singleShot(5000, guarded, [missed, guarded] {
                if (guarded == nullptr || !guarded->isVisible())
                    return;
                if (missed != nullptr)
                    *missed = true;
                guarded->reject();
            });
        });
    });
    poll->start(5);
}

/// Presses key in a shown dialog as the user would: at its focused control.
inline void press(QDialog* dialog, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

/// Ways a user ends a dialog without its own buttons.
enum class Ending { Enter, Escape, CloseBox };

inline void end(QDialog* dialog, Ending ending)
{
    switch (ending) {
    case Ending::Enter: press(dialog, Qt::Key_Return); break;
    case Ending::Escape: press(dialog, Qt::Key_Escape); break;
    case Ending::CloseBox: dialog->close(); break;
    }
}

}  // namespace dialogdriver
