// The dialogs on their own: what each hands back for every way of closing it,
// and the extract dialog's browse button.

#include <QFileDialog>
#include <QHash>
#include <QLineEdit>
#include <QTest>

#include "About.h"
#include "Chgfmt.h"
#include "DialogDriver.h"
#include "Fileask.h"
#include "Findmarc.h"
#include "GetMarc.h"
#include "Goto.h"
#include "RecordFiles.h"

using dialogdriver::onNextDialog;

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void results_data()
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
        QTest::newRow("overwrite question tab enter overwrites")
            << "saveask" << QList<int>{Qt::Key_Tab, Qt::Key_Return} << 1;
    }

    void results()
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
        bool missed = false;
        onNextDialog<QDialog>(
            [&](QDialog* shown) {
                if (keys.isEmpty())
                    shown->close();
                for (int key : keys)  // at the focused control, as the user presses it
                    QTest::keyClick(shown->focusWidget() != nullptr ? shown->focusWidget() : shown, Qt::Key(key));
            },
            &missed);
        QCOMPARE(kind == "saveask" ? AskOverwrite(nullptr) : dialogs[kind]->exec(), result);
        QVERIFY(!missed);
    }

    void extractBrowse()
    {
        testsupport::TempDir dir;
        const QString folder = QString::fromStdString(dir.path().string());
        TDlgGetMarc dialog(nullptr);
        const std::pair<const char*, QString> cases[] = {
            {nullptr, "typed.iso"},  // cancelled: the typed path stays
            {"picked.mrc", folder + "/picked.mrc"},
            {"bare", folder + "/bare.mrc"},
        };
        for (const auto& [chosen, expected] : cases) {
            dialog.EditFileName->setText("typed.iso");
            QStringList filters;
            bool confirmsOverwrite = true;
            onNextDialog<QFileDialog>([&](QFileDialog* browse) {
                filters = browse->nameFilters();
                confirmsOverwrite = !browse->testOption(QFileDialog::DontConfirmOverwrite);
                if (chosen == nullptr)
                    return browse->reject();
                auto* name = browse->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name != nullptr);
                name->setText(folder + '/' + QString::fromLatin1(chosen));
                QTest::keyClick(name, Qt::Key_Return);
            });
            dialog.SpeedButton1Click();
            QCOMPARE(dialog.EditFileName->text(), expected);
            QCOMPARE(filters, QStringList({QString::fromUtf8("MARC文件(*.mrc)"), QString::fromUtf8("ISO文件(*.iso)")}));
            QVERIFY(!confirmsOverwrite);
        }
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
