// SPDX-License-Identifier: Apache-2.0
// The record list pane of a document window: F9 shows it and is remembered,
// it fills, sorts by a header click (a second click reverses) and filters;
// the list's selection and the record on display follow each other; Ctrl+C
// copies rows; a stopped fill keeps what it read; a large list sorts and
// filters off the interface thread; the keys; what a screen reader sees.

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTest>

#include <atomic>
#include <thread>

#include "RecordFiles.h"
#include "ViewerHarness.h"
#include "state/Settings.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/RecordListModel.h"
#include "windows/RecordListPane.h"

namespace {

const std::string kUnimarc100 = "  \x1f" "a20010101d1998    km y0chiy0110    ea";

/// A UNIMARC record with a title and a year of publication.
std::string titledRecord(int n, const std::string& title, const std::string& year)
{
    return testsupport::MakeRecord({{"001", "rec" + std::to_string(n)},
                                    {"100", kUnimarc100},
                                    {"200", "1 \x1f" "a" + title + "\x1f" "fAuthor " + std::to_string(n)},
                                    {"210", "  \x1f" "cPress\x1f" "d" + year}});
}

}  // namespace

class RecordListTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    QAction* listAction() { return m_v->main.findChild<QAction*>(QStringLiteral("MRecordList")); }

    /// Opens a file of five records with known titles and years, with the list on, filled.
    TFormMarc* openListed()
    {
        std::string bytes;
        const char* titles[] = {"Pears", "apples", "Figs", "Dates", "Figs"};
        const char* years[] = {"2001", "0999", "1985", "2001", "1970"};
        for (int n = 1; n <= 5; ++n)
            bytes += titledRecord(n, titles[n - 1], years[n - 1]);
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(QStringLiteral("five.mrc"), bytes));
        TFormMarc* window = FormMarc.data();
        if (window == nullptr)
            return nullptr;
        if (!listAction()->isChecked())
            QTest::keyClick(&m_v->main, Qt::Key_F9);
        if (window->recordList() == nullptr)
            return nullptr;
        if (!QTest::qWaitFor([&] { return !window->recordList()->filling(); }))
            return nullptr;
        return window;
    }

    static QStringList column(const RecordListModel* model, int c)
    {
        QStringList cells;
        for (int row = 0; row < model->rowCount(); ++row)
            cells.append(model->index(row, c).data().toString());
        return cells;
    }

    static void clickHeader(RecordListView* view, int section)
    {
        QHeaderView* header = view->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 4, header->height() / 2));
    }

    static QString countText(RecordListPane* pane)
    {
        return pane->findChild<QLabel*>(QStringLiteral("RecordListCount"))->text();
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
    }
    void cleanup()
    {
        RecordListPane::onReportForTests = nullptr;
        RecordListPane::reportInterval = veltrane::kWorkReportInterval;
        RecordListModel::arrangeInPlaceRows = 50'000;
        m_v.reset();
    }

    void offByDefaultF9ShowsItAndTheChoiceIsRemembered()
    {
        QVERIFY(!listAction()->isChecked());
        QCOMPARE(listAction()->shortcut(), QKeySequence(Qt::Key_F9));
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(QStringLiteral("three.mrc"), viewertest::numberedFile(3)));
        TFormMarc* window = FormMarc.data();
        QVERIFY(window != nullptr);
        QCOMPARE(window->recordList(), nullptr);
        QTest::keyClick(&m_v->main, Qt::Key_F9);
        QVERIFY(window->recordList() != nullptr && window->recordList()->isVisible());
        QCOMPARE(window->recordList()->view()->accessibleName(), QStringLiteral("记录列表"));
        QVERIFY(settings::recordListShown());
        QTest::keyClick(&m_v->main, Qt::Key_F9);
        QVERIFY(!window->recordList()->isVisible());
        QVERIFY(!settings::recordListShown());
        settings::setRecordListShown(true);
        TFormMain another(nullptr);
        QVERIFY(another.findChild<QAction*>(QStringLiteral("MRecordList"))->isChecked());
    }

    void fillsSortsByHeaderClicksAndFilters()
    {
        TFormMarc* window = openListed();
        QVERIFY(window != nullptr);
        RecordListPane* pane = window->recordList();
        RecordListModel* model = pane->model();
        QCOMPARE(model->rowCount(), 5);
        QCOMPARE(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("题名"));
        QCOMPARE(column(model, 1), (QStringList{"rec1", "rec2", "rec3", "rec4", "rec5"}));
        QCOMPARE(column(model, 5), (QStringList{"2001", "999", "1985", "2001", "1970"}));
        QCOMPARE(countText(pane), QStringLiteral("显示 5 / 共 5 条"));

        clickHeader(pane->view(), 5);  // years as numbers, ties in file order
        QCOMPARE(column(model, 0), (QStringList{"2", "5", "3", "1", "4"}));
        clickHeader(pane->view(), 5);
        QCOMPARE(column(model, 0), (QStringList{"1", "4", "3", "5", "2"}));
        clickHeader(pane->view(), 2);  // titles by code points
        QCOMPARE(column(model, 2), (QStringList{"Dates", "Figs", "Figs", "Pears", "apples"}));
        QCOMPARE(column(model, 0), (QStringList{"4", "3", "5", "1", "2"}));

        auto* filter = pane->findChild<QLineEdit*>(QStringLiteral("RecordListFilter"));
        auto* chooser = pane->findChild<QComboBox*>(QStringLiteral("RecordListFilterColumn"));
        QTest::keyClicks(filter, QStringLiteral("FIG"));
        QCOMPARE(column(model, 0), (QStringList{"3", "5"}));
        QCOMPARE(countText(pane), QStringLiteral("显示 2 / 共 5 条"));
        filter->setText(QStringLiteral("2001"));
        QCOMPARE(column(model, 0), (QStringList{"4", "1"}));
        chooser->setCurrentIndex(1 + 2);  // the title only
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(countText(pane), QStringLiteral("显示 0 / 共 5 条"));
        filter->clear();
        QCOMPARE(model->rowCount(), 5);
    }

    void selectionAndDisplayFollowEachOther()
    {
        TFormMarc* window = openListed();
        QVERIFY(window != nullptr);
        RecordListPane* pane = window->recordList();
        RecordListView* view = pane->view();
        QCOMPARE(pane->selectedRecords(), std::vector<int>{1});
        clickHeader(view, 2);  // rows now 4 3 5 1 2
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(pane->selectedRecords(), std::vector<int>{2});  // record 1 stood on the fourth row
        QCOMPARE(window->CurrentRecord, 2);
        QVERIFY(window->windowTitle().endsWith(QStringLiteral("纪录号：2")));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(window->CurrentRecord, 4);
        QCOMPARE(view->currentIndex().row(), 0);
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(window->CurrentRecord, 2);
        QTest::keyClicks(view, QStringLiteral("p"));  // typing jumps on the sorted column
        QCOMPARE(window->CurrentRecord, 1);

        window->ShowNextRecord();  // as F8 does
        QCOMPARE(pane->selectedRecords(), std::vector<int>{2});
        pane->findChild<QLineEdit*>(QStringLiteral("RecordListFilter"))->setText(QStringLiteral("Figs"));
        window->ShowPrevRecord();
        QCOMPARE(window->CurrentRecord, 1);
        QVERIFY(pane->selectedRecords().empty());  // the filter hides record 1

        pane->findChild<QLineEdit*>(QStringLiteral("RecordListFilter"))->clear();
        pane->selectRecord(3);
        view->selectionModel()->select(pane->model()->index(pane->model()->rowOf(5), 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keySequence(view, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("3\trec3\tFigs\tAuthor 3\tPress\t1985\t\tascii\t0\n"
                                "5\trec5\tFigs\tAuthor 5\tPress\t1970\t\tascii\t0\n"));
    }

    void aLargeListSortsAndFiltersOffTheInterfaceThreadKeepingTheSelection()
    {
        RecordListModel::arrangeInPlaceRows = 0;  // every list counts as large
        TFormMarc* window = openListed();
        QVERIFY(window != nullptr);
        RecordListPane* pane = window->recordList();
        RecordListModel* model = pane->model();
        window->ShowRecord(3, 3, "");
        clickHeader(pane->view(), 5);
        // Until the order is ready the rows stand as they were.
        if (model->arranging()) {
            QCOMPARE(column(model, 0), (QStringList{"1", "2", "3", "4", "5"}));
            QVERIFY(countText(pane).contains(QStringLiteral("正在排列")));
        }
        QTRY_VERIFY(!model->arranging());
        QCOMPARE(column(model, 0), (QStringList{"2", "5", "3", "1", "4"}));
        QCOMPARE(pane->selectedRecords(), std::vector<int>{3});
        auto* filter = pane->findChild<QLineEdit*>(QStringLiteral("RecordListFilter"));
        // A filter typed letter by letter: only the last one counts.
        QTest::keyClicks(filter, QStringLiteral("FIG"));
        QTRY_VERIFY(!model->arranging());
        QCOMPARE(column(model, 0), (QStringList{"5", "3"}));
        QCOMPARE(countText(pane), QStringLiteral("显示 2 / 共 5 条"));
        QCOMPARE(pane->selectedRecords(), std::vector<int>{3});
        // Closing the window while a sort runs stops it.
        clickHeader(pane->view(), 2);
        window->close();
        QTRY_VERIFY(FormMarc.isNull());
    }

    void keysMoveByRowsPagesAndEndsAndCtrlHomeEndShowTheFilesEnds()
    {
        std::string bytes;
        for (int n = 1; n <= 100; ++n)
            bytes += titledRecord(n, "Title " + std::to_string(1000 - n), "2000");
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(QStringLiteral("hundred.mrc"), bytes));
        TFormMarc* window = FormMarc.data();
        QVERIFY(window != nullptr);
        QTest::keyClick(&m_v->main, Qt::Key_F9);
        RecordListPane* pane = window->recordList();
        QVERIFY(pane != nullptr);
        QTRY_VERIFY(!pane->filling());
        RecordListView* view = pane->view();
        clickHeader(view, 2);  // titles descend as records ascend: record 100 first
        QCOMPARE(pane->model()->recordAt(0), 100);
        view->setFocus();
        pane->selectRecord(100);
        view->setCurrentIndex(pane->model()->index(0, 2));  // the title column
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(window->CurrentRecord, 99);
        QTest::keyClick(view, Qt::Key_PageDown);
        const int pagedTo = window->CurrentRecord;
        QVERIFY(pagedTo < 98);
        QTest::keyClick(view, Qt::Key_PageUp);
        QCOMPARE(window->CurrentRecord, 99);
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(window->CurrentRecord, 1);
        QCOMPARE(view->currentIndex().column(), 2);  // End stays in its column
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(window->CurrentRecord, 100);
        QCOMPARE(view->currentIndex().column(), 2);
        // Ctrl+Home and Ctrl+End: the file's first and last record, not the list's.
        QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(window->CurrentRecord, 1);
        QCOMPARE(view->currentIndex().row(), 99);
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(window->CurrentRecord, 100);
        QCOMPARE(view->currentIndex().row(), 0);
        // Typing jumps ahead on the sorted column, the typed text growing.
        QTest::keyClicks(view, QStringLiteral("title 95"));
        QCOMPARE(window->CurrentRecord, 50);  // "Title 950", the first title from 95
        QTest::keyClick(view, Qt::Key_Home, Qt::AltModifier);  // 首条 through the main window
        QCOMPARE(window->CurrentRecord, 1);
    }

    void theListIsAnAccessibleTableWithOneRowPerRecord()
    {
        TFormMarc* window = openListed();
        QVERIFY(window != nullptr);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(window->recordList()->view());
        QVERIFY(table != nullptr);
        QCOMPARE(table->role(), QAccessible::Table);
        QCOMPARE(table->text(QAccessible::Name), QStringLiteral("记录列表"));
        QAccessibleTableInterface* cells = table->tableInterface();
        QVERIFY(cells != nullptr);
        QCOMPARE(cells->rowCount(), 5);
        QCOMPARE(cells->columnCount(), veltrane::kListColumnCount);
        QCOMPARE(cells->cellAt(2, 2)->text(QAccessible::Name), QStringLiteral("Figs"));
    }

    void aStoppedFillKeepsWhatItReadAndShowsTheRestByNumber()
    {
        std::string bytes;
        for (int n = 1; n <= 200; ++n)
            bytes += titledRecord(n, "Title " + std::to_string(n), "2000");
        RecordListPane::reportInterval = 1;
        std::atomic<int> reports{0};
        std::atomic<bool> waiting{false};
        RecordListPane::onReportForTests = [&](const std::stop_token& stop) {
            if (++reports < 20)
                return;
            waiting = true;
            while (!stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(QStringLiteral("many.mrc"), bytes));
        TFormMarc* window = FormMarc.data();
        QVERIFY(window != nullptr);
        QTest::keyClick(&m_v->main, Qt::Key_F9);
        QVERIFY(window->recordList() != nullptr);
        RecordListPane* pane = window->recordList();
        QTRY_VERIFY(waiting.load());
        QVERIFY(pane->filling());
        QVERIFY(pane->findChild<QWidget*>(QStringLiteral("RecordListStop"))->isVisible());
        pane->stopFill();
        QVERIFY(!pane->filling());
        RecordListModel* model = pane->model();
        QCOMPARE(model->rowCount(), 200);
        QVERIFY(model->filledRows() < 200);
        QCOMPARE(model->index(199, 0).data().toString(), QStringLiteral("200"));
        QCOMPARE(model->index(199, 2).data().toString(), QString());
        QVERIFY(countText(pane).contains(QStringLiteral("已读")));
        // The record text is there as ever, and the list still selects it.
        window->ShowLastRecord();
        QCOMPARE(pane->selectedRecords(), std::vector<int>{200});
    }
};

QTEST_MAIN(RecordListTest)
#include "RecordListTest.moc"
