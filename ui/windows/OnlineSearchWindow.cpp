// SPDX-License-Identifier: Apache-2.0
#include "windows/OnlineSearchWindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>

#include "dialogs/DialogFrame.h"
#include "dialogs/Export.h"
#include "dialogs/Prompt.h"
#include "dialogs/ServerDialog.h"
#include "display/RecordScan.h"
#include "files/FileAccess.h"
#include "files/RecordIndex.h"
#include "files/TargetFile.h"
#include "list/ListRows.h"
#include "net/FetchClient.h"
#include "state/Settings.h"
#include "windows/Marc.h"
#include "windows/OnlineResultsModel.h"
#include "windows/RecordInfo.h"
#include "windows/RecordText.h"
#include "windows/RecordTextEdit.h"
#include "work/BackgroundWork.h"

using veltrane::QueryKind;

namespace {

// The mnemonics are this window's own: none is a letter of the main window's menus.
constexpr const char* kQueryCaptions[veltrane::kQueryKindCount] = {
    "&ISBN：", "ISS&N：", "题名(&T)：", "责任者(&A)：", "主题(&J)：", "任意词(&Y)：",
};
constexpr const char* kNoServerMessage = "请勾选要检索的服务器。";
constexpr const char* kNoTermMessage = "请输入检索词。";

}  // namespace

/// What a search tells the window, handed from the worker to the interface
/// thread: the worker adds, the window takes.
struct OnlineSearchFeed {
    struct Item {
        enum class Kind { Hits, Record, Ended } kind = Kind::Hits;
        int server = 0;
        std::uint64_t hits = 0;
        bool failed = false;
        QString failure;
        std::string iso2709;
        veltrane::ListRow row;
    };
    std::mutex mutex;
    std::vector<Item> items;  // guarded by mutex
    bool cancelled = false;   // guarded by mutex; set when the search has ended

    /// Adds an item; true when there was none waiting (the window is to be woken).
    bool add(Item item)
    {
        std::lock_guard lock(mutex);
        items.push_back(std::move(item));
        return items.size() == 1;
    }
    std::vector<Item> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(items, {});
    }
};

namespace {

/// Turns the client's news into feed items on the worker, each record's row
/// made there by the record list's rules; wake() asks the interface thread to
/// take them.
class FeedObserver final : public veltrane::FetchObserver {
public:
    FeedObserver(OnlineSearchFeed& feed, std::function<void()> wake) : m_feed(feed), m_wake(std::move(wake)) {}

    void hitsFound(std::size_t server, std::uint64_t hits) override
    {
        OnlineSearchFeed::Item item;
        item.kind = OnlineSearchFeed::Item::Kind::Hits;
        item.server = static_cast<int>(server);
        item.hits = hits;
        add(std::move(item));
    }
    void recordFetched(std::size_t server, const veltrane::FetchedRecord& record) override
    {
        OnlineSearchFeed::Item item;
        item.kind = OnlineSearchFeed::Item::Kind::Record;
        item.server = static_cast<int>(server);
        item.iso2709 = record.record.iso2709;
        // A server's records are standard ISO 2709, whatever a window's variant.
        m_rows.make({reinterpret_cast<const unsigned char*>(item.iso2709.data()), item.iso2709.size()},
                    static_cast<std::uint32_t>(item.iso2709.size()), item.row);
        add(std::move(item));
    }
    void serverEnded(std::size_t server, const veltrane::ServerResult& result) override
    {
        OnlineSearchFeed::Item item;
        item.kind = OnlineSearchFeed::Item::Kind::Ended;
        item.server = static_cast<int>(server);
        item.failed = result.failed;
        item.failure = QString::fromStdString(result.failure);
        add(std::move(item));
    }

private:
    void add(OnlineSearchFeed::Item item)
    {
        if (m_feed.add(std::move(item)))
            m_wake();
    }

    OnlineSearchFeed& m_feed;
    std::function<void()> m_wake;
    veltrane::ListRowMaker m_rows{veltrane::dmNormal, veltrane::CharsetSetting::Auto};
};

}  // namespace

OnlineSearchWindow::OnlineSearchWindow(OnlineSearchHost host)
    : QMdiSubWindow(nullptr),
      m_host(std::move(host)),
      m_results(new OnlineResultsModel(this)),
      m_codec(std::make_unique<veltrane::TextCodec>())
{
    setObjectName(QStringLiteral("OnlineSearch"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("联机检索"));
    setWindowIcon(m_host.area->window()->windowIcon());

    auto* body = new QWidget;
    auto* top = new QHBoxLayout;
    auto* serverPane = new QGroupBox(QStringLiteral("服务器"));
    buildServerPane(serverPane);
    auto* queryPane = new QGroupBox(QStringLiteral("检索词（同时满足）"));
    buildQueryPane(queryPane);
    top->addWidget(serverPane, 1);
    top->addWidget(queryPane, 1);

    m_resultView = new QTableView;
    m_resultView->setObjectName(QStringLiteral("OnlineResults"));
    m_resultView->setAccessibleName(QStringLiteral("检索结果"));
    m_resultView->setModel(m_results);
    m_resultView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_resultView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_resultView->setWordWrap(false);
    m_resultView->verticalHeader()->hide();
    m_resultView->horizontalHeader()->setStretchLastSection(true);
    m_resultView->setColumnWidth(OnlineResultsModel::Title, 220);
    m_resultView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_resultView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &OnlineSearchWindow::showCurrentRecord);
    connect(m_resultView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &OnlineSearchWindow::updateActions);
    connect(m_resultView, &QTableView::doubleClicked, this, &OnlineSearchWindow::openSelected);
    // Each server's status row reads across the record columns.
    connect(m_results, &QAbstractItemModel::modelReset, this, [this] {
        m_resultView->clearSpans();
        for (int server = 0; server < m_results->serverCount(); ++server)
            m_resultView->setSpan(server, 0, 1, OnlineResultsModel::Server);
    });

    auto* actions = new QHBoxLayout;
    const auto addAction = [this, actions](const char* name, const QString& caption, auto handler) {
        auto* button = new QPushButton(caption);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, handler);
        actions->addWidget(button);
        m_recordButtons.append(button);
    };
    addAction("OnlineOpen", QStringLiteral("在新窗口中打开(&O)"), &OnlineSearchWindow::openSelected);
    addAction("OnlineSave", QStringLiteral("保存到文件(&B)…"), [this] { chooseFileAndSave(false); });
    addAction("OnlineAppend", QStringLiteral("追加到文件(&G)…"), [this] { chooseFileAndSave(true); });
    m_messageLabel = new QLabel;
    m_messageLabel->setObjectName(QStringLiteral("OnlineMessage"));
    actions->addWidget(m_messageLabel, 1);
    connect(m_resultView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        for (QPushButton* button : std::as_const(m_recordButtons))
            menu.addAction(button->text(), button, &QPushButton::click)->setEnabled(button->isEnabled());
        menu.exec(m_resultView->viewport()->mapToGlobal(at));
    });

    m_recordText = new RecordTextEdit;
    m_recordText->setObjectName(QStringLiteral("OnlineRecord"));
    m_recordText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_recordText->setWordWrapMode(QTextOption::NoWrap);
    PrepareRecordText(m_recordText, m_host.textPixelSize, m_host.zoom);
    m_recordInfo = new QLabel;
    m_recordInfo->setObjectName(QStringLiteral("OnlineRecordInfo"));
    auto* recordPane = new QWidget;
    auto* recordLayout = new QVBoxLayout(recordPane);
    recordLayout->setContentsMargins(0, 0, 0, 0);
    recordLayout->addWidget(m_recordText, 1);
    recordLayout->addWidget(m_recordInfo);

    auto* split = new QSplitter(Qt::Vertical);
    split->setChildrenCollapsible(false);
    split->addWidget(m_resultView);
    split->addWidget(recordPane);
    auto* layout = new QVBoxLayout(body);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addLayout(actions);
    setWidget(body);

    reloadServers();
    updateActions();
    m_host.area->addSubWindow(this);
    resize(760, 600);
    show();
}

OnlineSearchWindow::~OnlineSearchWindow()
{
    stopAndWait();
}

void OnlineSearchWindow::buildServerPane(QWidget* pane)
{
    m_serverList = new QListWidget;
    m_serverList->setObjectName(QStringLiteral("OnlineServers"));
    m_serverList->setAccessibleName(QStringLiteral("服务器"));
    auto* add = new QPushButton(QStringLiteral("添加(&D)…"));
    add->setObjectName(QStringLiteral("ServerAdd"));
    m_editButton = new QPushButton(QStringLiteral("编辑(&E)…"));
    m_editButton->setObjectName(QStringLiteral("ServerEdit"));
    m_removeButton = new QPushButton(QStringLiteral("删除(&M)"));
    m_removeButton->setObjectName(QStringLiteral("ServerRemove"));
    for (QPushButton* button : {add, m_editButton, m_removeButton})
        button->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &OnlineSearchWindow::addServer);
    connect(m_editButton, &QPushButton::clicked, this, &OnlineSearchWindow::editServer);
    connect(m_removeButton, &QPushButton::clicked, this, &OnlineSearchWindow::removeServer);
    connect(m_serverList, &QListWidget::currentRowChanged, this, &OnlineSearchWindow::updateActions);
    connect(m_serverList, &QListWidget::itemDoubleClicked, this, &OnlineSearchWindow::editServer);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(pane);
    layout->addWidget(m_serverList, 1);
    layout->addLayout(buttons);
}

void OnlineSearchWindow::buildQueryPane(QWidget* pane)
{
    auto* form = new QFormLayout;
    for (std::size_t k = 0; k < veltrane::kQueryKindCount; ++k) {
        auto* line = new QLineEdit;
        const std::string_view kind = veltrane::QueryKindName(static_cast<QueryKind>(k));
        line->setObjectName(QStringLiteral("Query_") + QString::fromLatin1(kind.data(), qsizetype(kind.size())));
        line->setClearButtonEnabled(true);
        connect(line, &QLineEdit::returnPressed, this, &OnlineSearchWindow::search);
        form->addRow(QString::fromUtf8(kQueryCaptions[k]), line);
        m_queryLines[k] = line;
    }
    m_searchButton = new QPushButton(QStringLiteral("检索(&S)"));
    m_searchButton->setObjectName(QStringLiteral("OnlineSearchButton"));
    m_stopButton = new QPushButton(QStringLiteral("停止(&P)"));
    m_stopButton->setObjectName(QStringLiteral("OnlineStopButton"));
    m_stopButton->setToolTip(QStringLiteral("停止 (Esc)"));
    for (QPushButton* button : {m_searchButton, m_stopButton})
        button->setAutoDefault(false);
    connect(m_searchButton, &QPushButton::clicked, this, &OnlineSearchWindow::search);
    connect(m_stopButton, &QPushButton::clicked, this, &OnlineSearchWindow::stop);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_searchButton);
    buttons->addWidget(m_stopButton);
    auto* layout = new QVBoxLayout(pane);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

QLineEdit* OnlineSearchWindow::queryLine(QueryKind kind) const
{
    return m_queryLines[static_cast<std::size_t>(kind)];
}

void OnlineSearchWindow::reloadServers()
{
    // The checks survive a reload for the servers still there.
    QStringList checked;
    for (int i = 0; i < m_serverList->count(); ++i)
        if (m_serverList->item(i)->checkState() == Qt::Checked)
            checked.append(m_serverList->item(i)->data(Qt::UserRole).toString());
    const bool first = m_serverList->count() == 0 && m_servers.empty();
    m_servers.clear();
    m_serverList->clear();
    veltrane::NamedServers own = settings::libraryServers();
    const veltrane::NamedServers presets = settings::presetServers();
    const std::size_t ownCount = own.servers.size();
    m_servers = std::move(own.servers);
    for (const veltrane::NamedServer& preset : presets.servers)
        if (std::none_of(m_servers.begin(), m_servers.end(),
                         [&](const veltrane::NamedServer& s) { return s.server.name == preset.server.name; }))
            m_servers.push_back(preset);
    for (std::size_t i = 0; i < m_servers.size(); ++i) {
        const veltrane::ServerDescription& server = m_servers[i].server;
        const QString name = QString::fromStdString(server.name);
        const bool preset = i >= ownCount;
        QString caption = QStringLiteral("%1（%2）").arg(name, QString::fromStdString(server.address));
        if (preset)
            caption += m_servers[i].untested ? QStringLiteral(" 预置，未测试") : QStringLiteral(" 预置");
        auto* item = new QListWidgetItem(caption, m_serverList);
        item->setData(Qt::UserRole, name);
        item->setData(Qt::UserRole + 1, preset);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        // At first the servers of the settings file are checked, the presets not.
        item->setCheckState((first ? !preset : checked.contains(name)) ? Qt::Checked : Qt::Unchecked);
    }
    if (!own.problems.empty())
        m_messageLabel->setText(QString::fromStdString(own.problems.front()));
    updateActions();
}

void OnlineSearchWindow::addServer()
{
    QStringList taken;
    for (const veltrane::NamedServer& named : m_servers)
        taken.append(QString::fromStdString(named.server.name));
    ServerDialog dialog(this, {}, taken);
    if (dialog.exec() != kResultOk)
        return;
    settings::storeLibraryServer({}, dialog.server());
    reloadServers();
    const QString name = QString::fromStdString(dialog.server().name);
    for (int i = 0; i < m_serverList->count(); ++i)
        if (m_serverList->item(i)->data(Qt::UserRole).toString() == name)
            m_serverList->item(i)->setCheckState(Qt::Checked);
}

void OnlineSearchWindow::editServer()
{
    const int row = m_serverList->currentRow();
    if (row < 0 || m_serverList->item(row)->data(Qt::UserRole + 1).toBool())
        return;  // the presets are read only
    const veltrane::ServerDescription server = m_servers[static_cast<std::size_t>(row)].server;
    QStringList taken;
    for (const veltrane::NamedServer& named : m_servers)
        if (named.server.name != server.name)
            taken.append(QString::fromStdString(named.server.name));
    ServerDialog dialog(this, server, taken);
    if (dialog.exec() != kResultOk)
        return;
    const bool wasChecked = m_serverList->item(row)->checkState() == Qt::Checked;
    settings::storeLibraryServer(QString::fromStdString(server.name), dialog.server());
    reloadServers();
    const QString name = QString::fromStdString(dialog.server().name);
    for (int i = 0; i < m_serverList->count(); ++i)
        if (m_serverList->item(i)->data(Qt::UserRole).toString() == name)
            m_serverList->item(i)->setCheckState(wasChecked ? Qt::Checked : Qt::Unchecked);
}

void OnlineSearchWindow::removeServer()
{
    const int row = m_serverList->currentRow();
    if (row < 0 || m_serverList->item(row)->data(Qt::UserRole + 1).toBool())
        return;
    settings::removeLibraryServer(m_serverList->item(row)->data(Qt::UserRole).toString());
    reloadServers();
}

void OnlineSearchWindow::updateActions()
{
    const int row = m_serverList->currentRow();
    const bool own = row >= 0 && !m_serverList->item(row)->data(Qt::UserRole + 1).toBool();
    m_editButton->setEnabled(own);
    m_removeButton->setEnabled(own);
    const bool running = m_work != nullptr;
    m_searchButton->setEnabled(!running);
    m_stopButton->setEnabled(running);
    const bool chosen = !selectedRecords().empty();
    for (QPushButton* button : std::as_const(m_recordButtons))
        button->setEnabled(chosen);
}

void OnlineSearchWindow::search()
{
    if (m_work)
        return;
    std::vector<veltrane::ServerDescription> servers;
    QStringList names;
    for (int i = 0; i < m_serverList->count(); ++i) {
        if (m_serverList->item(i)->checkState() != Qt::Checked)
            continue;
        servers.push_back(m_servers[static_cast<std::size_t>(i)].server);
        names.append(QString::fromStdString(servers.back().name));
    }
    veltrane::CatalogueQuery query;
    for (std::size_t k = 0; k < veltrane::kQueryKindCount; ++k)
        if (const QString text = m_queryLines[k]->text().trimmed(); !text.isEmpty())
            query.terms.push_back({static_cast<QueryKind>(k), text.toStdString()});
    if (servers.empty()) {
        Prompt().showMessage(kNoServerMessage);
        return;
    }
    if (query.empty()) {
        Prompt().showMessage(kNoTermMessage);
        return;
    }
    m_results->reset(names);
    m_recordText->setDisplayText({});
    m_recordInfo->clear();
    m_messageLabel->clear();
    auto feed = std::make_shared<OnlineSearchFeed>();
    m_feed = feed;
    m_work = std::make_unique<BackgroundWork>(
        QStringLiteral("联机检索"), names.join(QStringLiteral("，")),
        [this, feed, servers = std::move(servers), query = std::move(query)](const veltrane::WorkMonitor& monitor,
                                                                            ViewerPrompt&) {
            // The window outlives the search: it stops and waits for it before it goes.
            FeedObserver observer(*feed, [this] {
                QMetaObject::invokeMethod(this, &OnlineSearchWindow::takeResults, Qt::QueuedConnection);
            });
            const veltrane::FetchResult result =
                veltrane::FetchRecords(servers, query, veltrane::FetchOptions{}, monitor, &observer);
            std::lock_guard lock(feed->mutex);
            feed->cancelled = result.cancelled;
        });
    connect(m_work.get(), &BackgroundWork::finished, this, &OnlineSearchWindow::searchEnded);
    updateActions();
    if (m_work->start())
        searchEnded();
}

void OnlineSearchWindow::takeResults()
{
    if (!m_feed)
        return;
    for (OnlineSearchFeed::Item& item : m_feed->take()) {
        switch (item.kind) {
        case OnlineSearchFeed::Item::Kind::Hits:
            m_results->setHits(item.server, item.hits);
            break;
        case OnlineSearchFeed::Item::Kind::Record:
            m_results->addRecord(item.server, std::move(item.iso2709), item.row);
            break;
        case OnlineSearchFeed::Item::Kind::Ended:
            m_results->endServer(item.server, item.failed, item.failure);
            break;
        }
    }
}

void OnlineSearchWindow::searchEnded()
{
    takeResults();
    bool cancelled = false;
    if (m_feed) {
        std::lock_guard lock(m_feed->mutex);
        cancelled = m_feed->cancelled;
    }
    if (cancelled)
        m_results->stopUnfinished();
    m_feed.reset();
    // The work object goes once its signal has returned.
    if (m_work)
        m_work.release()->deleteLater();
    updateActions();
}

void OnlineSearchWindow::stop()
{
    if (m_work)
        m_work->cancel();
}

void OnlineSearchWindow::stopAndWait()
{
    if (!m_work)
        return;
    m_work->cancelAndWait();
    searchEnded();
}

void OnlineSearchWindow::closeEvent(QCloseEvent* event)
{
    stopAndWait();
    QMdiSubWindow::closeEvent(event);
}

OnlineSearchWindow* ShowOnlineSearch(const OnlineSearchHost& host)
{
    OnlineSearchWindow* window = nullptr;
    // One closed a moment ago may not have gone yet.
    for (OnlineSearchWindow* candidate : host.area->findChildren<OnlineSearchWindow*>())
        if (!candidate->isHidden())
            window = candidate;
    if (window == nullptr)
        window = new OnlineSearchWindow(host);
    if (window->isMinimized())
        window->showNormal();
    host.area->setActiveSubWindow(window);
    window->queryLine(QueryKind::Isbn)->setFocus();
    return window;
}
