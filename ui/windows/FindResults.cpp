// SPDX-License-Identifier: Apache-2.0
#include "windows/FindResults.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QPalette>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "windows/Marc.h"
#include "windows/RecordText.h"

namespace {

const char* const kHeaders[] = {"文件", "纪录号", "题名", "字段"};

// Files of one folder differ at the end of their names: a narrow column keeps
// both ends and drops the middle.
class MiddleElidingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

}  // namespace

FindResultsModel::FindResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

void FindResultsModel::reset(const QList<TFormMarc*>& windows)
{
    beginResetModel();
    for (const QMetaObject::Connection& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_rows.clear();
    m_windows.clear();
    for (TFormMarc* window : windows) {
        const std::size_t place = m_windows.size();
        m_windows.push_back({window, window->TitleName, false});
        // Marked at once: a window closed with the viewer may linger until its deletion.
        m_connections.append(connect(window, &QObject::destroyed, this, [this, place] {
            m_windows[place].closed = true;
            if (!m_rows.empty())
                emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::ForegroundRole});
        }));
    }
    endResetModel();
}

void FindResultsModel::append(std::vector<FindAllHit> hits)
{
    if (hits.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(hits.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
    endInsertRows();
}

TFormMarc* FindResultsModel::windowOf(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    const Window& window = m_windows[static_cast<std::size_t>(m_rows[static_cast<std::size_t>(row)].target)];
    return window.closed ? nullptr : window.window.data();
}

QString FindResultsModel::cell(const FindAllHit& hit, int column) const
{
    switch (column) {
    case FileColumn:
        return m_windows[static_cast<std::size_t>(hit.target)].file;
    case RecordColumn:
        return QString::number(hit.record);
    case TitleColumn:
        return hit.title;
    case TagColumn:
        return hit.tag;
    default:
        return {};
    }
}

QString FindResultsModel::text(QList<int> rows) const
{
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int row : rows) {
        if (row < 0 || row >= rowCount())
            continue;
        QStringList cells;
        for (int column = 0; column < ColumnCount; ++column)
            cells.append(cell(m_rows[static_cast<std::size_t>(row)], column));
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

int FindResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FindResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FindResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FindAllHit& hit = m_rows[static_cast<std::size_t>(index.row())];
    // The file column shows the file's name; its tooltip, and a copy, the whole path.
    if (role == Qt::DisplayRole && index.column() == FileColumn)
        return QFileInfo(cell(hit, FileColumn)).fileName();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cell(hit, index.column());
    if (role == Qt::TextAlignmentRole && index.column() == RecordColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && windowOf(index.row()) == nullptr)
        return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    return {};
}

QVariant FindResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromUtf8(kHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

FindResultsDock::FindResultsDock(QWidget* mainWindow)
    : QDockWidget(QStringLiteral("查找结果"), mainWindow), m_model(new FindResultsModel(this))
{
    setObjectName(QStringLiteral("FindResultsDock"));
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 2, 4, 4);
    auto* top = new QHBoxLayout;
    m_count = new QLabel(QStringLiteral("命中：0"), content);
    m_count->setObjectName(QStringLiteral("FindResultsCount"));
    m_note = new QLabel(content);
    m_note->setObjectName(QStringLiteral("FindResultsNote"));
    m_progress = new QProgressBar(content);
    m_progress->setObjectName(QStringLiteral("FindResultsProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setFixedWidth(140);
    m_cancel = new QToolButton(content);
    m_cancel->setObjectName(QStringLiteral("FindResultsCancel"));
    m_cancel->setText(QStringLiteral("取消"));
    m_cancel->setToolTip(QStringLiteral("取消 (Esc)"));
    connect(m_cancel, &QToolButton::clicked, this, &FindResultsDock::cancelSearch);
    top->addWidget(m_count);
    top->addWidget(m_note, 1);
    top->addWidget(m_progress);
    top->addWidget(m_cancel);
    layout->addLayout(top);
    m_view = new QTableView(content);
    m_view->setObjectName(QStringLiteral("FindResultsView"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->horizontalHeader()->setStretchLastSection(false);
    m_view->horizontalHeader()->setSectionResizeMode(FindResultsModel::TitleColumn, QHeaderView::Stretch);
    m_view->setColumnWidth(FindResultsModel::FileColumn, 260);
    m_view->setItemDelegateForColumn(FindResultsModel::FileColumn, new MiddleElidingDelegate(m_view));
    m_view->setColumnWidth(FindResultsModel::RecordColumn, 70);
    m_view->setColumnWidth(FindResultsModel::TagColumn, 50);
    m_view->installEventFilter(this);
    connect(m_view, &QAbstractItemView::activated, this, [this](const QModelIndex& index) { activateRow(index.row()); });
    layout->addWidget(m_view, 1);
    setWidget(content);
    m_progress->hide();
    m_cancel->hide();
}

FindResultsDock::~FindResultsDock()
{
    // The worker goes before the model it feeds.
    m_search.reset();
}

void FindResultsDock::search(const QList<TFormMarc*>& windows, std::vector<FindAllTarget> targets)
{
    cancelSearchAndWait();
    m_search.reset();
    watchWindows(false);
    m_windows = QList<QPointer<TFormMarc>>(windows.begin(), windows.end());
    m_model->reset(windows);
    // Every target seeks the same text: a hit opened selects it in the record.
    const veltrane::SearchQuery sought = targets.empty() ? veltrane::SearchQuery() : targets.front().query;
    m_soughtText = QString::fromStdString(sought.text);
    m_soughtCaseSensitive = sought.caseSensitive;
    m_soughtTag = QString::fromStdString(sought.tag);
    m_count->setText(QStringLiteral("命中：0"));
    m_note->setText(QStringLiteral("正在查找…"));
    m_progress->setValue(0);
    m_progress->show();
    m_cancel->show();
    show();
    raise();
    m_view->setFocus();
    m_search = std::make_unique<FindAllSearch>(std::move(targets), maxRows);
    connect(m_search.get(), &FindAllSearch::hitsReady, this, &FindResultsDock::takeHits);
    connect(m_search.get(), &FindAllSearch::progressChanged, this, &FindResultsDock::showProgress);
    connect(m_search.get(), &FindAllSearch::finished, this, &FindResultsDock::searchEnded);
    // Closing a window stops the search first, so that nothing reads on
    // behind a window that is gone.
    watchWindows(true);
    m_search->start();
}

bool FindResultsDock::searching() const
{
    return m_search && m_search->running();
}

void FindResultsDock::cancelSearch()
{
    if (m_search)
        m_search->cancel();
}

void FindResultsDock::cancelSearchAndWait()
{
    if (m_search)
        m_search->cancelAndWait();
}

void FindResultsDock::takeHits()
{
    if (!m_search)
        return;
    const bool wasEmpty = m_model->rowCount() == 0;
    m_model->append(m_search->takeHits());
    m_count->setText(QStringLiteral("命中：%1").arg(m_model->rowCount()));
    // The keyboard starts on the first hit, which is not opened until asked.
    if (wasEmpty && m_model->rowCount() > 0 && !m_view->currentIndex().isValid())
        m_view->selectionModel()->setCurrentIndex(m_model->index(0, 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FindResultsDock::showProgress()
{
    if (!m_search)
        return;
    const std::uint64_t total = m_search->total();
    m_progress->setValue(total == 0 ? 0 : static_cast<int>(m_search->done() * 1000 / total));
}

void FindResultsDock::searchEnded()
{
    takeHits();
    m_progress->hide();
    m_cancel->hide();
    QStringList notes;
    if (m_search->cancelRequested() && !m_search->limitReached()) {
        notes.append(QStringLiteral("查找已取消。"));
    } else if (m_search->limitReached()) {
        notes.append(QStringLiteral("命中超过%1条，只列出前%1条，查找到此为止。").arg(maxRows));
    }
    const std::vector<veltrane::Outcome>& outcomes = m_search->outcomes();
    for (std::size_t i = 0; i < outcomes.size() && i < static_cast<std::size_t>(m_model->windowCount()); ++i) {
        if (outcomes[i] == veltrane::Outcome::FileError || outcomes[i] == veltrane::Outcome::Unreadable)
            notes.append(QStringLiteral("未能查完：%1").arg(m_model->windowFile(static_cast<int>(i))));
    }
    m_note->setText(notes.join(QLatin1Char(' ')));
}

void FindResultsDock::watchWindows(bool watch)
{
    for (const QPointer<TFormMarc>& window : std::as_const(m_windows)) {
        if (!window)
            continue;
        if (watch)
            window->installEventFilter(this);
        else
            window->removeEventFilter(this);
    }
}

bool FindResultsDock::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view) {
        const auto* key = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress
                              ? static_cast<QKeyEvent*>(event)
                              : nullptr;
        // Esc here stops this search, not the active window's work.
        if (key != nullptr && key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && searching()) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                cancelSearch();
            return true;
        }
        if (key != nullptr && key->matches(QKeySequence::Copy)) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                copySelection();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::Close && searching())
        cancelSearchAndWait();
    return false;
}

void FindResultsDock::activateRow(int row)
{
    TFormMarc* window = m_model->windowOf(row);
    if (window == nullptr)
        return;
    if (window->isMinimized())
        window->showNormal();
    window->mdiArea()->setActiveSubWindow(window);
    // A window busy with its own operation is only brought forward: its
    // record commands wait for that operation too.
    if (window->work() == nullptr &&
        window->ShowRecord(static_cast<int>(m_model->recordOf(row)), static_cast<int>(m_model->recordOf(row)), "") > 0)
        (void)SelectFirstMatch(window->MemoMarc, m_soughtText, m_soughtCaseSensitive, m_soughtTag);
}

void FindResultsDock::copySelection() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        rows.append(index.row());
    if (!rows.isEmpty())
        QApplication::clipboard()->setText(m_model->text(rows));
}
