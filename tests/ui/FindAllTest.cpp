// SPDX-License-Identifier: Apache-2.0
// Find in all windows: the hit list the dock fills, opening a hit, cancelling.

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <condition_variable>
#include <mutex>

#include "dialogs/FindAll.h"
#include "windows/FindResults.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "commands/MarcCommands.h"
#include "state/SharedState.h"
#include "ViewerHarness.h"

using testsupport::MakeRecord;
using viewertest::answerAs;
using viewertest::ModalAnswer;

namespace {

// Record 1 of each file holds no "common", so a search held at its first
// report and cancelled lists nothing.
std::string fileA()
{
    return MakeRecord({{"001", "a1"}, {"200", "1 \x1f" "aAlpha"}})
         + MakeRecord({{"001", "a2"}, {"200", "1 \x1f" "aCommon title two\x1f" "fAuthor"}})
         + MakeRecord({{"001", "a3"}, {"245", "10\x1f" "aCommon in 245 /\x1f" "cX"}})
         + MakeRecord({{"001", "a4"}, {"200", "1 \x1f" "a" + viewertest::gbk(QString::fromUtf8("中文题名"))},
                       {"330", "  \x1f" "acommon note"}});
}

std::string fileB()
{
    return MakeRecord({{"001", "b1"}, {"200", "1 \x1f" "aNothing"}}) + "\r\n"
         + MakeRecord({{"001", "b2"}, {"200", "1 \x1f" "aCOMMON upper"}}) + "\r\n";
}

}  // namespace

class FindAllTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    FindResultsDock* dock() const { return m_v->main.findResults(); }

    TFormMarc* open(const QString& name)
    {
        const QString path = m_v->sandbox.workDir() + '/' + name + ".mrc";
        if (!QFileInfo::exists(path))
            m_v->sandbox.write(name + ".mrc", name == "a" ? fileA() : fileB());
        (void)OpenMarcFile(&m_v->main, path);
        return FormMarc.data();
    }

    // Answers the dialog and starts the search through the menu's action.
    void findAll(const QString& text, bool caseSensitive = false, const QString& tag = {})
    {
        ModalAnswer answer(answerAs<TFormFindAll>([&](TFormFindAll* dialog) {
            dialog->EditTextToFind->setText(text);
            dialog->CbxCase->setChecked(caseSensitive);
            dialog->EditTag->setText(tag);
            dialog->BtnOk->click();
        }));
        m_v->main.findChild<QAction*>("MFindAll")->trigger();
        QVERIFY(answer.answered());
    }

    // Each row as "file|record|title|tag", the file by its base name.
    QStringList rows() const
    {
        QStringList result;
        const FindResultsModel* model = dock()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < model->columnCount(); ++column)
                cells.append(model->index(row, column).data().toString());
            cells[0] = QFileInfo(cells[0]).baseName();
            result.append(cells.join('|'));
        }
        return result;
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().delimiterMode = veltrane::dmNormal;
    }

    void cleanup()
    {
        m_v.reset();
        FindAllSearch::onReportForTests = nullptr;
        FindAllSearch::reportInterval = veltrane::kWorkReportInterval;
        FindResultsDock::maxRows = 100'000;
    }

    void hitList_data()
    {
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("maxRows");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("note");  // or the message shown instead of searching
        const QStringList ab{"a", "b"};
        const QString a2 = "a|2|Common title two|200", a3 = "a|3|Common in 245 /|245";
        const QString a4 = QString::fromUtf8("a|4|中文题名|330"), b2 = "b|2|COMMON upper|200";

        QTest::newRow("two files") << ab << "common" << false << "" << 100 << QStringList{a2, a3, a4, b2} << "";
        QTest::newRow("letter case") << ab << "Common" << true << "" << 100 << QStringList{a2, a3} << "";
        QTest::newRow("tag limit") << ab << "common" << false << "245" << 100 << QStringList{a3} << "";
        QTest::newRow("tag bytes count") << ab << "2001 $aC" << false << "200" << 100 << QStringList{a2, b2} << "";
        QTest::newRow("rows belong to windows") << QStringList{"b", "a", "b"} << "upper" << false << "" << 100
                                                << QStringList{b2, b2} << "";
        QTest::newRow("stops at the row limit") << ab << "common" << false << "" << 3 << QStringList{a2, a3, a4}
                                                << QString::fromUtf8("命中超过3条，只列出前3条，查找到此为止。");
        QTest::newRow("exactly the row limit") << ab << "common" << false << "" << 4 << QStringList{a2, a3, a4, b2} << "";
        QTest::newRow("tag of two characters") << ab << "common" << false << "20" << 100 << QStringList()
                                               << QString::fromUtf8(kFindAllBadTagMessage);
        // Sought in each record's own set, a text GBK cannot hold is refused by none.
        QTest::newRow("text GBK cannot hold") << ab << QString::fromUtf8("한") << false << "" << 100 << QStringList()
                                              << "";
    }

    void hitList()
    {
        QFETCH(QStringList, windows);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, tag);
        QFETCH(int, maxRows);
        QFETCH(QStringList, expected);
        QFETCH(QString, note);
        FindResultsDock::maxRows = static_cast<std::size_t>(maxRows);
        QList<TFormMarc*> opened;
        for (const QString& name : windows)
            opened.append(open(name));
        opened.first()->ShowNextRecord();
        const QString statusBefore = m_v->main.statusPanel(0)->text() + m_v->main.statusPanel(1)->text();

        findAll(text, caseSensitive, tag);
        QTRY_VERIFY(!dock()->searching());

        const bool refused = expected.isEmpty() && !note.isEmpty();
        QCOMPARE(dock()->isVisible(), !refused);
        QCOMPARE(m_v->prompt.texts(), refused ? QStringList{note} : QStringList());
        if (refused)
            return;
        QCOMPARE(rows(), expected);
        QCOMPARE(dock()->countLabel()->text(), QStringLiteral("命中：%1").arg(expected.size()));
        QCOMPARE(dock()->noteLabel()->text(), note);
        // No window moved; only the user's pick shows a record.
        QCOMPARE(opened.first()->CurrentRecord, 2);
        for (TFormMarc* window : opened.sliced(1))
            QCOMPARE(window->CurrentRecord, 1);
        QCOMPARE(m_v->main.statusPanel(0)->text() + m_v->main.statusPanel(1)->text(), statusBefore);
    }

    void openCopyAndCloseByKeyboard()
    {
        TFormMarc* a = open("a");
        TFormMarc* b = open("b");
        findAll("common");
        QTRY_COMPARE(dock()->countLabel()->text(), QStringLiteral("命中：4"));
        QTableView* view = dock()->view();
        QCOMPARE(view->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("题名"));
        QCOMPARE(m_v->main.focusWidget(), view);

        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(m_v->main.mdiArea()->activeSubWindow(), a);
        QCOMPARE(a->CurrentRecord, 3);
        QVERIFY(a->windowTitle().endsWith(QStringLiteral("a.mrc 纪录号：3")));
        QVERIFY(a->MemoMarc->toPlainText().startsWith("001a3\n"));
        QCOMPARE(a->MemoMarc->textCursor().selectedText(), QStringLiteral("Common"));  // the text sought
        QCOMPARE(m_v->main.statusPanel(1)->text(), QStringLiteral("纪录号：3"));
        QCOMPARE(b->CurrentRecord, 1);

        view->selectionModel()->clearSelection();
        for (int row : {3, 0})
            view->selectionModel()->select(view->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QApplication::clipboard()->clear();
        QTest::keySequence(view, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("%1\t2\tCommon title two\t200\n%2\t2\tCOMMON upper\t200\n").arg(a->TitleName, b->TitleName));

        // The closed window's rows stay, greyed, and open nothing.
        a->close();
        QTRY_VERIFY(view->model()->index(0, 0).data(Qt::ForegroundRole).isValid());
        QVERIFY(!view->model()->index(3, 0).data(Qt::ForegroundRole).isValid());
        QCOMPARE(dock()->model()->rowCount(), 4);
        dock()->activateRow(0);
        QCOMPARE(m_v->main.mdiArea()->activeSubWindow(), b);
        QCOMPARE(b->CurrentRecord, 1);
        dock()->activateRow(3);
        QCOMPARE(b->CurrentRecord, 2);
        QVERIFY(m_v->prompt.texts().isEmpty());

        // A new search replaces the list.
        findAll("nothing");
        QTRY_VERIFY(!dock()->searching());
        QCOMPARE(rows(), QStringList{"b|1|Nothing|200"});
    }

    // A long path shows as its file name; the whole path is the tooltip and what a copy takes.
    void fileColumnShowsTheFileName()
    {
        const QString folder = m_v->sandbox.workDir() + "/" + QString(120, QLatin1Char('f'));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/corpus_file.mrc";
        m_v->sandbox.write(QString(120, QLatin1Char('f')) + "/corpus_file.mrc", fileA());
        (void)OpenMarcFile(&m_v->main, path);
        findAll("alpha");
        QTRY_VERIFY(!dock()->searching());
        const QModelIndex file = dock()->model()->index(0, FindResultsModel::FileColumn);
        QCOMPARE(file.data(Qt::DisplayRole).toString(), QStringLiteral("corpus_file.mrc"));
        QCOMPARE(file.data(Qt::ToolTipRole).toString(), path);
        QCOMPARE(dock()->model()->text({0}), QStringLiteral("%1\t1\tAlpha\t200\n").arg(path));
        QVERIFY(dock()->view()->itemDelegateForColumn(FindResultsModel::FileColumn) != nullptr);
    }

    void cancel_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("esc in the list") << "esc";
        QTest::newRow("cancel button") << "button";
        QTest::newRow("closing a window") << "close window";
        QTest::newRow("closing the program") << "close main";
    }

    // The search is held at its first progress report (before any record)
    // until it is cancelled; then it must end before the second file.
    void cancel()
    {
        QFETCH(QString, how);
        TFormMarc* a = open("a");
        TFormMarc* b = open("b");
        std::mutex mutex;
        std::condition_variable_any wake;
        bool held = false, first = true;
        FindAllSearch::reportInterval = 1;
        FindAllSearch::onReportForTests = [&](std::stop_token stop) {
            std::unique_lock lock(mutex);
            if (!std::exchange(first, false))
                return;
            held = true;
            wake.wait(lock, stop, [] { return false; });
        };
        findAll("common");
        QTRY_VERIFY([&] { std::lock_guard lock(mutex); return held; }());
        QVERIFY(dock()->searching());

        if (how == "esc")
            QTest::keyClick(dock()->view(), Qt::Key_Escape);
        else if (how == "button")
            dock()->findChild<QToolButton*>("FindResultsCancel")->click();
        else if (how == "close window")
            QVERIFY(a->close());
        else
            QVERIFY(m_v->main.close());
        // Closing waits for the search to end.
        if (how.startsWith("close"))
            QVERIFY(!dock()->searching());
        QTRY_VERIFY(!dock()->searching());

        QCOMPARE(dock()->model()->rowCount(), 0);
        QCOMPARE(dock()->noteLabel()->text(), QStringLiteral("查找已取消。"));
        QCOMPARE(b->CurrentRecord, 1);
        QVERIFY(m_v->prompt.texts().isEmpty());
    }
};

QTEST_MAIN(FindAllTest)
#include "FindAllTest.moc"
