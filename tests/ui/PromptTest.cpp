#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "Fileask.h"
#include "Prompt.h"
#include "ViewerHarness.h"

// The real message boxes, answered from a timer while they run.
class PromptTest : public QObject {
    Q_OBJECT

private:
    struct SeenBox {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
        QPoint centre;
    };

    // Runs show, which must open one message box, and clicks its first button.
    static SeenBox answerBox(const std::function<void()>& show)
    {
        SeenBox seen;
        viewertest::ModalAnswer answer([&seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box == nullptr) {
                if (modal != nullptr)
                    modal->close();
                return;
            }
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            for (QAbstractButton* button : box->buttons())
                seen.buttons.append(button->text().remove(QLatin1Char('&')));
            seen.centre = box->frameGeometry().center();
            box->buttons().first()->click();
        });
        show();
        return seen;
    }

private slots:
    void boxesLookAsTheSystemsOwn_data()
    {
        QTest::addColumn<int>("kind");  // 0 plain, 1 information, 2 error
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << 0 << "  第一条记录!  " << "Veltrane" << int(QMessageBox::NoIcon) << "  第一条记录!  ";
        QTest::newRow("engine message") << 0 << "Invalid drive or directory" << "Veltrane" << int(QMessageBox::NoIcon)
                                        << "Invalid drive or directory";
        QTest::newRow("information") << 1 << "    纪录总数是: 3    " << "Information"
                                     << int(QMessageBox::Information) << "    纪录总数是: 3    ";
        QTest::newRow("error gains a full stop") << 2 << "Cannot open file tempdisp.mrc" << "Veltrane"
                                                 << int(QMessageBox::Critical) << "Cannot open file tempdisp.mrc.";
        QTest::newRow("error ending in a full stop") << 2 << "Bad." << "Veltrane" << int(QMessageBox::Critical)
                                                     << "Bad.";
        QTest::newRow("error ending before the full stop") << 2 << "Bad!" << "Veltrane" << int(QMessageBox::Critical)
                                                           << "Bad!";
    }

    void boxesLookAsTheSystemsOwn()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QFETCH(QString, shown);
        QMainWindow owner;  // the box centres on the screen, not on the window
        owner.setGeometry(10, 10, 200, 150);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        const SeenBox seen = answerBox([&] {
            if (kind == 0)
                Prompt().showMessage(text.toStdString());
            else if (kind == 1)
                Prompt().showInformation(text);
            else
                Prompt().showError(text);
        });
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.text, shown);
        QCOMPARE(int(seen.icon), icon);
        QCOMPARE(seen.buttons, QStringList{"OK"});
        const QPoint screenCentre = owner.screen()->availableGeometry().center();
        QVERIFY2((seen.centre - screenCentre).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("box centre %1,%2").arg(seen.centre.x()).arg(seen.centre.y())));
    }

    void overwriteQuestionAsksTheDialog()
    {
        viewertest::ModalAnswer answer([](QWidget* modal) {
            if (auto* question = qobject_cast<TFormSaveAsk*>(modal))
                question->BtnOverwrite->click();
            else if (modal != nullptr)
                modal->close();
        });
        QCOMPARE(Prompt().askOverwrite("target.mrc"), veltrane::OverwriteChoice::Overwrite);
        QVERIFY(answer.answered());
    }
};

QTEST_MAIN(PromptTest)
#include "PromptTest.moc"
