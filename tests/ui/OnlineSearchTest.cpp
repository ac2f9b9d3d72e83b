// SPDX-License-Identifier: Apache-2.0
// 联机检索 against local servers the test starts itself: yaz-ztest (Debian
// yaz) and the GBK CNMARC fixture server, on free loopback ports.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "ViewerHarness.h"
#include "dialogs/Export.h"
#include "net/ServerSettings.h"
#include "state/Settings.h"
#include "windows/Marc.h"
#include "windows/OnlineResultsModel.h"
#include "windows/OnlineSearchWindow.h"

using namespace viewertest;
using veltrane::QueryKind;

namespace {

/// A loopback port nothing listens on at the moment.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string readAll(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Record n (1-based) of an ISO 2709 file, by the lengths its leaders declare.
std::string recordOf(const std::string& file, int n)
{
    std::size_t at = 0;
    for (int k = 1; at + 5 <= file.size(); ++k) {
        const std::size_t length = std::stoul(file.substr(at, 5));
        if (k == n)
            return file.substr(at, length);
        at += length;
    }
    return {};
}

veltrane::ServerDescription z3950(const std::string& name, int port, const std::string& database = "Default")
{
    veltrane::ServerDescription server;
    server.name = name;
    server.address = "127.0.0.1:" + std::to_string(port) + "/" + database;
    return server;
}

}  // namespace

class OnlineSearchTest : public QObject {
    Q_OBJECT

    /// 文件 → 联机检索 of a main window: its window.
    static OnlineSearchWindow* showWindow(TFormMain& main)
    {
        main.MOnlineSearchClick();
        OnlineSearchWindow* shown = nullptr;
        for (OnlineSearchWindow* window : main.mdiArea()->findChildren<OnlineSearchWindow*>())
            if (!window->isHidden())
                shown = window;
        return shown;
    }

    QProcess m_ztest, m_gbk;
    int m_ztestPort = 0, m_gbkPort = 0;
    std::string m_fixture;

    /// The window of a main window, with these servers in the settings file
    /// (all checked) and a title typed.
    OnlineSearchWindow* openWindow(TFormMain& main, const std::vector<veltrane::ServerDescription>& servers,
                                   const QString& title)
    {
        for (const veltrane::ServerDescription& server : servers)
            settings::storeLibraryServer({}, server);
        OnlineSearchWindow* window = showWindow(main);
        for (int i = 0; i < window->serverList()->count(); ++i)
            window->serverList()->item(i)->setCheckState(Qt::Checked);
        window->queryLine(QueryKind::Title)->setText(title);
        return window;
    }
    veltrane::ServerDescription gbkServer() const
    {
        veltrane::ServerDescription server = z3950("国图测试", m_gbkPort);
        server.syntax = veltrane::RecordSyntax::Unimarc;
        server.termCharset = veltrane::Charset::Gbk;
        return server;
    }
    /// Searches and waits for the end; the rows of records of the server at `server`.
    static QList<int> searchAndWait(OnlineSearchWindow* window, int server)
    {
        window->search();
        if (!QTest::qWaitFor([window] { return window->work() == nullptr; }, 10000))
            return {};
        QList<int> rows;
        OnlineResultsModel* results = window->results();
        for (int row = results->serverCount(); row < results->rowCount(); ++row)
            if (results->index(row, OnlineResultsModel::Server).data().toString() ==
                results->index(server, OnlineResultsModel::Server).data().toString())
                rows.append(row);
        return rows;
    }
    static void selectRow(OnlineSearchWindow* window, int row)
    {
        window->resultView()->selectionModel()->setCurrentIndex(
            window->results()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("yaz-ztest")).isEmpty())
            QSKIP("yaz-ztest is not installed (Debian package yaz)");
        m_fixture = readAll(QStringLiteral(VELTRANE_SOURCE_DIR "/samples/sample.mrc"));
        // The servers end with the test, even one that crashes.
        for (QProcess* server : {&m_ztest, &m_gbk})
            server->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_ztestPort = freePort();
        m_gbkPort = freePort();
        m_ztest.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_ztest.start(QStringLiteral("yaz-ztest"), {QStringLiteral("-l"), QStringLiteral("/dev/null"),
                                                    QStringLiteral("tcp:127.0.0.1:%1").arg(m_ztestPort)});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELTRANE_FIXTURE_RECORDS"),
                           QStringLiteral(VELTRANE_SOURCE_DIR "/samples/sample.mrc"));
        m_gbk.setProcessEnvironment(environment);
        m_gbk.start(QStringLiteral(VELTRANE_GBK_SERVER_PATH),
                    {QStringLiteral("-l"), QStringLiteral("/dev/null"), QStringLiteral("tcp:127.0.0.1:%1").arg(m_gbkPort)});
        QVERIFY(QTest::qWaitFor([this] { return accepts(m_ztestPort) && accepts(m_gbkPort); }, 10000));
        // Every search goes to the background at once, as a slow one does.
        BackgroundWork::graceMilliseconds = 0;
    }
    void cleanupTestCase()
    {
        for (QProcess* server : {&m_ztest, &m_gbk}) {
            server->kill();
            server->waitForFinished(3000);
        }
    }

    // The servers kept from the window are what the command-line tool reads.
    void serversAreKeptWhereTheToolReadsThem()
    {
        Sandbox sandbox;
        veltrane::ServerDescription server = gbkServer();
        server.user = "cataloguer";
        server.password = "p=w \"x\"";
        settings::storeLibraryServer({}, server);
        settings::storeLibraryServer({}, z3950("yaz", m_ztestPort));
        veltrane::ServerDescription sru = z3950("sru", m_ztestPort);
        sru.address = "http://127.0.0.1:" + std::to_string(m_ztestPort) + "/Default";
        settings::storeLibraryServer({}, sru);
        // Renamed: the keys the window does not edit go along.
        QSettings(settings::filePath(), QSettings::IniFormat).setValue(QStringLiteral("Servers/sru/schema"), "dc");
        sru.name = "sru2";
        settings::storeLibraryServer(QStringLiteral("sru"), sru);
        settings::removeLibraryServer(QStringLiteral("yaz"));

        const veltrane::NamedServers read = veltrane::ReadNamedServersFile(settings::filePath().toStdString());
        QVERIFY(read.problems.empty());
        QCOMPARE(read.servers.size(), std::size_t(2));
        QVERIFY(read.find("国图测试") != nullptr && read.find("sru2") != nullptr);
        const veltrane::ServerDescription& gbk = read.find("国图测试")->server;
        QCOMPARE(QString::fromStdString(gbk.name), QStringLiteral("国图测试"));
        QCOMPARE(gbk.address, server.address);
        QCOMPARE(gbk.syntax, veltrane::RecordSyntax::Unimarc);
        QCOMPARE(gbk.termCharset, veltrane::Charset::Gbk);
        QCOMPARE(gbk.user, server.user);
        QCOMPARE(gbk.password, server.password);
        const veltrane::ServerDescription& renamed = read.find("sru2")->server;
        QCOMPARE(renamed.name, std::string("sru2"));
        QCOMPARE(renamed.protocol, veltrane::ServerProtocol::Sru);
        QCOMPARE(renamed.recordSchema, std::string("dc"));
        QVERIFY(QFile::permissions(settings::filePath()) ==
                (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser));

        TFormMain main;
        OnlineSearchWindow* window = showWindow(main);
        QCOMPARE(window->serverList()->count(), 2);
        QCOMPARE(showWindow(main), window);  // a second use raises the same window
    }

    // Every server has its status row; the GBK server's record arrives with
    // the record list's cells, is shown as a document window shows it, and
    // keeps the server's bytes. A closed port shows its error row.
    void searchFillsTheListWithAStatusRowPerServer()
    {
        Sandbox sandbox;
        FakePrompt prompt;
        TFormMain main;
        OnlineSearchWindow* window =
            openWindow(main, {z3950("closed", freePort()), z3950("yaz", m_ztestPort), gbkServer()}, {});
        // yaz-ztest gives as many hits as a number asks for.
        window->queryLine(QueryKind::Any)->setText(QStringLiteral("5"));
        const QList<int> yazRows = searchAndWait(window, 1);
        OnlineResultsModel* results = window->results();
        QCOMPARE(results->serverCount(), 3);
        QCOMPARE(results->index(0, OnlineResultsModel::Server).data().toString(), QStringLiteral("closed"));
        QVERIFY2(results->statusText(0).startsWith(QStringLiteral("出错：")), qPrintable(results->statusText(0)));
        QVERIFY2(results->statusText(0).contains(QStringLiteral("Connect failed")), qPrintable(results->statusText(0)));
        QCOMPARE(results->statusText(1), QStringLiteral("命中 5 条，已取 5 条"));
        QCOMPARE(yazRows.size(), 5);
        QVERIFY(!results->index(yazRows.front(), OnlineResultsModel::Title).data().toString().isEmpty());
        QVERIFY2(results->statusText(2).startsWith(QStringLiteral("命中")), qPrintable(results->statusText(2)));

        // Both lines filled in: a record must hold both.
        window->queryLine(QueryKind::Title)->setText(QStringLiteral("红楼梦"));
        window->queryLine(QueryKind::Any)->setText(QStringLiteral("曹雪芹"));
        const QList<int> gbkRows = searchAndWait(window, 2);
        QCOMPARE(results->statusText(2), QStringLiteral("命中 1 条，已取 1 条"));
        QCOMPARE(gbkRows.size(), 1);
        const int row = gbkRows.front();
        QCOMPARE(results->index(row, OnlineResultsModel::Title).data().toString(), QStringLiteral("红楼梦"));
        QCOMPARE(results->index(row, OnlineResultsModel::Author).data().toString(), QStringLiteral("曹雪芹著"));
        QCOMPARE(results->index(row, OnlineResultsModel::Server).data().toString(), QStringLiteral("国图测试"));
        QCOMPARE(*results->record(row), recordOf(m_fixture, 2));

        selectRow(window, row);
        QVERIFY2(window->recordText()->toPlainText().contains(QStringLiteral("2001 $a红楼梦$f曹雪芹著")),
                 qPrintable(window->recordText()->toPlainText()));
        QVERIFY(prompt.texts().isEmpty());

        // Nothing to search with: told, and nothing runs.
        window->queryLine(QueryKind::Title)->clear();
        window->queryLine(QueryKind::Any)->clear();
        window->search();
        QCOMPARE(prompt.texts(), QStringList{QStringLiteral("请输入检索词。")});
        QVERIFY(window->work() == nullptr);
    }

    // 在新窗口中打开: a document window on a temporary file, never a recent
    // file, removed with its window.
    void openedRecordsLiveInATemporaryFileOfTheirWindow()
    {
        Sandbox sandbox;
        FakePrompt prompt;
        TFormMain main;
        OnlineSearchWindow* window = openWindow(main, {gbkServer()}, QStringLiteral("红楼梦"));
        const QList<int> rows = searchAndWait(window, 0);
        QCOMPARE(rows.size(), 1);
        selectRow(window, rows.front());
        window->openSelected();
        QCOMPARE(main.documents().size(), 1);
        TFormMarc* document = main.documents().front();
        QTRY_VERIFY(document->isOpen());
        QVERIFY2(document->MemoMarc->toPlainText().contains(QStringLiteral("2001 $a红楼梦$f曹雪芹著")),
                 qPrintable(document->MemoMarc->toPlainText()));
        const QStringList temporary = QDir(sandbox.tmpDir()).entryList({QStringLiteral("online-*")}, QDir::Files);
        QCOMPARE(temporary.size(), 1);
        QCOMPARE(readAll(sandbox.tmpDir() + "/" + temporary.front()), recordOf(m_fixture, 2));
        QVERIFY(settings::recentFiles(10).isEmpty());
        document->close();
        QTRY_VERIFY(QDir(sandbox.tmpDir()).entryList({QStringLiteral("online-*")}, QDir::Files).isEmpty());
        QVERIFY(settings::recentFiles(10).isEmpty());
        QVERIFY(prompt.texts().isEmpty());
    }

    // 保存到文件 asks about an existing file; 追加到文件 adds to it; an open
    // record file is never written.
    void saveAndAppendWriteTheRecordsBytes()
    {
        Sandbox sandbox;
        FakePrompt prompt;
        TFormMain main;
        OnlineSearchWindow* window = openWindow(main, {gbkServer()}, QStringLiteral("红楼梦"));
        const QList<int> rows = searchAndWait(window, 0);
        QCOMPARE(rows.size(), 1);
        selectRow(window, rows.front());
        const std::string record = recordOf(m_fixture, 2);
        const QString target = sandbox.workDir() + "/saved.mrc";

        QVERIFY(window->saveSelectedTo(target, false));
        QCOMPARE(readAll(target), record);
        QVERIFY(window->saveSelectedTo(target, true));
        QCOMPARE(readAll(target), record + record);
        prompt.answer = veltrane::OverwriteChoice::Cancel;
        QVERIFY(!window->saveSelectedTo(target, false));
        QCOMPARE(readAll(target), record + record);
        prompt.answer = veltrane::OverwriteChoice::Overwrite;
        QVERIFY(window->saveSelectedTo(target, false));
        QCOMPARE(readAll(target), record);
        prompt.answer = veltrane::OverwriteChoice::Append;
        QVERIFY(window->saveSelectedTo(target, false));
        QCOMPARE(readAll(target), record + record);
        QVERIFY(window->saveSelectedTo(sandbox.workDir() + "/new.mrc", true));  // appending makes a new file
        QCOMPARE(readAll(sandbox.workDir() + "/new.mrc"), record);
        QVERIFY(prompt.texts().isEmpty());

        const QString open = sandbox.write(QStringLiteral("open.mrc"), numberedFile(2));
        const QPointer<TFormMarc> document = main.openDocument(open);
        QVERIFY(document != nullptr);
        QTRY_VERIFY(document->isOpen());
        OnlineSearchWindow* again = showWindow(main);
        QCOMPARE(again, window);
        QVERIFY(!window->saveSelectedTo(open, true));
        QCOMPARE(prompt.texts(), QStringList{QString::fromUtf8(kExportTargetIsRecordFileMessage)});
        QCOMPARE(readAll(open), numberedFile(2));
        // Nothing left beside the targets (the scratch display file is the document window's).
        QCOMPARE(QDir(sandbox.workDir()).entryList(QDir::Files, QDir::Name),
                 (QStringList{"new.mrc", "open.mrc", "saved.mrc", "tempdisp.mrc"}));
    }

    // 停止, Esc in the main window and closing the window each end a slow
    // search at once, with nothing left behind.
    void cancelLeavesNothingBehind()
    {
        Sandbox sandbox;
        FakePrompt prompt;
        TFormMain main;
        main.show();
        OnlineSearchWindow* window =
            openWindow(main, {z3950("slow", m_ztestPort, "Default?search-delay=3")}, QStringLiteral("5"));
        QElapsedTimer timer;
        timer.start();
        window->search();
        QVERIFY(window->work() != nullptr);
        window->stop();
        QTRY_VERIFY(window->work() == nullptr);
        QCOMPARE(window->results()->statusText(0), QStringLiteral("已停止"));
        QCOMPARE(window->results()->recordCount(), 0);

        window->search();
        QVERIFY(window->work() != nullptr);
        QVERIFY(main.mdiArea()->activeSubWindow() == window);
        main.cancelActiveWork();  // what the main window's Esc does
        QTRY_VERIFY(window->work() == nullptr);
        QCOMPARE(window->results()->statusText(0), QStringLiteral("已停止"));

        window->search();
        const QPointer<OnlineSearchWindow> closing(window);
        window->close();
        QTRY_VERIFY(closing.isNull());
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));  // below one search delay
        QVERIFY(QDir(sandbox.tmpDir()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
        QVERIFY(QDir(sandbox.workDir()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
        QVERIFY(prompt.texts().isEmpty());
    }
};

QTEST_MAIN(OnlineSearchTest)
#include "OnlineSearchTest.moc"
