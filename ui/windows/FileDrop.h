#pragma once

#include <QObject>
#include <QStringList>

class QMimeData;
class TFormMain;

/// Opens the files dropped on the main window, each in a document window of its
/// own and in the order of the drop, as the Open command does. Lives as an event
/// filter on the main window, which owns it.
class FileDrop : public QObject {
    Q_OBJECT
public:
    explicit FileDrop(TFormMain* mainForm);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openFiles(const QStringList& paths);

    TFormMain* m_mainForm;
};

/// Makes mainForm accept dropped files. Call once, from its constructor.
void InstallFileDrop(TFormMain* mainForm);

/// The local files named by the URLs of a drag, in their order; URLs of other
/// schemes are left out. Empty when the drag carries no local file.
[[nodiscard]] QStringList DroppedFilePaths(const QMimeData* mimeData);
