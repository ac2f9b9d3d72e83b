// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QStringList>

class QMimeData;
class QWidget;

/// Hands on the files dropped on a window, in the order of the drop, once the
/// drop has returned (the main window opens each as the Open command does).
/// Lives as an event filter on the window, which owns it.
class FileDrop : public QObject {
    Q_OBJECT
public:
    explicit FileDrop(QWidget* target);

signals:
    void filesDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

/// Makes target accept dropped files. Call once, from its constructor, and
/// connect to the filter's filesDropped.
FileDrop* InstallFileDrop(QWidget* target);

/// The local files named by the URLs of a drag, in their order; URLs of other
/// schemes are left out. Empty when the drag carries no local file.
[[nodiscard]] QStringList DroppedFilePaths(const QMimeData* mimeData);
