// SPDX-License-Identifier: Apache-2.0
// The record commands and their dialogs driven as the user drives them.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextDocumentFragment>
#include <QTest>

#include <algorithm>

#include "dialogs/About.h"
#include "dialogs/Chgfmt.h"
#include "dialogs/Fileask.h"
#include "dialogs/Findmarc.h"
#include "dialogs/GetMarc.h"
#include "dialogs/Goto.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/RecordText.h"
#include "commands/MarcCommands.h"
#include "iso2709/RecordLayout.h"
#include "display/RecordScan.h"
#include "state/SharedState.h"
#include "ViewerHarness.h"

using viewertest::answerAs;
using viewertest::ModalAnswer;
using veltrane::OverwriteChoice;
using OptionalInt = std::optional<std::int32_t>;

Q_DECLARE_METATYPE(veltrane::OverwriteChoice)
Q_DECLARE_METATYPE(OptionalInt)
Q_DECLARE_METATYPE(veltrane::CharsetSetting)

class RecordCommandsTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const QString& path, int record = 1)
    {
        (void)OpenMarcFile(&m_v->main, path);
        TFormMarc* window = FormMarc.data();
        while (window != nullptr && window->CurrentRecord < record)
            window->ShowNextRecord();
        return window;
    }

    // Records 1 to 5 with the titles the find cases search.
    TFormMarc* openTitled(int record = 1)
    {
        const std::string titles[] = {"Start", viewertest::gbk(QString::fromUtf8("中文题名")), "abc lower", "ABC upper", "last abc"};
        std::string bytes;
        for (int n = 1; n <= 5; ++n)
            bytes += viewertest::numberedRecord(n, titles[n - 1]);
        return open(m_v->sandbox.write("titles.mrc", bytes), record);
    }

    static bool shows(TFormMarc* window, int record)
    {
        return window->CurrentRecord == record
            && window->MemoMarc->toPlainText().startsWith(QStringLiteral("001rec%1\n").arg(record))
            && window->windowTitle().endsWith(QStringLiteral("纪录号：%1").arg(record));
    }

    void find(TFormMarc* window, const QString& text, bool caseSensitive)
    {
        ModalAnswer answer(answerAs<TFormFind>([&](TFormFind* dialog) {
            dialog->EditTextToFind->setText(text);
            dialog->CbxCase->setChecked(caseSensitive);
            dialog->BtnOk->click();
        }));
        FindCommand(window);
    }

    // Answers the extract dialog; *prefill gets what it showed first, as "from|to|file".
    void extract(TFormMarc* window, const QString& from, const QString& to, const QString& file, bool ok = true,
                 QString* prefill = nullptr)
    {
        ModalAnswer answer(answerAs<TDlgGetMarc>([=](TDlgGetMarc* dialog) {
            if (prefill != nullptr)
                *prefill = dialog->EditFrom->text() + "|" + dialog->EditTo->text() + "|" + dialog->EditFileName->text();
            dialog->EditFrom->setText(from);
            dialog->EditTo->setText(to);
            dialog->EditFileName->setText(file);
            (ok ? dialog->OKBtn : dialog->CancelBtn)->click();
        }));
        ExtractCommand(window);
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().searchText.clear();
        m_v->main.shared().searchCaseSensitive = false;
        m_v->main.shared().delimiterMode = veltrane::dmNormal;
        m_v->main.shared().lastExtract = {};
    }

    void cleanup() { m_v.reset(); }

    void gotoRecord_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("record");
        QTest::addColumn<QStringList>("shown");
        const QStringList outOfRange{"Value is not in legal range"};

        QTest::newRow("dollar hex") << "$A" << 10 << QStringList();
        QTest::newRow("zero") << "0" << 2 << outOfRange;
        QTest::newRow("one past the count") << "13" << 2 << outOfRange;
        QTest::newRow("letters after digits") << "12a" << 2 << QStringList{"error: '12a' is not a valid integer value"};
    }

    void gotoRecord()
    {
        QFETCH(QString, typed);
        QFETCH(int, record);
        QFETCH(QStringList, shown);
        TFormMarc* window = open(m_v->sandbox.write("twelve.mrc", viewertest::numberedFile(12)), 2);
        bool startedEmpty = false;
        ModalAnswer answer(answerAs<TFormGotoRecord>([&](TFormGotoRecord* dialog) {
            startedEmpty = dialog->EdtRecordNo->text().isEmpty();
            QTest::keyClicks(dialog->EdtRecordNo, typed);
            dialog->BBtnOK->click();
        }));
        GotoRecordCommand(window);

        QVERIFY(startedEmpty);
        QVERIFY2(shows(window, record), qPrintable(window->windowTitle()));
        QCOMPARE(m_v->main.statusPanel(1)->text(), QStringLiteral("纪录号：%1").arg(record));
        QCOMPARE(m_v->prompt.texts(), shown);
    }

    void findRecord_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<int>("record");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("searchText");  // what find-next will look for afterwards
        QTest::addColumn<veltrane::CharsetSetting>("charset");  // the window's
        const QString notFound = QStringLiteral("    没有找到纪录    ");
        const QString none, tooLong = QString::fromUtf8(kSearchTextTooLongMessage);
        using veltrane::CharsetSetting;

        QTest::newRow("case on finds the same case") << 1 << "ABC" << true << 4 << none << QByteArray("ABC") << CharsetSetting::Auto;
        QTest::newRow("at the last record") << 5 << "abc" << false << 5 << notFound << QByteArray("abc") << CharsetSetting::Auto;
        QTest::newRow("chinese text as gbk") << 1 << QString::fromUtf8("题名") << false << 2 << none
                                             << QByteArray("\xCC\xE2\xC3\xFB") << CharsetSetting::Auto;
        QTest::newRow("text GBK cannot hold is refused") << 1 << QString::fromUtf8("한") << false << 1
                                                         << QString::fromUtf8(kSearchTextNotGbkMessage) << QByteArray("earlier")
                                                         << CharsetSetting::Gbk;
        // Each record is searched in its own set: no GBK pattern, the typed text is kept.
        QTest::newRow("automatic never refuses a character") << 1 << QString::fromUtf8("한") << false << 1 << notFound
                                                             << QByteArray() << CharsetSetting::Auto;
        QTest::newRow("GB18030 holds what GBK cannot") << 1 << QString::fromUtf8("한") << false << 1 << notFound
                                                       << QByteArray() << CharsetSetting::Gb18030;
        QTest::newRow("GBK text under a fixed GBK") << 1 << QString::fromUtf8("题名") << false << 2 << none
                                                    << QByteArray("\xCC\xE2\xC3\xFB") << CharsetSetting::Gbk;
        QTest::newRow("255 bytes are searched whole") << 1 << QString(255, QLatin1Char('a')) << false << 1 << notFound
                                                      << QByteArray(255, 'a') << CharsetSetting::Auto;
        QTest::newRow("128 chinese characters are 256 bytes") << 1 << QString(128, QChar(0x4E2D)) << false << 1
                                                               << tooLong << QByteArray("earlier") << CharsetSetting::Auto;
    }

    void findRecord()
    {
        QFETCH(int, start);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(int, record);
        QFETCH(QString, message);
        QFETCH(QByteArray, searchText);
        QFETCH(veltrane::CharsetSetting, charset);
        TFormMarc* window = openTitled(start);
        window->setCharsetChoice(charset);
        m_v->main.shared().searchText = "earlier";
        m_v->main.shared().searchTextTyped = QStringLiteral("earlier");

        find(window, text, caseSensitive);

        QVERIFY2(shows(window, record), qPrintable(window->windowTitle()));
        QCOMPARE(m_v->prompt.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(m_v->main.shared().searchText, searchText);
        QCOMPARE(m_v->main.shared().searchTextTyped, searchText == "earlier" ? QStringLiteral("earlier") : text);
        if (searchText != "earlier")
            QCOMPARE(m_v->main.shared().searchCaseSensitive, caseSensitive);
    }

    void findNextInAnotherWindow()
    {
        TFormMarc* first = openTitled();
        TFormMarc* second = openTitled();
        FindNextCommand(first);  // nothing searched yet
        find(first, "ABC", false);
        // A cancelled find starts clear again and keeps the last search.
        bool startedClear = false;
        ModalAnswer answer(answerAs<TFormFind>([&](TFormFind* dialog) {
            startedClear = dialog->EditTextToFind->text().isEmpty() && !dialog->CbxCase->isChecked();
            dialog->EditTextToFind->setText("Start");
            dialog->CbxCase->setChecked(true);
            dialog->BtnCancel->click();
        }));
        FindCommand(second);
        QVERIFY(startedClear);
        // The second window searches with the same text and case from its own next record.
        for (int record : {3, 4, 5, 5}) {
            FindNextCommand(second);
            QVERIFY2(shows(second, record), qPrintable(second->windowTitle()));
        }
        QCOMPARE(m_v->prompt.texts(), QStringList(2, QStringLiteral("    没有找到纪录！    ")));
        QVERIFY(shows(first, 3));
    }

    // The record found shows with the first match selected and in view, also
    // where a wrap parts it; find next does the same.
    void findSelectsTheMatch()
    {
        std::vector<testsupport::Field> fields{{"001", "rec2"}};
        for (int i = 0; i < 60; ++i)
            fields.push_back({"300", "  \x1f" "afiller " + std::to_string(i)});
        fields.push_back({"330", "  \x1f" "a" + std::string(66, 'x') + "needle across"});
        const std::string bytes = viewertest::numberedRecord(1) + testsupport::MakeRecord(fields) +
                                  testsupport::MakeRecord({{"001", "rec3"}, {"330", "  \x1f" "aNEEDLE across"}});
        TFormMarc* window = open(m_v->sandbox.write("needle.mrc", bytes));
        QPlainTextEdit* memo = window->MemoMarc;
        find(window, "needle ACROSS", false);
        QVERIFY(shows(window, 2));
        const QTextCursor selected = memo->textCursor();
        QVERIFY2(selected.selectedText().contains(QChar::ParagraphSeparator), qPrintable(selected.selectedText()));
        QCOMPARE(JoinWrappedLines(selected.selection().toPlainText()), QStringLiteral("needle across"));
        QVERIFY(memo->verticalScrollBar()->value() > 0);
        QVERIFY(memo->viewport()->rect().contains(memo->cursorRect(selected)));

        FindNextCommand(window);
        QVERIFY(shows(window, 3));
        QCOMPARE(memo->textCursor().selectedText(), QStringLiteral("NEEDLE across"));
        QCOMPARE(memo->verticalScrollBar()->value(), 0);
        QVERIFY(m_v->prompt.texts().isEmpty());
    }

    void extract_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("targetExists");  // holding old content
        QTest::addColumn<OverwriteChoice>("choice");
        QTest::addColumn<QList<int>>("copied");
        QTest::addColumn<bool>("refused");  // as no valid record numbers
        const auto cancel = OverwriteChoice::Cancel;

        // A missing target is created without a question (a question would cancel here).
        QTest::newRow("atol reading") << " 2x" << "+3 records" << false << cancel << QList<int>{2, 3} << false;
        QTest::newRow("overwrite") << "2" << "3" << true << OverwriteChoice::Overwrite << QList<int>{2, 3} << false;
        QTest::newRow("cancel") << "2" << "3" << true << cancel << QList<int>{} << false;
        QTest::newRow("from after to") << "3" << "2" << false << cancel << QList<int>{} << true;
        QTest::newRow("beyond 32 bits") << "4294967297" << "4294967297" << false << cancel << QList<int>{} << true;
    }

    void extract()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, targetExists);
        QFETCH(OverwriteChoice, choice);
        QFETCH(QList<int>, copied);
        QFETCH(bool, refused);
        TFormMarc* window = open(m_v->sandbox.write("five.mrc", viewertest::numberedFile(5)), 3);
        // A path far longer than the 80 bytes the target field once held, kept whole.
        const QString name = QString::fromUtf8("接收文件").repeated(10) + ".mrc", target = m_v->sandbox.workDir() + '/' + name;
        const std::string old = "old content";
        if (targetExists)
            m_v->sandbox.write(name, old);
        m_v->prompt.answer = choice;
        QString first, second, third;
        extract(window, from, to, target, true, &first);

        QCOMPARE(m_v->prompt.texts(), refused ? QStringList{QStringLiteral("    记录号不合法！    ")} : QStringList());
        std::string expected = targetExists && choice != OverwriteChoice::Overwrite ? old : std::string();
        for (int n : copied)
            expected += viewertest::numberedRecord(n);
        QCOMPARE(QFileInfo::exists(target), targetExists || !copied.isEmpty());
        if (QFileInfo::exists(target))
            QCOMPARE(testsupport::ReadFile(target.toStdString()), expected);
        QVERIFY(shows(window, 3));
        // The next use shows the record now on display and the last target; a cancelled one changes nothing.
        window->ShowNextRecord();
        extract(window, "1", "1", "ignored.mrc", false, &second);
        extract(window, "1", "1", "ignored.mrc", false, &third);
        QCOMPARE((QStringList{first, second, third}), (QStringList{"3|3|", "4|4|" + target, "4|4|" + target}));
    }

    void extractOverItsOwnRecordFile()
    {
        const std::string records = viewertest::numberedFile(3);
        const QString path = m_v->sandbox.write("three.mrc", records);
        m_v->prompt.answer = OverwriteChoice::Overwrite;
        extract(open(path), "1", "1", path);
        QCOMPARE(m_v->prompt.texts().size(), 1);
        QCOMPARE(testsupport::ReadFile(path.toStdString()), records);
    }

    // The dialog shows the mode in force; the open windows show their record again, whatever the answer.
    void delimiterChoice_data()
    {
        QTest::addColumn<int>("select");  // -1: leave the selection alone
        QTest::addColumn<bool>("confirm");
        QTest::newRow("ok without a change keeps mode 2") << -1 << true;
        QTest::newRow("cancel keeps mode 2") << 0 << false;
    }

    void delimiterChoice()
    {
        QFETCH(int, select);
        QFETCH(bool, confirm);
        const QString path = m_v->sandbox.write("three.mrc", viewertest::numberedFile(3));
        TFormMarc* window = open(path, 2);
        window->MemoMarc->setPlainText("stale");
        m_v->main.shared().delimiterMode = veltrane::dmSpecial2;
        QList<bool> checked;
        bool shownHasFocus = false, overMainWindow = false;
        ModalAnswer answer(answerAs<TFormChgFmt>([&](TFormChgFmt* dialog) {
            overMainWindow = dialog->windowTitle() == QStringLiteral("修改MARC显示格式") && dialog->isModal()
                && dialog->parentWidget() == &m_v->main;
            const QList<QRadioButton*> buttons{dialog->RBNormal, dialog->RBSpecial1, dialog->RBSpecial2};
            for (QRadioButton* button : buttons)
                checked << button->isChecked();
            shownHasFocus = dialog->focusWidget() == buttons[2];
            if (select >= 0)
                QTest::mouseClick(buttons[select], Qt::LeftButton);
            (confirm ? dialog->BitBtn1 : dialog->BitBtn2)->click();
        }));
        m_v->main.MDeliClick();

        QCOMPARE(checked, (QList<bool>{false, false, true}));
        QVERIFY(shownHasFocus && overMainWindow);
        QCOMPARE(m_v->main.shared().delimiterMode, veltrane::dmSpecial2);
        // The dialog is gone once the command ends.
        QVERIFY(m_v->main.findChildren<TFormChgFmt*>().isEmpty());
        const QWidgetList topLevel = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(topLevel.cbegin(), topLevel.cend(),
                             [](QWidget* w) { return qobject_cast<TFormChgFmt*>(w) != nullptr; }));
        QCOMPARE(window->MemoMarc->toPlainText(), open(path, 2)->MemoMarc->toPlainText());
        QCOMPARE(window->CurrentRecord, 2);
        QVERIFY(m_v->prompt.texts().isEmpty());
    }

    void dialogResults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QList<int>>("keys");  // none: the close box
        QTest::addColumn<int>("result");
        const QList<int> enter{Qt::Key_Return}, esc{Qt::Key_Escape}, closeBox;
        for (const char* kind : {"delimiter", "find", "goto", "extract", "about"}) {
            QTest::addRow("%s enter", kind) << kind << enter << 1;
            QTest::addRow("%s esc", kind) << kind << esc << 2;
            QTest::addRow("%s close box", kind) << kind << closeBox << 2;
        }
        // Append has the focus; the close box and Esc must never append.
        QTest::newRow("overwrite question enter appends") << "saveask" << enter << 2;
        QTest::newRow("overwrite question esc cancels") << "saveask" << esc << 3;
        QTest::newRow("overwrite question close box cancels") << "saveask" << closeBox << 3;
        QTest::newRow("overwrite question tab enter overwrites") << "saveask" << QList<int>{Qt::Key_Tab, Qt::Key_Return} << 1;
    }

    void dialogResults()
    {
        QFETCH(QString, kind);
        QFETCH(QList<int>, keys);
        QFETCH(int, result);
        TFormChgFmt delimiter;
        TFormFind find(nullptr);
        TFormGotoRecord gotoRecord(nullptr);
        TDlgGetMarc extract(nullptr);
        TAboutBox about;
        const QHash<QString, QDialog*> dialogs{
            {"delimiter", &delimiter}, {"find", &find}, {"goto", &gotoRecord}, {"extract", &extract}, {"about", &about}};
        ModalAnswer answer(answerAs<QDialog>([&](QDialog* shown) {
            if (keys.isEmpty())
                shown->close();
            for (int key : keys)  // at the focused control, as the user presses it
                QTest::keyClick(shown->focusWidget() != nullptr ? shown->focusWidget() : shown, Qt::Key(key));
        }));
        QCOMPARE(kind == "saveask" ? static_cast<int>(AskOverwrite(nullptr)) : dialogs[kind]->exec(), result);
        QVERIFY(answer.answered());
    }

    // The go-to command's strict integer conversion (the extract rows above cover its atol reading).
    void conversions_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<OptionalInt>("strict");
        const OptionalInt invalid;
        QTest::newRow("leading spaces") << " 7" << OptionalInt(7);
        QTest::newRow("trailing space") << "7 " << invalid;
        QTest::newRow("empty") << "" << invalid;
        QTest::newRow("space after sign") << "- 1" << invalid;
        QTest::newRow("one past largest") << "2147483648" << invalid;
        QTest::newRow("beyond 32 bits") << "4294967297" << invalid;
        QTest::newRow("0x hex") << "0x0A" << OptionalInt(10);
        QTest::newRow("0X hex") << "0X1f" << OptionalInt(31);
        QTest::newRow("X hex") << "XFF" << OptionalInt(255);
        QTest::newRow("negative hex") << "-$A" << OptionalInt(-10);
        QTest::newRow("eight hex digits are a 32-bit pattern") << "$FFFFFFFF" << OptionalInt(-1);
        QTest::newRow("nine significant hex digits") << "$100000000" << invalid;
    }

    void conversions()
    {
        QFETCH(QString, typed);
        QFETCH(OptionalInt, strict);
        QCOMPARE(StrictToInt(typed), strict);
    }
};

QTEST_MAIN(RecordCommandsTest)
#include "RecordCommandsTest.moc"
