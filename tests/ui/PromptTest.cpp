#include <QAbstractButton>
#include <QMainWindow>
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
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("seen");  // title, text, icon, buttons
        QTest::newRow("plain") << false << "  第一条记录!  "
                               << QStringList{"Veltrane", "  第一条记录!  ", QString::number(QMessageBox::NoIcon), "OK"};
        QTest::newRow("error gains a full stop") << true << "Cannot open file x"
            << QStringList{"Veltrane", "Cannot open file x.", QString::number(QMessageBox::Critical), "OK"};
    }

    void boxesLookAsTheSystemsOwn()
    {
        QFETCH(bool, error);
        QFETCH(QString, text);
        QFETCH(QStringList, seen);
        QMainWindow owner;  // the box centres on the screen, not on the window
        owner.setGeometry(10, 10, 200, 150);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
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
        const QPoint screenCentre = owner.screen()->availableGeometry().center();
        QVERIFY2((centre - screenCentre).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("box centre %1,%2").arg(centre.x()).arg(centre.y())));
    }
};

QTEST_MAIN(PromptTest)
#include "PromptTest.moc"
