// Files dropped on the main window open as document windows, in the order of
// the drop, as the Open command opens them.

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

#include "FileDrop.h"
#include "Main.h"
#include "Marc.h"
#include "ViewerHarness.h"

using viewertest::FakePrompt;
using viewertest::Sandbox;

namespace {

QString recordFile(const Sandbox& sandbox, const QString& name, const std::string& title)
{
    return sandbox.write(name, testsupport::MakeRecord({{"001", "id-" + title}, {"200", "1 \x1f" "a" + title}}));
}

std::unique_ptr<QMimeData> urlData(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

// The files of the document windows, in the order they were opened.
QStringList openedPaths(const TFormMain& mainForm)
{
    QStringList paths;
    for (QMdiSubWindow* window : mainForm.mdiArea()->subWindowList(QMdiArea::CreationOrder)) {
        if (auto* document = qobject_cast<TFormMarc*>(window))
            paths << document->TitleName;
    }
    return paths;
}

struct DropOutcome {
    bool entered;  ///< the drag was accepted on entering
    bool dropped;  ///< the drop was accepted
};

// Drags data over target and lets go, as a file manager does.
DropOutcome dragAndDrop(QWidget* target, const QMimeData& data)
{
    const QPoint position(10, 10);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(position, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(position), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), drop.isAccepted()};
}

}  // namespace

class FileDropTest : public QObject {
    Q_OBJECT
private slots:
    void droppedFilePaths_data();
    void droppedFilePaths();
    void twoDroppedFilesOpenInOrder();
    void dropOnAnOpenDocumentOpensAnotherWindow();
    void fileThatIsNoRecordFileIsReportedAndTheRestOpen();
    void dragWithoutLocalFileIsRefused_data();
    void dragWithoutLocalFileIsRefused();
};

void FileDropTest::droppedFilePaths_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("two files keep their order")
        << QList<QUrl>{QUrl::fromLocalFile("/data/b.mrc"), QUrl::fromLocalFile("/data/a.iso")}
        << QStringList{"/data/b.mrc", "/data/a.iso"};
    QTest::newRow("remote URLs are left out")
        << QList<QUrl>{QUrl("https://example.org/c.mrc"), QUrl::fromLocalFile("/data/c.mrc"), QUrl("ftp://host/d.mrc")}
        << QStringList{"/data/c.mrc"};
    QTest::newRow("escaped spaces and Chinese names are decoded")
        << QList<QUrl>{QUrl("file:///data/%E7%BC%96%E7%9B%AE%20%E8%AE%B0%E5%BD%95.mrc")}
        << QStringList{QStringLiteral("/data/编目 记录.mrc")};
    QTest::newRow("the same file twice opens twice")
        << QList<QUrl>{QUrl::fromLocalFile("/data/a.mrc"), QUrl::fromLocalFile("/data/a.mrc")}
        << QStringList{"/data/a.mrc", "/data/a.mrc"};
    QTest::newRow("no URL") << QList<QUrl>{} << QStringList{};
}

void FileDropTest::droppedFilePaths()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QStringList, expected);
    QMimeData data;
    data.setUrls(urls);
    QCOMPARE(DroppedFilePaths(&data), expected);
}

void FileDropTest::twoDroppedFilesOpenInOrder()
{
    FakePrompt prompt;
    Sandbox sandbox;
    // Named against the alphabet, so that a sorted open would show.
    const QString first = recordFile(sandbox, "zeta.mrc", "Zeta");
    const QString second = recordFile(sandbox, "alpha.iso", "Alpha");
    TFormMain mainForm;
    mainForm.show();

    const DropOutcome outcome = dragAndDrop(&mainForm, *urlData({first, second}));
    QVERIFY(outcome.entered);
    QVERIFY(outcome.dropped);

    QTRY_COMPARE(openedPaths(mainForm).size(), 2);
    QCOMPARE(openedPaths(mainForm), (QStringList{first, second}));
    // Each shows its own file's first record, as after the Open command.
    const QList<QMdiSubWindow*> windows = mainForm.mdiArea()->subWindowList(QMdiArea::CreationOrder);
    const QStringList titles{"Zeta", "Alpha"};
    for (qsizetype i = 0; i < windows.size(); ++i) {
        auto* document = qobject_cast<TFormMarc*>(windows[i]);
        QCOMPARE(document->CurrentRecord, 1);
        QVERIFY(document->MemoMarc->toPlainText().contains(titles[i]));
    }
    QVERIFY2(prompt.shown.isEmpty(), qPrintable(prompt.texts().join('|')));
}

void FileDropTest::dropOnAnOpenDocumentOpensAnotherWindow()
{
    FakePrompt prompt;
    Sandbox sandbox;
    const QString path = recordFile(sandbox, "one.mrc", "One");
    const QString other = recordFile(sandbox, "two.mrc", "Two");
    TFormMain mainForm;
    mainForm.show();
    (void)OpenMarcFile(&mainForm, path);
    QCOMPARE(openedPaths(mainForm).size(), 1);

    // The drop lands on the record text, which takes no files itself.
    auto* document = qobject_cast<TFormMarc*>(mainForm.mdiArea()->subWindowList().first());
    const QString textBefore = document->MemoMarc->toPlainText();
    const DropOutcome outcome = dragAndDrop(document->MemoMarc->viewport(), *urlData({other}));
    QVERIFY(outcome.entered);
    QVERIFY(outcome.dropped);

    QTRY_COMPARE(openedPaths(mainForm).size(), 2);
    QCOMPARE(openedPaths(mainForm).last(), other);
    QCOMPARE(document->MemoMarc->toPlainText(), textBefore);
}

void FileDropTest::fileThatIsNoRecordFileIsReportedAndTheRestOpen()
{
    FakePrompt prompt;
    Sandbox sandbox;
    const QString good = recordFile(sandbox, "good.mrc", "Good");
    const QString notRecords = sandbox.write("notes.txt", "these are notes, not records\n");
    const QString alsoGood = recordFile(sandbox, "also.mrc", "Also");
    TFormMain mainForm;
    mainForm.show();

    QVERIFY(dragAndDrop(&mainForm, *urlData({good, notRecords, alsoGood})).dropped);

    QTRY_COMPARE(openedPaths(mainForm).size(), 2);
    QCOMPARE(openedPaths(mainForm), (QStringList{good, alsoGood}));
    QVERIFY2(prompt.texts().contains("Not marc format file!"), qPrintable(prompt.texts().join('|')));
}

void FileDropTest::dragWithoutLocalFileIsRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::newRow("plain text naming a file") << "/tmp/records.mrc" << QList<QUrl>{};
    QTest::newRow("web address") << "" << QList<QUrl>{QUrl("https://example.org/records.mrc")};
}

void FileDropTest::dragWithoutLocalFileIsRefused()
{
    QFETCH(QString, text);
    QFETCH(QList<QUrl>, urls);
    FakePrompt prompt;
    Sandbox sandbox;
    TFormMain mainForm;
    mainForm.show();

    QMimeData data;
    if (!text.isEmpty())
        data.setText(text);
    if (!urls.isEmpty())
        data.setUrls(urls);
    const DropOutcome outcome = dragAndDrop(&mainForm, data);
    QVERIFY(!outcome.entered);
    QVERIFY(!outcome.dropped);

    QCoreApplication::processEvents();
    QVERIFY(openedPaths(mainForm).isEmpty());
    QVERIFY(prompt.shown.isEmpty());
}

QTEST_MAIN(FileDropTest)
#include "FileDropTest.moc"
