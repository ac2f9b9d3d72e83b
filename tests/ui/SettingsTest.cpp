// SPDX-License-Identifier: Apache-2.0
// What the viewer remembers between runs, and the recent files built on it.

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMdiArea>
#include <QSettings>
#include <QTest>

#include "windows/Main.h"
#include "windows/Marc.h"
#include "state/RecentFiles.h"
#include "windows/RecordText.h"
#include "state/Settings.h"
#include "ViewerHarness.h"

class SettingsTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    QStringList recentMenu() const
    {
        QStringList paths;
        for (QAction* entry : m_v->main.recentFiles()->menu()->actions())
            paths.append(entry->data().toString());
        return paths;
    }
    QAction* recentEntry(const QString& path) const
    {
        for (QAction* entry : m_v->main.recentFiles()->menu()->actions()) {
            if (entry->data().toString() == path)
                return entry;
        }
        return nullptr;
    }
    qsizetype windowCount() const { return m_v->main.mdiArea()->subWindowList().size(); }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
    }
    void cleanup() { m_v.reset(); }

    // The newest ten, once each; one that vanished is dropped with a message;
    // the next run reads the same list.
    void recentFiles()
    {
        QStringList opened;
        for (int i = 0; i <= RecentFiles::kLimit; ++i) {
            opened.prepend(m_v->sandbox.write(QStringLiteral("f%1.mrc").arg(i), viewertest::numberedFile(1)));
            m_v->main.openPath(opened.first());
        }
        m_v->main.openPath(m_v->sandbox.write("bad.mrc", "no records here"));  // not opened: not listed
        m_v->main.openPath(opened[5]);
        QStringList expected = opened.mid(0, RecentFiles::kLimit);
        expected.move(5, 0);
        QCOMPARE(recentMenu(), expected);

        const QString gone = expected.takeAt(1);
        QVERIFY(QFile::remove(gone));
        const qsizetype before = windowCount();
        recentEntry(gone)->trigger();
        QCOMPARE(m_v->prompt.texts(),
                 (QStringList{"Not marc format file!", QString::fromUtf8(kRecentFileMissingMessage) + gone}));
        QCOMPARE(windowCount(), before);
        QCOMPARE(recentMenu(), expected);

        TFormMain next;
        QCOMPARE(next.recentFiles()->menu()->actions().size(), expected.size());
        recentEntry(expected.last())->trigger();  // opens as Open does
        QCOMPARE(windowCount(), before + 1);
        QCOMPARE(FormMarc->TitleName, expected.last());
        QCOMPARE(recentMenu().first(), expected.last());
    }

    void damagedSettingsMeanDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");  // empty: the settings file is a folder
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe[\x01=\n\x1d\x9d\x0c\xb9[[]=@ByteArray(", 28);
        QTest::newRow("values of the wrong kind")
            << QByteArray("[MainWindow]\ngeometry=@ByteArray(\\x1\\xd9\\xd0\\xcb\\0\\x3)\nstate=12\n"  // cut short
                          "[RecordText]\npixelSize=4000\n[RecentFiles]\npaths=relative.mrc, @Invalid()\n"
                          "[Dialogs]\nopenFolder=%SETTINGS%\nsaveFolder=relative\n");
        QTest::newRow("a folder") << QByteArray();
    }

    // Defaults, and the first change kept replaces the damage.
    void damagedSettingsMeanDefaults()
    {
        QFETCH(QByteArray, content);
        const QString path = settings::filePath();
        content.replace("%SETTINGS%", path.toUtf8());  // a file, not a folder
        QVERIFY(QDir().mkpath(content.isEmpty() ? path : QFileInfo(path).absolutePath()));
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        {
            TFormMain main;
            QCOMPARE(main.size(), QSize(803, 614));
            QCOMPARE(main.recordTextPixelSize(), kDefaultRecordTextPixelSize);
            QVERIFY(!main.recentFiles()->menu()->isEnabled());
            QCOMPARE(settings::openFolder() + settings::saveFolder(), QString());
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            main.zoomRecordText(1);
            main.resize(700, 500);
            main.close();
        }
        TFormMain next;
        if (content.isEmpty()) {
            QCOMPARE(next.size(), QSize(803, 614));
            return;
        }
        QCOMPARE(next.size(), QSize(700, 500));
        QCOMPARE(next.recordTextPixelSize(), kDefaultRecordTextPixelSize + kRecordTextZoomStep);
    }

    // It may hold server passwords: whatever made it, a write leaves it to its owner.
    void settingsFileIsReadableByItsOwnerOnly()
    {
        const QString path = settings::filePath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Servers]\nnlc\\password=secret\n") > 0);
        file.close();
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                                QFileDevice::ReadGroup));
        settings::setRecordTextPixelSize(20);
        QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        settings::setMainWindowLayout(QByteArray("g"), QByteArray("s"));
        QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
        QVERIFY(QFile(path).open(QIODevice::ReadOnly));
        QVERIFY(QSettings(path, QSettings::IniFormat).value("Servers/nlc/password").toString() == "secret");
    }

    void openDialogStartsInTheLastFolder()
    {
        QDir(m_v->sandbox.tmpDir()).mkdir("records");
        const QString folder = m_v->sandbox.tmpDir() + "/records";
        QFile::copy(m_v->sandbox.write("one.mrc", viewertest::numberedFile(1)), folder + "/one.mrc");
        const QString startDirectory = QDir::currentPath();
        QStringList startedIn;
        viewertest::ModalAnswer answer(viewertest::answerAs<QFileDialog>([&](QFileDialog* dialog) {
            startedIn.append(dialog->directory().absolutePath());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder + "/one.mrc");
            static_cast<QDialog*>(dialog)->accept();
        }));
        m_v->main.MOpenClick();
        TFormMain next;  // a later run
        next.MOpenClick();
        QCOMPARE(startedIn.size(), 2);
        QCOMPARE(startedIn[1], folder);
        QCOMPARE(QDir::currentPath(), startDirectory);
    }
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
