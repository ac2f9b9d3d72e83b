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
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

#include "dialogs/AddColumn.h"
#include "list/ListFill.h"
#include "state/Settings.h"
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
      m_stop(new QToolButton(this)),
      m_keepTimer(new QTimer(this))
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
    fillFilterColumns();
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
    // Tab goes as the pane reads: the filter, its column, then the list.
    setTabOrder(m_filter, m_filterColumn);
    setTabOrder(m_filterColumn, m_view);

    placeColumns({});

    // Moved or resized columns are kept once the moving is over.
    m_keepTimer->setSingleShot(true);
    m_keepTimer->setInterval(500);
    connect(m_keepTimer, &QTimer::timeout, this, &RecordListPane::keepColumns);
    QHeaderView* header = m_view->horizontalHeader();
    connect(header, &QHeaderView::sectionMoved, m_keepTimer, qOverload<>(&QTimer::start));
    connect(header, &QHeaderView::sectionResized, m_keepTimer, qOverload<>(&QTimer::start));
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, &RecordListPane::showHeaderMenu);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &RecordListPane::showRowMenu);

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
    if (m_keepTimer->isActive())
        keepColumns();
    m_fill.request_stop();
    if (m_fill.joinable())
        m_fill.join();
}

void RecordListPane::fill(const std::string& fileName, int records, veltrane::DelimiterMode mode,
                          veltrane::CharsetSetting setting, veltrane::RuleSetting rules)
{
    m_fill.request_stop();
    if (m_fill.joinable())
        m_fill.join();
    // Rows still posted by a fill just stopped belong to it, not to this one.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    m_fileName = fileName;
    m_records = records;
    m_mode = mode;
    m_setting = setting;
    m_rules = rules;
    // A reset forgets where the columns stood.
    const std::vector<ColumnPlace> places = m_placesToTake.empty() ? columnPlaces() : std::exchange(m_placesToTake, {});
    QStringList headings;
    for (const veltrane::ColumnPath& path : m_ownColumns)
        headings.append(QString::fromStdString(path.text()));
    m_model->reset(records, headings);
    placeColumns(places);
    m_view->horizontalHeader()->setSortIndicator(m_model->sortColumn(), m_model->sortOrder());
    fillFilterColumns();
    m_filling = true;
    m_stopped = false;
    m_percent = 0;
    m_stop->show();
    updateCount();
    RecordListPane* const pane = this;  // joined before it goes
    m_fill = std::jthread([pane, fileName, mode, setting, rules, own = m_ownColumns](std::stop_token stop) {
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
                monitor, 0, own, rules);
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

void RecordListPane::refill()
{
    if (!m_fileName.empty())
        fill(m_fileName, m_records, m_mode, m_setting, m_rules);
}

std::vector<RecordListPane::ColumnPlace> RecordListPane::columnPlaces() const
{
    const QHeaderView* header = m_view->horizontalHeader();
    std::vector<ColumnPlace> places;
    for (int c = 0; c < header->count(); ++c)
        places.push_back({header->visualIndex(c), header->sectionSize(c), header->isSectionHidden(c)});
    return places;
}

void RecordListPane::placeColumns(const std::vector<ColumnPlace>& places)
{
    QHeaderView* header = m_view->horizontalHeader();
    const int digit = m_view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[veltrane::kListColumnCount] = {8, 12, 40, 20, 20, 6, 15, 8, 5};
    const int columns = header->count();
    // Columns in the order they are to stand: by their place kept, the others after.
    std::vector<int> order(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c)
        order[static_cast<std::size_t>(c)] = c;
    auto placeOf = [&](int c) {
        return c < static_cast<int>(places.size()) ? places[static_cast<std::size_t>(c)].visual : columns + c;
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return placeOf(a) < placeOf(b); });
    for (int v = 0; v < columns; ++v)
        header->moveSection(header->visualIndex(order[static_cast<std::size_t>(v)]), v);
    for (int c = 0; c < columns; ++c) {
        const bool kept = c < static_cast<int>(places.size());
        const int width = kept && places[static_cast<std::size_t>(c)].width > 0
                              ? places[static_cast<std::size_t>(c)].width
                              : (c < veltrane::kListColumnCount ? widths[c] : 15) * digit + 12;
        header->resizeSection(c, width);
        header->setSectionHidden(c, kept && places[static_cast<std::size_t>(c)].hidden);
    }
}

void RecordListPane::useColumnsOf(const QString& format)
{
    m_format = format;
    m_ownColumns.clear();
    for (const QString& typed : settings::recordListOwnColumns(format)) {
        const QByteArray bytes = typed.toUtf8();
        if (veltrane::ColumnPathParse parsed = veltrane::ParseColumnPath({bytes.constData(), static_cast<std::size_t>(bytes.size())});
            parsed.path)
            m_ownColumns.push_back(std::move(*parsed.path));
    }
    // Places that do not fit the columns (a damaged file) count as none.
    std::vector<ColumnPlace> places;
    const QStringList kept = settings::recordListLayout(format);
    const int columns = veltrane::kListColumnCount + static_cast<int>(m_ownColumns.size());
    std::vector<bool> taken(static_cast<std::size_t>(columns), false);
    for (const QString& entry : kept) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        bool visualOk = false, widthOk = false;
        const int visual = parts.value(0).toInt(&visualOk);
        const int width = parts.value(1).toInt(&widthOk);
        if (parts.size() != 3 || !visualOk || !widthOk || visual < 0 || visual >= columns || taken[static_cast<std::size_t>(visual)]
            || width < 0 || width > 5000)
            break;
        taken[static_cast<std::size_t>(visual)] = true;
        places.push_back({visual, width, parts[2] == QLatin1String("1")});
    }
    if (static_cast<int>(places.size()) != columns
        || std::all_of(places.begin(), places.end(), [](const ColumnPlace& p) { return p.hidden; }))
        places.clear();
    m_placesToTake = std::move(places);
}

void RecordListPane::keepColumns()
{
    m_keepTimer->stop();
    if (m_format.isEmpty())
        return;
    QStringList own;
    for (const veltrane::ColumnPath& path : m_ownColumns)
        own.append(QString::fromStdString(path.text()));
    QStringList layout;
    for (const ColumnPlace& place : columnPlaces())
        layout.append(QStringLiteral("%1:%2:%3").arg(place.visual).arg(place.width).arg(place.hidden ? 1 : 0));
    settings::setRecordListColumns(m_format, own, layout);
}

void RecordListPane::addColumn(const veltrane::ColumnPath& path)
{
    m_ownColumns.push_back(path);
    refill();
    keepColumns();
}

void RecordListPane::removeColumn(int column)
{
    QHeaderView* header = m_view->horizontalHeader();
    if (column < 0 || column >= header->count() || header->count() - header->hiddenSectionCount() <= 1)
        return;
    if (column < veltrane::kListColumnCount) {
        header->setSectionHidden(column, true);
        keepColumns();
        return;
    }
    // The columns after it move one to the left, and so does a sort on one of them.
    std::vector<ColumnPlace> places = columnPlaces();
    const int removedAt = places[static_cast<std::size_t>(column)].visual;
    places.erase(places.begin() + column);
    for (ColumnPlace& place : places)
        if (place.visual > removedAt)
            --place.visual;
    if (m_model->sortColumn() >= veltrane::kListColumnCount)
        m_model->sort(-1, Qt::AscendingOrder);
    if (m_filterColumn->currentIndex() - 1 >= veltrane::kListColumnCount)
        m_filterColumn->setCurrentIndex(0);
    m_ownColumns.erase(m_ownColumns.begin() + (column - veltrane::kListColumnCount));
    m_placesToTake = std::move(places);
    refill();
    keepColumns();
}

void RecordListPane::restoreDefaultColumns()
{
    if (m_model->sortColumn() >= veltrane::kListColumnCount)
        m_model->sort(-1, Qt::AscendingOrder);
    if (m_filterColumn->currentIndex() - 1 >= veltrane::kListColumnCount)
        m_filterColumn->setCurrentIndex(0);
    const bool hadOwn = !m_ownColumns.empty();
    m_ownColumns.clear();
    if (hadOwn) {
        m_placesToTake.clear();
        refill();
    }
    placeColumns({});
    keepColumns();
}

void RecordListPane::askForColumn()
{
    TDlgAddColumn dialog(this);
    if (dialog.exec() == kResultOk && dialog.path())
        addColumn(*dialog.path());
}

void RecordListPane::fillFilterColumns()
{
    const int chosen = m_filterColumn->currentIndex();
    const QSignalBlocker quiet(m_filterColumn);
    m_filterColumn->clear();
    m_filterColumn->addItem(QStringLiteral("全部列"));
    for (int c = 0; c < m_model->columnCount(); ++c)
        m_filterColumn->addItem(m_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    m_filterColumn->setCurrentIndex(chosen >= 0 && chosen < m_filterColumn->count() ? chosen : 0);
}

void RecordListPane::showHeaderMenu(const QPoint& at)
{
    QHeaderView* header = m_view->horizontalHeader();
    const int column = header->logicalIndexAt(at);
    QMenu menu(this);
    menu.addAction(QStringLiteral("添加列(&A)..."), this, &RecordListPane::askForColumn);
    if (column >= 0) {
        const QString heading = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        QAction* remove = menu.addAction(QStringLiteral("移除列“%1”(&R)").arg(heading), this,
                                         [this, column] { removeColumn(column); });
        remove->setEnabled(header->count() - header->hiddenSectionCount() > 1);
    }
    menu.addAction(QStringLiteral("恢复默认列(&D)"), this, &RecordListPane::restoreDefaultColumns);
    menu.exec(header->viewport()->mapToGlobal(at));
}

void RecordListPane::showRowMenu(const QPoint& at)
{
    QMenu menu(this);
    QAction* exportSelection = menu.addAction(QStringLiteral("导出所选纪录(&E)..."), this,
                                              &RecordListPane::exportSelectionRequested);
    exportSelection->setEnabled(!selectedRecords().empty());
    QAction* copy = menu.addAction(QStringLiteral("复制(&C)"), this, [this] {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
        QApplication::sendEvent(m_view, &event);
    });
    copy->setShortcut(QKeySequence::Copy);
    menu.addSeparator();
    menu.addAction(QStringLiteral("添加列(&A)..."), this, &RecordListPane::askForColumn);
    menu.exec(m_view->viewport()->mapToGlobal(at));
}
