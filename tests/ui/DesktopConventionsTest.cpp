// SPDX-License-Identifier: Apache-2.0
#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTranslator>

#include "dialogs/Chgfmt.h"
#include "dialogs/GetMarc.h"
#include "dialogs/ToolkitTranslation.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "ViewerHarness.h"

// The viewer among the desktop's conventions: the toolkit's own texts in
// Chinese, the file dialogs' filters, the labels of the delimiter variants.
class DesktopConventionsTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    static void removeToolkitTranslations()
    {
        for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }

private slots:
    void init() { m_v.emplace(); }
    void cleanup()
    {
        m_v.reset();
        removeToolkitTranslations();
    }

    void openDialogOffersAllFilesLast_data()
    {
        QTest::addColumn<bool>("allFiles");      // whether 所有文件 is chosen before the name is typed
        QTest::addColumn<QString>("existing");   // the file in the working folder
        QTest::addColumn<QString>("typed");
        QTest::newRow("MARC filter adds .mrc") << false << "picked.mrc" << "picked";
        QTest::newRow("all files: another extension") << true << "records.usmarc" << "records.usmarc";
        QTest::newRow("all files: no extension is taken as typed") << true << "MARCDATA" << "MARCDATA";
    }

    void openDialogOffersAllFilesLast()
    {
        QFETCH(bool, allFiles);
        QFETCH(QString, existing);
        QFETCH(QString, typed);
        const QString path = m_v->sandbox.write(existing, viewertest::numberedFile(2));
        QStringList filters;
        QString selectedAtStart;
        viewertest::ModalAnswer answer(viewertest::answerAs<QFileDialog>([&](QFileDialog* dialog) {
            filters = dialog->nameFilters();
            selectedAtStart = dialog->selectedNameFilter();
            if (allFiles)
                QTest::keyClick(dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")), Qt::Key_End);
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(m_v->sandbox.workDir() + "/" + typed);
            static_cast<QDialog*>(dialog)->accept();
        }));
        m_v->main.MOpenClick();

        QCOMPARE(filters, (QStringList{"MARC文件(*.mrc)", "ISO文件(*.iso)", "所有文件 (*)"}));
        QCOMPARE(selectedAtStart, filters.first());
        const QList<QMdiSubWindow*> windows = m_v->main.mdiArea()->subWindowList();
        QCOMPARE(windows.size(), 1);
        QCOMPARE(qobject_cast<TFormMarc*>(windows.first())->TitleName, path);
        QVERIFY(m_v->prompt.texts().isEmpty());
    }

    void extractionBrowseKeepsItsTwoFilters()
    {
        TDlgGetMarc extract(&m_v->main);
        QStringList filters;
        QString selectedAtStart;
        viewertest::ModalAnswer answer(viewertest::answerAs<QFileDialog>([&](QFileDialog* dialog) {
            filters = dialog->nameFilters();
            selectedAtStart = dialog->selectedNameFilter();
            static_cast<QDialog*>(dialog)->reject();
        }));
        extract.SpeedButton1Click();
        QCOMPARE(filters, (QStringList{"MARC文件(*.mrc)", "ISO文件(*.iso)"}));
        QCOMPARE(selectedAtStart, filters.first());
    }

    void delimiterVariantsNameTheirBytes()
    {
        TFormChgFmt dialog;
        QCOMPARE(dialog.RBNormal->text(), QStringLiteral("一般MARC格式(0x1E, 0x1F)"));
        QCOMPARE(dialog.RBSpecial1->text(), QStringLiteral("特殊MARC格式1('#', '$')"));
        QCOMPARE(dialog.RBSpecial2->text(), QStringLiteral("特殊MARC格式2(0x1E, '$')"));
    }

    // The toolkit's standard buttons read in Chinese; a message box keeps its "OK".
    void toolkitTextsAreChinese()
    {
        const QString catalogue = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm";
        if (!QFileInfo::exists(catalogue))
            QSKIP("the toolkit's Chinese translation is not installed (Debian qt6-translations-l10n)");
        QVERIFY(InstallToolkitTranslation(*qApp));

        const QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Ok)->text().remove('&'), QStringLiteral("确定"));
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text().remove('&'), QStringLiteral("取消"));

        SetPrompt(nullptr);  // the real boxes
        QStringList shown;
        viewertest::ModalAnswer answer(viewertest::answerAs<QMessageBox>([&](QMessageBox* box) {
            for (QAbstractButton* button : box->buttons())
                shown.append(button->text());
            box->buttons().first()->click();
        }));
        Prompt().showInformation(QStringLiteral("    纪录总数是: 3    "));
        SetPrompt(&m_v->prompt);
        QCOMPARE(shown, QStringList{"OK"});
    }
};

QTEST_MAIN(DesktopConventionsTest)
#include "DesktopConventionsTest.moc"
