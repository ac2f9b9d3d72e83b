// SPDX-License-Identifier: Apache-2.0
// 记录 → 文件概况: the profile window's tables against the engine's profile of
// the same file, its charts, cancelling the work, and a tag sought in all windows.

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <QSet>

#include <algorithm>
#include <optional>

#include "commands/MarcCommands.h"
#include "dialogs/FindAll.h"
#include "windows/FindResults.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/ProfileCharts.h"
#include "windows/ProfileWindow.h"
#include "profile/FileProfile.h"
#include "ViewerHarness.h"

using testsupport::MakeRecord;
using viewertest::answerAs;
using viewertest::HeldWork;
using viewertest::ModalAnswer;

namespace {

// MARC 21 records with 008 and 260, a UNIMARC record in GBK, tags repeated.
std::vector<std::string> records()
{
    return {
        MakeRecord({{"001", "m1"}, {"008", "830101s1983    nyu"}, {"245", "10\x1f" "aOne\x1f" "bsub"},
                    {"650", " 0\x1f" "aX"}, {"650", " 0\x1f" "aY"}}),
        MakeRecord({{"001", "m2"}, {"008", "900101s1990    cc "}, {"245", "00\x1f" "aTwo"}}),
        MakeRecord({{"001", "u1"}, {"100", "  \x1f" "a20010101d2005    km y0chiy0110    ea"},
                    {"200", "1 \x1f" "a" + viewertest::gbk(QString::fromUtf8("中文题名"))}, {"210", "  \x1f" "d2005"}}),
        MakeRecord({{"001", "m4"}, {"245", "10\x1f" "aFour"}, {"260", "  \x1f" "c2019."}}),
    };
}

veltrane::FileProfile engineProfile(veltrane::DelimiterMode mode, veltrane::CharsetSetting setting)
{
    veltrane::ProfileBuilder builder(mode, setting);
    for (const std::string& r : records())
        builder.add({reinterpret_cast<const unsigned char*>(r.data()), r.size()}, static_cast<std::uint32_t>(r.size()));
    return builder.finish();
}

// Each row of a table as its cells joined by '|', in the order shown.
QStringList rowsOf(const QTableWidget* table)
{
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells.append(table->item(row, column)->text());
        rows.append(cells.join('|'));
    }
    return rows;
}

QString n(std::int64_t value)
{
    return QString::number(value);
}

int coloursIn(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

}  // namespace

class ProfileWindowTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const QString& name)
    {
        std::string bytes;
        for (const std::string& r : records())
            bytes += r;
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(name, bytes));
        return FormMarc.data();
    }

    QAction* profileAction() const { return m_v->main.findChild<QAction*>(QStringLiteral("MProfile")); }

    ProfileWindow* profileOf(TFormMarc* window)
    {
        m_v->main.mdiArea()->setActiveSubWindow(window);
        profileAction()->trigger();
        return m_v->main.findChild<ProfileWindow*>();
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().delimiterMode = veltrane::dmNormal;
    }

    void cleanup() { m_v.reset(); }

    void menuItemFollowsFindInAllWindows()
    {
        const QList<QAction*> items = m_v->main.menuBar()->findChild<QMenu*>(QStringLiteral("MARC1"))->actions();
        const auto findAll = std::find(items.begin(), items.end(), m_v->main.findChild<QAction*>(QStringLiteral("MFindAll")));
        QVERIFY(findAll != items.end() && findAll + 1 != items.end());
        QCOMPARE(*(findAll + 1), profileAction());
        QCOMPARE(profileAction()->text(), QStringLiteral("文件概况(&I)"));
        // Without a record window it does nothing.
        profileAction()->trigger();
        QVERIFY(m_v->main.findChild<ProfileWindow*>() == nullptr);
    }

    void tablesHoldTheEnginesCounts_data()
    {
        QTest::addColumn<veltrane::CharsetSetting>("setting");
        QTest::newRow("automatic") << veltrane::CharsetSetting::Auto;
        QTest::newRow("the window reads UTF-8") << veltrane::CharsetSetting::Utf8;
    }

    void tablesHoldTheEnginesCounts()
    {
        QFETCH(veltrane::CharsetSetting, setting);
        TFormMarc* window = open("mixed.mrc");
        window->setCharsetChoice(setting);
        ProfileWindow* profileWindow = profileOf(window);
        QVERIFY(profileWindow != nullptr);
        QTRY_VERIFY(profileWindow->isVisible());
        QCOMPARE(profileWindow->windowTitle(), QStringLiteral("文件概况：%1").arg(window->TitleName));
        const veltrane::FileProfile expected = engineProfile(veltrane::dmNormal, setting);
        const auto table = [&](const char* name) { return profileWindow->findChild<QTableWidget*>(QString::fromLatin1(name)); };

        const QString summary =
            QStringList{n(expected.records), n(expected.smallest), n(expected.median), n(expected.largest)}.join('|');
        QCOMPARE(rowsOf(table("SummaryTable")), QStringList{summary});
        QStringList charsets, tags, subfields, years;
        for (const auto& [key, records] : expected.charsets)
            charsets.append(QStringLiteral("%1|%2|%3").arg(QString::fromStdString(key.first).toUpper(), n(key.second), n(records)));
        for (const auto& [tag, t] : expected.tags)
            tags.append(QStringList{QString::fromStdString(tag), n(t.count.records), n(t.count.occurrences),
                                    n(static_cast<std::int64_t>(t.shortest)), n(static_cast<std::int64_t>(t.longest))}.join('|'));
        for (const auto& [key, c] : expected.subfields)
            subfields.append(QStringList{QString::fromStdString(key.first), QString(QLatin1Char(key.second)), n(c.records),
                                         n(c.occurrences)}.join('|'));
        for (const auto& [year, records] : expected.years)
            years.append(n(year) + '|' + n(records));
        QCOMPARE(rowsOf(table("CharsetTable")), charsets);
        QCOMPARE(rowsOf(table("TagTable")), tags);
        QCOMPARE(rowsOf(table("SubfieldTable")), subfields);
        QCOMPARE(rowsOf(table("YearTable")), years);
        QVERIFY(rowsOf(table("IndicatorTable")).contains("245|1|1|2"));
        QVERIFY(rowsOf(table("LeaderTable")).contains("5|n|4"));
        QVERIFY(rowsOf(table("FixedDataTable")).contains("am|6|s|2"));
        QVERIFY(rowsOf(table("GeneralDataTable")).contains("8|d|1"));
        QCOMPARE(table("ProblemTable")->rowCount(), static_cast<int>(expected.problems.size()));
        QCOMPARE(profileWindow->tabs()->count(), 10);

        // Ctrl+C copies the selected rows as tab-separated lines.
        QTableWidget* charsetTable = table("CharsetTable");
        profileWindow->tabs()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowActive(profileWindow));
        charsetTable->setFocus();
        charsetTable->selectAll();
        QApplication::clipboard()->clear();
        QTest::keySequence(charsetTable, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), charsets.join('\n').replace('|', '\t') + '\n');

        // Numbers stand right and sort as numbers (by text, 9 would come before 41).
        QTableWidget* tagTable = profileWindow->tagTable();
        QCOMPARE(tagTable->item(0, 1)->textAlignment() & Qt::AlignRight, Qt::AlignRight);
        std::size_t longest = 0;
        for (const auto& [tag, t] : expected.tags)
            longest = std::max(longest, t.longest);
        tagTable->sortByColumn(4, Qt::DescendingOrder);
        QCOMPARE(tagTable->item(0, 4)->text(), n(static_cast<std::int64_t>(longest)));
        QCOMPARE(m_v->prompt.texts(), QStringList());
    }

    void chartsAreDrawn()
    {
        ProfileWindow* profileWindow = profileOf(open("mixed.mrc"));
        QVERIFY(profileWindow != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(profileWindow));
        QCOMPARE(profileWindow->tagChart()->bars().size(), static_cast<qsizetype>(engineProfile(veltrane::dmNormal, veltrane::CharsetSetting::Auto).tags.size()));
        for (QWidget* chart : {static_cast<QWidget*>(profileWindow->tagChart()), static_cast<QWidget*>(profileWindow->charsetChart()),
                               static_cast<QWidget*>(profileWindow->yearChart())}) {
            for (QWidget* page = chart; page != nullptr; page = page->parentWidget())
                if (profileWindow->tabs()->indexOf(page) >= 0)
                    profileWindow->tabs()->setCurrentWidget(page);
            QTRY_VERIFY(chart->isVisible());
            const QImage image = chart->grab().toImage();
            QVERIFY2(!image.isNull() && coloursIn(image) > 1, qPrintable(chart->objectName()));
        }
    }

    void yearsFallIntoRoundSpans()
    {
        using Bin = YearHistogram::Bin;
        const auto bins = [](const std::map<int, std::int64_t>& years) {
            QStringList shown;
            for (const Bin& bin : YearHistogram::MakeBins(years))
                if (bin.records > 0)
                    shown.append(QStringLiteral("%1-%2:%3").arg(bin.first).arg(bin.last).arg(bin.records));
            return shown;
        };
        QCOMPARE(YearHistogram::MakeBins({}).size(), 0);
        QCOMPARE(bins({{1990, 1}, {1995, 2}}), (QStringList{"1990-1990:1", "1995-1995:2"}));
        QCOMPARE(YearHistogram::MakeBins({{1990, 1}, {1995, 2}}).size(), 6);  // the empty years between count too
        // 1 to 2024 in spans of 50: aligned to multiples of the span.
        QCOMPARE(bins({{1, 1}, {2024, 3}, {2049, 1}}), (QStringList{"0-49:1", "2000-2049:4"}));
        QCOMPARE(YearHistogram::MakeBins({{1, 1}, {2049, 1}}).size(), 41);
        QCOMPARE(YearHistogram::MakeBins({{0, 1}, {9999, 1}}).size(), 50);  // in spans of 200, as 100 would make 100
    }

    void cancelOrCloseEndsTheWork_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("cancel") << "cancel";
        QTest::newRow("closing the record window") << "close window";
        QTest::newRow("closing the program") << "close main";
    }

    void cancelOrCloseEndsTheWork()
    {
        QFETCH(QString, how);
        QPointer<TFormMarc> window = open("mixed.mrc");
        {
            HeldWork held;
            profileAction()->trigger();
            QTRY_VERIFY(held.held());
            QVERIFY(m_v->main.workPanel()->isVisible());
            QVERIFY(!profileAction()->isEnabled());
            if (how == "cancel") {
                m_v->main.cancelActiveWork();
                held.release();
            } else {
                held.release();
                QVERIFY(how == "close window" ? window->close() : m_v->main.close());
            }
            QTRY_VERIFY(window.isNull() || window->work() == nullptr);
        }
        QTest::qWait(50);
        QVERIFY(m_v->main.findChild<ProfileWindow*>() == nullptr);
        QCOMPARE(m_v->prompt.texts(), QStringList());
        if (window)
            QVERIFY(profileAction()->isEnabled());
    }

    void doubleClickedTagIsSoughtInAllWindows()
    {
        TFormMarc* window = open("mixed.mrc");
        (void)open("second.mrc");
        ProfileWindow* profileWindow = profileOf(window);
        QVERIFY(profileWindow != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(profileWindow));
        QTableWidget* tagTable = profileWindow->tagTable();
        profileWindow->tabs()->setCurrentWidget(profileWindow->tabs()->widget(3));
        QTRY_VERIFY(tagTable->isVisible());

        QStringList filledIn;
        const auto answerAndSearch = [&filledIn](TFormFindAll* dialog) {
            filledIn = {dialog->EditTextToFind->text(), dialog->EditTag->text()};
            dialog->BtnOk->click();
        };
        const QList<QTableWidgetItem*> found = tagTable->findItems(QStringLiteral("245"), Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        {
            ModalAnswer answer(answerAs<TFormFindAll>(answerAndSearch));
            // A double click as a mouse gives it: a click, then the second press as a double click.
            const QPoint cell = tagTable->visualItemRect(found.first()).center();
            QTest::mouseClick(tagTable->viewport(), Qt::LeftButton, {}, cell);
            QTest::mouseDClick(tagTable->viewport(), Qt::LeftButton, {}, cell);
            QVERIFY(answer.answered());
        }
        QCOMPARE(filledIn, (QStringList{"245", "245"}));
        FindResultsDock* dock = m_v->main.findResults();
        QTRY_VERIFY(!dock->searching());
        // Both windows' files hold three records with a 245.
        QCOMPARE(dock->model()->rowCount(), 6);

        // On the chart: the bar of 650.
        filledIn.clear();
        BarChart* chart = profileWindow->tagChart();
        const int bar = static_cast<int>(std::find_if(chart->bars().begin(), chart->bars().end(),
                                                      [](const BarChart::Bar& b) { return b.label == "650"; }) -
                                         chart->bars().begin());
        {
            ModalAnswer answer(answerAs<TFormFindAll>([&filledIn](TFormFindAll* dialog) {
                filledIn = {dialog->EditTextToFind->text(), dialog->EditTag->text()};
                dialog->BtnCancel->click();
            }));
            QTest::mouseDClick(chart, Qt::LeftButton, {}, chart->rowRect(bar).center());
            QVERIFY(answer.answered());
        }
        QCOMPARE(filledIn, (QStringList{"650", "650"}));
    }
};

QTEST_MAIN(ProfileWindowTest)
#include "ProfileWindowTest.moc"
