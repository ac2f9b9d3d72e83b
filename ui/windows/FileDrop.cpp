#include "windows/FileDrop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "windows/Main.h"

FileDrop::FileDrop(TFormMain* mainForm) : QObject(mainForm), m_mainForm(mainForm) {}

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
        QMetaObject::invokeMethod(this, [this, paths] { openFiles(paths); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

void FileDrop::openFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        m_mainForm->openPath(path);
}

void InstallFileDrop(TFormMain* mainForm)
{
    mainForm->setAcceptDrops(true);
    mainForm->installEventFilter(new FileDrop(mainForm));
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
