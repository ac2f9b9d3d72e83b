// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QStringList>

#include "dialogs/DialogFrame.h"
#include "net/ServerDescription.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

/// 联机检索's 添加服务器 / 编辑服务器: a library server's name, address,
/// protocol, record syntax, query term set, user and password. OK with a
/// name or address that cannot be kept leaves the dialog open with the
/// reason beneath.
class ServerDialog : public TModalDialog {
    Q_OBJECT
public:
    /// server fills the fields (a new server: the defaults); takenNames are
    /// the names other servers have.
    ServerDialog(QWidget* owner, const veltrane::ServerDescription& server, QStringList takenNames);

    QLineEdit* EditName;
    QLineEdit* EditAddress;
    QComboBox* CbxProtocol;
    QComboBox* CbxSyntax;
    QComboBox* CbxCharset;
    QLineEdit* EditUser;
    QLineEdit* EditPassword;
    QLabel* LblError;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;

    /// The server as the fields give it (once accepted, a valid one). The
    /// server's other settings (SRU schema and indexes) are those it came with.
    [[nodiscard]] veltrane::ServerDescription server() const;
    void done(int result) override;

private:
    /// Why the fields cannot be kept; empty when they can.
    [[nodiscard]] QString problem() const;

    veltrane::ServerDescription m_original;
    QStringList m_takenNames;
};
