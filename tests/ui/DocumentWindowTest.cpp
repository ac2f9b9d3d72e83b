// SPDX-License-Identifier: Apache-2.0
#include <QClipboard>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/RecordText.h"
#include "state/Settings.h"
#include "ViewerHarness.h"

class DocumentWindowTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const QString& path)
    {
        (void)OpenMarcFile(&m_v->main, path);
        return FormMarc.data();
    }
    QString panel(int i) const { return m_v->main.statusPanel(i)->text(); }
    // Keys reach shortcuts only in the active window; the focus is in window's record text.
    void focusText(TFormMarc* window)
    {
        m_v->main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_v->main));
        m_v->main.mdiArea()->setActiveSubWindow(window);
        window->MemoMarc->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), window->MemoMarc);
    }
    static int pixelSize(const TFormMarc* window) { return window->MemoMarc->font().pixelSize(); }
    void expectShowing(TFormMarc* window, const QString& path, int record)
    {
        QCOMPARE(window->CurrentRecord, record);
        QCOMPARE(window->windowTitle(), QStringLiteral("%1 纪录号：%2").arg(path).arg(record));
        QVERIFY2(window->MemoMarc->toPlainText().startsWith(QStringLiteral("001rec%1\n").arg(record)),
                 qPrintable(window->MemoMarc->toPlainText()));
        if (m_v->main.mdiArea()->activeSubWindow() == window) {
            QCOMPARE(panel(0), QStringLiteral("文件名：%1").arg(path));
            QCOMPARE(panel(1), QStringLiteral("纪录号：%1").arg(record));
        }
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
    }
    void cleanup() { m_v.reset(); }

    void failedStepKeepsTheRecordOnDisplay_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("shrink");  // behind the window's back: record 2 can no longer be read
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("one record, both ends") << 1 << false << QStringList{"  最后一条记录!  ", "  第一条记录!  "};
        QTest::newRow("file shrinks") << 3 << true << QStringList{"  第一条记录!  "};
    }

    // Next, then previous: the window keeps showing record 1.
    void failedStepKeepsTheRecordOnDisplay()
    {
        QFETCH(int, count);
        QFETCH(bool, shrink);
        QFETCH(QStringList, messages);
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(count));
        TFormMarc* window = open(path);
        QCOMPARE(window->RecordCount, count);
        if (shrink)
            m_v->sandbox.write("records.mrc", viewertest::numberedFile(count).substr(0, viewertest::numberedRecord(1).size() + 10));
        window->ShowNextRecord();
        expectShowing(window, path, 1);
        window->ShowPrevRecord();
        expectShowing(window, path, 1);
        QCOMPARE(m_v->prompt.texts(), messages);
    }

    void sameFileTwiceIsIndependent()
    {
        const QString path = m_v->sandbox.write("three.mrc", viewertest::numberedFile(3));
        TFormMarc* a = open(path);
        QPointer<TFormMarc> b = open(path);
        QVERIFY(a != b && a->IndexFileName && b->IndexFileName);
        QVERIFY(*a->IndexFileName != *b->IndexFileName);
        QCOMPARE(m_v->sandbox.indexFiles().size(), 2);
        b->ShowNextRecord();
        b->ShowNextRecord();
        expectShowing(b, path, 3);
        m_v->main.mdiArea()->setActiveSubWindow(a);  // the status panels follow the active window
        expectShowing(a, path, 1);
        b->close();
        QVERIFY(QFileInfo::exists(QString::fromStdString(*a->IndexFileName)));
        QCOMPARE(m_v->sandbox.indexFiles().size(), 1);
        QTRY_VERIFY(b.isNull());
        a->ShowNextRecord();
        expectShowing(a, path, 2);
    }

    void leaderOfLength24ShowsEmptyRecord()
    {
        const QString path = m_v->sandbox.write("short.mrc", "00024nam0 2200024   450 ");
        TFormMarc* window = open(path);
        QVERIFY(window->isOpen());
        QCOMPARE(window->RecordCount, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("%1 纪录号：1").arg(path));
        QCOMPARE(window->MemoMarc->toPlainText(), QString());
        QVERIFY(m_v->prompt.texts().isEmpty());
    }

    void longPathIsKeptWhole()
    {
        const QString path = m_v->sandbox.write(QString(200, QLatin1Char('a')) + "records.mrc", viewertest::numberedFile(2));
        TFormMarc* window = open(path);
        QCOMPARE(window->FileName, path.toStdString());
        expectShowing(window, path, 1);
        // Elided in the middle for display only.
        const QString shown = m_v->main.statusPanel(0)->displayedText();
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.size() < panel(0).size(), qPrintable(shown));
        QVERIFY(shown.startsWith(QStringLiteral("文件名：")) && shown.endsWith(QStringLiteral("records.mrc")));
    }

    void firstAndLastRecordKeys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("shrink");  // record 3 can no longer be read
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("record");
        QTest::newRow("first") << 3 << false << "Alt+Home" << 1;
        QTest::newRow("last") << 1 << false << "Alt+End" << 3;
        QTest::newRow("first on display") << 1 << false << "Alt+Home" << 1;
        QTest::newRow("last on display") << 3 << false << "Alt+End" << 3;
        QTest::newRow("last cannot be shown") << 2 << true << "Alt+End" << 2;
    }

    // Pressed in the record text with all of it selected: the selection survives
    // exactly when no record is shown, so neither the text's own cursor keys nor
    // a needless display can pass.
    void firstAndLastRecordKeys()
    {
        QFETCH(int, start);
        QFETCH(bool, shrink);
        QFETCH(QString, key);
        QFETCH(int, record);
        const QString path = m_v->sandbox.write("three.mrc", viewertest::numberedFile(3));
        TFormMarc* window = open(path);
        while (window->CurrentRecord < start)
            window->ShowNextRecord();
        if (shrink)
            m_v->sandbox.write("three.mrc", viewertest::numberedFile(2));
        focusText(window);
        QTest::keySequence(window->MemoMarc, QKeySequence::SelectAll);
        QVERIFY(window->MemoMarc->textCursor().hasSelection());
        QTest::keySequence(window->MemoMarc, QKeySequence(key));
        expectShowing(window, path, record);
        QCOMPARE(window->MemoMarc->textCursor().hasSelection(), record == start);
        if (!shrink)
            QVERIFY(m_v->prompt.texts().isEmpty());
    }

    // Ctrl+Home and Ctrl+End are the text's own: they reach both ends of a long
    // record (with Shift, selecting) and never change the record.
    void textKeysReachBothEndsOfTheRecord()
    {
        std::string bytes = viewertest::numberedRecord(1);
        std::vector<testsupport::Field> fields{{"001", "rec2"}};
        for (int i = 0; i < 80; ++i)
            fields.push_back({"300", "  \x1f" "anote " + std::to_string(i)});
        bytes += testsupport::MakeRecord(fields) + viewertest::numberedRecord(3);
        const QString path = m_v->sandbox.write("long.mrc", bytes);
        TFormMarc* window = open(path);
        window->ShowNextRecord();
        focusText(window);
        const int length = window->MemoMarc->document()->characterCount() - 1;
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+End")));
        expectShowing(window, path, 2);
        QCOMPARE(window->MemoMarc->textCursor().position(), length);
        QVERIFY(window->MemoMarc->verticalScrollBar()->value() > 0);
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+Shift+Home")));
        expectShowing(window, path, 2);
        QCOMPARE(window->MemoMarc->textCursor().selectedText().size(), length);
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+Home")));
        QCOMPARE(window->MemoMarc->textCursor().position(), 0);
        QCOMPARE(window->MemoMarc->verticalScrollBar()->value(), 0);
        expectShowing(window, path, 2);
        QVERIFY(m_v->prompt.texts().isEmpty());
    }

    // Keys, the menu and Ctrl+wheel over either window size both texts; the size outlives the run.
    void zoomSizesEveryWindow()
    {
        const QString path = m_v->sandbox.write("two.mrc", viewertest::numberedFile(2));
        TFormMarc* a = open(path);
        TFormMarc* b = open(path);
        const QString family = a->MemoMarc->font().family();
        QCOMPARE(pixelSize(a), kDefaultRecordTextPixelSize);
        focusText(b);
        const auto expectSize = [&](int size) {
            QCOMPARE(pixelSize(a), size);
            QCOMPARE(pixelSize(b), size);
            QCOMPARE(settings::recordTextPixelSize(0, 1, 1000), size);
        };
        QTest::keySequence(b->MemoMarc, QKeySequence(QStringLiteral("Ctrl+=")));
        QTest::keySequence(b->MemoMarc, QKeySequence(QStringLiteral("Ctrl++")));
        expectSize(kDefaultRecordTextPixelSize + 2 * kRecordTextZoomStep);
        QTest::keySequence(b->MemoMarc, QKeySequence(QStringLiteral("Ctrl+-")));
        expectSize(kDefaultRecordTextPixelSize + kRecordTextZoomStep);
        // Half a notch does nothing yet; the other half makes one step.
        for (int i = 0; i < 2; ++i) {
            QWheelEvent wheel(QPointF(5, 5), a->MemoMarc->viewport()->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, QWheelEvent::DefaultDeltasPerStep / 2), Qt::NoButton, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(a->MemoMarc->viewport(), &wheel);
        }
        expectSize(kDefaultRecordTextPixelSize + 2 * kRecordTextZoomStep);
        QCOMPARE(a->MemoMarc->font().family(), family);
        QCOMPARE(pixelSize(open(path)), kDefaultRecordTextPixelSize + 2 * kRecordTextZoomStep);  // a window opened later
        for (int i = 0; i < 40; ++i)
            m_v->main.zoomRecordText(1);
        expectSize(kMaxRecordTextPixelSize);
        QTest::keySequence(b->MemoMarc, QKeySequence(QStringLiteral("Ctrl+0")));
        expectSize(kDefaultRecordTextPixelSize);
    }

    // Read-only, yet selectable and copyable from the keyboard, Chinese text included.
    void recordTextCopiesAsUnicode()
    {
        const std::string record = testsupport::MakeRecord({{"001", "rec1"}, {"200", "1 \x1f" "a" + viewertest::gbk("中文题名")}});
        TFormMarc* window = open(m_v->sandbox.write("chinese.mrc", record));
        focusText(window);
        const QString text = window->MemoMarc->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("中文题名")), qPrintable(text));
        QApplication::clipboard()->clear();
        QTest::keyClick(window->MemoMarc, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+C")));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("001rec1\n"));
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+A")));
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+C")));
        QCOMPARE(QApplication::clipboard()->text(), text);
        QTest::keyClicks(window->MemoMarc, QStringLiteral("x"));
        QTest::keyClick(window->MemoMarc, Qt::Key_Delete);
        QCOMPARE(window->MemoMarc->toPlainText(), text);
    }

    // Ctrl+C copies the lines as shown; 复制为连续文本 (Ctrl+Shift+C) joins each
    // field's continuation lines back into one line.
    void copyAsContinuousText()
    {
        const std::string note = "  \x1f" "a" + std::string(100, 'n') + " end";
        const std::string record = testsupport::MakeRecord({{"001", "rec1"}, {"330", note}, {"200", "1 \x1f" "aShort"}});
        TFormMarc* window = open(m_v->sandbox.write("long.mrc", record));
        focusText(window);
        const QString shown = window->MemoMarc->toPlainText();
        QVERIFY2(shown.contains(QStringLiteral("\n     ")), qPrintable(shown));
        const QString joined = QStringLiteral("001rec1\n330  $a%1 end\n2001 $aShort\n").arg(QString(100, QLatin1Char('n')));
        QCOMPARE(JoinWrappedLines(shown), joined);

        QApplication::clipboard()->clear();
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+A")));
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+Shift+C")));
        QCOMPARE(QApplication::clipboard()->text(), joined);
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+C")));
        QCOMPARE(QApplication::clipboard()->text(), shown);
        // A part of the text: only that part, joined.
        QTextCursor cursor = window->MemoMarc->textCursor();
        cursor.setPosition(static_cast<int>(shown.indexOf(QStringLiteral("nnn"))));
        cursor.setPosition(static_cast<int>(shown.indexOf(QStringLiteral(" end"))) + 4, QTextCursor::KeepAnchor);
        window->MemoMarc->setTextCursor(cursor);
        QTest::keySequence(window->MemoMarc, QKeySequence(QStringLiteral("Ctrl+Shift+C")));
        QCOMPARE(QApplication::clipboard()->text(), QString(100, QLatin1Char('n')) + QStringLiteral(" end"));
        QVERIFY(window->MemoMarc->findChild<QAction*>(QStringLiteral("MCopyJoined")) != nullptr);
    }
};

QTEST_MAIN(DocumentWindowTest)
#include "DocumentWindowTest.moc"
