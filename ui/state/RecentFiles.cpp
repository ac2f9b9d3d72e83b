// SPDX-License-Identifier: Apache-2.0
#include "state/RecentFiles.h"

#include <QFileInfo>
#include <QMenu>

#include "dialogs/Prompt.h"
#include "state/Settings.h"

RecentFiles::RecentFiles(QWidget* mainWindow)
    : QObject(mainWindow), m_menu(new QMenu(QStringLiteral("最近的文件(&R)"), mainWindow))
{
    m_menu->setObjectName(QStringLiteral("MRecent"));
    // Read when shown: another viewer running at the same time may have opened files too.
    connect(m_menu, &QMenu::aboutToShow, this, &RecentFiles::rebuild);
    rebuild();
}

void RecentFiles::add(const QString& path)
{
    // The list outlives the current directory a relative name was given in.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList paths = settings::recentFiles(kLimit);
    paths.removeAll(absolute);
    paths.prepend(absolute);
    settings::setRecentFiles(paths.mid(0, kLimit));
    rebuild();
}

void RecentFiles::rebuild()
{
    // Later, not now: the entry being chosen may be the one that asked for this.
    for (QAction* old : m_menu->actions()) {
        m_menu->removeAction(old);
        old->deleteLater();
    }
    const QStringList paths = settings::recentFiles(kLimit);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        QString shown = paths[i];
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString number = i < 9 ? QStringLiteral("&%1 ").arg(i + 1) : QStringLiteral("1&0 ");
        QAction* entry = m_menu->addAction(number + shown);
        entry->setData(paths[i]);
        connect(entry, &QAction::triggered, this, [this, path = paths[i]] { choose(path); });
    }
    // A parent menu with a disabled submenu still shows where the list will be.
    m_menu->setEnabled(!paths.isEmpty());
}

void RecentFiles::choose(const QString& path)
{
    if (QFileInfo::exists(path)) {
        emit openRequested(path);
        return;
    }
    QStringList paths = settings::recentFiles(kLimit);
    paths.removeAll(path);
    settings::setRecentFiles(paths);
    rebuild();
    Prompt().showMessage((QString::fromUtf8(kRecentFileMissingMessage) + path).toStdString());
}
