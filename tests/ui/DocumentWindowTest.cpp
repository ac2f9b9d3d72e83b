#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTest>

#include "Main.h"
#include "Marc.h"
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
        m_v->main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_v->main));
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

    void displayTextDecodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("GBK") << QByteArray::fromStdString(viewertest::gbk("2001 $a中文题名$f王小明著\n"))
                             << QStringLiteral("2001 $a中文题名$f王小明著\n");
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
