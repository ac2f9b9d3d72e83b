// SPDX-License-Identifier: Apache-2.0
#include "windows/FileDrop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

FileDrop::FileDrop(QWidget* target) : QObject(target) {}

bool FileDrop::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (DroppedFilePaths(drag->mimeData()).isEmpty())
            return QObject::eventFilter(watched, event);
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = DroppedFilePaths(drop->mimeData());
        if (paths.isEmpty())
            return QObject::eventFilter(watched, event);
        drop->acceptProposedAction();
        // Opening may ask the user (a file that is no record file); the drag
        // source waits until the drop returns, so open once it has.
        QMetaObject::invokeMethod(this, [this, paths] { emit filesDropped(paths); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

FileDrop* InstallFileDrop(QWidget* target)
{
    target->setAcceptDrops(true);
    auto* filter = new FileDrop(target);
    target->installEventFilter(filter);
    return filter;
}

QStringList DroppedFilePaths(const QMimeData* mimeData)
{
    QStringList paths;
    if (mimeData == nullptr || !mimeData->hasUrls())
        return paths;
    for (const QUrl& url : mimeData->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    }
    return paths;
}
