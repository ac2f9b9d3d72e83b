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

#include <QPushButton>
#include <QRadioButton>

#include "RecordFiles.h"
#include "ViewerHarness.h"
#include "dialogs/AddColumn.h"
#include "dialogs/Export.h"
#include "state/Settings.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/RecordListModel.h"
#include "windows/RecordListPane.h"

using veltrane::ListColumn;

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

    // 问题 counts the findings of the window's rules with the structural
    // problems (these records lack 101 and 801), and follows the window's
    // rules when they change.
    void problemsCountTheFindingsOfTheWindowsRules()
    {
        TFormMarc* window = openListed();
        QVERIFY(window != nullptr);
        RecordListModel* model = window->recordList()->model();
        const int problems = static_cast<int>(ListColumn::Problems);
        QCOMPARE(column(model, problems), QStringList(5, QStringLiteral("2")));
        window->setRuleChoice(veltrane::RuleSetting::None);
        QVERIFY(QTest::qWaitFor([&] { return !window->recordList()->filling() && model->rowCount() == 5; }));
        QCOMPARE(column(model, problems), QStringList(5, QStringLiteral("0")));
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
        // 问题: the two mandatory fields (101, 801) the window's rules find missing.
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("3\trec3\tFigs\tAuthor 3\tPress\t1985\t\tascii\t2\n"
                                "5\trec5\tFigs\tAuthor 5\tPress\t1970\t\tascii\t2\n"));
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

    void aSelectionIsExportedInListOrderThroughTheExportDialog()
    {
        TFormMarc* window = openListed();
        QVERIFY(window != nullptr);
        RecordListPane* pane = window->recordList();
        clickHeader(pane->view(), 5);  // by year: records 2 5 3 1 4
        pane->selectRecord(3);
        for (int record : {1, 2})
            pane->view()->selectionModel()->select(pane->model()->index(pane->model()->rowOf(record), 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(pane->selectedRecords(), (std::vector<int>{2, 3, 1}));
        const QString target = m_v->sandbox.workDir() + QStringLiteral("/chosen.mrc");
        bool offered = false;
        viewertest::ModalAnswer answer(viewertest::answerAs<TDlgExport>([&](TDlgExport* dialog) {
            offered = dialog->RbSelected->isVisible() && dialog->RbSelected->isChecked()
                      && dialog->RbSelected->text().contains(QStringLiteral("3 条"));
            dialog->setFormat(veltrane::RecordFormat::Iso2709);
            dialog->EditFileName->setText(target);
            dialog->BtnOk->click();
        }));
        emit pane->exportSelectionRequested();  // as the list's context menu does
        QTRY_VERIFY(window->work() == nullptr);
        QVERIFY(offered);
        const char* titles[] = {"Pears", "apples", "Figs", "Dates", "Figs"};
        const char* years[] = {"2001", "0999", "1985", "2001", "1970"};
        auto record = [&](int n) { return titledRecord(n, titles[n - 1], years[n - 1]); };
        const std::string inListOrder = record(2) + record(3) + record(1);
        QCOMPARE(testsupport::ReadFile(target.toStdString()), inListOrder);

        // An existing target: the overwrite question, here answered with append.
        m_v->prompt.answer = veltrane::OverwriteChoice::Append;
        pane->selectRecord(5);
        viewertest::ModalAnswer again(viewertest::answerAs<TDlgExport>([&](TDlgExport* dialog) {
            dialog->setFormat(veltrane::RecordFormat::Iso2709);
            dialog->EditFileName->setText(target);
            dialog->BtnOk->click();
        }));
        emit pane->exportSelectionRequested();
        QTRY_VERIFY(window->work() == nullptr);
        QCOMPARE(m_v->prompt.texts(), QStringList());  // asked only the overwrite question (answered: append)
        QCOMPARE(testsupport::ReadFile(target.toStdString()), inListOrder + record(5));
    }

    void ownColumnsAreAddedMovedRemovedAndRememberedPerFormat()
    {
        TFormMarc* window = openListed();  // UNIMARC records
        QVERIFY(window != nullptr);
        RecordListPane* pane = window->recordList();
        // 添加列… refuses a bad path, saying why, and takes a good one.
        int asked = 0;
        QString refusal;
        viewertest::ModalAnswer answer(viewertest::answerAs<TDlgAddColumn>([&](TDlgAddColumn* dialog) {
            if (asked++ == 0) {
                dialog->EditPath->setText(QStringLiteral("20"));
            } else {
                refusal = dialog->LblError->text();
                dialog->EditPath->setText(QStringLiteral("200$f/7-7"));
            }
            dialog->BtnOk->click();
        }));
        pane->askForColumn();
        QVERIFY(refusal.contains(QStringLiteral("字段号")));
        QTRY_VERIFY(!pane->filling());
        RecordListModel* model = pane->model();
        QCOMPARE(model->columnCount(), veltrane::kListColumnCount + 1);
        QCOMPARE(model->headerData(veltrane::kListColumnCount, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("200$f/07"));
        QCOMPARE(column(model, veltrane::kListColumnCount), (QStringList{"1", "2", "3", "4", "5"}));
        pane->addColumn(*veltrane::ParseColumnPath("001").path);
        QTRY_VERIFY(!pane->filling());
        QCOMPARE(column(model, veltrane::kListColumnCount + 1), (QStringList{"rec1", "rec2", "rec3", "rec4", "rec5"}));
        QHeaderView* header = pane->view()->horizontalHeader();
        header->moveSection(header->visualIndex(veltrane::kListColumnCount + 1), 0);
        header->resizeSection(2, 123);
        pane->removeColumn(static_cast<int>(ListColumn::Isbn));  // a standard column is hidden
        QVERIFY(header->isSectionHidden(static_cast<int>(ListColumn::Isbn)));
        pane->removeColumn(veltrane::kListColumnCount);  // one's own goes
        QTRY_VERIFY(!pane->filling());
        QCOMPARE(model->columnCount(), veltrane::kListColumnCount + 1);
        QCOMPARE(column(model, veltrane::kListColumnCount), (QStringList{"rec1", "rec2", "rec3", "rec4", "rec5"}));
        QCOMPARE(header->visualIndex(veltrane::kListColumnCount), 0);
        QCOMPARE(header->sectionSize(2), 123);
        window->close();
        QTRY_VERIFY(FormMarc.isNull());
        QCOMPARE(settings::recordListOwnColumns(QStringLiteral("unimarc")), QStringList{"001"});
        QVERIFY(settings::recordListOwnColumns(QStringLiteral("marc21")).isEmpty());

        // The same format takes them again; MARC 21 records keep their own set.
        window = openListed();
        QVERIFY(window != nullptr);
        pane = window->recordList();
        header = pane->view()->horizontalHeader();
        QCOMPARE(pane->model()->columnCount(), veltrane::kListColumnCount + 1);
        QCOMPARE(header->visualIndex(veltrane::kListColumnCount), 0);
        QCOMPARE(header->sectionSize(2), 123);
        QVERIFY(header->isSectionHidden(static_cast<int>(ListColumn::Isbn)));
        pane->restoreDefaultColumns();
        QTRY_VERIFY(!pane->filling());
        QCOMPARE(pane->model()->columnCount(), veltrane::kListColumnCount);
        QVERIFY(!header->isSectionHidden(static_cast<int>(ListColumn::Isbn)));
        QCOMPARE(header->visualIndex(2), 2);
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(QStringLiteral("marc21.mrc"),
                                                          testsupport::MakeRecord({{"245", "00\x1f" "aA title"}})));
        QVERIFY(FormMarc && FormMarc->recordList() != nullptr);
        QCOMPARE(FormMarc->recordList()->model()->columnCount(), veltrane::kListColumnCount);
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
