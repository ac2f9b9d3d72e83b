// SPDX-License-Identifier: Apache-2.0
// What 联机检索 does with the records it found: shows the one selected, opens
// the selected ones in a window of their own, saves or appends them to a file.
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMdiArea>
#include <QTableView>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "dialogs/DialogFrame.h"
#include "dialogs/Export.h"
#include "dialogs/Prompt.h"
#include "state/SharedState.h"
#include "display/RecordScan.h"
#include "files/FileAccess.h"
#include "files/RecordIndex.h"
#include "files/TargetFile.h"
#include "windows/Marc.h"
#include "windows/OnlineResultsModel.h"
#include "windows/OnlineSearchWindow.h"
#include "windows/RecordInfo.h"
#include "windows/RecordTextEdit.h"

namespace {

using veltrane::fileaccess::identityOf;
using veltrane::fileaccess::UniqueFd;
using veltrane::fileaccess::writeAll;

constexpr const char* kNoRecordMessage = "请先在列表中选择记录。";

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

/// Records one after another, as a record file holds them.
std::string joined(const std::vector<std::string>& records)
{
    std::string bytes;
    for (const std::string& record : records)
        bytes += record;
    return bytes;
}

}  // namespace

std::vector<std::string> OnlineSearchWindow::selectedRecords() const
{
    std::set<int> rows;
    for (const QModelIndex& index : m_resultView->selectionModel()->selectedRows())
        rows.insert(index.row());
    std::vector<std::string> records;
    for (int row : rows)
        if (const std::string* record = m_results->record(row))
            records.push_back(*record);
    return records;
}

void OnlineSearchWindow::showCurrentRecord()
{
    const std::string* record = m_results->record(m_resultView->currentIndex().row());
    if (record == nullptr) {
        m_recordText->setDisplayText({});
        m_recordInfo->clear();
        return;
    }
    // As a document window shows a record of its file under 自动; a server's
    // records are standard ISO 2709.
    const veltrane::ShowTextRequest show{veltrane::CharsetSetting::Auto, *m_codec};
    const RecordInfo info = MakeRecordInfo(veltrane::ShowRecordText(
        {reinterpret_cast<const unsigned char*>(record->data()), record->size()}, veltrane::dmNormal, show));
    m_recordText->setDisplayText(info.text);
    m_recordInfo->setText(RecordInfoText(info, veltrane::CharsetSetting::Auto));
}

void OnlineSearchWindow::openSelected()
{
    const std::vector<std::string> records = selectedRecords();
    if (records.empty()) {
        Prompt().showMessage(kNoRecordMessage);
        return;
    }
    std::string path = veltrane::TemporaryDirectory();
    if (path.back() != '/')
        path += '/';
    path += "online-XXXXXX.mrc";
    // Made exclusively with a name of its own, never through a link.
    UniqueFd file(::mkostemps(path.data(), 4, O_CLOEXEC));
    const std::string bytes = joined(records);
    if (!file || !writeAll(file.get(), bytes.data(), bytes.size()) || !file.reset()) {
        const int error = errno;
        if (file || identityOf(path.c_str()))
            std::remove(path.c_str());
        Prompt().showMessage(QStringLiteral("无法写入临时文件：%1").arg(errorText(error)).toStdString());
        return;
    }
    // Not through the open queue, so the file never enters 最近的文件.
    TFormMarc* document = m_host.openDocument(QFile::decodeName(path.c_str()));
    if (document == nullptr) {
        std::remove(path.c_str());
        return;
    }
    connect(document, &QObject::destroyed, [path] { std::remove(path.c_str()); });
}

void OnlineSearchWindow::chooseFileAndSave(bool append)
{
    if (selectedRecords().empty()) {
        Prompt().showMessage(kNoRecordMessage);
        return;
    }
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OnlineSaveDialog"));
    dialog.setWindowTitle(append ? QStringLiteral("追加到文件") : QStringLiteral("保存到文件"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("MARC文件(*.mrc)"), QStringLiteral("所有文件 (*)")});
    dialog.setDefaultSuffix(QStringLiteral("mrc"));
    // The question about an existing file comes later, with its three answers.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (const QString chosen = ExecSaveDialog(dialog); !chosen.isEmpty())
        (void)saveSelectedTo(chosen, append);
}

bool OnlineSearchWindow::saveSelectedTo(const QString& target, bool append)
{
    const std::vector<std::string> records = selectedRecords();
    if (records.empty()) {
        Prompt().showMessage(kNoRecordMessage);
        return false;
    }
    const std::string targetName = QFile::encodeName(target).toStdString();
    const DocumentSharedState& shared = *m_host.shared;
    if (!MayWriteTarget(shared, targetName))
        return false;
    veltrane::TargetWrite write = veltrane::TargetWrite::Create;
    if (::access(targetName.c_str(), F_OK) == 0) {
        if (append) {
            write = veltrane::TargetWrite::Append;
        } else {
            const std::optional<veltrane::TargetWrite> answer = AskOverwriteOrAppend(targetName);
            if (!answer)
                return false;
            write = *answer;
        }
    }
    const auto failed = [&target](int error) {
        Prompt().showMessage(QStringLiteral("无法写入文件“%1”：%2").arg(target, errorText(error)).toStdString());
        return false;
    };
    veltrane::TargetFile file;
    if (const int error = file.open(targetName, write, veltrane::TargetPlacement::Beside); error != 0)
        return failed(error);
    // Another name (a link) for an open record file is refused too.
    if (shared.scratch.isOpenRecordFile(file.identity())) {
        file.rollback();
        Prompt().showMessage(kExportTargetIsRecordFileMessage);
        return false;
    }
    if (const int error = file.begin(); error != 0)
        return failed(error);
    const std::string bytes = joined(records);
    if (!writeAll(file.fd(), bytes.data(), bytes.size())) {
        const int error = errno;
        file.rollback();
        return failed(error);
    }
    if (const int error = file.commit(); error != 0)
        return failed(error);
    const QString name = QFileInfo(target).fileName();
    m_messageLabel->setText(write == veltrane::TargetWrite::Append
                                ? QStringLiteral("已追加 %1 条记录到 %2").arg(records.size()).arg(name)
                                : QStringLiteral("已保存 %1 条记录到 %2").arg(records.size()).arg(name));
    m_messageLabel->setToolTip(target);
    return true;
}
