// What each dialog hands back for every way of closing it.

#include <QHash>
#include <QTest>

#include "About.h"
#include "Chgfmt.h"
#include "DialogDriver.h"
#include "Fileask.h"
#include "Findmarc.h"
#include "GetMarc.h"
#include "Goto.h"

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
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
