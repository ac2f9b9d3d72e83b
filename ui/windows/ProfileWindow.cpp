// SPDX-License-Identifier: Apache-2.0
#include "windows/ProfileWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <map>

#include "dialogs/CheckRecordDialog.h"
#include "windows/ProfileCharts.h"

namespace {

using Row = QList<QVariant>;

QString byteText(char b)
{
    return QString::fromStdString(veltrane::ProfileByteText(static_cast<unsigned char>(b)));
}

QString tagText(const std::string& tag)
{
    return QString::fromStdString(veltrane::ProfileTagText(tag));
}

QVariant number(std::int64_t n)
{
    return QVariant::fromValue<qlonglong>(n);
}

bool isNumber(const QVariant& value)
{
    return value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int;
}

/// The selected rows as tab-separated lines, in the order shown.
QString selectedRowsText(const QTableWidget* table)
{
    QList<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int row : rows) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells.append(table->item(row, column)->text());
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

/// A table whose Ctrl+C copies the selected rows (an item view copies only
/// its current cell).
class ProfileTable final : public QTableWidget {
public:
    using QTableWidget::QTableWidget;

    void copySelectedRows() const
    {
        if (const QString text = selectedRowsText(this); !text.isEmpty())
            QApplication::clipboard()->setText(text);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Copy)) {
            copySelectedRows();
            event->accept();
            return;
        }
        QTableWidget::keyPressEvent(event);
    }
};

/// A read-only table of rows: numbers right-aligned, the selected rows copied
/// with Ctrl+C or from its context menu.
QTableWidget* makeTable(const char* name, const QStringList& headers, const QList<Row>& rows)
{
    auto* table = new ProfileTable(static_cast<int>(rows.size()), static_cast<int>(headers.size()));
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c) {
            auto* item = new QTableWidgetItem;
            item->setData(Qt::DisplayRole, rows[r][c]);
            item->setTextAlignment(isNumber(rows[r][c]) ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
            table->setItem(r, c, item);
        }
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    auto* copy = new QAction(QStringLiteral("复制(&C)"), table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(copy, &QAction::triggered, table, [table] { table->copySelectedRows(); });
    table->addAction(copy);
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    return table;
}

/// The table, sortable by a click on a column's header from now on.
QTableWidget* sortable(QTableWidget* table)
{
    // The rows came in the order of their first column.
    table->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    table->setSortingEnabled(true);
    table->resizeColumnsToContents();  // the headers now hold the sort indicator too
    return table;
}

/// Rows of position, value and count for each value found at each position.
QList<Row> positionRows(const veltrane::PositionCounts& counts, const QVariant& first = {})
{
    QList<Row> rows;
    for (std::size_t p = 0; p < counts.values.size(); ++p) {
        for (std::size_t v = 0; v < 256; ++v) {
            if (const std::int64_t n = counts.values[p][v]; n > 0) {
                Row row{static_cast<int>(p), byteText(static_cast<char>(v)), number(n)};
                if (first.isValid())
                    row.prepend(first);
                rows.append(row);
            }
        }
    }
    return rows;
}

QWidget* sideBySide(QWidget* table, QWidget* chart)
{
    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(table);
    splitter->addWidget(chart);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    return splitter;
}

}  // namespace

ProfileWindow::ProfileWindow(const QString& fileTitle, const veltrane::FileProfile& profile, QWidget* parent)
    : QWidget(parent, Qt::Window), m_tabs(new QTabWidget(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("ProfileWindow"));
    setWindowTitle(QStringLiteral("文件概况：%1").arg(fileTitle));
    m_tabs->setObjectName(QStringLiteral("ProfileTabs"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    addSummaryTab(profile);
    addCharsetTab(profile);
    addProblemTab(profile);
    addTagTab(profile);
    addSubfieldAndIndicatorTabs(profile);
    addPositionTabs(profile);
    addYearTab(profile);
    resize(860, 560);
}

void ProfileWindow::addSummaryTab(const veltrane::FileProfile& profile)
{
    m_tabs->addTab(makeTable("SummaryTable",
                             {QStringLiteral("纪录数"), QStringLiteral("最短纪录（字节）"),
                              QStringLiteral("纪录长度中位数（字节）"), QStringLiteral("最长纪录（字节）")},
                             {{number(profile.records), number(profile.smallest), number(profile.median), number(profile.largest)}}),
                   QStringLiteral("概要"));
}

void ProfileWindow::addCharsetTab(const veltrane::FileProfile& profile)
{
    QList<Row> rows;
    std::map<QString, std::int64_t> perSet;  // the chart adds up the rules of each set
    for (const auto& [key, records] : profile.charsets) {
        const QString name = QString::fromStdString(key.first).toUpper();
        rows.append({name, key.second, number(records)});
        perSet[name] += records;
    }
    QTableWidget* table =
        sortable(makeTable("CharsetTable", {QStringLiteral("字符集"), QStringLiteral("规则"), QStringLiteral("纪录数")}, rows));
    table->horizontalHeaderItem(1)->setToolTip(QStringLiteral("判定字符集的规则编号；0：未经判定，按所选的字符集读"));
    m_charsetChart = new BarChart(QStringLiteral("各字符集的纪录数"));
    m_charsetChart->setObjectName(QStringLiteral("CharsetChart"));
    QList<BarChart::Bar> bars;
    for (const auto& [name, records] : perSet)
        bars.append({name, records});
    m_charsetChart->setBars(bars);
    auto* chartArea = new QWidget;
    auto* chartLayout = new QVBoxLayout(chartArea);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addWidget(m_charsetChart);
    chartLayout->addStretch(1);
    m_tabs->addTab(sideBySide(table, chartArea), QStringLiteral("字符集"));
}

void ProfileWindow::addProblemTab(const veltrane::FileProfile& profile)
{
    QList<Row> rows;
    for (const auto& [code, count] : profile.problems)
        rows.append({QString::fromStdString(code), CheckProblemMeaning(code), number(count)});
    m_tabs->addTab(sortable(makeTable("ProblemTable", {QStringLiteral("问题"), QStringLiteral("说明"), QStringLiteral("次数")}, rows)),
                   QStringLiteral("结构问题"));
}

void ProfileWindow::addTagTab(const veltrane::FileProfile& profile)
{
    QList<Row> rows;
    QList<BarChart::Bar> bars;
    QStringList rawTags;
    for (const auto& [tag, counts] : profile.tags) {
        rows.append({tagText(tag), number(counts.count.records), number(counts.count.occurrences),
                     number(static_cast<std::int64_t>(counts.shortest)), number(static_cast<std::int64_t>(counts.longest))});
        bars.append({tagText(tag), counts.count.records});
        rawTags.append(QString::fromLatin1(tag.data(), static_cast<qsizetype>(tag.size())));
    }
    m_tagTable = makeTable("TagTable",
                           {QStringLiteral("字段"), QStringLiteral("纪录数"), QStringLiteral("出现次数"),
                            QStringLiteral("最短（字节）"), QStringLiteral("最长（字节）")},
                           rows);
    // The tag's own bytes go with its row, wherever sorting moves it.
    for (int row = 0; row < m_tagTable->rowCount(); ++row)
        m_tagTable->item(row, 0)->setData(Qt::UserRole, rawTags[row]);
    sortable(m_tagTable);
    m_tagChart = new BarChart(QStringLiteral("各字段的纪录数"));
    m_tagChart->setObjectName(QStringLiteral("TagChart"));
    m_tagChart->setBars(bars);
    connect(m_tagChart, &BarChart::barActivated, this, [this, rawTags](int index) { activateTag(rawTags[index]); });
    connect(m_tagTable, &QTableWidget::activated, this,
            [this](const QModelIndex& index) { activateTag(m_tagTable->item(index.row(), 0)->data(Qt::UserRole).toString()); });
    auto* scroll = new QScrollArea;
    scroll->setWidget(m_tagChart);
    scroll->setWidgetResizable(true);
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(new QLabel(QStringLiteral("双击表中或图中的字段，在所有窗口中查找含有这个字段的纪录。")));
    pageLayout->addWidget(sideBySide(m_tagTable, scroll), 1);
    m_tabs->addTab(page, QStringLiteral("字段"));
}

void ProfileWindow::addSubfieldAndIndicatorTabs(const veltrane::FileProfile& profile)
{
    QList<Row> subfields;
    for (const auto& [key, counts] : profile.subfields)
        subfields.append({tagText(key.first), byteText(key.second), number(counts.records), number(counts.occurrences)});
    m_tabs->addTab(sortable(makeTable("SubfieldTable",
                                      {QStringLiteral("字段"), QStringLiteral("子字段"), QStringLiteral("纪录数"),
                                       QStringLiteral("出现次数")},
                                      subfields)),
                   QStringLiteral("子字段"));
    QList<Row> indicators;
    for (const auto& [key, values] : profile.indicators)
        for (const auto& [value, fields] : values)
            indicators.append({tagText(key.first), key.second, byteText(value), number(fields)});
    m_tabs->addTab(sortable(makeTable("IndicatorTable",
                                      {QStringLiteral("字段"), QStringLiteral("指示符"), QStringLiteral("值"),
                                       QStringLiteral("字段数")},
                                      indicators)),
                   QStringLiteral("指示符"));
}

void ProfileWindow::addPositionTabs(const veltrane::FileProfile& profile)
{
    const QStringList positionHeaders{QStringLiteral("位置"), QStringLiteral("值"), QStringLiteral("纪录数")};
    m_tabs->addTab(sortable(makeTable("LeaderTable", positionHeaders, positionRows(profile.leader))), QStringLiteral("头标"));
    QList<Row> fixedData;
    for (const auto& [type, counts] : profile.marc21FixedData)
        fixedData.append(positionRows(counts, tagText(type)));
    QTableWidget* marc21 = sortable(makeTable("FixedDataTable", QStringList{QStringLiteral("资料类型")} + positionHeaders, fixedData));
    marc21->horizontalHeaderItem(0)->setToolTip(QStringLiteral("头标第6、7位"));
    m_tabs->addTab(marc21, QStringLiteral("008"));
    m_tabs->addTab(sortable(makeTable("GeneralDataTable", positionHeaders, positionRows(profile.unimarcGeneralData))),
                   QStringLiteral("100 $a"));
}

void ProfileWindow::addYearTab(const veltrane::FileProfile& profile)
{
    QList<Row> rows;
    for (const auto& [year, records] : profile.years)
        rows.append({year, number(records)});
    QTableWidget* table = sortable(makeTable("YearTable", {QStringLiteral("出版年"), QStringLiteral("纪录数")}, rows));
    m_yearChart = new YearHistogram;
    m_yearChart->setObjectName(QStringLiteral("YearChart"));
    m_yearChart->setYears(profile.years);
    m_tabs->addTab(sideBySide(table, m_yearChart), QStringLiteral("出版年"));
}

void ProfileWindow::activateTag(const QString& rawTag)
{
    const bool typable = std::all_of(rawTag.begin(), rawTag.end(), [](QChar c) { return c.unicode() > ' ' && c.unicode() < 0x7F; });
    if (rawTag.size() == 3 && typable)
        emit tagActivated(rawTag);
}
