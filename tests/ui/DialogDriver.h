#pragma once

// Answers a modal dialog from a timer while its exec() runs, in headless tests.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
namespace dialogdriver {

/// Runs act on the next modal dialog once it is shown, when it is a D. When none
/// appears, or another kind, or it is still open five seconds after act, *missed
/// is set and the dialog is rejected, so the test fails instead of hanging.
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
        auto fail = [missed](QDialog* open) {
            if (missed != nullptr)
                *missed = true;
            if (open != nullptr)
                open->reject();
        };
        if (!shown)
            return fail(qobject_cast<QDialog*>(modal));
        // Let the dialog's own modal loop start before it is answered.
        QTimer::singleShot(20, dialog, [act, fail, guarded = QPointer<D>(dialog)] {
            act(guarded);
            QTimer::singleShot(5000, guarded, [fail, guarded] {
                if (guarded != nullptr && guarded->isVisible())
                    fail(guarded);
            });
        });
    });
    poll->start(5);
}

}  // namespace dialogdriver
