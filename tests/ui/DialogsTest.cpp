// The dialogs on their own: how each starts, what each hands back for every way
// of closing it, and the browse button of the extract dialog.

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

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

using dialogdriver::end;
using dialogdriver::Ending;
using dialogdriver::onNextDialog;
using dialogdriver::press;

Q_DECLARE_METATYPE(dialogdriver::Ending)

namespace {

Ending endingNamed(const QString& name)
{
    if (name == "enter")
        return Ending::Enter;
    return name == "esc" ? Ending::Escape : Ending::CloseBox;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { veltrane::DelimiterMode = veltrane::dmNormal; }

    void delimiterDialog_data();
    void delimiterDialog();
    void delimiterDialogShowsModeInForce_data();
    void delimiterDialogShowsModeInForce();

    void glyphButtons();

    void findDialog_data();
    void findDialog();
    void findDialogStandsAtItsPlace();

    void gotoDialog_data();
    void gotoDialog();

    void overwriteQuestion_data();
    void overwriteQuestion();

    void extractDialog_data();
    void extractDialog();
    void extractBrowse();

    void aboutBoxIsOneDialog();
};

void DialogsTest::delimiterDialog_data()
{
    QTest::addColumn<int>("modeBefore");
    QTest::addColumn<int>("select");  // -1: leave the selection alone
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("modeAfter");

    QTest::newRow("ok stores the choice") << 0 << 1 << "ok" << 1;
    QTest::newRow("enter stores the choice") << 0 << 2 << "enter" << 2;
    QTest::newRow("ok without a change keeps the mode") << 2 << -1 << "ok" << 2;
    QTest::newRow("cancel keeps the mode") << 2 << 0 << "cancel" << 2;
    QTest::newRow("esc keeps the mode") << 1 << 2 << "esc" << 1;
    QTest::newRow("close box keeps the mode") << 1 << 0 << "close" << 1;
}

void DialogsTest::delimiterDialog()
{
    QFETCH(int, modeBefore);
    QFETCH(int, select);
    QFETCH(QString, answer);
    QFETCH(int, modeAfter);

    veltrane::DelimiterMode = modeBefore;
    bool missed = false;
    onNextDialog<TFormChgFmt>(
        [&](TFormChgFmt* dialog) {
            QCOMPARE(FormChgFmt, dialog);
            QRadioButton* buttons[] = {dialog->RBNormal, dialog->RBSpecial1, dialog->RBSpecial2};
            if (select >= 0)
                QTest::mouseClick(buttons[select], Qt::LeftButton);
            if (answer == "ok")
                dialog->BitBtn1->click();
            else if (answer == "cancel")
                dialog->BitBtn2->click();
            else
                end(dialog, endingNamed(answer));
        },
        &missed);
    AskDelimiterMode();
    QVERIFY(!missed);
    QCOMPARE(veltrane::DelimiterMode, modeAfter);
    QCOMPARE(FormChgFmt, nullptr);
}

void DialogsTest::delimiterDialogShowsModeInForce_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("selected");  // 0 RBNormal, 1 RBSpecial1, 2 RBSpecial2
    QTest::newRow("mode 0") << 0 << 0;
    QTest::newRow("mode 1") << 1 << 1;
    QTest::newRow("mode 2") << 2 << 2;
    QTest::newRow("unknown mode shows the design state") << 7 << 0;
}

void DialogsTest::delimiterDialogShowsModeInForce()
{
    QFETCH(int, mode);
    QFETCH(int, selected);
    veltrane::DelimiterMode = mode;
    QList<bool> checked;
    bool selectedHasFocus = false;
    onNextDialog<TFormChgFmt>([&](TFormChgFmt* dialog) {
        const QList<QRadioButton*> buttons{dialog->RBNormal, dialog->RBSpecial1, dialog->RBSpecial2};
        for (QRadioButton* button : buttons)
            checked << button->isChecked();
        selectedHasFocus = dialog->focusWidget() == buttons[selected];
        dialog->BitBtn2->click();
    });
    AskDelimiterMode();
    QList<bool> expected{false, false, false};
    expected[selected] = true;
    QCOMPARE(checked, expected);
    QVERIFY(selectedHasFocus);
    QCOMPARE(veltrane::DelimiterMode, mode);
}

void DialogsTest::glyphButtons()
{
    TFormChgFmt delimiter;
    TFormFind find(nullptr);
    TFormGotoRecord gotoRecord(nullptr);
    const std::pair<QPushButton*, QPushButton*> pairs[] = {
        {delimiter.BitBtn1, delimiter.BitBtn2}, {find.BtnOk, find.BtnCancel}, {gotoRecord.BBtnOK, gotoRecord.BBtnCancel}};
    for (auto [ok, cancel] : pairs) {
        QVERIFY(!ok->icon().isNull());
        QVERIFY(!cancel->icon().isNull());
        QVERIFY(ok->isDefault());
        QVERIFY(!cancel->isDefault());
    }
    QCOMPARE(gotoRecord.BBtnOK->text(), QString::fromUtf8("确定"));
    QCOMPARE(gotoRecord.BBtnCancel->text(), QString::fromUtf8("取消"));
}

void DialogsTest::findDialog_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<int>("result");
    QTest::newRow("enter in the field") << Ending::Enter << 1;
    QTest::newRow("esc") << Ending::Escape << 2;
    QTest::newRow("close box") << Ending::CloseBox << 2;
}

void DialogsTest::findDialog()
{
    QFETCH(Ending, ending);
    QFETCH(int, result);
    // Two uses in a row: the second starts empty and clear whatever the first held.
    for (int use = 0; use < 2; ++use) {
        TFormFind dialog(nullptr);
        bool startedEmpty = false;
        onNextDialog<TFormFind>([&](TFormFind* shown) {
            startedEmpty = shown->EditTextToFind->text().isEmpty() && !shown->CbxCase->isChecked()
                && shown->focusWidget() == shown->EditTextToFind;
            QTest::keyClicks(shown->EditTextToFind, "abc");
            shown->CbxCase->setChecked(true);
            end(shown, ending);
        });
        QCOMPARE(dialog.exec(), result);
        QVERIFY(startedEmpty);
        QCOMPARE(dialog.EditTextToFind->text(), QString("abc"));
    }
}

void DialogsTest::findDialogStandsAtItsPlace()
{
    TFormFind dialog(nullptr);
    QPoint place;
    onNextDialog<TFormFind>([&](TFormFind* shown) {
        place = shown->pos();
        shown->BtnCancel->click();
    });
    QCOMPARE(dialog.exec(), 2);
    QCOMPARE(place, QPoint(345, 248));
}

void DialogsTest::gotoDialog_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("result");
    QTest::newRow("ok button") << "ok" << 1;
    QTest::newRow("enter") << "enter" << 1;
    QTest::newRow("cancel button") << "cancel" << 2;
    QTest::newRow("esc") << "esc" << 2;
    QTest::newRow("close box") << "close" << 2;
}

void DialogsTest::gotoDialog()
{
    QFETCH(QString, answer);
    QFETCH(int, result);
    TFormGotoRecord dialog(nullptr);
    // Text put in before the dialog shows is emptied when it shows.
    dialog.EdtRecordNo->setText("99");
    bool startedEmpty = false;
    onNextDialog<TFormGotoRecord>([&](TFormGotoRecord* shown) {
        startedEmpty = shown->EdtRecordNo->text().isEmpty();
        QTest::keyClicks(shown->EdtRecordNo, " 7");
        if (answer == "ok")
            shown->BBtnOK->click();
        else if (answer == "cancel")
            shown->BBtnCancel->click();
        else
            end(shown, endingNamed(answer));
    });
    QCOMPARE(dialog.exec(), result);
    QVERIFY(startedEmpty);
    QCOMPARE(dialog.EdtRecordNo->text(), QString(" 7"));
}

void DialogsTest::overwriteQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("result");
    QTest::newRow("enter at once appends") << "enter" << 2;
    QTest::newRow("overwrite button") << "overwrite" << 1;
    QTest::newRow("append button") << "append" << 2;
    QTest::newRow("cancel button") << "cancel" << 3;
    QTest::newRow("esc cancels") << "esc" << 3;
    QTest::newRow("close box cancels") << "close" << 3;
    QTest::newRow("alt+o overwrites") << "alt+o" << 1;
    QTest::newRow("tab then enter overwrites") << "tab enter" << 1;
}

void DialogsTest::overwriteQuestion()
{
    QFETCH(QString, answer);
    QFETCH(int, result);
    bool missed = false;
    onNextDialog<TFormSaveAsk>(
        [&](TFormSaveAsk* dialog) {
            QCOMPARE(dialog->focusWidget(), dialog->BtnAppend);
            if (answer == "overwrite")
                dialog->BtnOverwrite->click();
            else if (answer == "append")
                dialog->BtnAppend->click();
            else if (answer == "cancel")
                dialog->BtnCancel->click();
            else if (answer == "alt+o")
                press(dialog, Qt::Key_O, Qt::AltModifier);
            else if (answer == "tab enter") {
                press(dialog, Qt::Key_Tab);
                press(dialog, Qt::Key_Return);
            } else
                end(dialog, endingNamed(answer));
        },
        &missed);
    QCOMPARE(AskOverwrite(nullptr), result);
    QVERIFY(!missed);
}

void DialogsTest::extractDialog_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("result");
    QTest::newRow("ok button") << "ok" << 1;
    QTest::newRow("enter") << "enter" << 1;
    QTest::newRow("cancel button") << "cancel" << 2;
    QTest::newRow("esc") << "esc" << 2;
    QTest::newRow("close box") << "close" << 2;
}

void DialogsTest::extractDialog()
{
    QFETCH(QString, answer);
    QFETCH(int, result);
    TDlgGetMarc dialog(nullptr);
    dialog.EditFrom->setText("4");
    dialog.EditTo->setText("4");
    dialog.EditFileName->setText("out.mrc");
    QString startState;
    onNextDialog<TDlgGetMarc>([&](TDlgGetMarc* shown) {
        startState = shown->EditFrom->text() + "|" + shown->EditTo->text() + "|" + shown->EditFileName->text();
        QCOMPARE(shown->focusWidget(), shown->EditFrom);
        if (answer == "ok")
            shown->OKBtn->click();
        else if (answer == "cancel")
            shown->CancelBtn->click();
        else
            end(shown, endingNamed(answer));
    });
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(startState, QString("4|4|out.mrc"));
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
    QCOMPARE(about.ProductName->text(), QString("Product Name: Veltrane"));
    QCOMPARE(about.Version->text(), QString("Version 2.0.1"));
    QCOMPARE(about.Comments->text(), QString("2003.12"));
    QVERIFY(about.ProgramIcon->pixmap().width() > 0);
    for (int shown = 0; shown < 2; ++shown) {
        TAboutBox* seen = nullptr;
        onNextDialog<TAboutBox>([&](TAboutBox* dialog) {
            seen = dialog;
            press(dialog, Qt::Key_Return);
        });
        QCOMPARE(about.exec(), 1);
        QCOMPARE(seen, &about);
    }
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
