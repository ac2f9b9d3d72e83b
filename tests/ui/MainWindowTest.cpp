// SPDX-License-Identifier: Apache-2.0
#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <algorithm>

#include <unistd.h>

#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/WindowPlacement.h"
#include "ViewerHarness.h"

// Records the order in which watched windows receive their close event.
struct CloseOrder : QObject {
    QStringList order;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            order.append(static_cast<QWidget*>(watched)->windowTitle());
        return false;
    }
};

class MainWindowTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    QAction* action(const QString& name) const { return m_v->main.findChild<QAction*>(name); }
    QList<QMdiSubWindow*> windows() const { return m_v->main.mdiArea()->subWindowList(QMdiArea::CreationOrder); }
    QString threeRecords(const QString& name) const { return m_v->sandbox.write(name, viewertest::numberedFile(3)); }
    void showWith(const QStringList& commandLine)
    {
        m_v->main.setCommandLine(commandLine);
        m_v->main.show();
        QVERIFY(QTest::qWaitForWindowActive(&m_v->main));
    }

private slots:
    void init() { m_v.emplace(); }
    void cleanup() { m_v.reset(); }

    void startUpWithoutFilesIgnoresRecordCommands()
    {
        showWith({});
        viewertest::ModalAnswer answer([](QWidget* modal) { modal->close(); });
        for (const char* name : {"MPrev", "MNext", "NGoto", "MFind", "MFindNext", "MTotal", "MGet", "MClose", "N13", "N14", "N15"})
            action(name)->trigger();
        for (const char* keys : {"F7", "F8", "F3", "Ctrl+F"})
            QTest::keySequence(&m_v->main, QKeySequence(QString::fromLatin1(keys)));
        QVERIFY(!answer.answered() && m_v->prompt.texts().isEmpty() && windows().isEmpty());
        QCOMPARE(m_v->main.statusPanel(0)->text() + m_v->main.statusPanel(1)->text(), QString());
    }

    // Files that cannot be shown do not stop the files after them; names like options are files too.
    void commandLineOpensEveryFileInOrder()
    {
        const QStringList opened{"-style", "--", "-x.iso"};
        QStringList paths{m_v->sandbox.workDir() + "/missing.mrc", m_v->sandbox.write("bad.mrc", "no records here")};
        for (const QString& name : opened)
            paths.append(threeRecords(name));
        showWith(paths);
        QTRY_COMPARE(m_v->prompt.texts(), (QStringList{"Invalid drive or directory", "Not marc format file!", "Not marc format file!"}));
        QTRY_COMPARE(windows().size(), opened.size());
        for (qsizetype i = 0; i < opened.size(); ++i)
            QCOMPARE(windows()[i]->windowTitle(), QStringLiteral("%1/%2 纪录号：1").arg(m_v->sandbox.workDir(), opened[i]));
        QCOMPARE(m_v->main.mdiArea()->activeSubWindow(), windows().last());
        QCOMPARE(m_v->sandbox.indexFiles().size(), opened.size());
    }

    void exitDeletesScratchAndIndexFilesBottomWindowFirst()
    {
        showWith({threeRecords("a.mrc"), threeRecords("b.mrc"), threeRecords("c.mrc")});
        QTRY_COMPARE(windows().size(), 3);
        const QString scratch = m_v->sandbox.workDir() + QStringLiteral("/tempdisp.mrc");
        QVERIFY(QFileInfo::exists(scratch));
        QCOMPARE(m_v->sandbox.indexFiles().size(), 3);
        CloseOrder closeOrder;
        QStringList bottomFirst;
        for (QMdiSubWindow* window : m_v->main.mdiArea()->subWindowList(QMdiArea::StackingOrder)) {
            window->installEventFilter(&closeOrder);
            bottomFirst.append(window->windowTitle());
        }
        action("MExit")->trigger();
        QVERIFY(!m_v->main.isVisible());
        QVERIFY(!QFileInfo::exists(scratch));
        QVERIFY(m_v->sandbox.indexFiles().isEmpty());
        QCOMPARE(closeOrder.order, bottomFirst);
        QTRY_VERIFY(windows().isEmpty());
        QCOMPARE(m_v->main.statusPanel(0)->text(), QString());
    }

    void exitKeepsARecordFileNamedLikeTheScratchFile()
    {
        // An earlier window's scratch file, kept alive by a second link, comes
        // back under the scratch name as the user's record file: same device
        // and inode as the file that window wrote, but no longer ours.
        const QString ownFile = m_v->sandbox.workDir() + QStringLiteral("/tempdisp.mrc");
        const QString kept = m_v->sandbox.workDir() + QStringLiteral("/kept.mrc");
        {
            TFormMain earlier;
            earlier.setCommandLine({threeRecords("a.mrc")});
            earlier.show();
            QTRY_VERIFY(QFileInfo::exists(ownFile));
            QCOMPARE(::link(ownFile.toLocal8Bit().constData(), kept.toLocal8Bit().constData()), 0);
            earlier.close();
            QVERIFY(!QFileInfo::exists(ownFile));
        }
        const std::string records = viewertest::numberedFile(2);
        m_v->sandbox.write("kept.mrc", records);
        QCOMPARE(::rename(kept.toLocal8Bit().constData(), ownFile.toLocal8Bit().constData()), 0);
        showWith({ownFile});
        QTRY_COMPARE(m_v->prompt.texts(), (QStringList{"Display File open error!", "Not marc format file!"}));
        m_v->main.close();
        QCOMPARE(testsupport::ReadFile(ownFile.toStdString()), records);
    }

    void tileRectsFollowThePlatformGrid_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QList<QRect>>("rects");
        using R = QList<QRect>;
        const int v = Qt::Vertical, h = Qt::Horizontal;
        QTest::newRow("5 vertical: last column takes three") << 5 << v
            << R{{0, 0, 300, 200}, {0, 200, 300, 200}, {300, 0, 300, 133}, {300, 133, 300, 133}, {300, 266, 300, 134}};
        QTest::newRow("5 horizontal: last row takes three") << 5 << h
            << R{{0, 0, 300, 200}, {300, 0, 300, 200}, {0, 200, 200, 200}, {200, 200, 200, 200}, {400, 200, 200, 200}};
        QTest::newRow("none") << 0 << v << R{};
    }

    void tileRectsFollowThePlatformGrid()
    {
        QFETCH(int, count);
        QFETCH(int, orientation);
        QFETCH(QList<QRect>, rects);
        QCOMPARE(TileRects(QRect(0, 0, 600, 400), count, Qt::Orientation(orientation)), rects);
    }

    void arrangeWindows_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("count");
        QTest::newRow("cascade") << "N13" << 3;
        for (int n = 1; n <= 5; n += 2) {
            QTest::addRow("%d horizontal", n) << "N14" << n;
            QTest::addRow("%d vertical", n) << "N15" << n;
        }
    }

    // A maximised window is restored first. Tiles fill the area without gaps or
    // overlap, the active one top left; cascaded windows step down and right.
    void arrangeWindows()
    {
        QFETCH(QString, command);
        QFETCH(int, count);
        showWith(QStringList(count, threeRecords("three.mrc")));
        QTRY_COMPARE(windows().size(), count);
        windows().first()->showMaximized();
        action(command)->trigger();
        const QRect area = m_v->main.mdiArea()->viewport()->rect();
        QList<QMdiSubWindow*> placed = windows();
        std::sort(placed.begin(), placed.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
        qint64 covered = 0;
        for (qsizetype i = 0; i < placed.size(); ++i) {
            const QRect place = placed[i]->geometry();
            QVERIFY(!placed[i]->isMaximized());
            if (command == "N13") {
                QVERIFY(i == 0 || (place.x() > placed[i - 1]->x() && place.y() > placed[i - 1]->y()));
                continue;
            }
            QVERIFY2(area.contains(place), qPrintable(QStringLiteral("window %1 leaves the area").arg(i)));
            covered += qint64(place.width()) * place.height();
            for (qsizetype j = 0; j < i; ++j)
                QVERIFY2(!place.intersects(placed[j]->geometry()), qPrintable(QStringLiteral("%1 overlaps %2").arg(i).arg(j)));
        }
        if (command != "N13") {
            QCOMPARE(covered, qint64(area.width()) * area.height());
            QCOMPARE(m_v->main.mdiArea()->activeSubWindow()->geometry().topLeft(), area.topLeft());
        }
    }

    // Each new window opens a step below and right of the one before, wide enough
    // for a whole line at the default size, and never reaches past the area:
    // when the next step would, it starts again at the top left.
    void newWindowsStayInsideTheArea()
    {
        const std::string wide = testsupport::MakeRecord({{"001", "wide"}, {"300", "  \x1f" "a" + std::string(70, 'x')}});  // 77 columns
        const QString path = m_v->sandbox.write("wide.mrc", wide);
        QVERIFY(m_v->show());
        const QRect area = m_v->main.mdiArea()->viewport()->rect();
        int restarts = 0;
        QList<TFormMarc*> opened;
        for (int i = 0; i < 12; ++i) {
            TFormMarc* window = m_v->main.openDocument(path);
            QVERIFY(window != nullptr && window->isOpen());
            const QRect place = window->geometry();
            QVERIFY2(area.contains(place), qPrintable(QStringLiteral("window %1 at %2,%3 %4x%5 leaves the area")
                                                          .arg(i).arg(place.x()).arg(place.y()).arg(place.width()).arg(place.height())));
            if (i == 0 || place.topLeft() == area.topLeft()) {
                QCOMPARE(place.topLeft(), area.topLeft());
                restarts += i > 0;
            } else {
                QVERIFY(place.x() > opened.last()->x() && place.y() > opened.last()->y());
            }
            opened.append(window);
        }
        QVERIFY(restarts > 0);
        // The longest line shows whole: nothing to scroll sideways.
        QTRY_COMPARE(opened.first()->MemoMarc->horizontalScrollBar()->maximum(), 0);
    }

    void cascadedPlaceStartsAgainWhenTheAreaEnds_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QPoint>("previous");  // (-1,-1): the first window
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("place");
        const QRect area(0, 0, 800, 500);
        QTest::newRow("first") << area << QPoint(-1, -1) << QSize(600, 375) << QPoint(0, 0);
        QTest::newRow("one step") << area << QPoint(0, 0) << QSize(600, 375) << QPoint(25, 25);
        QTest::newRow("last step that fits") << area << QPoint(175, 100) << QSize(600, 375) << QPoint(200, 125);
        QTest::newRow("too far down") << area << QPoint(100, 101) << QSize(600, 375) << QPoint(0, 0);
        QTest::newRow("too far right") << area << QPoint(176, 0) << QSize(600, 375) << QPoint(0, 0);
        QTest::newRow("as large as the area") << area << QPoint(0, 0) << QSize(800, 500) << QPoint(0, 0);
    }

    void cascadedPlaceStartsAgainWhenTheAreaEnds()
    {
        QFETCH(QRect, area);
        QFETCH(QPoint, previous);
        QFETCH(QSize, size);
        QFETCH(QPoint, place);
        const std::optional<QPoint> before = previous == QPoint(-1, -1) ? std::nullopt : std::optional<QPoint>(previous);
        QCOMPARE(CascadedPlace(area, before, size, 25), place);
    }

    void newWindowSizeFitsALineWhereTheAreaAllows()
    {
        QCOMPARE(NewWindowSize(QSize(800, 400), QSize(660, 40)), QSize(660, 300));
        QCOMPARE(NewWindowSize(QSize(1600, 800), QSize(660, 40)), QSize(1200, 600));
        QCOMPARE(NewWindowSize(QSize(500, 400), QSize(660, 40)), QSize(500, 300));
        QCOMPARE(NewWindowSize(QSize(100, 100), QSize(660, 40)), QSize(200, 150));
    }

    void openDialogKeepsTheCurrentDirectory()
    {
        threeRecords("picked.mrc");
        showWith({});
        const QString startDirectory = QDir::currentPath();
        viewertest::ModalAnswer answer(viewertest::answerAs<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setDirectory(m_v->sandbox.tmpDir());  // the dialog must not move the current directory there
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(m_v->sandbox.workDir() + "/picked");
            static_cast<QDialog*>(dialog)->accept();
        }));
        action("MOpen")->trigger();
        QCOMPARE(QDir::currentPath(), startDirectory);
        QCOMPARE(windows().size(), 1);
        QCOMPARE(qobject_cast<TFormMarc*>(windows().first())->TitleName, m_v->sandbox.workDir() + "/picked.mrc");
    }

    // Only local files are taken; they open in the order of the drop.
    void droppedFilesOpenInOrder()
    {
        // Drags data over the main window and lets go; whether the drag and the drop were accepted.
        const auto dragAndDrop = [this](const QMimeData& data) {
            const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
            QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&m_v->main, &enter);
            QDropEvent drop(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&m_v->main, &drop);
            return std::make_pair(enter.isAccepted(), drop.isAccepted());
        };
        showWith({});
        QMimeData remote;
        remote.setText("records.mrc");
        remote.setUrls({QUrl("https://example.org/records.mrc")});
        QCOMPARE(dragAndDrop(remote), std::make_pair(false, false));
        // Named against the alphabet, so that a sorted open would show.
        const QStringList dropped{threeRecords("Zeta.mrc"), threeRecords("Alpha.mrc")};
        QMimeData local;
        local.setUrls({QUrl::fromLocalFile(dropped[0]), QUrl::fromLocalFile(dropped[1])});
        QCOMPARE(dragAndDrop(local), std::make_pair(true, true));
        QTRY_COMPARE(windows().size(), 2);
        QVERIFY(m_v->prompt.texts().isEmpty());
        for (int i = 0; i < 2; ++i)
            QCOMPARE(qobject_cast<TFormMarc*>(windows()[i])->TitleName, dropped[i]);
    }

    void messageBoxesLookAsTheSystemsOwn_data()
    {
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("seen");  // title, text, icon, buttons
        QTest::newRow("plain") << false << "  第一条记录!  "
                               << QStringList{"Veltrane", "  第一条记录!  ", QString::number(QMessageBox::NoIcon), "OK"};
        QTest::newRow("error gains a full stop") << true << "Cannot open file x"
            << QStringList{"Veltrane", "Cannot open file x.", QString::number(QMessageBox::Critical), "OK"};
    }

    void messageBoxesLookAsTheSystemsOwn()
    {
        QFETCH(bool, error);
        QFETCH(QString, text);
        QFETCH(QStringList, seen);
        SetPrompt(nullptr);  // the real boxes
        m_v->main.setGeometry(10, 10, 200, 150);  // the box centres on the screen, not on the window
        showWith({});
        QStringList shown;
        QPoint centre;
        viewertest::ModalAnswer answer(viewertest::answerAs<QMessageBox>([&](QMessageBox* box) {
            shown = QStringList{box->windowTitle(), box->text(), QString::number(box->icon())};
            for (QAbstractButton* button : box->buttons())
                shown.append(button->text().remove(QLatin1Char('&')));
            centre = box->frameGeometry().center();
            box->buttons().first()->click();
        }));
        error ? Prompt().showError(text) : Prompt().showMessage(text.toStdString());
        QCOMPARE(shown, seen);
        const QPoint screenCentre = m_v->main.screen()->availableGeometry().center();
        QVERIFY2((centre - screenCentre).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("box centre %1,%2").arg(centre.x()).arg(centre.y())));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
