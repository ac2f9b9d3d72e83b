// SPDX-License-Identifier: Apache-2.0
// Long work of a document window on a worker: cancelled at a point the test
// holds it at, an open, a find and an extraction each leave what they promise,
// and the record commands wait for the window's work.

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QTest>

#include <semaphore>

#include "work/BackgroundWork.h"
#include "dialogs/GetMarc.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "commands/MarcCommands.h"
#include "dialogs/Goto.h"
#include "state/SharedState.h"
#include "ViewerHarness.h"

using viewertest::answerAs;
using viewertest::ModalAnswer;

Q_DECLARE_METATYPE(veltrane::OverwriteChoice)

using viewertest::HeldWork;

class BackgroundWorkTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* openQuickly(const QString& path)
    {
        (void)OpenMarcFile(&m_v->main, path);
        return FormMarc.data();
    }

    /// Cancels the active window's work with Esc, lets the worker go and
    /// waits until the work has ended.
    void cancelHeld(HeldWork& held, TFormMarc* window)
    {
        QTRY_VERIFY(held.held());
        QVERIFY(m_v->main.workPanel()->isVisible());
        QVERIFY(!m_v->main.findChild<QAction*>(QStringLiteral("MNext"))->isEnabled());
        QVERIFY(!m_v->main.findChild<QAction*>(QStringLiteral("MDeli"))->isEnabled());
        QCOMPARE(m_v->main.activeDocument(), window);
        // As after any dialog, the main window has the keyboard again.
        m_v->main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_v->main));
        QTest::keyClick(&m_v->main, Qt::Key_Escape);
        QVERIFY(window->work()->cancelRequested());
        held.release();
        QTRY_VERIFY(window == nullptr || window->work() == nullptr);
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().searchText.clear();
        m_v->main.shared().lastExtract = {};
    }

    void cleanup() { m_v.reset(); }

    void cancelledOpenClosesItsWindowAndLeavesNoIndex()
    {
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(50));
        QPointer<TFormMarc> window;
        {
            HeldWork held;
            window = openQuickly(path);
            QVERIFY(window && window->isOpening());
            cancelHeld(held, window);
        }
        QTRY_VERIFY(window.isNull());
        QCOMPARE(m_v->sandbox.indexFiles(), QStringList());
        QCOMPARE(m_v->prompt.texts(), QStringList());
        QVERIFY(!m_v->main.workPanel()->isVisible());
        // The files named after it still open, one after another.
        m_v->main.openPath(path);
        QTRY_VERIFY(FormMarc && FormMarc->isOpen());
    }

    void cancelledFindLeavesTheRecordAndTellsNothing()
    {
        TFormMarc* window = openQuickly(m_v->sandbox.write("records.mrc", viewertest::numberedFile(40)));
        QVERIFY(window->isOpen());
        window->ShowNextRecord();
        const QString text = window->MemoMarc->toPlainText();
        m_v->main.shared().searchText = "rec39";
        {
            HeldWork held;
            FindNextCommand(window);
            cancelHeld(held, window);
        }
        QCOMPARE(window->CurrentRecord, 2);
        QCOMPARE(window->MemoMarc->toPlainText(), text);
        QCOMPARE(m_v->prompt.texts(), QStringList());
        // Run to its end, the same find shows the record.
        {
            HeldWork held;
            FindNextCommand(window);
            QTRY_VERIFY(held.held());
            held.release();
            QTRY_COMPARE(window->CurrentRecord, 39);
        }
        QVERIFY(m_v->main.findChild<QAction*>(QStringLiteral("MNext"))->isEnabled());
    }

    void cancelledExtractionLeavesTheTarget_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<veltrane::OverwriteChoice>("answer");
        QTest::newRow("new target") << false << veltrane::OverwriteChoice::Cancel;
        QTest::newRow("appended target") << true << veltrane::OverwriteChoice::Append;
    }

    void cancelledExtractionLeavesTheTarget()
    {
        QFETCH(bool, targetExists);
        QFETCH(veltrane::OverwriteChoice, answer);
        TFormMarc* window = openQuickly(m_v->sandbox.write("records.mrc", viewertest::numberedFile(40)));
        const QString target = m_v->sandbox.workDir() + "/target.mrc";
        if (targetExists)
            m_v->sandbox.write("target.mrc", "old content");
        m_v->prompt.answer = answer;
        {
            HeldWork held;
            ModalAnswer dialogAnswer(answerAs<TDlgGetMarc>([&](TDlgGetMarc* dialog) {
                dialog->EditFrom->setText("1");
                dialog->EditTo->setText("40");
                dialog->EditFileName->setText(target);
                dialog->OKBtn->click();
            }));
            ExtractCommand(window);
            cancelHeld(held, window);
        }
        QCOMPARE(QFile::exists(target), targetExists);
        if (targetExists)
            QCOMPARE(QByteArray(testsupport::ReadFile(target.toStdString()).c_str()), QByteArray("old content"));
        QCOMPARE(m_v->prompt.texts(), QStringList());
    }

    void closingAWindowCancelsItsWork()
    {
        TFormMarc* window = openQuickly(m_v->sandbox.write("records.mrc", viewertest::numberedFile(40)));
        QPointer<TFormMarc> guard(window);
        m_v->main.shared().searchText = "rec40";
        HeldWork held;
        FindNextCommand(window);
        QTRY_VERIFY(held.held());
        held.release();
        window->close();
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(m_v->sandbox.indexFiles(), QStringList());
        QCOMPARE(m_v->prompt.texts(), QStringList());
    }

    void gotoWhoseDisplayFailsKeepsTheRecordNumber()
    {
        TFormMarc* window = openQuickly(m_v->sandbox.write("records.mrc", viewertest::numberedFile(12)));
        QVERIFY(window->isOpen());
        // The scratch file cannot be written any more: a folder took its name.
        QFile::remove(m_v->sandbox.workDir() + "/tempdisp.mrc");
        QVERIFY(QDir(m_v->sandbox.workDir()).mkdir("tempdisp.mrc"));
        ModalAnswer answer(answerAs<TFormGotoRecord>([](TFormGotoRecord* dialog) {
            QTest::keyClicks(dialog->EdtRecordNo, "7");
            dialog->BBtnOK->click();
        }));
        GotoRecordCommand(window);
        QCOMPARE(m_v->prompt.texts(), QStringList{"Display File open error!"});
        QCOMPARE(window->CurrentRecord, 1);
        QVERIFY(window->windowTitle().endsWith(QStringLiteral("纪录号：1")));
    }
};

QTEST_MAIN(BackgroundWorkTest)
#include "BackgroundWorkTest.moc"
