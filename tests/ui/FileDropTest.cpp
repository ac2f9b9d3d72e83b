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

class FileDropTest : public QObject {
    Q_OBJECT

private:
    std::optional<viewertest::Viewer> m_v;

    QString recordFile(const QString& name, const std::string& title) const
    {
        return m_v->sandbox.write(name, testsupport::MakeRecord({{"001", "id-" + title}, {"200", "1 \x1f" "a" + title}}));
    }
    QList<TFormMarc*> documents() const
    {
        QList<TFormMarc*> result;
        for (QMdiSubWindow* window : m_v->main.mdiArea()->subWindowList(QMdiArea::CreationOrder))
            result << qobject_cast<TFormMarc*>(window);
        return result;
    }
    // Drags data over target and lets go, as a file manager does; whether the drag
    // was accepted on entering and whether the drop was.
    static std::pair<bool, bool> dragAndDrop(QWidget* target, const QMimeData& data)
    {
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        return {enter.isAccepted(), drop.isAccepted()};
    }
    static std::unique_ptr<QMimeData> urlData(const QStringList& paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data->setUrls(urls);
        return data;
    }

private slots:
    void init()
    {
        m_v.emplace();
        m_v->main.show();
    }
    void cleanup() { m_v.reset(); }

    void droppedFilePaths_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("remote URLs are left out")
            << QList<QUrl>{QUrl("https://example.org/c.mrc"), QUrl::fromLocalFile("/data/c.mrc"), QUrl("ftp://host/d.mrc")}
            << QStringList{"/data/c.mrc"};
        QTest::newRow("escaped spaces and Chinese names are decoded")
            << QList<QUrl>{QUrl("file:///data/%E7%BC%96%E7%9B%AE%20%E8%AE%B0%E5%BD%95.mrc")}
            << QStringList{QStringLiteral("/data/编目 记录.mrc")};
        QTest::newRow("the same file twice opens twice")
            << QList<QUrl>{QUrl::fromLocalFile("/data/a.mrc"), QUrl::fromLocalFile("/data/a.mrc")}
            << QStringList{"/data/a.mrc", "/data/a.mrc"};
    }

    void droppedFilePaths()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(QStringList, expected);
        QMimeData data;
        data.setUrls(urls);
        QCOMPARE(DroppedFilePaths(&data), expected);
    }

    void droppedFilesOpenInOrder_data()
    {
        QTest::addColumn<QStringList>("titles");  // "" marks a file of no records
        QTest::addColumn<QStringList>("messages");
        // Named against the alphabet, so that a sorted open would show.
        QTest::newRow("two files") << QStringList{"Zeta", "Alpha"} << QStringList{};
        QTest::newRow("a bad file among good ones") << QStringList{"Good", "", "Also"}
                                                    << QStringList{"Not marc format file!"};
    }

    void droppedFilesOpenInOrder()
    {
        QFETCH(QStringList, titles);
        QFETCH(QStringList, messages);
        QStringList dropped, expected;
        for (qsizetype i = 0; i < titles.size(); ++i) {
            const QString name = QStringLiteral("%1-%2.mrc").arg(titles.size() - i).arg(titles[i]);
            dropped << (titles[i].isEmpty() ? m_v->sandbox.write(name, "notes, not records\n")
                                            : recordFile(name, titles[i].toStdString()));
            if (!titles[i].isEmpty())
                expected << dropped.last();
        }
        QCOMPARE(dragAndDrop(&m_v->main, *urlData(dropped)), std::make_pair(true, true));
        QTRY_COMPARE(documents().size(), expected.size());
        QCOMPARE(m_v->prompt.texts(), messages);
        titles.removeAll(QString());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(documents()[i]->TitleName, expected[i]);
            QCOMPARE(documents()[i]->CurrentRecord, 1);
            QVERIFY(documents()[i]->MemoMarc->toPlainText().contains(titles[i]));
        }
    }

    void dropOnAnOpenDocumentOpensAnotherWindow()
    {
        (void)OpenMarcFile(&m_v->main, recordFile("one.mrc", "One"));
        const QString other = recordFile("two.mrc", "Two");
        // The drop lands on the record text, which takes no files itself.
        TFormMarc* document = documents().first();
        const QString textBefore = document->MemoMarc->toPlainText();
        QCOMPARE(dragAndDrop(document->MemoMarc->viewport(), *urlData({other})), std::make_pair(true, true));
        QTRY_COMPARE(documents().size(), 2);
        QCOMPARE(documents().last()->TitleName, other);
        QCOMPARE(document->MemoMarc->toPlainText(), textBefore);
    }

    void dragWithoutLocalFileIsRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::newRow("plain text naming a file") << "/tmp/records.mrc" << QList<QUrl>{};
        QTest::newRow("web address") << "" << QList<QUrl>{QUrl("https://example.org/records.mrc")};
    }

    void dragWithoutLocalFileIsRefused()
    {
        QFETCH(QString, text);
        QFETCH(QList<QUrl>, urls);
        QMimeData data;
        if (!text.isEmpty())
            data.setText(text);
        if (!urls.isEmpty())
            data.setUrls(urls);
        QCOMPARE(dragAndDrop(&m_v->main, data), std::make_pair(false, false));
        QCoreApplication::processEvents();
        QVERIFY(documents().isEmpty());
        QVERIFY(m_v->prompt.shown.isEmpty());
    }
};

QTEST_MAIN(FileDropTest)
#include "FileDropTest.moc"
