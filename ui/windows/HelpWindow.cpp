// SPDX-License-Identifier: Apache-2.0
#include "windows/HelpWindow.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>

namespace {

constexpr int kBlockNumberRole = Qt::UserRole;
constexpr QSize kFirstSize(900, 640);
constexpr int kContentsWidth = 230;

}  // namespace

HelpWindow::HelpWindow(QWidget* owner)
    : QWidget(owner, Qt::Window), m_page(new QTextBrowser(this)), m_contents(new QTreeWidget(this))
{
    // The guide lives in the static viewer library, whose resources load only when asked.
    Q_INIT_RESOURCE(help);
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("使用说明 - Veltrane"));
    m_contents->setObjectName(QStringLiteral("HelpContents"));
    m_contents->setHeaderHidden(true);
    m_contents->setAccessibleName(QStringLiteral("目录"));
    m_page->setObjectName(QStringLiteral("HelpPage"));
    m_page->setAccessibleName(QStringLiteral("使用说明"));
    m_page->setSource(QUrl(QStringLiteral("qrc:/help/guide.html")));
    listSections();

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_contents);
    splitter->addWidget(m_page);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kContentsWidth, kFirstSize.width() - kContentsWidth});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    resize(kFirstSize);
    owner->installEventFilter(this);

    // A click, Enter, or the arrow keys in the list: each shows its section.
    connect(m_contents, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { showSection(item); });
    connect(m_contents, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { showSection(item); });
    connect(m_contents, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { showSection(item); });
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A window of its own stays on screen when its owner closes.
    if (watched == parent() && event->type() == QEvent::Close)
        close();
    return QWidget::eventFilter(watched, event);
}

void HelpWindow::listSections()
{
    // The page's own headings make the list, so it never falls behind the guide.
    QTreeWidgetItem* section = nullptr;
    for (QTextBlock block = m_page->document()->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        const QString title = block.text().trimmed();
        if ((level != 2 && level != 3) || title.isEmpty())
            continue;
        QTreeWidgetItem* item = level == 3 && section != nullptr ? new QTreeWidgetItem(section)
                                                                 : new QTreeWidgetItem(m_contents);
        item->setText(0, title);
        item->setData(0, kBlockNumberRole, block.blockNumber());
        if (level == 2)
            section = item;
    }
    m_contents->expandAll();
}

void HelpWindow::showSection(const QTreeWidgetItem* item)
{
    if (item == nullptr)
        return;
    const QTextBlock heading = m_page->document()->findBlockByNumber(item->data(0, kBlockNumberRole).toInt());
    if (!heading.isValid())
        return;
    // The cursor goes there too, so that the keyboard and a screen reader carry on from the heading.
    m_page->setTextCursor(QTextCursor(heading));
    const QRectF place = m_page->document()->documentLayout()->blockBoundingRect(heading);
    m_page->verticalScrollBar()->setValue(qRound(place.top()));
}

HelpWindow* ShowUserGuide(QWidget* owner)
{
    auto* window = owner->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr)
        window = new HelpWindow(owner);
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return window;
}
