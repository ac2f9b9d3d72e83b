#include <QFontMetrics>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTest>

#include "Main.h"
#include "Marc.h"
#include "ViewerHarness.h"

using viewertest::FakePrompt;
using viewertest::Sandbox;

class DocumentWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<TFormMain> m_main;

    TFormMarc* open(const QString& path)
    {
        (void)OpenMarcFile(m_main.get(), path);
        return FormMarc.data();
    }
    QString panel(int i) const { return m_main->statusPanel(i)->text(); }
    void expectShowing(TFormMarc* window, const QString& path, int record)
    {
        QCOMPARE(window->CurrentRecord, record);
        QCOMPARE(window->windowTitle(), QStringLiteral("%1 纪录号：%2").arg(path).arg(record));
        QVERIFY2(window->MemoMarc->toPlainText().startsWith(QStringLiteral("001rec%1\n").arg(record)),
                 qPrintable(window->MemoMarc->toPlainText()));
    }
    void expectStatus(const QString& path, int record)
    {
        QCOMPARE(panel(0), QStringLiteral("文件名：%1").arg(path));
        QCOMPARE(panel(1), QStringLiteral("纪录号：%1").arg(record));
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<Sandbox>();
        m_prompt = std::make_unique<FakePrompt>();
        m_main = std::make_unique<TFormMain>();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }

    void cleanup()
    {
        m_main.reset();
        m_prompt.reset();
        m_sandbox.reset();
    }

    void captionAndStatusFollowEveryStep_data()
    {
        QTest::addColumn<QString>("steps");  // N next, P previous
        QTest::addColumn<QList<int>>("records");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("forward to the end") << "NNN" << QList<int>{2, 3, 3} << QStringList{"  最后一条记录!  "};
        QTest::newRow("back to the start") << "NNPPP" << QList<int>{2, 3, 2, 1, 1}
                                           << QStringList{"  第一条记录!  "};
        QTest::newRow("previous first") << "PN" << QList<int>{1, 2} << QStringList{"  第一条记录!  "};
    }

    void captionAndStatusFollowEveryStep()
    {
        QFETCH(QString, steps);
        QFETCH(QList<int>, records);
        QFETCH(QStringList, messages);
        const QString path = m_sandbox->write("three.mrc", viewertest::numberedFile(3));
        TFormMarc* window = open(path);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (steps[i] == QLatin1Char('N'))
                window->ShowNextRecord();
            else
                window->ShowPrevRecord();
            expectShowing(window, path, records[i]);
            expectStatus(path, records[i]);
        }
        QCOMPARE(m_prompt->texts(), messages);
    }

    void oneRecordFileStopsAtBothEnds()
    {
        const QString path = m_sandbox->write("one.mrc", viewertest::numberedFile(1));
        TFormMarc* window = open(path);
        const QString before = window->MemoMarc->toPlainText();
        window->ShowPrevRecord();
        window->ShowNextRecord();
        QCOMPARE(m_prompt->texts(), (QStringList{"  第一条记录!  ", "  最后一条记录!  "}));
        QCOMPARE(m_prompt->shown[0].kind, FakePrompt::Kind::Message);
        QCOMPARE(window->MemoMarc->toPlainText(), before);
        expectShowing(window, path, 1);
    }

    void switchingWindowsShowsTheActiveOne()
    {
        const QString first = m_sandbox->write("a.mrc", viewertest::numberedFile(3));
        const QString second = m_sandbox->write("b.mrc", viewertest::numberedFile(2));
        TFormMarc* a = open(first);
        a->ShowNextRecord();
        TFormMarc* b = open(second);
        expectStatus(second, 1);
        m_main->mdiArea()->setActiveSubWindow(a);
        expectStatus(first, 2);
        m_main->mdiArea()->setActiveSubWindow(b);
        expectStatus(second, 1);
    }

    void sameFileTwiceIsIndependent()
    {
        const QString path = m_sandbox->write("three.mrc", viewertest::numberedFile(3));
        TFormMarc* a = open(path);
        TFormMarc* b = open(path);
        QVERIFY(a != b);
        QVERIFY(a->IndexFileName && b->IndexFileName);
        QVERIFY(*a->IndexFileName != *b->IndexFileName);
        QCOMPARE(m_sandbox->indexFiles().size(), 2);

        b->ShowNextRecord();
        b->ShowNextRecord();
        expectShowing(a, path, 1);
        expectShowing(b, path, 3);

        const std::string keptIndex = *a->IndexFileName;
        QPointer<TFormMarc> closed = b;
        b->close();
        QVERIFY(QFileInfo::exists(QString::fromStdString(keptIndex)));
        QCOMPARE(m_sandbox->indexFiles().size(), 1);
        QTRY_VERIFY(closed.isNull());
        a->ShowNextRecord();
        expectShowing(a, path, 2);
    }

    void lineEndsBetweenRecords_data()
    {
        QTest::addColumn<QString>("separator");
        QTest::newRow("CR LF") << "\r\n";
        QTest::newRow("LF") << "\n";
        QTest::newRow("blank lines") << "\n\n\n";
    }

    void lineEndsBetweenRecords()
    {
        QFETCH(QString, separator);
        const QString path = m_sandbox->write("lines.mrc", viewertest::numberedFile(3, separator.toStdString()));
        TFormMarc* window = open(path);
        QCOMPARE(window->RecordCount, 3);
        expectShowing(window, path, 1);
        window->ShowNextRecord();
        expectShowing(window, path, 2);
        window->ShowNextRecord();
        expectShowing(window, path, 3);
        window->ShowPrevRecord();
        expectShowing(window, path, 2);
        QVERIFY(m_prompt->shown.isEmpty());
    }

    void unreadableFilesCloseTheWindow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // empty: no such file
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("missing file") << "missing.mrc" << QByteArray()
                                      << QStringList{"Invalid drive or directory", "Not marc format file!"};
        QTest::newRow("text file") << "notes.mrc" << QByteArray("hello, these are no records\n")
                                   << QStringList{"Not marc format file!"};
        QTest::newRow("empty file") << "empty.mrc" << QByteArray("")
                                    << QStringList{"Not marc format file!"};
    }

    void unreadableFilesCloseTheWindow()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, messages);
        QString path = m_sandbox->workDir() + QLatin1Char('/') + name;
        if (!bytes.isNull())
            path = m_sandbox->write(name, bytes.toStdString());
        QPointer<TFormMarc> window = open(path);
        QVERIFY(!window->isOpen());
        QCOMPARE(m_prompt->texts(), messages);
        QVERIFY(m_sandbox->indexFiles().isEmpty());
        QCOMPARE(panel(0), QString());
        QTRY_VERIFY(window.isNull());
        QVERIFY(m_main->mdiArea()->subWindowList().isEmpty());
    }

    void noIndexNameLeavesNothingBehind()
    {
        const QString path = m_sandbox->write("three.mrc", viewertest::numberedFile(3));
        ::setenv("TMP", (m_sandbox->tmpDir() + "/no/such/folder").toLocal8Bit().constData(), 1);
        QPointer<TFormMarc> window = open(path);
        QVERIFY(!window->isOpen());
        QCOMPARE(m_prompt->texts().first(), QStringLiteral("tempnam couldn't create name"));
        QCOMPARE(m_prompt->texts().last(), QStringLiteral("Not marc format file!"));
        QTRY_VERIFY(window.isNull());
        QVERIFY(m_sandbox->indexFiles().isEmpty());
    }

    void leaderOfLength24ShowsEmptyRecord()
    {
        const QString path = m_sandbox->write("short.mrc", "00024nam0 2200024   450 ");
        TFormMarc* window = open(path);
        QVERIFY(window->isOpen());
        QCOMPARE(window->RecordCount, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("%1 纪录号：1").arg(path));
        QCOMPARE(window->MemoMarc->toPlainText(), QString());
        QVERIFY(m_prompt->shown.isEmpty());
    }

    void failedStepKeepsTheRecordOnDisplay()
    {
        const std::string bytes = viewertest::numberedFile(3);
        const QString path = m_sandbox->write("three.mrc", bytes);
        TFormMarc* window = open(path);
        // The file shrinks behind the window's back: record 2 can no longer be read.
        m_sandbox->write("three.mrc", bytes.substr(0, viewertest::numberedRecord(1).size() + 10));
        window->ShowNextRecord();
        expectShowing(window, path, 1);
        expectStatus(path, 1);
        window->ShowPrevRecord();
        QCOMPARE(m_prompt->texts(), QStringList{"  第一条记录!  "});
    }

    void chineseTextIsShownIntact()
    {
        const std::string record = testsupport::MakeRecord(
            {{"001", "rec1"}, {"200", "1 \x1f" "a" + viewertest::gbk("中文题名") + "\x1f" "f" + viewertest::gbk("王小明著")}});
        const QString path = m_sandbox->write("gbk.mrc", record);
        TFormMarc* window = open(path);
        QCOMPARE(window->MemoMarc->toPlainText(), QStringLiteral("001rec1\n2001 $a中文题名$f王小明著\n"));
    }

    void longPathIsKeptWhole()
    {
        QString folder = m_sandbox->workDir();
        for (int i = 0; i < 6; ++i)
            folder += QStringLiteral("/a-rather-long-folder-name-%1").arg(i);
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/records.mrc");
        QVERIFY(path.size() > 200);
        std::ofstream(path.toStdString(), std::ios::binary) << viewertest::numberedFile(2);

        TFormMarc* window = open(path);
        QCOMPARE(window->FileName, path.toStdString());
        expectShowing(window, path, 1);
        expectStatus(path, 1);
        const QString shown = m_main->statusPanel(0)->displayedText();
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.size() < panel(0).size(), qPrintable(shown));
        QVERIFY(shown.startsWith(QStringLiteral("文件名：")));
        QVERIFY(shown.endsWith(QStringLiteral("records.mrc")));
    }

    void memoUsesTwoColumnsPerChineseCharacter()
    {
        const QString path = m_sandbox->write("one.mrc", viewertest::numberedFile(1));
        TFormMarc* window = open(path);
        const QFont font = window->MemoMarc->font();
        QCOMPARE(font.pixelSize(), 16);
        if (QFontInfo(font).family() != QStringLiteral("Noto Sans Mono CJK SC"))
            QSKIP("the CJK monospace font is not installed");
        const QFontMetrics metrics(font);
        QCOMPARE(metrics.horizontalAdvance(QStringLiteral("中")), 2 * metrics.horizontalAdvance(QLatin1Char('M')));
        QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('M')));
    }
};

// The scratch file's bytes as the window reads them.
class DisplayTextDecodingTest : public QObject {
    Q_OBJECT

private slots:
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF") << QByteArray("001a\r\n200b\r\n") << QStringLiteral("001a\n200b\n");
        QTest::newRow("LF") << QByteArray("001a\n200b\n") << QStringLiteral("001a\n200b\n");
        QTest::newRow("lone CR") << QByteArray("001a\r200b") << QStringLiteral("001a\n200b");
        QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << QStringLiteral("a\n\nb");
        QTest::newRow("zero byte ends the text") << QByteArray("001a\n2\0" "00b\n", 11) << QStringLiteral("001a\n2");
        QTest::newRow("GBK") << QByteArray("200\xd6\xd0\xce\xc4\n") << QStringLiteral("200中文\n");
        QTest::newRow("code page 936 euro sign") << QByteArray("a\x80\n") << QStringLiteral("a\u20AC\n");
        QTest::newRow("bad pair keeps the rest of the line")
            << QByteArray("a\x81 bc\n") << QStringLiteral("a\uFFFD bc\n");
        QTest::newRow("lead byte before a line end")
            << QByteArray("ab\xd6\r\ncd\n") << QStringLiteral("ab\uFFFD\ncd\n");
        QTest::newRow("lead byte at the very end") << QByteArray("ab\xd6") << QStringLiteral("ab\uFFFD");
        QTest::newRow("continuation line") << QByteArray("200x\n     y\n     ") << QStringLiteral("200x\n     y\n     ");
    }

    void decodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(DecodeDisplayText(bytes), text);
    }

    void missingScratchFileIsReported()
    {
        FakePrompt prompt;
        Sandbox sandbox;
        const QString path = sandbox.workDir() + QStringLiteral("/gone.mrc");
        QCOMPARE(LoadDisplayFile(path), std::nullopt);
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown[0].kind, FakePrompt::Kind::Error);
        QCOMPARE(prompt.shown[0].text, QStringLiteral("Cannot open file %1").arg(path));
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int status = 0;
    {
        DocumentWindowTest windows;
        status |= QTest::qExec(&windows, argc, argv);
    }
    {
        DisplayTextDecodingTest decoding;
        status |= QTest::qExec(&decoding, argc, argv);
    }
    return status;
}

#include "DocumentWindowTest.moc"
