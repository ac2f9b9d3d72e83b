#include <QFileDialog>
#include <algorithm>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "About.h"
#include "Main.h"
#include "Marc.h"
#include "RecordLayout.h"
#include "ViewerHarness.h"

using viewertest::FakePrompt;
using viewertest::Sandbox;

namespace {

// Records the order in which watched windows receive their close event.
class CloseOrder : public QObject {
public:
    void watch(QWidget* window) { window->installEventFilter(this); }
    QStringList order;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            order.append(static_cast<QWidget*>(watched)->windowTitle());
        return false;
    }
};

// Types a name into the file dialog's name field and confirms it. (Selecting
// the file instead leaves the field alone while it has the focus.)
void typeFileName(QFileDialog* dialog, const QString& name)
{
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(field != nullptr);
    field->setText(name);
    static_cast<QDialog*>(dialog)->accept();
}

bool overlaps(const QRect& a, const QRect& b)
{
    return a.intersected(b).isValid() && !a.intersected(b).isEmpty();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<TFormMain> m_main;

    QAction* action(const char* name) const { return m_main->findChild<QAction*>(QString::fromLatin1(name)); }
    QList<QMdiSubWindow*> windows() const { return m_main->mdiArea()->subWindowList(QMdiArea::CreationOrder); }
    void showWith(const QStringList& commandLine)
    {
        m_main->setCommandLine(commandLine);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    }
    QString threeRecords(const QString& name) const
    {
        return m_sandbox->write(name, viewertest::numberedFile(3));
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<Sandbox>();
        m_prompt = std::make_unique<FakePrompt>();
        m_main = std::make_unique<TFormMain>();
    }

    void cleanup()
    {
        m_main.reset();
        m_prompt.reset();
        m_sandbox.reset();
    }

    void recordCommandsDoNothingWithoutDocument_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QKeySequence>("key");
        for (const char* name :
             {"MPrev", "MNext", "NGoto", "MFind", "MFindNext", "MTotal", "MGet", "MClose", "MContent", "N13", "N14", "N15"})
            QTest::newRow(name) << QString::fromLatin1(name) << QKeySequence();
        QTest::newRow("F7") << QString() << QKeySequence(Qt::Key_F7);
        QTest::newRow("F8") << QString() << QKeySequence(Qt::Key_F8);
        QTest::newRow("Ctrl+F") << QString() << QKeySequence(Qt::CTRL | Qt::Key_F);
        QTest::newRow("F3") << QString() << QKeySequence(Qt::Key_F3);
    }

    void recordCommandsDoNothingWithoutDocument()
    {
        QFETCH(QString, command);
        QFETCH(QKeySequence, key);
        veltrane::DelimiterMode = veltrane::dmSpecial2;
        m_main = std::make_unique<TFormMain>();
        QCOMPARE(veltrane::DelimiterMode, int(veltrane::dmNormal));
        showWith({});
        QCOMPARE(m_main->size(), QSize(803, 614));
        // A dialog that opens anyway would block: close it and fail.
        viewertest::ModalAnswer answer([](QWidget* modal) {
            if (modal != nullptr)
                modal->close();
        });
        if (command.isEmpty())
            QTest::keySequence(m_main.get(), key);
        else
            action(command.toLatin1().constData())->trigger();
        QVERIFY(!answer.answered());
        QVERIFY(m_prompt->shown.isEmpty());
        QVERIFY(windows().isEmpty());
        QVERIFY(m_main->isVisible());
        QCOMPARE(m_main->statusPanel(0)->text(), QString());
        QCOMPARE(m_main->statusPanel(1)->text(), QString());
    }

    void shortcutsReachTheActiveDocument()
    {
        const QString path = threeRecords("three.mrc");
        showWith({path});
        QTRY_COMPARE(windows().size(), 1);
        auto* document = qobject_cast<TFormMarc*>(windows().first());
        document->MemoMarc->setFocus();
        QTest::keySequence(m_main.get(), QKeySequence(Qt::Key_F8));
        QCOMPARE(document->CurrentRecord, 2);
        QTest::keySequence(m_main.get(), QKeySequence(Qt::Key_F7));
        QCOMPARE(document->CurrentRecord, 1);
    }

    void toolBarButtonsSitInARow()
    {
        showWith({});
        auto* bar = m_main->findChild<QToolBar*>(QStringLiteral("ToolBar1"));
        QCOMPARE(bar->height(), 27);
        // Ten buttons and three separators, left to right from the indent, no gaps.
        int left = 4;
        int separators = 0;
        for (const char* name : {"ToolButton1", "ToolButton2", "ToolButton6", "ToolButton3", "ToolButton4",
                                 "ToolButton12", "ToolButton11", "ToolButton13", "ToolButton5", "ToolButton9",
                                 "ToolButton10", "ToolButton7", "ToolButton8"}) {
            auto* item = bar->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(item != nullptr, name);
            const QRect place = item->geometry();
            QCOMPARE(place.left(), left);
            QVERIFY2(bar->rect().contains(place), name);
            left = place.right() + 1;
            if (qobject_cast<QToolButton*>(item) == nullptr) {
                QCOMPARE(place.width(), 8);
                ++separators;
                continue;
            }
            QCOMPARE(place.size(), QSize(26, 24));
            QVERIFY(!qobject_cast<QToolButton*>(item)->icon().isNull());
        }
        QCOMPARE(separators, 3);
        QCOMPARE(bar->findChild<QToolButton*>(QStringLiteral("ToolButton9"))->toolTip(), QStringLiteral("取纪录"));
    }

    void recordCountFromTheToolBar()
    {
        const QString path = threeRecords("three.mrc");
        showWith({path});
        QTRY_COMPARE(windows().size(), 1);
        QTest::mouseClick(m_main->findChild<QToolButton*>(QStringLiteral("ToolButton5")), Qt::LeftButton);
        QCOMPARE(m_prompt->shown.size(), 1);
        QCOMPARE(m_prompt->shown[0].kind, FakePrompt::Kind::Information);
        QCOMPARE(m_prompt->shown[0].text, QStringLiteral("    纪录总数是: 3    "));
        QTest::mouseClick(m_main->findChild<QToolButton*>(QStringLiteral("ToolButton4")), Qt::LeftButton);
        QCOMPARE(qobject_cast<TFormMarc*>(windows().first())->CurrentRecord, 2);
    }

    void statusPanelsSpanTheBar()
    {
        showWith({});
        QStatusBar* bar = m_main->statusBar();
        StatusPanel* first = m_main->statusPanel(0);
        StatusPanel* second = m_main->statusPanel(1);
        QCOMPARE(first->width(), 300);
        QVERIFY(second->geometry().left() > first->geometry().right());
        const int before = second->width();
        m_main->resize(1000, 614);
        QTRY_COMPARE(second->width(), before + 1000 - 803);
        QVERIFY(bar->width() - second->geometry().right() < 30);  // only the size grip beyond it
    }

    void commandLineOpensEveryFileInOrder_data()
    {
        QTest::addColumn<QStringList>("names");   // "" marks a file that is not a record file
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("two files") << QStringList{"a.mrc", "b.mrc"} << QStringList{"a.mrc", "b.mrc"} << QStringList{};
        QTest::newRow("bad then good") << QStringList{"!bad.mrc", "good.mrc"} << QStringList{"good.mrc"}
                                       << QStringList{"Not marc format file!"};
        QTest::newRow("missing then good")
            << QStringList{"?missing.mrc", "good.mrc"} << QStringList{"good.mrc"}
            << QStringList{"Invalid drive or directory", "Not marc format file!"};
        QTest::newRow("names like options") << QStringList{"-style", "--", "-x.iso"}
                                            << QStringList{"-style", "--", "-x.iso"} << QStringList{};
    }

    void commandLineOpensEveryFileInOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, opened);
        QFETCH(QStringList, messages);
        QStringList paths;
        for (QString name : names) {
            if (name.startsWith(QLatin1Char('?')))
                paths.append(m_sandbox->workDir() + QLatin1Char('/') + name.mid(1));
            else if (name.startsWith(QLatin1Char('!')))
                paths.append(m_sandbox->write(name.mid(1), "no records here"));
            else
                paths.append(threeRecords(name));
        }
        showWith(paths);
        QTRY_COMPARE(m_prompt->texts(), messages);
        QTRY_COMPARE(windows().size(), opened.size());
        for (qsizetype i = 0; i < opened.size(); ++i) {
            const QString path = m_sandbox->workDir() + QLatin1Char('/') + opened[i];
            QCOMPARE(windows()[i]->windowTitle(), QStringLiteral("%1 纪录号：1").arg(path));
        }
        QCOMPARE(m_main->mdiArea()->activeSubWindow(), windows().last());
        QCOMPARE(m_sandbox->indexFiles().size(), opened.size());
    }

    void executableTreatsEveryArgumentAsAFile()
    {
        // Arguments the toolkit would take as its own options name record files here.
        m_sandbox->write("-platform", viewertest::numberedFile(1));
        m_sandbox->write("-reverse", viewertest::numberedFile(1));
        QProcess viewer;
        viewer.setWorkingDirectory(m_sandbox->workDir());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("TMP", m_sandbox->tmpDir());
        viewer.setProcessEnvironment(environment);
        viewer.start(QStringLiteral(VELTRANE_VIEWER_PATH), {"-platform", "-reverse"});
        QVERIFY(viewer.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(m_sandbox->indexFiles().size(), 2, 10000);
        QCOMPARE(viewer.state(), QProcess::Running);
        viewer.kill();
        viewer.waitForFinished();
    }

    void exitDeletesScratchAndIndexFiles()
    {
        showWith({threeRecords("a.mrc"), threeRecords("b.mrc"), threeRecords("c.mrc")});
        QTRY_COMPARE(windows().size(), 3);
        QVERIFY(m_sandbox->scratchFileExists());
        QCOMPARE(m_sandbox->indexFiles().size(), 3);
        m_main->mdiArea()->setActiveSubWindow(windows()[1]);

        CloseOrder closeOrder;
        QStringList bottomFirst;
        for (QMdiSubWindow* window : m_main->mdiArea()->subWindowList(QMdiArea::StackingOrder)) {
            closeOrder.watch(window);
            bottomFirst.append(window->windowTitle());
        }
        action("MExit")->trigger();
        QVERIFY(!m_main->isVisible());
        QVERIFY(!m_sandbox->scratchFileExists());
        QVERIFY(m_sandbox->indexFiles().isEmpty());
        QCOMPARE(closeOrder.order, bottomFirst);
        QTRY_VERIFY(windows().isEmpty());
        QCOMPARE(m_main->statusPanel(0)->text(), QString());
    }

    void exitKeepsARecordFileNamedLikeTheScratchFile()
    {
        const std::string records = viewertest::numberedFile(2);
        const QString ownFile = m_sandbox->write("tempdisp.mrc", records);
        showWith({ownFile});
        // The scratch file cannot be both the record file and the display text.
        QTRY_COMPARE(m_prompt->texts(), (QStringList{"Display File open error!", "Not marc format file!"}));
        m_main->close();
        QCOMPARE(testsupport::ReadFile(ownFile.toStdString()), records);
    }

    void tileRectsFollowThePlatformGrid_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QList<QRect>>("rects");
        const QRect area(0, 0, 600, 400);
        QTest::newRow("1 vertical") << 1 << int(Qt::Vertical) << QList<QRect>{area};
        QTest::newRow("2 vertical: side by side")
            << 2 << int(Qt::Vertical) << QList<QRect>{{0, 0, 300, 400}, {300, 0, 300, 400}};
        QTest::newRow("3 vertical: side by side")
            << 3 << int(Qt::Vertical) << QList<QRect>{{0, 0, 200, 400}, {200, 0, 200, 400}, {400, 0, 200, 400}};
        QTest::newRow("4 vertical: 2 x 2")
            << 4 << int(Qt::Vertical)
            << QList<QRect>{{0, 0, 300, 200}, {0, 200, 300, 200}, {300, 0, 300, 200}, {300, 200, 300, 200}};
        QTest::newRow("5 vertical: last column takes three")
            << 5 << int(Qt::Vertical)
            << QList<QRect>{{0, 0, 300, 200}, {0, 200, 300, 200},
                            {300, 0, 300, 133}, {300, 133, 300, 133}, {300, 266, 300, 134}};
        QTest::newRow("3 horizontal: stacked")
            << 3 << int(Qt::Horizontal) << QList<QRect>{{0, 0, 600, 133}, {0, 133, 600, 133}, {0, 266, 600, 134}};
        QTest::newRow("5 horizontal: last row takes three")
            << 5 << int(Qt::Horizontal)
            << QList<QRect>{{0, 0, 300, 200}, {300, 0, 300, 200},
                            {0, 200, 200, 200}, {200, 200, 200, 200}, {400, 200, 200, 200}};
        QTest::newRow("none") << 0 << int(Qt::Vertical) << QList<QRect>{};
    }

    void tileRectsFollowThePlatformGrid()
    {
        QFETCH(int, count);
        QFETCH(int, orientation);
        QFETCH(QList<QRect>, rects);
        QCOMPARE(TileRects(QRect(0, 0, 600, 400), count, Qt::Orientation(orientation)), rects);
        // An area that does not start at the origin moves the grid with it.
        QList<QRect> moved;
        for (const QRect& r : rects)
            moved.append(r.translated(10, 20));
        QCOMPARE(TileRects(QRect(10, 20, 600, 400), count, Qt::Orientation(orientation)), moved);
    }

    void tilingFillsTheAreaWithoutGaps_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("command");
        for (int n = 1; n <= 5; ++n) {
            QTest::addRow("%d horizontal", n) << n << QStringLiteral("N14");
            QTest::addRow("%d vertical", n) << n << QStringLiteral("N15");
        }
    }

    void tilingFillsTheAreaWithoutGaps()
    {
        QFETCH(int, count);
        QFETCH(QString, command);
        const QString path = threeRecords("three.mrc");
        showWith(QStringList(count, path));
        QTRY_COMPARE(windows().size(), count);
        windows().first()->showMaximized();
        action(command.toLatin1().constData())->trigger();

        const QRect area = m_main->mdiArea()->viewport()->rect();
        const QList<QMdiSubWindow*> tiled = windows();
        qint64 covered = 0;
        for (qsizetype i = 0; i < tiled.size(); ++i) {
            QVERIFY(!tiled[i]->isMaximized());
            const QRect place = tiled[i]->geometry();
            QVERIFY2(area.contains(place), qPrintable(QStringLiteral("window %1 leaves the area").arg(i)));
            covered += qint64(place.width()) * place.height();
            for (qsizetype j = 0; j < i; ++j)
                QVERIFY2(!overlaps(place, tiled[j]->geometry()), qPrintable(QStringLiteral("%1 overlaps %2").arg(i).arg(j)));
        }
        QCOMPARE(covered, qint64(area.width()) * area.height());
        // The active window takes the first place.
        QCOMPARE(m_main->mdiArea()->activeSubWindow()->geometry().topLeft(), area.topLeft());
    }

    void cascadeStaggersTheWindows()
    {
        const QString path = threeRecords("three.mrc");
        showWith({path, path, path});
        QTRY_COMPARE(windows().size(), 3);
        windows()[1]->showMaximized();
        action("N13")->trigger();
        QList<QMdiSubWindow*> cascaded = windows();
        std::sort(cascaded.begin(), cascaded.end(), [](QMdiSubWindow* a, QMdiSubWindow* b) { return a->x() < b->x(); });
        for (qsizetype i = 0; i < cascaded.size(); ++i) {
            QVERIFY(!cascaded[i]->isMaximized());
            if (i > 0) {
                QVERIFY(cascaded[i]->x() > cascaded[i - 1]->x());
                QVERIFY(cascaded[i]->y() > cascaded[i - 1]->y());
            }
        }
    }

    void windowMenuListsAndActivatesDocuments()
    {
        const QString a = threeRecords("a.mrc");
        const QString b = threeRecords("b.mrc");
        showWith({a, b});
        QTRY_COMPARE(windows().size(), 2);
        auto* menu = m_main->findChild<QMenu*>(QStringLiteral("Windows"));
        for (int shown = 0; shown < 2; ++shown)  // rebuilt each time, never doubled
            emit menu->aboutToShow();
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 6);
        QVERIFY(items[3]->isSeparator());
        QCOMPARE(items[4]->text(), QStringLiteral("&1 %1 纪录号：1").arg(a));
        QCOMPARE(items[5]->text(), QStringLiteral("&2 %1 纪录号：1").arg(b));
        QVERIFY(!items[4]->isChecked());
        QVERIFY(items[5]->isChecked());

        items[4]->trigger();
        QCOMPARE(m_main->mdiArea()->activeSubWindow(), windows().first());
        QCOMPARE(m_main->statusPanel(0)->text(), QStringLiteral("文件名：%1").arg(a));

        action("MClose")->trigger();
        action("MClose")->trigger();
        QTRY_VERIFY(windows().isEmpty());
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 3);
    }

    void openDialogOpensTheChosenFile()
    {
        threeRecords("picked.mrc");
        showWith({});
        const QString startDirectory = QDir::currentPath();
        QString title;
        QStringList filters;
        QString suffix;
        viewertest::ModalAnswer answer([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr) {
                if (modal != nullptr)
                    modal->close();
                return;
            }
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            suffix = dialog->defaultSuffix();
            dialog->setDirectory(m_sandbox->tmpDir());
            typeFileName(dialog, m_sandbox->workDir() + QStringLiteral("/picked"));  // without extension
        });
        action("MOpen")->trigger();
        QCOMPARE(title, QStringLiteral("打开MARC文件"));
        QCOMPARE(filters, (QStringList{"MARC文件(*.mrc)", "ISO文件(*.iso)"}));
        QCOMPARE(suffix, QStringLiteral("mrc"));
        QCOMPARE(windows().size(), 1);
        QCOMPARE(qobject_cast<TFormMarc*>(windows().first())->TitleName, m_sandbox->workDir() + "/picked.mrc");
        QCOMPARE(QDir::currentPath(), startDirectory);
    }

    void openDialogAcceptsAMissingName()
    {
        showWith({});
        viewertest::ModalAnswer answer([&](QWidget* modal) {
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                typeFileName(dialog, m_sandbox->workDir() + QStringLiteral("/nothing.mrc"));
            } else if (modal != nullptr) {
                modal->close();
            }
        });
        action("MOpen")->trigger();
        QCOMPARE(m_prompt->texts(), (QStringList{"Invalid drive or directory", "Not marc format file!"}));
    }

    void aboutShowsTheSameDialogEachTime()
    {
        TAboutBox about;
        AboutBox = &about;
        showWith({});
        QList<QWidget*> shown;
        for (int i = 0; i < 2; ++i) {
            viewertest::ModalAnswer answer([&](QWidget* modal) {
                shown.append(modal);
                if (modal != nullptr)
                    modal->close();
            });
            action("MHelp")->trigger();
        }
        AboutBox = nullptr;
        QCOMPARE(shown, (QList<QWidget*>{&about, &about}));
    }

    void delimiterCommandRedisplaysEveryDocument()
    {
        const QString path = threeRecords("three.mrc");
        showWith({path, path, path});
        QTRY_COMPARE(windows().size(), 3);
        for (QMdiSubWindow* window : windows())
            qobject_cast<TFormMarc*>(window)->MemoMarc->setPlainText(QStringLiteral("stale"));
        // Whatever the answer (here the dialog is cancelled), each window shows its record again.
        viewertest::ModalAnswer answer([](QWidget* modal) {
            if (modal != nullptr)
                modal->close();
        });
        action("MDeli")->trigger();
        for (QMdiSubWindow* window : windows())
            QVERIFY(qobject_cast<TFormMarc*>(window)->MemoMarc->toPlainText().startsWith(QStringLiteral("001rec1")));
        QCOMPARE(veltrane::DelimiterMode, int(veltrane::dmNormal));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
