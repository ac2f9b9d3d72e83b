// The record commands driven as the user drives them: the dialog answered, then
// what the document window shows, the messages, the search state and the files.

#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QPushButton>
#include <QTest>

#include <cstring>
#include <memory>

#include "Chgfmt.h"
#include "DialogDriver.h"
#include "Findmarc.h"
#include "GetMarc.h"
#include "Goto.h"
#include "Main.h"
#include "Marc.h"
#include "MarcCommands.h"
#include "RecordLayout.h"
#include "RecordScan.h"
#include "ViewerHarness.h"

using dialogdriver::onNextDialog;
using veltrane::OverwriteChoice;
using viewertest::FakePrompt;
using viewertest::Sandbox;

Q_DECLARE_METATYPE(veltrane::OverwriteChoice)

namespace {

const QString kNotInLegalRange = QStringLiteral("Value is not in legal range");
const QString kFindNotFound = QStringLiteral("    没有找到纪录    ");
const QString kFindNextNotFound = QStringLiteral("    没有找到纪录！    ");
const QString kInvalidRecordNumber = QStringLiteral("    记录号不合法！    ");

// Records 1 to 5 with the titles the find cases search.
std::string titledFile()
{
    const std::string titles[] = {"Start", viewertest::gbk(QString::fromUtf8("中文题名")), "abc lower", "ABC upper",
                                  "last abc"};
    std::string bytes;
    for (int n = 1; n <= 5; ++n)
        bytes += viewertest::numberedRecord(n, titles[n - 1]);
    return bytes;
}

}  // namespace

class RecordCommandsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<TFormMain> m_main;

    TFormMarc* open(const QString& path, int record = 1)
    {
        (void)OpenMarcFile(m_main.get(), path);
        TFormMarc* window = FormMarc.data();
        if (window == nullptr)
            return nullptr;
        while (window->CurrentRecord < record)
            window->ShowNextRecord();
        return window;
    }

    static bool shows(TFormMarc* window, int record)
    {
        return window->CurrentRecord == record
            && window->MemoMarc->toPlainText().startsWith(QStringLiteral("001rec%1\n").arg(record))
            && window->windowTitle().endsWith(QStringLiteral("纪录号：%1").arg(record));
    }

    void find(TFormMarc* window, const QString& text, bool caseSensitive)
    {
        bool missed = false;
        onNextDialog<TFormFind>(
            [&](TFormFind* dialog) {
                dialog->EditTextToFind->setText(text);
                dialog->CbxCase->setChecked(caseSensitive);
                dialog->BtnOk->click();
            },
            &missed);
        FindCommand(window);
        QVERIFY(!missed);
    }

    static void setSearchText(const char* text)
    {
        std::strcpy(veltrane::SearchText, text);
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<Sandbox>();
        m_prompt = std::make_unique<FakePrompt>();
        m_main = std::make_unique<TFormMain>();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        setSearchText("");
        veltrane::SearchCaseSensitive = false;
        veltrane::DelimiterMode = veltrane::dmNormal;
        ExtractFileName.clear();
    }

    void cleanup()
    {
        m_main.reset();
        m_prompt.reset();
        m_sandbox.reset();
    }

    void gotoRecord_data();
    void gotoRecord();

    void findRecord_data();
    void findRecord();
    void findCancelledKeepsTheSearch();
    void findNextInAnotherWindow();

    void extractPrefill();
    void extract_data();
    void extract();
    void extractOverItsOwnRecordFile();

    void delimiterChangeRedisplaysEveryWindow_data();
    void delimiterChangeRedisplaysEveryWindow();
};

void RecordCommandsTest::gotoRecord_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("record");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("errors");
    const QStringList none;

    QTest::newRow("leading spaces") << " 7" << 7 << none << none;
    QTest::newRow("dollar hex") << "$A" << 10 << none << none;
    QTest::newRow("0x hex") << "0x0A" << 10 << none << none;
    QTest::newRow("zero") << "0" << 2 << QStringList{kNotInLegalRange} << none;
    QTest::newRow("negative") << "-1" << 2 << QStringList{kNotInLegalRange} << none;
    QTest::newRow("one past the count") << "13" << 2 << QStringList{kNotInLegalRange} << none;
    QTest::newRow("letters after digits") << "12a" << 2 << none
                                          << QStringList{"'12a' is not a valid integer value"};
    QTest::newRow("empty") << "" << 2 << none << QStringList{"'' is not a valid integer value"};
    QTest::newRow("wraps in 64 bits") << "4294967297" << 2 << none
                                      << QStringList{"'4294967297' is not a valid integer value"};
}

void RecordCommandsTest::gotoRecord()
{
    QFETCH(QString, typed);
    QFETCH(int, record);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, errors);

    const QString path = m_sandbox->write("twelve.mrc", viewertest::numberedFile(12));
    TFormMarc* window = open(path, 2);
    QVERIFY(window != nullptr);
    bool startedEmpty = false;
    onNextDialog<TFormGotoRecord>([&](TFormGotoRecord* dialog) {
        startedEmpty = dialog->EdtRecordNo->text().isEmpty();
        QTest::keyClicks(dialog->EdtRecordNo, typed);
        dialog->BBtnOK->click();
    });
    GotoRecordCommand(window);

    QVERIFY(startedEmpty);
    QVERIFY2(shows(window, record), qPrintable(window->windowTitle()));
    QCOMPARE(m_main->statusPanel(1)->text(), QStringLiteral("纪录号：%1").arg(record));
    QStringList shownMessages, shownErrors;
    for (const FakePrompt::Shown& shown : m_prompt->shown)
        (shown.kind == FakePrompt::Kind::Error ? shownErrors : shownMessages) << shown.text;
    QCOMPARE(shownMessages, messages);
    QCOMPARE(shownErrors, errors);
}

void RecordCommandsTest::findRecord_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("record");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QByteArray>("searchText");  // what find-next will look for afterwards
    const QStringList none;
    const QStringList notFound{kFindNotFound};

    QTest::newRow("case off finds either case") << 1 << "ABC" << false << 3 << none << QByteArray("ABC");
    QTest::newRow("case on finds the same case") << 1 << "ABC" << true << 4 << none << QByteArray("ABC");
    QTest::newRow("starts after the record on display") << 3 << "abc" << false << 4 << none << QByteArray("abc");
    QTest::newRow("a match in the last record") << 4 << "abc" << true << 5 << none << QByteArray("abc");
    QTest::newRow("not found") << 1 << "zzz" << false << 1 << notFound << QByteArray("zzz");
    QTest::newRow("at the last record") << 5 << "abc" << false << 5 << notFound << QByteArray("abc");
    QTest::newRow("empty text") << 2 << "" << false << 2 << notFound << QByteArray();
    QTest::newRow("chinese text") << 1 << QString::fromUtf8("题名") << false << 2 << none
                                  << QByteArray("\xCC\xE2\xC3\xFB");
    QTest::newRow("text GBK cannot hold is refused")
        << 1 << QString::fromUtf8("한") << false << 1 << QStringList{QString::fromUtf8(kSearchTextNotGbkMessage)}
        << QByteArray("earlier");
    QTest::newRow("text longer than the pattern buffer is refused")
        << 1 << QString(256, QLatin1Char('a')) << false << 1
        << QStringList{QString::fromUtf8(kSearchTextTooLongMessage)} << QByteArray("earlier");
    QTest::newRow("255 bytes are searched whole") << 1 << QString(255, QLatin1Char('a')) << false << 1 << notFound
                                                  << QByteArray(255, 'a');
}

void RecordCommandsTest::findRecord()
{
    QFETCH(int, start);
    QFETCH(QString, text);
    QFETCH(bool, caseSensitive);
    QFETCH(int, record);
    QFETCH(QStringList, messages);
    QFETCH(QByteArray, searchText);

    const QString path = m_sandbox->write("titles.mrc", titledFile());
    TFormMarc* window = open(path, start);
    QVERIFY(window != nullptr);
    setSearchText("earlier");

    find(window, text, caseSensitive);

    QVERIFY2(shows(window, record), qPrintable(window->windowTitle()));
    QCOMPARE(m_prompt->texts(), messages);
    QCOMPARE(QByteArray(veltrane::SearchText), searchText);
    if (searchText != "earlier")
        QCOMPARE(veltrane::SearchCaseSensitive, caseSensitive);
}

void RecordCommandsTest::findCancelledKeepsTheSearch()
{
    const QString path = m_sandbox->write("titles.mrc", titledFile());
    TFormMarc* window = open(path);
    find(window, "abc", true);
    bool startedClear = false;
    onNextDialog<TFormFind>([&](TFormFind* dialog) {
        startedClear = dialog->EditTextToFind->text().isEmpty() && !dialog->CbxCase->isChecked();
        dialog->EditTextToFind->setText("Start");
        dialog->BtnCancel->click();
    });
    FindCommand(window);
    QVERIFY(startedClear);
    QCOMPARE(QByteArray(veltrane::SearchText), QByteArray("abc"));
    QVERIFY(veltrane::SearchCaseSensitive);
    QVERIFY(shows(window, 3));
}

void RecordCommandsTest::findNextInAnotherWindow()
{
    const QString path = m_sandbox->write("titles.mrc", titledFile());
    TFormMarc* first = open(path);
    TFormMarc* second = open(path);
    FindNextCommand(first);  // nothing searched yet
    find(first, "ABC", false);
    QVERIFY(shows(first, 3));

    // The second window searches with the same text and case from its own next record.
    const int expected[] = {3, 4, 5, 5};
    for (int record : expected) {
        FindNextCommand(second);
        QVERIFY2(shows(second, record), qPrintable(second->windowTitle()));
    }
    QCOMPARE(m_prompt->texts(), (QStringList{kFindNextNotFound, kFindNextNotFound}));
    QVERIFY(shows(first, 3));
}

void RecordCommandsTest::extractPrefill()
{
    const QString path = m_sandbox->write("five.mrc", viewertest::numberedFile(5));
    TFormMarc* window = open(path, 3);
    // A path far longer than the 80 bytes the target field once held, kept whole.
    const QString target = m_sandbox->workDir() + '/' + QString::fromUtf8("接收文件").repeated(10) + ".mrc";
    QStringList seen;
    auto answer = [&](const QString& from, const QString& to, const QString& file, bool ok) {
        onNextDialog<TDlgGetMarc>([=, &seen](TDlgGetMarc* dialog) {
            seen << dialog->EditFrom->text() + "|" + dialog->EditTo->text() + "|" + dialog->EditFileName->text();
            dialog->EditFrom->setText(from);
            dialog->EditTo->setText(to);
            dialog->EditFileName->setText(file);
            (ok ? dialog->OKBtn : dialog->CancelBtn)->click();
        });
        ExtractCommand(window);
    };
    answer("2", "4", target, true);
    window->ShowNextRecord();
    answer("1", "1", "ignored.mrc", false);  // a cancelled dialog changes nothing
    answer("4", "4", target, false);
    QCOMPARE(seen, (QStringList{"3|3|", "4|4|" + target, "4|4|" + target}));
    QCOMPARE(ExtractFromText, QString("2"));
    QCOMPARE(ExtractToText, QString("4"));
    QCOMPARE(testsupport::ReadFile(target.toStdString()),
             viewertest::numberedRecord(2) + viewertest::numberedRecord(3) + viewertest::numberedRecord(4));
}

void RecordCommandsTest::extract_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<OverwriteChoice>("choice");
    QTest::addColumn<QList<int>>("copied");  // records expected after the old content
    QTest::addColumn<bool>("keepsOld");
    QTest::addColumn<QStringList>("messages");
    const QStringList none;
    const QStringList invalid{kInvalidRecordNumber};
    const auto cancel = OverwriteChoice::Cancel;

    // A missing target is created without a question (a question would cancel here).
    QTest::newRow("create") << "2" << "3" << false << cancel << QList<int>{2, 3} << false << none;
    QTest::newRow("overwrite") << "2" << "3" << true << OverwriteChoice::Overwrite << QList<int>{2, 3} << false << none;
    QTest::newRow("append") << "5" << "5" << true << OverwriteChoice::Append << QList<int>{5} << true << none;
    QTest::newRow("cancel") << "2" << "3" << true << cancel << QList<int>{} << true << none;
    QTest::newRow("atol reading") << " 2x" << "+3 records" << false << cancel << QList<int>{2, 3} << false << none;
    QTest::newRow("from after to") << "3" << "2" << false << cancel << QList<int>{} << false << invalid;
    QTest::newRow("to past the count") << "1" << "6" << false << cancel << QList<int>{} << false << invalid;
    QTest::newRow("beyond 32 bits is no record") << "4294967297" << "4294967297" << false << cancel << QList<int>{}
                                                 << false << invalid;
}

void RecordCommandsTest::extract()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, targetExists);
    QFETCH(OverwriteChoice, choice);
    QFETCH(QList<int>, copied);
    QFETCH(bool, keepsOld);
    QFETCH(QStringList, messages);

    const QString path = m_sandbox->write("five.mrc", viewertest::numberedFile(5));
    TFormMarc* window = open(path);
    const std::string old = "old content";
    const QString target = targetExists ? m_sandbox->write("target.mrc", old) : m_sandbox->workDir() + "/target.mrc";
    m_prompt->answer = choice;
    onNextDialog<TDlgGetMarc>([&](TDlgGetMarc* dialog) {
        dialog->EditFrom->setText(from);
        dialog->EditTo->setText(to);
        dialog->EditFileName->setText(target);
        dialog->OKBtn->click();
    });
    ExtractCommand(window);

    QCOMPARE(m_prompt->texts(), messages);
    std::string expected = keepsOld ? old : std::string();
    for (int n : copied)
        expected += viewertest::numberedRecord(n);
    const bool written = targetExists || !copied.isEmpty();
    QCOMPARE(QFileInfo::exists(target), written);
    if (written)
        QCOMPARE(testsupport::ReadFile(target.toStdString()), expected);
    QVERIFY(shows(window, 1));
}

void RecordCommandsTest::extractOverItsOwnRecordFile()
{
    const std::string records = viewertest::numberedFile(3);
    const QString path = m_sandbox->write("three.mrc", records);
    TFormMarc* window = open(path);
    m_prompt->answer = OverwriteChoice::Overwrite;
    onNextDialog<TDlgGetMarc>([&](TDlgGetMarc* dialog) {
        dialog->EditFileName->setText(path);
        dialog->OKBtn->click();
    });
    ExtractCommand(window);
    QCOMPARE(m_prompt->texts().size(), 1);
    QCOMPARE(testsupport::ReadFile(path.toStdString()), records);
}

void RecordCommandsTest::delimiterChangeRedisplaysEveryWindow_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void RecordCommandsTest::delimiterChangeRedisplaysEveryWindow()
{
    QFETCH(bool, confirm);
    // Records with the printable delimiters of mode 1: '#' ends a field, '$' starts a subfield.
    std::string bytes;
    for (int n = 1; n <= 3; ++n)
        bytes += testsupport::MakeRecord({{"001", "rec" + std::to_string(n)}, {"200", "1 $aTitle"}}, '#');
    const QString path = m_sandbox->write("special.mrc", bytes);
    QList<TFormMarc*> windows{open(path, 1), open(path, 2), open(path, 3)};
    for (TFormMarc* window : windows)
        window->MemoMarc->setPlainText("stale");

    onNextDialog<TFormChgFmt>([&](TFormChgFmt* dialog) {
        dialog->RBSpecial1->setChecked(true);
        (confirm ? dialog->BitBtn1 : dialog->BitBtn2)->click();
    });
    m_main->MDeliClick();
    QCOMPARE(veltrane::DelimiterMode, confirm ? 1 : 0);

    // Each window shows its own record again, as a new window shows it in the mode now in force.
    for (int n = 1; n <= 3; ++n) {
        TFormMarc* fresh = open(path, n);
        QCOMPARE(windows[n - 1]->MemoMarc->toPlainText(), fresh->MemoMarc->toPlainText());
        QCOMPARE(windows[n - 1]->CurrentRecord, n);
        fresh->close();
    }
    QVERIFY(m_prompt->shown.isEmpty());
}

QTEST_MAIN(RecordCommandsTest)
#include "RecordCommandsTest.moc"
