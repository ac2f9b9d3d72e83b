// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordListPane.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

#include "list/ListFill.h"
#include "windows/RecordListModel.h"

using veltrane::ListColumn;

RecordListView::RecordListView(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setAlternatingRowColors(true);
    verticalHeader()->hide();
    // Rows of one height, columns of fixed widths: the view never measures a million rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    // File order until a header is clicked.
    setSortingEnabled(true);
    setAccessibleName(QStringLiteral("记录列表"));
}

QModelIndex RecordListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Ctrl+Home and Ctrl+End stay 首条 and 末条: the file's first and last
    // record, wherever the sort put them.
    if ((action == MoveHome || action == MoveEnd) && (modifiers & Qt::ControlModifier)) {
        emit endRecordWanted(action == MoveHome);
        return currentIndex();
    }
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    if (action == MoveHome && model()->rowCount() > 0)
        return model()->index(0, column);
    if (action == MoveEnd && model()->rowCount() > 0)
        return model()->index(model()->rowCount() - 1, column);
    return QTableView::moveCursor(action, modifiers);
}

void RecordListView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        auto* list = static_cast<RecordListModel*>(model());
        QModelIndexList rows = selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
        QStringList lines;
        for (const QModelIndex& row : rows)
            lines.append(list->rowText(row.row()));
        if (!lines.isEmpty())
            QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void RecordListView::keyboardSearch(const QString& search)
{
    // Jumps ahead on the sorted column (the number before any sort), as the
    // typed text grows; a new search starts after the current row.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QString& typed = m_typed;
    typed = now - m_typedAt > QApplication::keyboardInputInterval() ? search : typed + search;
    m_typedAt = now;
    auto* list = static_cast<RecordListModel*>(model());
    const int column = list->sortColumn() < 0 ? 0 : list->sortColumn();
    const int from = currentIndex().isValid() ? currentIndex().row() + (typed == search ? 1 : 0) : 0;
    const int row = list->findPrefix(column, typed, from);
    if (row >= 0)
        setCurrentIndex(list->index(row, currentIndex().isValid() ? currentIndex().column() : column));
}

RecordListPane::RecordListPane(QWidget* parent)
    : QWidget(parent),
      m_model(new RecordListModel(this)),
      m_view(new RecordListView(this)),
      m_filter(new QLineEdit(this)),
      m_filterColumn(new QComboBox(this)),
      m_count(new QLabel(this)),
      m_stop(new QToolButton(this))
{
    setObjectName(QStringLiteral("RecordListPane"));
    m_view->setObjectName(QStringLiteral("RecordList"));
    m_view->setModel(m_model);
    m_filter->setObjectName(QStringLiteral("RecordListFilter"));
    m_filter->setPlaceholderText(QStringLiteral("筛选"));
    m_filter->setAccessibleName(QStringLiteral("筛选"));
    m_filter->setClearButtonEnabled(true);
    m_filterColumn->setObjectName(QStringLiteral("RecordListFilterColumn"));
    m_filterColumn->setAccessibleName(QStringLiteral("筛选的列"));
    m_filterColumn->addItem(QStringLiteral("全部列"));
    for (int c = 0; c < veltrane::kListColumnCount; ++c)
        m_filterColumn->addItem(m_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    m_count->setObjectName(QStringLiteral("RecordListCount"));
    m_stop->setObjectName(QStringLiteral("RecordListStop"));
    m_stop->setText(QStringLiteral("停止"));
    m_stop->setToolTip(QStringLiteral("停止读取列表"));
    m_stop->hide();

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(m_filter, 1);
    bar->addWidget(m_filterColumn);
    bar->addWidget(m_count);
    bar->addWidget(m_stop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);

    const int width = m_view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[veltrane::kListColumnCount] = {8, 12, 40, 20, 20, 6, 15, 8, 5};
    for (int c = 0; c < veltrane::kListColumnCount; ++c)
        m_view->setColumnWidth(c, widths[c] * width + 12);

    connect(m_filter, &QLineEdit::textChanged, this, &RecordListPane::applyFilter);
    connect(m_filterColumn, &QComboBox::currentIndexChanged, this, &RecordListPane::applyFilter);
    connect(m_stop, &QToolButton::clicked, this, &RecordListPane::stopFill);
    connect(m_model, &RecordListModel::countsChanged, this, &RecordListPane::updateCount);
    connect(m_view, &RecordListView::endRecordWanted, this, [this](bool first) {
        if (m_model->records() > 0)
            emit recordChosen(first ? 1 : m_model->records());
    });
    connect(m_model, &RecordListModel::arranged, this, &RecordListPane::updateCount);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!m_selecting && current.isValid())
                    emit recordChosen(m_model->recordAt(current.row()));
            });
    updateCount();
}

RecordListPane::~RecordListPane()
{
    m_fill.request_stop();
    if (m_fill.joinable())
        m_fill.join();
}

void RecordListPane::fill(const std::string& fileName, int records, veltrane::DelimiterMode mode,
                          veltrane::CharsetSetting setting)
{
    m_fill.request_stop();
    if (m_fill.joinable())
        m_fill.join();
    // Rows still posted by a fill just stopped belong to it, not to this one.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    m_model->reset(records);
    m_filling = true;
    m_stopped = false;
    m_percent = 0;
    m_stop->show();
    updateCount();
    RecordListPane* const pane = this;  // joined before it goes
    m_fill = std::jthread([pane, fileName, mode, setting](std::stop_token stop) {
        const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        bool failed = fd < 0;
        if (fd >= 0) {
            veltrane::WorkMonitor monitor{stop, [pane, stop](std::uint64_t done, std::uint64_t total) {
                                              if (onReportForTests)
                                                  onReportForTests(stop);
                                              const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
                                              QMetaObject::invokeMethod(pane, [pane, percent] {
                                                  pane->m_percent = percent;
                                                  pane->updateCount();
                                              }, Qt::QueuedConnection);
                                          }, reportInterval};
            const veltrane::ListFill result = veltrane::FillRecordList(
                fd, mode, setting,
                [pane, &stop](veltrane::RecordList& rows) {
                    if (stop.stop_requested())
                        return;
                    auto chunk = std::make_shared<veltrane::RecordList>();
                    chunk->append(rows);
                    QMetaObject::invokeMethod(pane, [pane, chunk] { pane->m_model->appendRows(*chunk); },
                                              Qt::QueuedConnection);
                },
                monitor);
            ::close(fd);
            failed = result.outcome == veltrane::Outcome::FileError;
        }
        if (!stop.stop_requested())
            QMetaObject::invokeMethod(pane, [pane, failed] { pane->endFill(failed); }, Qt::QueuedConnection);
    });
}

void RecordListPane::stopFill()
{
    if (!m_filling)
        return;
    m_fill.request_stop();
    m_fill.join();
    // What the fill posted before it stopped is taken in before it ends.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!m_filling)
        return;  // it had ended meanwhile
    m_stopped = true;
    endFill(false);
}

void RecordListPane::endFill(bool failed)
{
    if (!m_filling)
        return;
    m_filling = false;
    m_stopped = m_stopped || failed;
    m_stop->hide();
    m_model->fillEnded();
    updateCount();
    emit fillEnded();
}

void RecordListPane::applyFilter()
{
    const int chosen = m_filterColumn->currentIndex();
    const std::optional<ListColumn> column =
        chosen <= 0 ? std::nullopt : std::optional<ListColumn>(static_cast<ListColumn>(chosen - 1));
    m_model->setFilter(column, m_filter->text());
}

void RecordListPane::updateCount()
{
    QString text = QStringLiteral("显示 %1 / 共 %2 条").arg(m_model->shownRows()).arg(m_model->records());
    if (m_filling)
        text += QStringLiteral("（正在读取 %1%）").arg(m_percent);
    else if (m_model->arranging())
        text += QStringLiteral("（正在排列）");
    else if (m_stopped)
        text += QStringLiteral("（已读 %1 条）").arg(m_model->filledRows());
    m_count->setText(text);
}

void RecordListPane::selectRecord(int record)
{
    const int row = m_model->rowOf(record);
    m_selecting = true;
    if (row < 0) {
        m_view->clearSelection();
        m_view->selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    } else {
        const int column = m_view->currentIndex().isValid() ? m_view->currentIndex().column() : 0;
        const QModelIndex at = m_model->index(row, column);
        m_view->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_view->scrollTo(at);
    }
    m_selecting = false;
}

std::vector<int> RecordListPane::selectedRecords() const
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<int> records;
    for (const QModelIndex& row : rows)
        records.push_back(m_model->recordAt(row.row()));
    return records;
}
