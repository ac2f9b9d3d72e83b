// SPDX-License-Identifier: Apache-2.0
// 文件 → 导出…: the records chosen, in the format chosen, into the file chosen,
// with the questions about an existing file each format allows, and a target
// left as it was when the export does not finish.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include "dialogs/Export.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "formats/RecordConvert.h"
#include "formats/RecordRepair.h"
#include "state/SharedState.h"
#include "ViewerHarness.h"

using veltrane::OverwriteChoice;
using veltrane::RecordFormat;
using viewertest::answerAs;
using viewertest::HeldWork;
using viewertest::ModalAnswer;

Q_DECLARE_METATYPE(veltrane::OverwriteChoice)
Q_DECLARE_METATYPE(veltrane::RecordFormat)

namespace {

/// What the engine writes for records first..last of path: what the export must hold.
std::string converted(const QString& path, RecordFormat format, std::int64_t first, std::int64_t last)
{
    testsupport::TempDir dir;
    const std::string out = (dir.path() / "expected").string();
    const int in = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    veltrane::ConvertOptions options;
    options.to = format;
    options.first = first;
    options.last = last;
    (void)veltrane::ConvertRecords(in, fd, options, veltrane::NoMonitor(), [](const veltrane::ConvertWarning&) {});
    ::close(in);
    ::close(fd);
    return testsupport::ReadFile(out);
}

/// What `fix` writes for the whole of path.
std::string fixed(const QString& path)
{
    testsupport::TempDir dir;
    const std::string out = (dir.path() / "fixed").string();
    const int in = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    (void)veltrane::RepairRecords(in, fd, {}, veltrane::NoMonitor(),
                                  [](std::int64_t, std::uint64_t, const veltrane::RecordRepair&) {});
    ::close(in);
    ::close(fd);
    return testsupport::ReadFile(out);
}

/// Three records `fix` mends: a record length one short, a directory entry
/// whose field length is wrong, and a tab in data.
std::string brokenFile()
{
    std::string shortLength = viewertest::numberedRecord(1);
    shortLength.replace(0, 5, QByteArray::number(static_cast<int>(shortLength.size()) - 1).rightJustified(5, '0').toStdString());
    std::string wrongEntry = viewertest::numberedRecord(2);
    wrongEntry.replace(24 + 12 + 3, 4, "0009");  // the 200 field's length
    return shortLength + wrongEntry + viewertest::numberedRecord(3, "Ti\ttle");
}

std::string contents(const QString& path)
{
    return QFile::exists(path) ? testsupport::ReadFile(path.toStdString()) : std::string("<missing>");
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const QString& path)
    {
        (void)OpenMarcFile(&m_v->main, path);
        // A long file is indexed in the background.
        // The caller checks that it opened.
        (void)QTest::qWaitFor([] { return FormMarc && FormMarc->isOpen(); }, 20000);
        return FormMarc.data();
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().delimiterMode = veltrane::dmNormal;
        m_v->main.shared().lastExport = {};
    }
    void cleanup() { m_v.reset(); }

    void rangeInEachFormatThroughTheDialog_data()
    {
        QTest::addColumn<RecordFormat>("format");
        QTest::addColumn<QString>("range");  // "current", "2-4" or "all"
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("marcxml, A-B") << RecordFormat::MarcXml << "2-4" << 2 << 4;
        QTest::newRow("json, whole file") << RecordFormat::Json << "all" << 1 << 5;
        QTest::newRow("json lines, A-B") << RecordFormat::JsonLines << "2-4" << 2 << 4;
        QTest::newRow("mrk, record on display") << RecordFormat::Mrk << "current" << 3 << 3;
        QTest::newRow("iso 2709, A-B") << RecordFormat::Iso2709 << "2-4" << 2 << 4;
    }

    void rangeInEachFormatThroughTheDialog()
    {
        QFETCH(RecordFormat, format);
        QFETCH(QString, range);
        QFETCH(int, first);
        QFETCH(int, last);
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(5));
        TFormMarc* window = open(path);
        window->ShowNextRecord();
        window->ShowNextRecord();
        const QString target = m_v->sandbox.workDir() + "/out." + ExportSuffix(format);

        ModalAnswer answer(answerAs<TDlgExport>([&](TDlgExport* dialog) {
            if (range == "all") {
                dialog->RbAll->setChecked(true);
            } else if (range != "current") {
                dialog->RbRange->setChecked(true);
                dialog->EditFrom->setText(range.section('-', 0, 0));
                dialog->EditTo->setText(range.section('-', 1, 1));
            }
            dialog->setFormat(format);
            dialog->EditFileName->setText(target);
            dialog->BtnOk->click();
        }));
        m_v->main.findChild<QAction*>(QStringLiteral("MExport"))->trigger();
        QTRY_VERIFY(window->work() == nullptr);

        QCOMPARE(m_v->prompt.texts(), QStringList());
        const std::string written = contents(target);
        QCOMPARE(written, converted(path, format, first, last));
        // The range in the engine's own numbering: its records and no other.
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(written.find("rec" + std::to_string(n)) != std::string::npos, n >= first && n <= last);
    }

    // A range outside the file keeps the dialog open, says so beside the range
    // and keeps the format and file chosen; a good one then exports.
    void badRangeKeepsTheDialogOpen()
    {
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(3));
        TFormMarc* window = open(path);
        const QString target = m_v->sandbox.workDir() + "/out.mrk";
        int okClicks = 0;
        QString errorShown, formatKept, fileKept;
        ModalAnswer answer(answerAs<TDlgExport>([&](TDlgExport* dialog) {
            if (okClicks == 0) {
                QVERIFY(dialog->LblRangeError->text().isEmpty());
                dialog->RbRange->setChecked(true);
                dialog->EditFrom->setText("3");
                dialog->EditTo->setText("1");
                dialog->setFormat(RecordFormat::Mrk);
                dialog->EditFileName->setText(target);
            } else if (okClicks == 1) {
                errorShown = dialog->LblRangeError->text();
                formatKept = dialog->CbxFormat->currentText();
                fileKept = dialog->EditFileName->text();
                dialog->EditTo->setText("4");  // past the last record
            } else {
                dialog->EditTo->setText("3");
            }
            ++okClicks;
            dialog->BtnOk->click();
        }));
        m_v->main.findChild<QAction*>(QStringLiteral("MExport"))->trigger();
        QTRY_VERIFY(window->work() == nullptr);
        QCOMPARE(okClicks, 3);
        QCOMPARE(errorShown, QStringLiteral("记录号不合法！"));
        QCOMPARE(formatKept, QStringLiteral("助记符文本 (*.mrk)"));
        QCOMPARE(fileKept, target);
        QCOMPARE(m_v->prompt.texts(), QStringList());
        QCOMPARE(contents(target), converted(path, RecordFormat::Mrk, 3, 3));
    }

    // The next export, of this file or another, starts in the last target's
    // folder under the record file's own name.
    void dialogProposesTheLastFolder()
    {
        const QString path = m_v->sandbox.write("catalogue.part2.mrc", viewertest::numberedFile(1));
        (void)open(path);
        m_v->main.shared().lastExport = {RecordFormat::JsonLines, QStringLiteral("/elsewhere/folder/earlier.jsonl")};
        QString proposed;
        ModalAnswer answer(answerAs<TDlgExport>([&](TDlgExport* dialog) {
            proposed = dialog->EditFileName->text();
            dialog->BtnCancel->click();
        }));
        m_v->main.findChild<QAction*>(QStringLiteral("MExport"))->trigger();
        QVERIFY(answer.answered());
        QCOMPARE(proposed, QStringLiteral("/elsewhere/folder/catalogue.part2.jsonl"));
    }

    // Records read only in part and characters written as U+FFFD are told
    // apart, in Chinese, with their counts and numbers.
    void summaryTellsPartlyReadAndReplacedApart_data()
    {
        QTest::addColumn<QList<int>>("numbers");   // one warning each
        QTest::addColumn<QList<int>>("replaced");  // its characters written as U+FFFD, 0: partly read
        QTest::addColumn<QString>("summary");
        const QString head = QStringLiteral("已导出 20 条纪录。");
        QTest::newRow("one invalid byte") << QList<int>{4} << QList<int>{1}
                                          << head + QStringLiteral("\n1 条纪录中有 1 个无效字节或不能写出的字符，已写为替换字符 U+FFFD：第 4 条。");
        QTest::newRow("partly read") << QList<int>{2, 2} << QList<int>{0, 0}
                                     << head + QStringLiteral("\n1 条纪录只能部分读出，按能读出的部分导出：第 2 条。");
        QTest::newRow("both, the same record in each") << QList<int>{2, 2, 7} << QList<int>{0, 3, 2}
            << head + QStringLiteral("\n1 条纪录只能部分读出，按能读出的部分导出：第 2 条。"
                                     "\n2 条纪录中有 5 个无效字节或不能写出的字符，已写为替换字符 U+FFFD：第 2、7 条。");
        QList<int> many, none;
        for (int n = 1; n <= 12; ++n) {
            many.append(n);
            none.append(0);
        }
        QTest::newRow("more than ten") << many << none
            << head + QStringLiteral("\n12 条纪录只能部分读出，按能读出的部分导出：第 1、2、3、4、5、6、7、8、9、10 条等。");
    }

    void summaryTellsPartlyReadAndReplacedApart()
    {
        QFETCH(QList<int>, numbers);
        QFETCH(QList<int>, replaced);
        QFETCH(QString, summary);
        std::vector<veltrane::ConvertWarning> warnings;
        for (qsizetype i = 0; i < numbers.size(); ++i)
            warnings.push_back({numbers[i], "a problem", replaced[i]});
        QCOMPARE(ExportSummary(20, warnings), summary);
    }

    // A record with a byte its set cannot read is exported whole: no "partly read".
    void invalidByteIsNotAPartlyReadRecord()
    {
        std::string record = testsupport::MakeRecord({{"001", "bad1"}, {"245", "10\x1f" "aTitle \xff here"}});
        record[9] = 'a';
        const QString path = m_v->sandbox.write("invalid.mrc", record + viewertest::numberedRecord(2));
        TFormMarc* window = open(path);
        const QString target = m_v->sandbox.workDir() + "/out.xml";
        ExportRecords(window, 1, 2, RecordFormat::MarcXml, target);
        QTRY_VERIFY(window->work() == nullptr);
        QCOMPARE(m_v->prompt.texts(),
                 QStringList{QStringLiteral("已导出 2 条纪录。\n1 条纪录中有 1 个无效字节或不能写出的字符，已写为替换字符 U+FFFD：第 1 条。")});
        QVERIFY(contents(target).find("Title \xef\xbf\xbd here") != std::string::npos);
    }

    void existingTarget_data()
    {
        QTest::addColumn<RecordFormat>("format");
        QTest::addColumn<OverwriteChoice>("answer");  // to the overwrite-append-cancel question
        QTest::addColumn<bool>("replace");            // to the overwrite-or-cancel question
        QTest::addColumn<QString>("result");          // "old", "new" or "old+new"
        QTest::addColumn<QStringList>("asked");

        const QStringList replaceAsked{"replace: TARGET"};
        QTest::newRow("xml: overwrite or cancel, cancel") << RecordFormat::MarcXml << OverwriteChoice::Append << false
                                                          << "old" << replaceAsked;
        QTest::newRow("xml: overwrite") << RecordFormat::MarcXml << OverwriteChoice::Append << true << "new" << replaceAsked;
        QTest::newRow("json: overwrite or cancel") << RecordFormat::Json << OverwriteChoice::Append << true << "new"
                                                   << replaceAsked;
        QTest::newRow("mrk: append") << RecordFormat::Mrk << OverwriteChoice::Append << false << "old+new" << QStringList();
        QTest::newRow("json lines: overwrite") << RecordFormat::JsonLines << OverwriteChoice::Overwrite << false << "new"
                                               << QStringList();
        QTest::newRow("iso 2709: cancel") << RecordFormat::Iso2709 << OverwriteChoice::Cancel << true << "old"
                                          << QStringList();
    }

    void existingTarget()
    {
        QFETCH(RecordFormat, format);
        QFETCH(OverwriteChoice, answer);
        QFETCH(bool, replace);
        QFETCH(QString, result);
        QFETCH(QStringList, asked);
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(3));
        TFormMarc* window = open(path);
        const std::string old = "what the file held\n";
        const QString target = m_v->sandbox.write("out." + ExportSuffix(format), old);
        m_v->prompt.answer = answer;
        m_v->prompt.replaceAnswer = replace;

        ExportRecords(window, 1, 3, format, target);
        QTRY_VERIFY(window->work() == nullptr);

        asked.replaceInStrings("TARGET", target);
        QCOMPARE(m_v->prompt.texts(), asked);
        const std::string fresh = converted(path, format, 1, 3);
        const std::string expected = result == "old" ? old : result == "new" ? fresh : old + fresh;
        QCOMPARE(contents(target), expected);
    }

    void openRecordFileIsNeverATarget()
    {
        const QString path = m_v->sandbox.write("records.mrc", viewertest::numberedFile(3));
        const QString other = m_v->sandbox.write("other.mrc", viewertest::numberedFile(2));
        TFormMarc* window = open(path);
        (void)open(other);
        m_v->prompt.answer = OverwriteChoice::Append;
        for (const QString& target : {path, other}) {
            ExportRecords(window, 1, 3, RecordFormat::Iso2709, target);
            QTRY_VERIFY(window->work() == nullptr);
        }
        QCOMPARE(m_v->prompt.texts(), QStringList(2, QString::fromUtf8(kExportTargetIsRecordFileMessage)));
        QCOMPARE(contents(path), viewertest::numberedFile(3));
        QCOMPARE(contents(other), viewertest::numberedFile(2));
    }

    // 修复结构问题 writes the records `fix` writes, then converts those; without
    // it the export is the plain conversion of the bytes as they stand.
    void exportWithRepairs_data()
    {
        QTest::addColumn<RecordFormat>("format");
        QTest::addColumn<bool>("repair");
        QTest::newRow("iso 2709 repaired") << RecordFormat::Iso2709 << true;
        QTest::newRow("mrk repaired") << RecordFormat::Mrk << true;
        QTest::newRow("marcxml repaired") << RecordFormat::MarcXml << true;
        QTest::newRow("iso 2709 as today") << RecordFormat::Iso2709 << false;
        QTest::newRow("mrk as today") << RecordFormat::Mrk << false;
    }

    void exportWithRepairs()
    {
        QFETCH(RecordFormat, format);
        QFETCH(bool, repair);
        const QString path = m_v->sandbox.write("broken.mrc", brokenFile());
        const QString repairedPath = m_v->sandbox.write("repaired.mrc", fixed(path));
        QVERIFY(contents(repairedPath) != contents(path));
        TFormMarc* window = open(path);
        QVERIFY(window);
        const QString target = m_v->sandbox.workDir() + "/out." + ExportSuffix(format);

        bool offAtFirst = false;
        {
            ModalAnswer answer(answerAs<TDlgExport>([&](TDlgExport* dialog) {
                offAtFirst = !dialog->ChkRepair->isChecked();
                dialog->RbAll->setChecked(true);
                dialog->setFormat(format);
                dialog->ChkRepair->setChecked(repair);
                dialog->EditFileName->setText(target);
                dialog->BtnOk->click();
            }));
            m_v->main.findChild<QAction*>(QStringLiteral("MExport"))->trigger();
            QTRY_VERIFY(window->work() == nullptr);
        }
        QVERIFY(offAtFirst);

        const std::string expected = format == RecordFormat::Iso2709 && repair
                                         ? contents(repairedPath)
                                         : converted(repair ? repairedPath : path, format, 1, 3);
        QCOMPARE(contents(target), expected);
        if (!repair && format == RecordFormat::Iso2709)
            QVERIFY(contents(target).find('\t') != std::string::npos);
        // The choice is remembered for the next export.
        QCOMPARE(m_v->main.shared().lastExport.repair, repair);
        bool checkedNextTime = false;
        ModalAnswer again(answerAs<TDlgExport>([&](TDlgExport* dialog) {
            checkedNextTime = dialog->ChkRepair->isChecked();
            dialog->BtnCancel->click();
        }));
        m_v->main.findChild<QAction*>(QStringLiteral("MExport"))->trigger();
        QCOMPARE(checkedNextTime, repair);
    }

    void cancelledExportLeavesTheTargetAsItWas_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<OverwriteChoice>("answer");
        QTest::addColumn<QString>("left");  // "<missing>" or "old"
        QTest::newRow("new file is removed") << false << OverwriteChoice::Cancel << "<missing>";
        QTest::newRow("append is cut back") << true << OverwriteChoice::Append << "old";
        QTest::newRow("overwrite keeps the old file") << true << OverwriteChoice::Overwrite << "old";
    }

    void cancelledExportLeavesTheTargetAsItWas()
    {
        QFETCH(bool, exists);
        QFETCH(OverwriteChoice, answer);
        QFETCH(QString, left);
        // The conversion looks for a cancel every few MiB: the file is longer.
        constexpr int kRecords = 90000;
        TFormMarc* window = open(m_v->sandbox.write("records.mrc", viewertest::numberedFile(kRecords)));
        QCOMPARE(window->RecordCount, kRecords);
        const QString target = m_v->sandbox.workDir() + "/out.jsonl";
        if (exists)
            m_v->sandbox.write("out.jsonl", "old");
        m_v->prompt.answer = answer;
        {
            HeldWork held;
            ExportRecords(window, 1, kRecords, RecordFormat::JsonLines, target);
            QTRY_VERIFY(held.held());
            QVERIFY(m_v->main.workPanel()->isVisible());
            QVERIFY(!m_v->main.findChild<QAction*>(QStringLiteral("MExport"))->isEnabled());
            m_v->main.cancelActiveWork();
            held.release();
            QTRY_VERIFY(window->work() == nullptr);
        }
        QCOMPARE(QString::fromStdString(contents(target)), left);
        QCOMPARE(m_v->prompt.texts(), QStringList());
        // Nothing written beside the target is left behind.
        QCOMPARE(QDir(m_v->sandbox.workDir()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("out.jsonl")),
                 exists ? QStringList{QStringLiteral("out.jsonl")} : QStringList());
    }
};

QTEST_MAIN(ExportTest)
#include "ExportTest.moc"
