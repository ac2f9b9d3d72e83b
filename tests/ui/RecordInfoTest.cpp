// SPDX-License-Identifier: Apache-2.0
// What a document window shows of a record's character set and structure: the
// decoded text, the information panel, the 字符集 submenu and the check dialog.

#include <QAction>
#include <QClipboard>
#include <QApplication>
#include <QAccessible>
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
#include "windows/RecordText.h"
#include "windows/RecordTextEdit.h"
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
    record[8] = ' ';  // type of control: none (the shared builder writes a UNIMARC level there)
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
        // On a busy machine even a small file may open after the grace period, in the background.
        (void)QTest::qWaitFor([] { return !FormMarc || !FormMarc->isOpening(); }, 20000);
        return FormMarc.data();
    }
    QString info() const { return m_v->main.infoPanel()->text(); }
    /// Where the character at display position `at` of memo's text begins on
    /// its line, in pixels from the left (its right edge in right-to-left text).
    static qreal xAt(RecordTextEdit* memo, int at)
    {
        const int position = memo->documentPosition(at);
        const QTextBlock block = memo->document()->findBlock(position);
        auto* layout = qobject_cast<QPlainTextDocumentLayout*>(memo->document()->documentLayout());
        layout->ensureBlockLayout(block);
        const QTextLine line = block.layout()->lineForTextPosition(position - block.position());
        return line.isValid() ? line.cursorToX(position - block.position()) : -1;
    }
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
        // Its one content finding: the local 049, which MARC 21 does not define.
        QCOMPARE(info(), QStringLiteral("字符集：UTF-8（自动），内容问题：1，共 %1 条").arg(window->RecordCount));
        QCOMPARE(m_v->main.infoPanel()->accessibleName(), info());

        // Laid out right to left: each later letter of a word stands further left.
        // (The run's first position is where the text before it ends.)
        for (int i = 1; i < 4; ++i)
            QVERIFY2(xAt(window->MemoMarc, static_cast<int>(at) + i + 1) < xAt(window->MemoMarc, static_cast<int>(at) + i),
                     qPrintable(QString::number(i)));
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

        const int start = static_cast<int>(text.indexOf(continuation));
        const auto x = [&](int column) { return xAt(window->MemoMarc, start + column); };
        const int dollar = static_cast<int>(continuation.indexOf(QLatin1Char('$')));
        for (int i = 5; i < 5 + hebrew.size(); ++i) {
            QVERIFY2(x(0) < x(i), qPrintable(QString::number(i)));
            QVERIFY2(x(i) <= x(dollar), qPrintable(QString::number(i)));
        }
        QVERIFY(x(dollar) < x(dollar + 1));
    }

    // Each subfield value that holds right-to-left text reads right to left on
    // its own: its digits and punctuation never take the '$' mark or a numeric
    // code into it, and "$b" stays after it.
    void rightToLeftValuesKeepTheSubfieldMarksInPlace_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("rightToLeft");
        const QString hebrew = QString::fromUtf8("שלום");
        const QString arabic = QString::fromUtf8("كتاب");
        QTest::newRow("hebrew, a year") << hebrew + QStringLiteral(" 1990") << QStringLiteral("bend") << hebrew;
        QTest::newRow("hebrew, a numeric code") << hebrew << QStringLiteral("6245-01") << hebrew;
        QTest::newRow("hebrew, punctuation") << hebrew + QStringLiteral(" :") << QStringLiteral("b") + hebrew << hebrew;
        QTest::newRow("arabic, a year and a stop") << arabic + QStringLiteral(" 1990.") << QStringLiteral("vend") << arabic;
    }
    void rightToLeftValuesKeepTheSubfieldMarksInPlace()
    {
        QFETCH(QString, value);
        QFETCH(QString, next);
        QFETCH(QString, rightToLeft);
        std::string record = testsupport::MakeRecord(
            {{"001", "rtl1"}, {"245", "10\x1f" "a" + value.toStdString() + "\x1f" + next.toStdString()}});
        record[9] = 'a';
        TFormMarc* window = open(m_v->sandbox.write("rtl.mrc", record));
        QVERIFY(window->isOpen());
        RecordTextEdit* memo = window->MemoMarc;
        const QString text = memo->toPlainText();
        const QString shown = QStringLiteral("24510$a") + value + QLatin1Char('$') + next;
        QVERIFY2(text.contains(QLatin1Char('\n') + shown + QLatin1Char('\n')), qPrintable(text));

        const int start = static_cast<int>(text.indexOf(shown));
        const auto x = [&](qsizetype column) { return xAt(memo, start + static_cast<int>(column)); };
        const qsizetype code = 6;
        const qsizetype mark = code + 1 + value.size();
        for (qsizetype i = code + 1; i < mark; ++i) {
            QVERIFY2(x(code) < x(i), qPrintable(QString::number(i)));
            QVERIFY2(x(i) <= x(mark), qPrintable(QString::number(i)));
        }
        QVERIFY(x(mark) < x(mark + 1));
        QVERIFY(x(mark + 1) < x(mark + 2));
        // The value itself reads right to left (its first position is where
        // the text before it ends, so from its second letter on).
        QVERIFY(x(code + rightToLeft.size()) < x(code + 2));
    }

    // The isolates are the layout's alone: the plain text, Ctrl+C, 复制为连续文本,
    // find's selection and what assistive technology reads are the display text.
    void rightToLeftTextLeavesAsTheDisplayText()
    {
        const QString hebrew = QString::fromUtf8("הגיונות");
        std::string record = testsupport::MakeRecord(
            {{"001", "rtl2"},
             {"880", "10\x1f" "6245-01\x1f" "a" + hebrew.toStdString() + " 1990 :\x1f" "b" + std::string(60, 'x') +
                         hebrew.toStdString() + "\x1f" "vend"}});
        record[9] = 'a';
        TFormMarc* window = open(m_v->sandbox.write("rtl.mrc", record));
        QVERIFY(window->isOpen());
        RecordTextEdit* memo = window->MemoMarc;
        QVERIFY(memo->document()->toPlainText().contains(QChar(0x2068)));
        const QString text = memo->toPlainText();
        const QString expected = QStringLiteral("88010$6245-01$a") + hebrew + QStringLiteral(" 1990 :$b") +
                                 QString(60, QLatin1Char('x')) + hebrew + QStringLiteral("$vend\n");
        QVERIFY2(JoinWrappedLines(text).endsWith(expected) && text.contains(QStringLiteral("\n     ")), qPrintable(text));
        QVERIFY(!text.contains(QChar(0x2068)) && !text.contains(QChar(0x2069)));

        memo->selectAll();
        memo->copy();
        QCOMPARE(QApplication::clipboard()->text(), text);
        QTest::keySequence(memo, QKeySequence(QStringLiteral("Ctrl+Shift+C")));
        QCOMPARE(QApplication::clipboard()->text(), JoinWrappedLines(text));

        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(memo);
        QVERIFY(accessible != nullptr && accessible->textInterface() != nullptr);
        QAccessibleTextInterface* readable = accessible->textInterface();
        QCOMPARE(readable->characterCount(), static_cast<int>(text.size()));
        QCOMPARE(readable->text(0, readable->characterCount()), text);
        QCOMPARE(accessible->text(QAccessible::Value), text);

        // Found across the wrap, in display positions everywhere.
        const QString across = QStringLiteral("xx") + hebrew + QStringLiteral("$v");
        QVERIFY(SelectFirstMatch(memo, across, true));
        QCOMPARE(JoinWrappedLines(memo->selectedDisplayText()), across);
        int from = -1;
        int to = -1;
        readable->selection(0, &from, &to);
        QCOMPARE(JoinWrappedLines(readable->text(from, to)), across);
        QCOMPARE(readable->cursorPosition(), from);
        readable->setSelection(0, static_cast<int>(text.indexOf(hebrew)), static_cast<int>(text.indexOf(hebrew) + hebrew.size()));
        QCOMPARE(memo->selectedDisplayText(), hebrew);
        memo->copy();
        QCOMPARE(QApplication::clipboard()->text(), hebrew);

        // The arrow keys never stop on an isolate's mark: each press moves the cursor.
        const int code = static_cast<int>(text.indexOf(hebrew)) - 1;
        memo->setFocus();
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(memo->documentPosition(code));
        memo->setTextCursor(cursor);
        QTest::keyClick(memo, Qt::Key_Right);
        QTest::keyClick(memo, Qt::Key_Right);
        QCOMPARE(memo->displayPosition(memo->textCursor().position()), code + 2);
        QTest::keyClick(memo, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(memo->selectedDisplayText(), hebrew.left(1));
        QTest::keyClick(memo, Qt::Key_Left);  // ends the selection at its start
        QCOMPARE(memo->displayPosition(memo->textCursor().position()), code + 1);
        QTest::keyClick(memo, Qt::Key_Left);
        QCOMPARE(memo->displayPosition(memo->textCursor().position()), code);
    }

    void isolatesOnlyRightToLeftValues_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("laidOut");
        const QString he = QString::fromUtf8("של");
        const QString fsi(QChar(0x2068));
        const QString pdi(QChar(0x2069));
        QTest::newRow("latin only") << QStringLiteral("24510$aTitle :$bmore\n     wrapped$cend")
                                    << QStringLiteral("24510$aTitle :$bmore\n     wrapped$cend");
        QTest::newRow("control field") << QStringLiteral("001") + he << QStringLiteral("001") + he;
        QTest::newRow("one value of two") << QStringLiteral("24510$a") + he + QStringLiteral(" /$bx")
                                          << QStringLiteral("24510$a") + fsi + he + QStringLiteral(" /") + pdi + QStringLiteral("$bx");
        QTest::newRow("continuation") << QStringLiteral("24510$ax\n     ") + he + QStringLiteral("$b")
                                      << QStringLiteral("24510$ax\n     ") + fsi + he + pdi + QStringLiteral("$b");
        QTest::newRow("empty values") << QStringLiteral("24510$a$b") + he + QStringLiteral("$")
                                      << QStringLiteral("24510$a$b") + fsi + he + pdi + QStringLiteral("$");
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("24510$a١٩٩٠$b")
                                             << QStringLiteral("24510$a") + fsi + QString::fromUtf8("١٩٩٠") + pdi + QStringLiteral("$b");
    }
    void isolatesOnlyRightToLeftValues()
    {
        QFETCH(QString, shown);
        QFETCH(QString, laidOut);
        const IsolatedText isolated = IsolateRightToLeftValues(shown);
        QCOMPARE(isolated.text, laidOut);
        std::vector<int> marks;
        for (qsizetype i = 0; i < laidOut.size(); ++i) {
            if (laidOut[i] == QChar(0x2068) || laidOut[i] == QChar(0x2069))
                marks.push_back(static_cast<int>(i));
        }
        QVERIFY(isolated.marks == marks);
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
    // (The numbered records are MARC 21 by their shape, without the 245 that
    // format requires, with a 200 it does not define and a UNIMARC level in
    // leader/08: three content faults.)
    void panelCountsTheRecordsOfTheActiveWindow()
    {
        TFormMarc* three = open(m_v->sandbox.write("three.mrc", viewertest::numberedFile(3)));
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），内容问题：3，共 3 条"));
        TFormMarc* two = open(m_v->sandbox.write("two.mrc", viewertest::numberedFile(2)));
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），内容问题：3，共 2 条"));
        m_v->main.mdiArea()->setActiveSubWindow(three);
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），内容问题：3，共 3 条"));
        m_v->main.mdiArea()->setActiveSubWindow(two);
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），内容问题：3，共 2 条"));
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
        QTest::newRow("clean") << QByteArray::fromStdString(viewertest::numberedRecord(1)) << QStringLiteral("字符集：ASCII（自动），内容问题：3，共 1 条")
                               << QString::fromUtf8(kNoStructuralProblemsText);
        std::string unterminated = viewertest::numberedRecord(1);
        unterminated[unterminated.size() - 2] = 'x';  // the last field's terminator
        QTest::newRow("field without its terminator")
            << QByteArray::fromStdString(unterminated) << QStringLiteral("字符集：ASCII（自动），结构问题：1，内容问题：3，共 1 条")
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
