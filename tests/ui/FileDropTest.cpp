// Files dropped on the main window open as document windows, in the order of
// the drop, as the Open command opens them.

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

#include "Main.h"
#include "Marc.h"
#include "ViewerHarness.h"

class FileDropTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    // Drags data over the main window and lets go; whether the drag and the drop were accepted.
    std::pair<bool, bool> dragAndDrop(const QMimeData& data)
    {
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&m_v->main, &enter);
        QDropEvent drop(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&m_v->main, &drop);
        return {enter.isAccepted(), drop.isAccepted()};
    }

private slots:
    void init()
    {
        m_v.emplace();
        m_v->main.show();
    }
    void cleanup() { m_v.reset(); }

    void droppedFilesOpenInOrder()
    {
        // Named against the alphabet, so that a sorted open would show.
        QStringList dropped;
        for (const std::string title : {"Zeta", "Alpha"})
            dropped << m_v->sandbox.write(QString::fromStdString(title) + ".mrc",
                                          testsupport::MakeRecord({{"001", "id"}, {"200", "1 \x1f" "a" + title}}));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(dropped[0]), QUrl::fromLocalFile(dropped[1])});
        QCOMPARE(dragAndDrop(data), std::make_pair(true, true));
        const auto windows = [this] { return m_v->main.mdiArea()->subWindowList(QMdiArea::CreationOrder); };
        QTRY_COMPARE(windows().size(), 2);
        QVERIFY(m_v->prompt.shown.isEmpty());
        for (int i = 0; i < 2; ++i) {
            auto* document = qobject_cast<TFormMarc*>(windows()[i]);
            QCOMPARE(document->TitleName, dropped[i]);
            QVERIFY(document->MemoMarc->toPlainText().contains(i == 0 ? "Zeta" : "Alpha"));
        }
    }

    void dragWithoutLocalFileIsRefused()
    {
        QMimeData data;
        data.setText("/tmp/records.mrc");
        data.setUrls({QUrl("https://example.org/records.mrc")});
        QCOMPARE(dragAndDrop(data), std::make_pair(false, false));
        QCoreApplication::processEvents();
        QVERIFY(m_v->main.mdiArea()->subWindowList().isEmpty() && m_v->prompt.shown.isEmpty());
    }
};

QTEST_MAIN(FileDropTest)
#include "FileDropTest.moc"
