#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

#include "Main.h"
#include "Marc.h"
#include "ViewerHarness.h"

class DocumentWindowTest : public QObject {
    Q_OBJECT

private:
    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const QString& path)
    {
        (void)OpenMarcFile(&m_v->main, path);
        return FormMarc.data();
    }
    QString panel(int i) const { return m_v->main.statusPanel(i)->text(); }
    void expectShowing(TFormMarc* window, const QString& path, int record)
    {
        QCOMPARE(window->CurrentRecord, record);
        QCOMPARE(window->windowTitle(), QStringLiteral("%1 纪录号：%2").arg(path).arg(record));
        QVERIFY2(window->MemoMarc->toPlainText().startsWith(QStringLiteral("001rec%1\n").arg(record)),
                 qPrintable(window->MemoMarc->toPlainText()));
        if (m_v->main.mdiArea()->activeSubWindow() == window)
            expectStatus(path, record);
    }
    void expectStatus(const QString& path, int record)
    {
        QCOMPARE(panel(0), QStringLiteral("文件名：%1").arg(path));
        QCOMPARE(panel(1), QStringLiteral("纪录号：%1").arg(record));
    }

private slots:
    void init()
    {
        m_v.emplace();
        m_v->main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_v->main));
    }
    void cleanup() { m_v.reset(); }

    void captionAndStatusFollowEveryStep_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("steps");  // N next, P previous
        QTest::addColumn<QList<int>>("records");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("one record, both ends") << 1 << "" << "PN" << QList<int>{1, 1}
                                               << QStringList{"  第一条记录!  ", "  最后一条记录!  "};
        QTest::newRow("CR LF between records") << 3 << "\r\n" << "NNP" << QList<int>{2, 3, 2} << QStringList{};
    }

    void captionAndStatusFollowEveryStep()
    {
        QFETCH(int, count);
        QFETCH(QString, separator);
        QFETCH(QString, steps);
        QFETCH(QList<int>, records);
        QFETCH(QStringList, messages);
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(count, separator.toStdString()));
        TFormMarc* window = open(path);
        QCOMPARE(window->RecordCount, count);
        expectShowing(window, path, 1);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (steps[i] == QLatin1Char('N'))
                window->ShowNextRecord();
            else
                window->ShowPrevRecord();
            expectShowing(window, path, records[i]);
        }
        QCOMPARE(m_v->prompt.texts(), messages);
        for (const auto& shown : m_v->prompt.shown) QCOMPARE(shown.kind, viewertest::FakePrompt::Kind::Message);
    }

    void switchingWindowsShowsTheActiveOne()
    {
        const QString first = m_v->sandbox.write("a.mrc", viewertest::numberedFile(3));
        const QString second = m_v->sandbox.write("b.mrc", viewertest::numberedFile(2));
        TFormMarc* a = open(first);
        a->ShowNextRecord();
        TFormMarc* b = open(second);
        expectStatus(second, 1);
        m_v->main.mdiArea()->setActiveSubWindow(a);
        expectStatus(first, 2);
        m_v->main.mdiArea()->setActiveSubWindow(b);
        expectStatus(second, 1);
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
        expectShowing(a, path, 1);
        expectShowing(b, path, 3);
        b->close();
        QVERIFY(QFileInfo::exists(QString::fromStdString(*a->IndexFileName)));
        QCOMPARE(m_v->sandbox.indexFiles().size(), 1);
        QTRY_VERIFY(b.isNull());
        a->ShowNextRecord();
        expectShowing(a, path, 2);
    }

    void unreadableFilesCloseTheWindow()
    {
        const QList<std::pair<QString, QStringList>> cases{
            {m_v->sandbox.workDir() + "/missing.mrc", {"Invalid drive or directory", "Not marc format file!"}},
            {m_v->sandbox.write("notes.mrc", "no records\n"), {"Not marc format file!"}}};
        for (const auto& [path, messages] : cases) {
            m_v->prompt.shown.clear();
            QPointer<TFormMarc> window = open(path);
            QVERIFY(!window->isOpen());
            QCOMPARE(m_v->prompt.texts(), messages);
            QVERIFY(m_v->sandbox.indexFiles().isEmpty());
            QCOMPARE(panel(0), QString());
            QTRY_VERIFY(window.isNull());
            QVERIFY(m_v->main.mdiArea()->subWindowList().isEmpty());
        }
    }

    void noIndexNameLeavesNothingBehind()
    {
        const QString path = m_v->sandbox.write("three.mrc", viewertest::numberedFile(3));
        ::setenv("TMP", (m_v->sandbox.tmpDir() + "/no/such/folder").toLocal8Bit().constData(), 1);
        QPointer<TFormMarc> window = open(path);
        QVERIFY(!window->isOpen());
        QCOMPARE((QStringList{m_v->prompt.texts().first(), m_v->prompt.texts().last()}), (QStringList{"tempnam couldn't create name", "Not marc format file!"}));
        QTRY_VERIFY(window.isNull());
        QVERIFY(m_v->sandbox.indexFiles().isEmpty());
    }

    void leaderOfLength24ShowsEmptyRecord()
    {
        const QString path = m_v->sandbox.write("short.mrc", "00024nam0 2200024   450 ");
        TFormMarc* window = open(path);
        QVERIFY(window->isOpen());
        QCOMPARE(window->RecordCount, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("%1 纪录号：1").arg(path));
        QCOMPARE(window->MemoMarc->toPlainText(), QString());
        QVERIFY(m_v->prompt.shown.isEmpty());
    }

    void failedStepKeepsTheRecordOnDisplay()
    {
        const std::string bytes = viewertest::numberedFile(3);
        const QString path = m_v->sandbox.write("three.mrc", bytes);
        TFormMarc* window = open(path);
        // The file shrinks behind the window's back: record 2 can no longer be read.
        m_v->sandbox.write("three.mrc", bytes.substr(0, viewertest::numberedRecord(1).size() + 10));
        window->ShowNextRecord();
        expectShowing(window, path, 1);
        window->ShowPrevRecord();
        QCOMPARE(m_v->prompt.texts(), QStringList{"  第一条记录!  "});
    }

    void chineseTextIsShownIntact()
    {
        const std::string record = testsupport::MakeRecord(
            {{"001", "rec1"}, {"200", "1 \x1f" "a" + viewertest::gbk("中文题名") + "\x1f" "f" + viewertest::gbk("王小明著")}});
        TFormMarc* window = open(m_v->sandbox.write("gbk.mrc", record));
        QCOMPARE(window->MemoMarc->toPlainText(), QStringLiteral("001rec1\n2001 $a中文题名$f王小明著\n"));
    }

    void longPathIsKeptWhole()
    {
        QString folder = m_v->sandbox.workDir();
        for (int i = 0; i < 6; ++i)
            folder += QStringLiteral("/a-rather-long-folder-name-%1").arg(i);
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/records.mrc");
        std::ofstream(path.toStdString(), std::ios::binary) << viewertest::numberedFile(2);
        TFormMarc* window = open(path);
        QCOMPARE(window->FileName, path.toStdString());
        expectShowing(window, path, 1);
        // Elided in the middle for display only.
        const QString shown = m_v->main.statusPanel(0)->displayedText();
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.size() < panel(0).size(), qPrintable(shown));
        QVERIFY(shown.startsWith(QStringLiteral("文件名：")) && shown.endsWith(QStringLiteral("records.mrc")));
    }

    void displayTextDecodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF") << QByteArray("001a\r\n200b\r\n") << QStringLiteral("001a\n200b\n");
        QTest::newRow("lone CR") << QByteArray("001a\r200b") << QStringLiteral("001a\n200b");
        QTest::newRow("zero byte ends the text") << QByteArray("001a\n2\0" "00b\n", 11) << QStringLiteral("001a\n2");
        QTest::newRow("bad pair keeps the rest of the line") << QByteArray("a\x81 bc\n") << QStringLiteral("a\uFFFD bc\n");
        QTest::newRow("lead byte before a line end") << QByteArray("ab\xd6\r\ncd\n") << QStringLiteral("ab\uFFFD\ncd\n");
    }

    void displayTextDecodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(DecodeDisplayText(bytes), text);
    }

};

QTEST_MAIN(DocumentWindowTest)
#include "DocumentWindowTest.moc"
