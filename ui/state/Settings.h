// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "net/ServerSettings.h"

// What the viewer remembers between runs: one settings file in the user's
// configuration folder ($XDG_CONFIG_HOME/Veltrane/veltrane.conf, by default
// ~/.config/Veltrane/veltrane.conf). Every value read is checked: a missing,
// unreadable or damaged file gives the defaults, never a failure, and a file
// that cannot be written only means nothing is remembered.
namespace settings {

/// The settings file; the folder is looked up on every call, so a test that
/// points XDG_CONFIG_HOME elsewhere takes effect at once.
[[nodiscard]] QString filePath();

/// QMainWindow::saveGeometry() and saveState() of the main window; empty when none.
[[nodiscard]] QByteArray mainWindowGeometry();
[[nodiscard]] QByteArray mainWindowState();
void setMainWindowLayout(const QByteArray& geometry, const QByteArray& state);

/// The folder of the file last chosen in the open or in the save dialog; empty
/// when none was chosen or it is no longer a folder.
[[nodiscard]] QString openFolder();
[[nodiscard]] QString saveFolder();
void setOpenFolder(const QString& folder);
void setSaveFolder(const QString& folder);

/// The record text's font size in pixels; fallback when none is kept or the
/// kept one is out of [minimum, maximum].
[[nodiscard]] int recordTextPixelSize(int fallback, int minimum, int maximum);
void setRecordTextPixelSize(int pixelSize);

/// Whether the document windows show the record list (off when none is kept).
[[nodiscard]] bool recordListShown();
void setRecordListShown(bool shown);

/// Whether the record text has its column of field names (off when none is kept).
[[nodiscard]] bool fieldNamesShown();
void setFieldNamesShown(bool shown);

/// The record list's columns for records of a format ("marc21" or
/// "unimarc"): the paths of the columns of one's own, and the place, width and
/// visibility of every column ("visual:width:hidden" a column, in column
/// order). Empty when none is kept.
[[nodiscard]] QStringList recordListOwnColumns(const QString& format);
[[nodiscard]] QStringList recordListLayout(const QString& format);
void setRecordListColumns(const QString& format, const QStringList& ownColumns, const QStringList& layout);

/// Absolute paths, newest first, without repeats; at most limit.
[[nodiscard]] QStringList recentFiles(int limit);
void setRecentFiles(const QStringList& paths);

/// The library servers of the settings file's servers group, read as the
/// command-line tool reads them (with what in it could not be read).
[[nodiscard]] veltrane::NamedServers libraryServers();
/// The read-only presets installed with the program (none when not installed).
[[nodiscard]] veltrane::NamedServers presetServers();
/// Keeps server under its name in the servers group: its address, syntax,
/// query term set, user and password. A server kept under `previousName`
/// (empty for a new one) goes; its other keys (the SRU schema and indexes)
/// move to the new name.
void storeLibraryServer(const QString& previousName, const veltrane::ServerDescription& server);
void removeLibraryServer(const QString& name);

}  // namespace settings
