// SPDX-License-Identifier: Apache-2.0
#include <QDir>
#include <QProcess>
#include <QTest>

#include <signal.h>

#include "ViewerHarness.h"

// The viewer asked to end by a signal leaves no scratch or index file behind,
// with a record on display and while a message box waits for an answer.
class TerminationTest : public QObject {
    Q_OBJECT

    static void endWith(int signalNumber, const QStringList& files, qsizetype windowsOpened)
    {
        viewertest::Sandbox sandbox;
        QStringList paths;
        for (const QString& file : files)
            paths.append(file.startsWith('/') ? file : sandbox.write(file, viewertest::numberedFile(3)));
        QProcess viewer;
        viewer.setWorkingDirectory(sandbox.workDir());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("TMP", sandbox.tmpDir());
        environment.insert("XDG_CONFIG_HOME", sandbox.configDir());
        viewer.setProcessEnvironment(environment);
        viewer.start(QStringLiteral(VELTRANE_VIEWER_PATH), paths);
        QVERIFY(viewer.waitForStarted());
        const QString scratch = sandbox.workDir() + "/tempdisp.mrc";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(scratch), 20000);
        // An open that fails may hold its index file for a moment, so at least as many.
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.indexFiles().size() >= windowsOpened, 20000);
        QTest::qWait(200);  // the last file's message box, if any, is up by now
        ::kill(static_cast<pid_t>(viewer.processId()), signalNumber);
        QVERIFY(viewer.waitForFinished(20000));
        QCOMPARE(sandbox.indexFiles(), QStringList());
        QVERIFY(!QFile::exists(scratch));
    }

private slots:
    void signalsEndTheViewerCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void signalsEndTheViewerCleanly()
    {
        QFETCH(int, signalNumber);
        endWith(signalNumber, {"a.mrc", "b.mrc"}, 2);
    }

    // The last file is no record file: its message box is modal when the signal comes.
    void signalWhileAMessageWaits() { endWith(SIGTERM, {"a.mrc", "/nonexistent/missing.mrc"}, 1); }
};

QTEST_MAIN(TerminationTest)
#include "TerminationTest.moc"
