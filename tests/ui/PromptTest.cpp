#include <QMainWindow>
#include <QAbstractButton>
#include <QMessageBox>
#include <QScreen>
#include <QTest>

#include "Prompt.h"
#include "ViewerHarness.h"

// The real message boxes, answered from a timer while they run.
class PromptTest : public QObject {
    Q_OBJECT

private slots:
    void boxesLookAsTheSystemsOwn_data()
    {
        QTest::addColumn<int>("kind");  // 0 plain, 2 error
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("shown");
        const int none = QMessageBox::NoIcon, critical = QMessageBox::Critical;
        QTest::newRow("plain") << 0 << "  第一条记录!  " << none << "  第一条记录!  ";
        QTest::newRow("error gains a full stop") << 2 << "Cannot open file x" << critical << "Cannot open file x.";
    }

    void boxesLookAsTheSystemsOwn()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(int, icon);
        QFETCH(QString, shown);
        QMainWindow owner;  // the box centres on the screen, not on the window
        owner.setGeometry(10, 10, 200, 150);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QString seenTitle, seenText;
        int seenIcon = -1;
        QPoint centre;
        QStringList buttons;
        viewertest::ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box == nullptr)
                return viewertest::closeModal(modal);
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenIcon = box->icon();
            for (QAbstractButton* button : box->buttons())
                buttons.append(button->text().remove(QLatin1Char('&')));
            centre = box->frameGeometry().center();
            box->buttons().first()->click();
        });
        kind == 0 ? Prompt().showMessage(text.toStdString()) : Prompt().showError(text);
        QCOMPARE(seenTitle, QStringLiteral("Veltrane"));
        QCOMPARE(seenText, shown);
        QCOMPARE(seenIcon, icon);
        QCOMPARE(buttons, QStringList{"OK"});
        const QPoint screenCentre = owner.screen()->availableGeometry().center();
        QVERIFY2((centre - screenCentre).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("box centre %1,%2").arg(centre.x()).arg(centre.y())));
    }

};

QTEST_MAIN(PromptTest)
#include "PromptTest.moc"
