// SPDX-License-Identifier: Apache-2.0
#include "state/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace settings {

namespace {

constexpr const char* kGeometry = "MainWindow/geometry";
constexpr const char* kState = "MainWindow/state";
constexpr const char* kOpenFolder = "Dialogs/openFolder";
constexpr const char* kSaveFolder = "Dialogs/saveFolder";
constexpr const char* kPixelSize = "RecordText/pixelSize";
constexpr const char* kRecordListShown = "RecordList/shown";
constexpr const char* kFieldNamesShown = "FieldNames/shown";
constexpr const char* kRecentFiles = "RecentFiles/paths";

// The file is named explicitly rather than through QSettings' organization and
// application names: QSettings looks the configuration folder up once per
// process, and tests give each case a folder of its own. The place is the same.
QSettings open()
{
    return QSettings(filePath(), QSettings::IniFormat);
}

// The file may hold the passwords of named servers: only its owner may read
// it, however it was made.
void keepToOwner(QSettings& file)
{
    file.sync();
    QFile::setPermissions(file.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QByteArray bytes(const char* key)
{
    const QVariant value = open().value(QLatin1String(key));
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

void store(const char* key, const QVariant& value)
{
    QSettings file = open();
    file.setValue(QLatin1String(key), value);
    keepToOwner(file);
}

QString folder(const char* key)
{
    const QString path = open().value(QLatin1String(key)).toString();
    return !path.isEmpty() && QDir::isAbsolutePath(path) && QFileInfo(path).isDir() ? path : QString();
}

}  // namespace

QString filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Veltrane/veltrane.conf");
}

QByteArray mainWindowGeometry()
{
    return bytes(kGeometry);
}

QByteArray mainWindowState()
{
    return bytes(kState);
}

void setMainWindowLayout(const QByteArray& geometry, const QByteArray& state)
{
    QSettings file = open();
    file.setValue(QLatin1String(kGeometry), geometry);
    file.setValue(QLatin1String(kState), state);
    keepToOwner(file);
}

QString openFolder()
{
    return folder(kOpenFolder);
}

QString saveFolder()
{
    return folder(kSaveFolder);
}

void setOpenFolder(const QString& folder)
{
    store(kOpenFolder, folder);
}

void setSaveFolder(const QString& folder)
{
    store(kSaveFolder, folder);
}

int recordTextPixelSize(int fallback, int minimum, int maximum)
{
    bool ok = false;
    const int size = open().value(QLatin1String(kPixelSize)).toInt(&ok);
    return ok && size >= minimum && size <= maximum ? size : fallback;
}

void setRecordTextPixelSize(int pixelSize)
{
    store(kPixelSize, pixelSize);
}

bool recordListShown()
{
    const QVariant value = open().value(QLatin1String(kRecordListShown));
    return value.typeId() == QMetaType::QString && value.toString() == QLatin1String("true");
}

void setRecordListShown(bool shown)
{
    store(kRecordListShown, shown ? QStringLiteral("true") : QStringLiteral("false"));
}

bool fieldNamesShown()
{
    const QVariant value = open().value(QLatin1String(kFieldNamesShown));
    return value.typeId() == QMetaType::QString && value.toString() == QLatin1String("true");
}

void setFieldNamesShown(bool shown)
{
    store(kFieldNamesShown, shown ? QStringLiteral("true") : QStringLiteral("false"));
}

namespace {

QStringList stringList(const QString& key)
{
    const QVariant value = open().value(key);
    // QSettings reads a list of one as a plain string.
    if (value.typeId() == QMetaType::QString)
        return value.toString().isEmpty() ? QStringList() : QStringList{value.toString()};
    return value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList ? value.toStringList()
                                                                                                 : QStringList();
}

QString listKey(const QString& format, const char* what)
{
    return QStringLiteral("RecordList/%1%2").arg(format == QLatin1String("unimarc") ? QStringLiteral("unimarc") : QStringLiteral("marc21"),
                                                 QLatin1String(what));
}

}  // namespace

QStringList recordListOwnColumns(const QString& format)
{
    return stringList(listKey(format, "Columns"));
}

QStringList recordListLayout(const QString& format)
{
    return stringList(listKey(format, "Layout"));
}

void setRecordListColumns(const QString& format, const QStringList& ownColumns, const QStringList& layout)
{
    QSettings file = open();
    file.setValue(listKey(format, "Columns"), ownColumns);
    file.setValue(listKey(format, "Layout"), layout);
    keepToOwner(file);
}

QStringList recentFiles(int limit)
{
    QStringList paths;
    const QVariant value = open().value(QLatin1String(kRecentFiles));
    // One path reads back as a string, several as a list.
    const QVariantList entries = value.typeId() == QMetaType::QString ? QVariantList{value} : value.toList();
    for (const QVariant& entry : entries) {
        if (paths.size() >= limit)
            break;
        const QString path = entry.typeId() == QMetaType::QString ? entry.toString() : QString();
        if (QDir::isAbsolutePath(path) && !paths.contains(path))
            paths.append(path);
    }
    return paths;
}

void setRecentFiles(const QStringList& paths)
{
    store(kRecentFiles, paths);
}

veltrane::NamedServers libraryServers()
{
    return veltrane::ReadNamedServersFile(QFile::encodeName(filePath()).toStdString());
}

veltrane::NamedServers presetServers()
{
    return veltrane::ReadNamedServersFile(std::string(VELTRANE_DATA_DIR) + "/servers.conf");
}

void storeLibraryServer(const QString& previousName, const veltrane::ServerDescription& server)
{
    using veltrane::RecordSyntax;
    QSettings file = open();
    file.beginGroup(QString::fromUtf8(veltrane::kServersGroup.data(), qsizetype(veltrane::kServersGroup.size())));
    const QString name = QString::fromStdString(server.name);
    if (!previousName.isEmpty() && previousName != name) {
        file.beginGroup(previousName);
        const QStringList keys = file.childKeys();
        QList<QVariant> values;
        for (const QString& key : keys)
            values.append(file.value(key));
        file.endGroup();
        file.remove(previousName);
        for (qsizetype i = 0; i < keys.size(); ++i)
            file.setValue(name + QLatin1Char('/') + keys[i], values[i]);
    }
    file.beginGroup(name);
    // An SRU server is kept under its http:// address, which says so itself.
    file.remove(QStringLiteral("sru"));
    file.setValue(QStringLiteral("address"), QString::fromStdString(server.address));
    file.setValue(QStringLiteral("syntax"),
                  server.syntax == RecordSyntax::Unimarc ? QStringLiteral("unimarc") : QStringLiteral("marc21"));
    const char* charset = server.termCharset == veltrane::Charset::Gbk       ? "gbk"
                          : server.termCharset == veltrane::Charset::Gb18030 ? "gb18030"
                                                                             : "utf-8";
    file.setValue(QStringLiteral("charset"), QLatin1String(charset));
    const auto keepOrRemove = [&file](const QString& key, const std::string& value) {
        if (value.empty())
            file.remove(key);
        else
            file.setValue(key, QString::fromStdString(value));
    };
    keepOrRemove(QStringLiteral("user"), server.user);
    keepOrRemove(QStringLiteral("password"), server.password);
    file.endGroup();
    file.endGroup();
    keepToOwner(file);
}

void removeLibraryServer(const QString& name)
{
    QSettings file = open();
    file.beginGroup(QString::fromUtf8(veltrane::kServersGroup.data(), qsizetype(veltrane::kServersGroup.size())));
    file.remove(name);
    file.endGroup();
    keepToOwner(file);
}

}  // namespace settings
