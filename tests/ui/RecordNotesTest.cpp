// SPDX-License-Identifier: Apache-2.0
// What a document window tells of a record as its format's rules read it: the
// rules chosen per window, the content faults in the information panel and in
// the check dialog, the field names beside the text, the tooltips, and the
// marks under faults.

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTreeWidget>

#include "dialogs/CheckRecordDialog.h"
#include "windows/Main.h"
#include "windows/Marc.h"
#include "windows/RecordNotes.h"
#include "windows/RecordTextEdit.h"
#include "ViewerHarness.h"

Q_DECLARE_METATYPE(veltrane::RuleSet)

using viewertest::answerAs;
using viewertest::ModalAnswer;

namespace {

/// A MARC 21 record that follows the format.
std::string marc21Record(const std::string& indicators = "10")
{
    std::string record =
        testsupport::MakeRecord({{"001", "m1"}, {"245", indicators + "\x1f" "aTitle /\x1f" "cAuthor."}});
    record[8] = ' ';  // type of control: none (the shared builder writes a UNIMARC level there)
    return record;
}

/// A CNMARC record in GBK that follows the format.
std::string cnmarcRecord(const std::string& titleIndicators = "1 ")
{
    using viewertest::gbk;
    return testsupport::MakeRecord({
        {"001", "cn1"},
        {"100", "  \x1f" "a20240101d2024    em y0chiy0121    ea"},
        {"101", "0 \x1f" "achi"},
        {"200", titleIndicators + "\x1f" "a" + gbk(QStringLiteral("中文题名")) + "\x1f" "f" + gbk(QStringLiteral("张三"))},
        {"801", " 0\x1f" "aCN\x1f" "b" + gbk(QStringLiteral("国家图书馆"))},
    });
}

/// A MARC 21 authority record: a complete one for a personal name.
std::string authorityRecord()
{
    std::string record = testsupport::MakeRecord({{"001", "a1"}, {"100", "1 \x1f" "aLovelace, Ada"}});
    record.replace(5, 5, "nz  a");
    record[17] = 'n';
    return record;
}

}  // namespace

class RecordNotesTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    TFormMarc* open(const std::string& name, const std::string& bytes)
    {
        (void)OpenMarcFile(&m_v->main, m_v->sandbox.write(QString::fromStdString(name), bytes));
        return FormMarc.data();
    }
    QString info() const { return m_v->main.infoPanel()->text(); }
    QAction* rulesItem(const char* name) const
    {
        return m_v->main.findChild<QAction*>(QStringLiteral("MRules_") + QString::fromLatin1(name));
    }

private slots:
    void init()
    {
        m_v.emplace();
        QVERIFY(m_v->show());
        m_v->main.shared().delimiterMode = veltrane::dmNormal;
    }
    void cleanup() { m_v.reset(); }

    void panelCountsContentFaultsAfterStructuralOnes_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("panel");
        QTest::newRow("clean MARC 21") << QByteArray::fromStdString(marc21Record())
                                       << QStringLiteral("字符集：ASCII（自动），共 1 条");
        QTest::newRow("MARC 21 bad indicator") << QByteArray::fromStdString(marc21Record("x0"))
                                               << QStringLiteral("字符集：ASCII（自动），内容问题：1，共 1 条");
        QTest::newRow("clean CNMARC") << QByteArray::fromStdString(cnmarcRecord())
                                      << QStringLiteral("字符集：GBK（自动），共 1 条");
        std::string cut = cnmarcRecord("9 ");
        cut[cut.size() - 2] = 'x';  // the last field's terminator
        QTest::newRow("both kinds") << QByteArray::fromStdString(cut)
                                    << QStringLiteral("字符集：GBK（自动），结构问题：1，内容问题：1，共 1 条");
    }

    void panelCountsContentFaultsAfterStructuralOnes()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, panel);
        TFormMarc* window = open("one.mrc", record.toStdString());
        QVERIFY(window->isOpen());
        QCOMPARE(info(), panel);
    }

    // Each window keeps its own rules; a new one starts at 自动; a choice
    // shows the record again at once; 不检查 checks nothing.
    void rulesAreChosenPerWindow()
    {
        TFormMarc* first = open("first.mrc", marc21Record());
        QVERIFY(rulesItem("auto")->isChecked());
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），共 1 条"));
        rulesItem("unimarc")->trigger();
        QCOMPARE(first->RuleChoice, veltrane::RuleSetting::Unimarc);
        // UNIMARC wants 200 and 801 and has no 245.
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），内容问题：3，共 1 条"));
        QCOMPARE(first->recordInfo().rules, veltrane::RuleSet::Unimarc);

        TFormMarc* second = open("second.mrc", marc21Record());
        QCOMPARE(second->RuleChoice, veltrane::RuleSetting::Auto);
        QVERIFY(rulesItem("auto")->isChecked());
        rulesItem("none")->trigger();
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），共 1 条"));
        QVERIFY(second->recordInfo().findings.empty());

        m_v->main.mdiArea()->setActiveSubWindow(first);
        QVERIFY(rulesItem("unimarc")->isChecked());
        QCOMPARE(info(), QStringLiteral("字符集：ASCII（自动），内容问题：3，共 1 条"));
    }

    // The dialog keeps its structural text and lists the content findings
    // after it, a row each; a double click selects the place in the text.
    void checkDialogListsFindingsAndShowsTheirPlace()
    {
        TFormMarc* window = open("fault.mrc", cnmarcRecord("9 "));
        QVERIFY(window->isOpen());
        QString problems;
        QStringList row;
        QString label;
        ModalAnswer answer(answerAs<TDlgCheckRecord>([&](TDlgCheckRecord* dialog) {
            problems = dialog->MemoProblems->toPlainText();
            QVERIFY(dialog->ListFindings != nullptr);
            label = dialog->LabelFindings->text();
            QCOMPARE(dialog->ListFindings->topLevelItemCount(), 1);
            QTreeWidgetItem* item = dialog->ListFindings->topLevelItem(0);
            for (int c = 0; c < 4; ++c)
                row << item->text(c);
            emit dialog->ListFindings->itemDoubleClicked(item, 0);
            dialog->BtnClose->click();
        }));
        m_v->main.findChild<QAction*>(QStringLiteral("MCheckRecord"))->trigger();
        QVERIFY(answer.answered());
        QCOMPARE(problems, QString::fromUtf8(kNoStructuralProblemsText));
        QVERIFY2(label.contains(QStringLiteral("CNMARC")), qPrintable(label));
        QCOMPARE(row.value(0), QStringLiteral("错误"));
        QCOMPARE(row.value(1), QStringLiteral("200 第一指示符"));
        QCOMPARE(row.value(2), QStringLiteral("指示符的值没有定义"));
        QVERIFY2(row.value(3).contains(QStringLiteral("indicator 1 is 9")), qPrintable(row.value(3)));
        QCOMPARE(window->MemoMarc->selectedDisplayText(), QStringLiteral("9"));
        const QString text = window->MemoMarc->toPlainText();
        QCOMPARE(window->MemoMarc->displayPosition(window->MemoMarc->textCursor().selectionStart()),
                 static_cast<int>(text.indexOf(QStringLiteral("\n2009 ")) + 4));
    }

    void findingPlacesAreToldByTagOccurrenceAndElement()
    {
        veltrane::CheckProblem p;
        p.tag = "245";
        QCOMPARE(RuleFindingPlace(p), QStringLiteral("245"));
        p.occurrence = 2;
        p.subfield = 'a';
        QCOMPARE(RuleFindingPlace(p), QStringLiteral("245（第2个）$a"));
        p = {};
        p.tag = "008";
        p.occurrence = 1;
        p.position = 35;
        QCOMPARE(RuleFindingPlace(p), QStringLiteral("008/35"));
        p.tag.clear();
        p.position = 6;
        QCOMPARE(RuleFindingPlace(p), QStringLiteral("头标/06"));
    }

    // The names stand beside the lines they name, the wrapped field's
    // continuation line without one; the column is off until asked for and
    // the text is the same with it.
    void nameColumnLinesUpWithTheText()
    {
        TFormMarc* window = open("long.mrc", testsupport::MakeRecord({{"001", "m1"},
                                                                      {"245", "10\x1f" "a" + std::string(100, 'n') + "\x1f" "cAuthor."},
                                                                      {"260", "  \x1f" "aPlace"}}));
        QVERIFY(window->isOpen());
        RecordTextEdit* memo = window->MemoMarc;
        const QString text = memo->toPlainText();
        QVERIFY(!memo->lineNamesShown());
        QAction* toggle = m_v->main.findChild<QAction*>(QStringLiteral("MFieldNames"));
        QVERIFY(toggle != nullptr && !toggle->isChecked());
        toggle->trigger();
        QVERIFY(memo->lineNamesShown());
        QVERIFY(memo->lineNameColumn()->isVisible());
        QCOMPARE(memo->toPlainText(), text);
        const QStringList lines = text.split(QLatin1Char('\n'));
        const QStringList names = memo->lineNames();
        QCOMPARE(names.value(0), QStringLiteral("控制号"));
        QCOMPARE(names.value(1), QStringLiteral("题名说明"));
        QVERIFY2(lines.value(2).startsWith(QStringLiteral("     ")), qPrintable(text));
        QCOMPARE(names.value(2), QString());
        QVERIFY(!names.value(3).isEmpty());
        // Each name's row is its line's row, in the viewport the column shares.
        for (const RecordTextEdit::ShownLine& line : memo->shownLines()) {
            QTextCursor at(memo->document()->findBlockByNumber(line.line));
            const QRect cursor = memo->cursorRect(at);
            QVERIFY(cursor.top() >= line.top && cursor.bottom() <= line.bottom);
        }
        QCOMPARE(memo->lineNameColumn()->geometry().right() + 1, memo->viewport()->geometry().left());
        // Zoom widens it with the text.
        const int width = memo->lineNameColumn()->width();
        m_v->main.findChild<QAction*>(QStringLiteral("MZoomIn"))->trigger();
        QVERIFY(memo->lineNameColumn()->width() > width);
    }

    void tooltipsNameTagsIndicatorsAndSubfieldCodes_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("line");  // the start of the line hovered
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("tip");
        const QByteArray cn = QByteArray::fromStdString(cnmarcRecord());
        QTest::newRow("CNMARC tag") << cn << QStringLiteral("2001 ") << 1
                                    << QStringLiteral("200 题名与责任说明 (TITLE AND STATEMENT OF RESPONSIBILITY)");
        QTest::newRow("CNMARC indicator") << cn << QStringLiteral("2001 ") << 3 << QStringLiteral("第一指示符");
        QTest::newRow("CNMARC subfield") << cn << QStringLiteral("2001 ") << 5 << QStringLiteral("200 $a：正题名");
        const QByteArray m21 = QByteArray::fromStdString(marc21Record());
        QTest::newRow("MARC 21 tag") << m21 << QStringLiteral("24510") << 0 << QStringLiteral("245 题名说明");
        QTest::newRow("MARC 21 indicator") << m21 << QStringLiteral("24510") << 4
                                           << QStringLiteral("第二指示符：不排序字符数 (Nonfiling characters) 值 0");
        QTest::newRow("MARC 21 indicator meaning")
            << m21 << QStringLiteral("24510") << 3
            << QStringLiteral("第一指示符 1：题名有检索意义 (First indicator 1: Added entry)");
        QTest::newRow("MARC 21 subfield") << m21 << QStringLiteral("24510") << 14 << QStringLiteral("245 $c：责任说明等");
        QTest::newRow("leader") << m21 << QStringLiteral("001") << 4 << QStringLiteral("06 纪录类型 (Type of record)：a 文字资料");
        // An authority record is named by the authority format, its leader too.
        const QByteArray authority = QByteArray::fromStdString(authorityRecord());
        QTest::newRow("authority tag") << authority << QStringLiteral("1001 ") << 1
                                       << QStringLiteral("100 标目——个人名称 (HEADING--PERSONAL NAME)");
        QTest::newRow("authority leader")
            << authority << QStringLiteral("001") << 4
            << QStringLiteral("17 编码级别 (Encoding level)：n 完整的规范纪录 (Complete authority record)");
    }

    void tooltipsNameTagsIndicatorsAndSubfieldCodes()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, line);
        QFETCH(int, column);
        QFETCH(QString, tip);
        TFormMarc* window = open("tip.mrc", record.toStdString());
        QVERIFY(window->isOpen());
        const QString text = window->MemoMarc->toPlainText();
        const qsizetype start = text.startsWith(line) ? 0 : text.indexOf(QLatin1Char('\n') + line) + 1;
        QVERIFY2(start >= 0, qPrintable(text));
        const int at = static_cast<int>(start) + column;
        const QString told = ElementToolTip(window->textMap(), window->recordInfo(), at);
        QVERIFY2(told.contains(tip), qPrintable(told));
        // The text asks for the same where the mouse rests on that character.
        RecordTextEdit* memo = window->MemoMarc;
        QTextCursor cursor(memo->document());
        cursor.setPosition(memo->documentPosition(at));
        const QPoint point = memo->cursorRect(cursor).center() + QPoint(2, 0);
        QCOMPARE(memo->displayPositionAt(point), at);
    }

    // The first line's tooltip tells the leader position by position: the
    // names and meanings of MARC 21's codes, the values bare where the rules
    // explain no code (UNIMARC's label, an undefined position), a short
    // leader as far as it goes.
    void leaderIsToldPositionByPosition_data()
    {
        QTest::addColumn<QByteArray>("leader");
        QTest::addColumn<veltrane::RuleSet>("rules");
        QTest::addColumn<QStringList>("lines");
        const QStringList marc21EntryMap{
            QStringLiteral("20 字段长度部分的长度 (Length of the length-of-field portion)：4"),
            QStringLiteral("21 起始字符位置部分的长度 (Length of the starting-character-position portion)：5"),
            QStringLiteral("22 实施者定义部分的长度 (Length of the implementation-defined portion)：0"),
            QStringLiteral("23 未定义 (Undefined)：0"),
        };
        QTest::newRow("MARC 21 book") << QByteArray("01234nam a2200289 i 4500") << veltrane::RuleSet::Marc21
                                      << (QStringList{
                                              QStringLiteral("00-04 纪录长度 (Record length)：01234"),
                                              QStringLiteral("05 纪录状态 (Record status)：n 新纪录 (New)"),
                                              QStringLiteral("06 纪录类型 (Type of record)：a 文字资料 (Language material)"),
                                              QStringLiteral("07 书目级别 (Bibliographic level)：m 专著/单件 (Monograph/item)"),
                                              QStringLiteral("08 控制类型 (Type of control)：# 无特定类型 (No specific type)"),
                                              QStringLiteral("09 字符编码方案 (Character coding scheme)：a UCS/Unicode"),
                                              QStringLiteral("10 指示符数 (Indicator count)：2"),
                                              QStringLiteral("11 子字段代码长度 (Subfield code count)：2"),
                                              QStringLiteral("12-16 数据起始地址 (Base address of data)：00289"),
                                              QStringLiteral("17 编码级别 (Encoding level)：# 完整级 (Full level)"),
                                              QStringLiteral("18 著录格式 (Descriptive cataloging form)：i 含 ISBD 标识符 (ISBD punctuation included)"),
                                              QStringLiteral("19 多部分资源纪录级别 (Multipart resource record level)：# 未指明或不适用 (Not specified or not applicable)"),
                                          } + marc21EntryMap);
        QTest::newRow("MARC 21 undefined codes, short leader")
            << QByteArray("00042zxq b2200") << veltrane::RuleSet::Marc21
            << QStringList{
                   QStringLiteral("00-04 纪录长度 (Record length)：00042"),
                   QStringLiteral("05 纪录状态 (Record status)：z"),
                   QStringLiteral("06 纪录类型 (Type of record)：x"),
                   QStringLiteral("07 书目级别 (Bibliographic level)：q"),
                   QStringLiteral("08 控制类型 (Type of control)：# 无特定类型 (No specific type)"),
                   QStringLiteral("09 字符编码方案 (Character coding scheme)：b"),
                   QStringLiteral("10 指示符数 (Indicator count)：2"),
                   QStringLiteral("11 子字段代码长度 (Subfield code count)：2"),
                   QStringLiteral("12-13 数据起始地址 (Base address of data)：00"),
               };
        QTest::newRow("MARC 21 authority")
            << QByteArray("00042nz  a2200037n  4500") << veltrane::RuleSet::Marc21Authority
            << (QStringList{
                    QStringLiteral("00-04 纪录长度 (Record length)：00042"),
                    QStringLiteral("05 纪录状态 (Record status)：n 新纪录 (New)"),
                    QStringLiteral("06 纪录类型 (Type of record)：z 规范数据 (Authority data)"),
                    QStringLiteral("07 #"),
                    QStringLiteral("08 #"),
                    QStringLiteral("09 字符编码方案 (Character coding scheme)：a UCS/Unicode"),
                    QStringLiteral("10 指示符数 (Indicator count)：2"),
                    QStringLiteral("11 子字段代码长度 (Subfield code count)：2"),
                    QStringLiteral("12-16 数据起始地址 (Base address of data)：00037"),
                    QStringLiteral("17 编码级别 (Encoding level)：n 完整的规范纪录 (Complete authority record)"),
                    QStringLiteral("18 标识符方针 (Punctuation policy)：# 无信息提供 (No information provided)"),
                    QStringLiteral("19 #"),
                } + marc21EntryMap);
        const QStringList label{
            QStringLiteral("00-04 纪录长度 (Record length)：00042"),
            QStringLiteral("05 n"),
            QStringLiteral("06 a"),
            QStringLiteral("07 m"),
            QStringLiteral("08 0"),
            QStringLiteral("09 #"),
            QStringLiteral("10 指示符数 (Indicator count)：2"),
            QStringLiteral("11 子字段代码长度 (Subfield code count)：2"),
            QStringLiteral("12-16 数据起始地址 (Base address of data)：00024"),
            QStringLiteral("17 1"),
            QStringLiteral("18 #"),
            QStringLiteral("19 #"),
            QStringLiteral("20-23 地址目次项结构 (Entry map)：450#"),
        };
        QTest::newRow("UNIMARC label") << QByteArray("00042nam0 22000241  450 ") << veltrane::RuleSet::Unimarc << label;
        QTest::newRow("CNMARC label") << QByteArray("00042nam0 22000241  450 ") << veltrane::RuleSet::Cnmarc << label;
        QTest::newRow("no rules") << QByteArray("00042nam0 22000241  450 ") << veltrane::RuleSet::None << label;
    }

    void leaderIsToldPositionByPosition()
    {
        QFETCH(QByteArray, leader);
        QFETCH(veltrane::RuleSet, rules);
        QFETCH(QStringList, lines);
        const QStringList expected = QStringList{QStringLiteral("头标 (Leader)")} + lines +
                                     QStringList{QStringLiteral("（# 为空格）")};
        QCOMPARE(LeaderDescription(leader.toStdString(), rules).split(QLatin1Char('\n')), expected);
    }

    void faultsAreUnderlinedWithTheirMessage()
    {
        TFormMarc* clean = open("clean.mrc", marc21Record());
        QVERIFY(clean->MemoMarc->extraSelections().isEmpty());
        TFormMarc* window = open("fault.mrc", marc21Record("x0"));
        const QString text = window->MemoMarc->toPlainText();
        const QList<QTextEdit::ExtraSelection> marks = window->MemoMarc->extraSelections();
        QCOMPARE(marks.size(), 1);
        QCOMPARE(marks[0].format.underlineStyle(), QTextCharFormat::WaveUnderline);
        QCOMPARE(marks[0].cursor.selectedText(), QStringLiteral("x"));
        QCOMPARE(marks[0].cursor.selectionStart(), static_cast<int>(text.indexOf(QStringLiteral("245x0")) + 3));
        QVERIFY(window->MemoMarc->underlines()[0].message.startsWith(QStringLiteral("指示符的值没有定义：")));
        QCOMPARE(window->MemoMarc->toPlainText(), text);
        QVERIFY(!window->MemoMarc->textCursor().hasSelection());
    }
};

QTEST_MAIN(RecordNotesTest)
#include "RecordNotesTest.moc"
