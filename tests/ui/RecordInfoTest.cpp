// SPDX-License-Identifier: Apache-2.0
// What a document window shows of a record's character set and structure: the
// decoded text, the information panel, the 字符集 submenu and the check dialog.

#include <QAction>
#include <QFile>
#include <QMdiArea>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "dialogs/CheckRecordDialog.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "state/SharedState.h"
#include "QtGbkReference.h"
#include "ViewerHarness.h"

using viewertest::answerAs;
using viewertest::ModalAnswer;

namespace {

/// A MARC 21 record in UTF-8 (leader byte 9 'a') with a Greek title.
std::string utf8Record()
{
    std::string record = testsupport::MakeRecord(
        {{"001", "greek1"}, {"245", "10\x1f" "a" + QString::fromUtf8("Ελληνική γλώσσα").toStdString()}});
    record[9] = 'a';
    return record;
}

/// The text a window showed before records had sets: its scratch file read as GBK.
QString scratchAsGbk()
{
    QFile scratch(QString::fromStdString(veltrane::ScratchDisplay().path()));
    return scratch.open(QIODevice::ReadOnly) ? testsupport::QtShownGbkText(scratch.readAll())
                                             : QStringLiteral("<no scratch file>");
}

}  // namespace

class RecordInfoTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const QString& path)
    {
        (void)OpenMarcFile(&m_v->main, path);
        return FormMarc.data();
    }
    QString info() const { return m_v->main.infoPanel()->text(); }
    QAction* charsetItem(const char* name) const
    {
        return m_v->main.findChild<QAction*>(QStringLiteral("MCharset_") + QString::fromLatin1(name));
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().delimiterMode = veltrane::dmNormal;
    }
    void cleanup() { m_v.reset(); }

    void hebrewRecordShowsItsHebrewRightToLeft()
    {
        const QString path = QStringLiteral(VELTRANE_SOURCE_DIR "/../shared/corpus/traject_hebrew880s.marc");
        if (!QFile::exists(path))
            QSKIP("the shared corpus is not next to the source folder");
        TFormMarc* window = open(path);
        QVERIFY(window->isOpen());
        const QString hebrew = QString::fromUtf8("רצבי, שלום");
        const QString text = window->MemoMarc->toPlainText();
        const qsizetype at = text.indexOf(hebrew);
        QVERIFY2(at >= 0, qPrintable(text));
        QCOMPARE(info(), QStringLiteral("字符集：UTF-8（自动），共 %1 条").arg(window->RecordCount));
        QCOMPARE(m_v->main.infoPanel()->accessibleName(), info());

        // Laid out right to left: each later letter of a word stands further left.
        const QTextBlock block = window->MemoMarc->document()->findBlock(static_cast<int>(at));
        auto* layout = qobject_cast<QPlainTextDocumentLayout*>(window->MemoMarc->document()->documentLayout());
        QVERIFY(layout != nullptr);
        layout->ensureBlockLayout(block);
        const int first = static_cast<int>(at) - block.position();
        const QTextLine line = block.layout()->lineForTextPosition(first);
        QVERIFY(line.isValid());
        // (The run's first position is where the text before it ends.)
        for (int i = first + 1; i < first + 4; ++i)
            QVERIFY2(line.cursorToX(i + 1) < line.cursorToX(i), qPrintable(QString::number(i - first)));
    }

    // A decoded record's long field wraps after a word and keeps '$' with its
    // code; its continuation lines keep their indent.
    void decodedTextWrapsAfterAWord()
    {
        QString title = QString::fromUtf8("Ελληνική ");
        for (int i = 0; i < 11; ++i)
            title += QStringLiteral("wordy ");
        std::string record = testsupport::MakeRecord(
            {{"001", "greek2"}, {"245", "10\x1f" "a" + title.toStdString() + "\x1f" "bend"}});
        record[9] = 'a';
        TFormMarc* window = open(m_v->sandbox.write("words.mrc", record));
        QVERIFY(window->isOpen());
        const QStringList lines = window->MemoMarc->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.value(1), QStringLiteral("24510$a") + title.left(9 + 6 * 10));
        QCOMPARE(lines.value(2), QStringLiteral("     wordy $bend"));
    }

    // A line that starts in Hebrew (a continuation) still reads left to right:
    // its indent at the left, its '$b' after the Hebrew before it.
    void rightToLeftTextKeepsTheLineLeftToRight()
    {
        const QString hebrew = QString::fromUtf8("שלום");
        std::string record = testsupport::MakeRecord(
            {{"001", "he1"}, {"245", "10\x1f" "a" + std::string(70, 'x') + hebrew.toStdString() + "\x1f" "bend"}});
        record[9] = 'a';
        TFormMarc* window = open(m_v->sandbox.write("hebrew.mrc", record));
        QVERIFY(window->isOpen());
        const QString text = window->MemoMarc->toPlainText();
        const QString continuation = QStringLiteral("     ") + hebrew + QStringLiteral("$bend");
        QVERIFY2(text.contains(QLatin1Char('\n') + continuation + QLatin1Char('\n')), qPrintable(text));

        const QTextBlock block = window->MemoMarc->document()->findBlock(static_cast<int>(text.indexOf(continuation)));
        auto* layout = qobject_cast<QPlainTextDocumentLayout*>(window->MemoMarc->document()->documentLayout());
        QVERIFY(layout != nullptr);
        layout->ensureBlockLayout(block);
        const QTextLine line = block.layout()->lineAt(0);
        QVERIFY(line.isValid());
        const int dollar = static_cast<int>(continuation.indexOf(QLatin1Char('$')));
        for (int i = 5; i < 5 + hebrew.size(); ++i) {
            QVERIFY2(line.cursorToX(0) < line.cursorToX(i), qPrintable(QString::number(i)));
            QVERIFY2(line.cursorToX(i) <= line.cursorToX(dollar), qPrintable(QString::number(i)));
        }
        QVERIFY(line.cursorToX(dollar) < line.cursorToX(dollar + 1));
    }

    void samplesShowTodaysGbkTextUnderAutomatic_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("record");
        QTest::newRow("chinese title") << QString() << 2;
        QTest::newRow("samples folder") << QStringLiteral(VELTRANE_SOURCE_DIR "/samples/sample.mrc") << 1;
    }

    void samplesShowTodaysGbkTextUnderAutomatic()
    {
        QFETCH(QString, file);
        QFETCH(int, record);
        if (file.isEmpty()) {
            file = m_v->sandbox.write("gbk.mrc", viewertest::numberedRecord(1) +
                                                     viewertest::numberedRecord(2, viewertest::gbk(QString::fromUtf8("中文题名：镕喆堃赟"))));
        }
        TFormMarc* window = open(file);
        QVERIFY(window->isOpen());
        while (window->CurrentRecord < record)
            window->ShowNextRecord();
        QCOMPARE(window->MemoMarc->toPlainText(), scratchAsGbk());
        QVERIFY2(info().startsWith(QStringLiteral("字符集：GBK（自动）")), qPrintable(info()));
    }

    // Each window keeps its own setting; the submenu shows the active window's.
    void charsetMenuSwitchesOnlyTheActiveWindow()
    {
        const QString path = m_v->sandbox.write("greek.mrc", utf8Record());
        TFormMarc* a = open(path);
        TFormMarc* b = open(path);
        const QString greek = QString::fromUtf8("Ελληνική γλώσσα");
        m_v->main.mdiArea()->setActiveSubWindow(a);
        QVERIFY(a->MemoMarc->toPlainText().contains(greek));
        QVERIFY(charsetItem("auto")->isChecked());

        charsetItem("gbk")->trigger();
        QCOMPARE(a->CharsetChoice, veltrane::CharsetSetting::Gbk);
        QCOMPARE(a->MemoMarc->toPlainText(), scratchAsGbk());
        QVERIFY(!a->MemoMarc->toPlainText().contains(greek));
        QVERIFY2(info().startsWith(QStringLiteral("字符集：GBK")) && !info().contains(QStringLiteral("自动")),
                 qPrintable(info()));

        m_v->main.mdiArea()->setActiveSubWindow(b);
        QCOMPARE(b->CharsetChoice, veltrane::CharsetSetting::Auto);
        QVERIFY(b->MemoMarc->toPlainText().contains(greek));
        QVERIFY(charsetItem("auto")->isChecked());
        QCOMPARE(info(), QStringLiteral("字符集：UTF-8（自动），共 1 条"));
        charsetItem("utf-8")->trigger();
        QCOMPARE(info(), QStringLiteral("字符集：UTF-8，共 1 条"));

        m_v->main.mdiArea()->setActiveSubWindow(a);
        QVERIFY(charsetItem("gbk")->isChecked());
        a->ShowNextRecord();  // the one record: stays, and so does the setting
        QCOMPARE(a->CharsetChoice, veltrane::CharsetSetting::Gbk);

        a->close();
        b->close();
        QTRY_COMPARE(m_v->main.documents().size(), 0);
        QCOMPARE(info(), QString());
    }

    // The count is the active window's, told from the first record shown on:
    // switching windows switches it, and a record that cannot be read keeps it.
    void panelCountsTheRecordsOfTheActiveWindow()
    {
        TFormMarc* three = open(m_v->sandbox.write("three.mrc", viewertest::numberedFile(3)));
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），共 3 条"));
        TFormMarc* two = open(m_v->sandbox.write("two.mrc", viewertest::numberedFile(2)));
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），共 2 条"));
        m_v->main.mdiArea()->setActiveSubWindow(three);
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），共 3 条"));
        m_v->main.mdiArea()->setActiveSubWindow(two);
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），共 2 条"));
        TFormMarc* empty = open(m_v->sandbox.write("short.mrc", "00024nam0 2200024   450 "));
        QVERIFY(empty->isOpen());
        QVERIFY2(info().endsWith(QStringLiteral("共 0 条")), qPrintable(info()));
    }

    void panelAndCheckDialogTellTheRecordsProblems_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("firstLine");  // of the check dialog, up to its first tab

        // A record of ASCII reads the same in every set: it is named so.
        QTest::newRow("clean") << QByteArray::fromStdString(viewertest::numberedRecord(1)) << QStringLiteral("字符集：ASCII（自动），共 1 条")
                               << QString::fromUtf8(kNoStructuralProblemsText);
        std::string unterminated = viewertest::numberedRecord(1);
        unterminated[unterminated.size() - 2] = 'x';  // the last field's terminator
        QTest::newRow("field without its terminator")
            << QByteArray::fromStdString(unterminated) << QStringLiteral("字符集：ASCII（自动），结构问题：1，共 1 条")
            << QStringLiteral("field-terminator");
        std::string badUtf8 = utf8Record();
        badUtf8[badUtf8.size() - 3] = '\xff';  // the second byte of the last letter: two bytes go
        QTest::newRow("invalid UTF-8 byte")
            << QByteArray::fromStdString(badUtf8) << QStringLiteral("字符集：UTF-8（自动），无效字节：2，结构问题：1，共 1 条")
            << QStringLiteral("bad-utf8");
    }

    void panelAndCheckDialogTellTheRecordsProblems()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, panel);
        QFETCH(QString, firstLine);
        TFormMarc* window = open(m_v->sandbox.write("one.mrc", record.toStdString()));
        QVERIFY(window->isOpen());
        QCOMPARE(info(), panel);

        QString shown;
        ModalAnswer answer(answerAs<TDlgCheckRecord>([&](TDlgCheckRecord* dialog) {
            shown = dialog->MemoProblems->toPlainText();
            dialog->BtnClose->click();
        }));
        m_v->main.findChild<QAction*>(QStringLiteral("MCheckRecord"))->trigger();
        QVERIFY(answer.answered());
        QCOMPARE(shown.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char('\t'), 0, 0), firstLine);
        QCOMPARE(shown.count(QLatin1Char('\n')) + 1, qMax<qsizetype>(1, window->recordInfo().problems.size()));
    }
};

QTEST_MAIN(RecordInfoTest)
#include "RecordInfoTest.moc"
