// The dialogs on their own: what each hands back for every way of closing it,
// the delimiter dialog's start state and stored choice, and the browse button.

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

#include "About.h"
#include "Chgfmt.h"
#include "DialogDriver.h"
#include "Fileask.h"
#include "Findmarc.h"
#include "GetMarc.h"
#include "Goto.h"
#include "RecordFiles.h"
#include "RecordLayout.h"

using dialogdriver::onNextDialog;
using dialogdriver::press;

namespace {

std::unique_ptr<QDialog> makeDialog(const QString& kind)
{
    if (kind == "delimiter")
        return std::make_unique<TFormChgFmt>();
    if (kind == "find")
        return std::make_unique<TFormFind>(nullptr);
    if (kind == "goto")
        return std::make_unique<TFormGotoRecord>(nullptr);
    if (kind == "extract")
        return std::make_unique<TDlgGetMarc>(nullptr);
    if (kind == "about")
        return std::make_unique<TAboutBox>();
    return std::make_unique<TFormSaveAsk>(nullptr);
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { veltrane::DelimiterMode = veltrane::dmNormal; }

    void results_data();
    void results();
    void overwriteQuestionAsked_data();
    void overwriteQuestionAsked();
    void delimiterChoice_data();
    void delimiterChoice();
    void stockButtons();
    void extractBrowse();
    void aboutBoxIsOneDialog();
};

void DialogsTest::results_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("keys");  // keys pressed at the focused control; "close" for the close box
    QTest::addColumn<int>("result");

    for (const char* kind : {"delimiter", "find", "goto", "extract"}) {
        QTest::addRow("%s enter", kind) << kind << "enter" << 1;
        QTest::addRow("%s esc", kind) << kind << "esc" << 2;
        QTest::addRow("%s close box", kind) << kind << "close" << 2;
    }
    QTest::newRow("about enter") << "about" << "enter" << 1;
    QTest::newRow("about close box") << "about" << "close" << 2;
    // Append has the focus; the close box and Esc must never append.
    QTest::newRow("overwrite question enter appends") << "saveask" << "enter" << 2;
    QTest::newRow("overwrite question esc cancels") << "saveask" << "esc" << 3;
    QTest::newRow("overwrite question close box cancels") << "saveask" << "close" << 3;
    QTest::newRow("overwrite question tab enter overwrites") << "saveask" << "tab enter" << 1;
    QTest::newRow("overwrite question alt+o overwrites") << "saveask" << "alt+o" << 1;
    QTest::newRow("overwrite question alt+c cancels") << "saveask" << "alt+c" << 3;
}

void DialogsTest::results()
{
    QFETCH(QString, kind);
    QFETCH(QString, keys);
    QFETCH(int, result);
    std::unique_ptr<QDialog> dialog = makeDialog(kind);
    bool missed = false;
    QPoint shownAt;
    onNextDialog<QDialog>(
        [&](QDialog* shown) {
            shownAt = shown->pos();
            if (keys == "close")
                shown->close();
            else if (keys.startsWith("alt+"))
                press(shown, Qt::Key_A + (keys.back().unicode() - 'a'), Qt::AltModifier);
            for (const QString& key : keys.split(' ')) {
                if (key == "tab" || key == "enter" || key == "esc")
                    press(shown, key == "tab" ? Qt::Key_Tab : key == "enter" ? Qt::Key_Return : Qt::Key_Escape);
            }
        },
        &missed);
    QCOMPARE(dialog->exec(), result);
    QVERIFY(!missed);
    QVERIFY(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    if (kind == "find")
        QCOMPARE(shownAt, QPoint(345, 248));
}

void DialogsTest::overwriteQuestionAsked_data()
{
    QTest::addColumn<int>("button");  // 0 overwrite, 1 append, 2 cancel
    QTest::addColumn<int>("result");
    QTest::newRow("overwrite") << 0 << 1;
    QTest::newRow("append") << 1 << 2;
    QTest::newRow("cancel") << 2 << 3;
}

void DialogsTest::overwriteQuestionAsked()
{
    QFETCH(int, button);
    QFETCH(int, result);
    bool appendHadFocus = false;
    onNextDialog<TFormSaveAsk>([&](TFormSaveAsk* dialog) {
        appendHadFocus = dialog->focusWidget() == dialog->BtnAppend;
        const QList<QPushButton*> buttons{dialog->BtnOverwrite, dialog->BtnAppend, dialog->BtnCancel};
        buttons[button]->click();
    });
    QCOMPARE(AskOverwrite(nullptr), result);
    QVERIFY(appendHadFocus);
}

void DialogsTest::delimiterChoice_data()
{
    QTest::addColumn<int>("modeBefore");
    QTest::addColumn<int>("select");  // -1: leave the selection alone
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("modeAfter");

    QTest::newRow("ok stores the choice") << 0 << 1 << true << 1;
    QTest::newRow("ok without a change keeps mode 2") << 2 << -1 << true << 2;
    QTest::newRow("cancel keeps the mode") << 2 << 0 << false << 2;
    QTest::newRow("mode 1 shown, then mode 0 chosen") << 1 << 0 << true << 0;
    QTest::newRow("unknown mode shows the design state") << 7 << -1 << true << 0;
}

void DialogsTest::delimiterChoice()
{
    QFETCH(int, modeBefore);
    QFETCH(int, select);
    QFETCH(bool, confirm);
    QFETCH(int, modeAfter);

    veltrane::DelimiterMode = modeBefore;
    const int shownMode = modeBefore >= 0 && modeBefore <= 2 ? modeBefore : 0;
    QList<bool> checked;
    bool selectedHasFocus = false;
    onNextDialog<TFormChgFmt>([&](TFormChgFmt* dialog) {
        QCOMPARE(FormChgFmt, dialog);
        const QList<QRadioButton*> buttons{dialog->RBNormal, dialog->RBSpecial1, dialog->RBSpecial2};
        for (QRadioButton* button : buttons)
            checked << button->isChecked();
        selectedHasFocus = dialog->focusWidget() == buttons[shownMode];
        if (select >= 0)
            QTest::mouseClick(buttons[select], Qt::LeftButton);
        (confirm ? dialog->BitBtn1 : dialog->BitBtn2)->click();
    });
    AskDelimiterMode();

    QList<bool> expected{false, false, false};
    expected[shownMode] = true;
    QCOMPARE(checked, expected);
    QVERIFY(selectedHasFocus);
    QCOMPARE(veltrane::DelimiterMode, modeAfter);
    QCOMPARE(FormChgFmt, nullptr);
}

void DialogsTest::stockButtons()
{
    TFormChgFmt delimiter;
    TFormFind find(nullptr);
    TFormGotoRecord gotoRecord(nullptr);
    const std::pair<QPushButton*, QPushButton*> pairs[] = {
        {delimiter.BitBtn1, delimiter.BitBtn2}, {find.BtnOk, find.BtnCancel}, {gotoRecord.BBtnOK, gotoRecord.BBtnCancel}};
    for (auto [ok, cancel] : pairs) {
        QVERIFY(!ok->icon().isNull() && !cancel->icon().isNull());
        QVERIFY(ok->isDefault() && !cancel->isDefault());
    }
}

void DialogsTest::extractBrowse()
{
    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    TDlgGetMarc dialog(nullptr);
    QCOMPARE(dialog.SpeedButton1->focusPolicy(), Qt::NoFocus);

    struct Case {
        const char* name;
        const char* chosen;  // nullptr: the user cancels
        QString expected;
    };
    const Case cases[] = {
        {"cancel keeps the typed path", nullptr, "typed.iso"},
        {"a chosen file gives its full path", "picked.mrc", folder + "/picked.mrc"},
        {"the default extension is added", "bare", folder + "/bare.mrc"},
    };
    for (const Case& c : cases) {
        dialog.EditFileName->setText("typed.iso");
        QStringList filters;
        bool confirmsOverwrite = true;
        onNextDialog<QFileDialog>([&](QFileDialog* browse) {
            filters = browse->nameFilters();
            confirmsOverwrite = !browse->testOption(QFileDialog::DontConfirmOverwrite);
            if (c.chosen == nullptr) {
                browse->reject();
                return;
            }
            // Typed into the name field as a user would, then confirmed.
            auto* name = browse->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            name->setText(folder + '/' + QString::fromLatin1(c.chosen));
            QTest::keyClick(name, Qt::Key_Return);
        });
        dialog.SpeedButton1Click();
        QVERIFY2(dialog.EditFileName->text() == c.expected, c.name);
        QCOMPARE(filters, QStringList({QString::fromUtf8("MARC文件(*.mrc)"), QString::fromUtf8("ISO文件(*.iso)")}));
        QVERIFY(!confirmsOverwrite);
    }
}

void DialogsTest::aboutBoxIsOneDialog()
{
    TAboutBox about;
    QVERIFY(about.ProgramIcon->pixmap().width() > 0);
    for (int shown = 0; shown < 2; ++shown) {
        TAboutBox* seen = nullptr;
        onNextDialog<TAboutBox>([&](TAboutBox* dialog) {
            seen = dialog;
            dialog->OKButton->click();
        });
        QCOMPARE(about.exec(), 1);
        QCOMPARE(seen, &about);
    }
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
