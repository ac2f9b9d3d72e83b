// SPDX-License-Identifier: Apache-2.0
#include "dialogs/ServerDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

using veltrane::Charset;
using veltrane::RecordSyntax;
using veltrane::ServerProtocol;

ServerDialog::ServerDialog(QWidget* owner, const veltrane::ServerDescription& server, QStringList takenNames)
    : TModalDialog(owner), m_original(server), m_takenNames(std::move(takenNames))
{
    setObjectName(QStringLiteral("ServerDialog"));
    setWindowTitle(server.name.empty() ? QStringLiteral("添加服务器") : QStringLiteral("编辑服务器"));
    EditName = new QLineEdit(QString::fromStdString(server.name), this);
    EditAddress = new QLineEdit(QString::fromStdString(server.address), this);
    EditAddress->setPlaceholderText(QStringLiteral("主机:端口/数据库 或 http://..."));
    EditAddress->setMinimumWidth(300);
    CbxProtocol = new QComboBox(this);
    CbxProtocol->addItem(QStringLiteral("Z39.50"), static_cast<int>(ServerProtocol::Z3950));
    CbxProtocol->addItem(QStringLiteral("SRU"), static_cast<int>(ServerProtocol::Sru));
    CbxProtocol->setCurrentIndex(server.protocol == ServerProtocol::Sru ? 1 : 0);
    CbxSyntax = new QComboBox(this);
    CbxSyntax->addItem(QStringLiteral("MARC 21"), static_cast<int>(RecordSyntax::Marc21));
    CbxSyntax->addItem(QStringLiteral("UNIMARC（CNMARC）"), static_cast<int>(RecordSyntax::Unimarc));
    CbxSyntax->setCurrentIndex(server.syntax == RecordSyntax::Unimarc ? 1 : 0);
    CbxCharset = new QComboBox(this);
    const std::pair<Charset, const char*> sets[] = {
        {Charset::Utf8, "UTF-8"}, {Charset::Gbk, "GBK"}, {Charset::Gb18030, "GB18030"}};
    for (const auto& [set, caption] : sets) {
        CbxCharset->addItem(QLatin1String(caption), static_cast<int>(set));
        if (set == server.termCharset)
            CbxCharset->setCurrentIndex(CbxCharset->count() - 1);
    }
    EditUser = new QLineEdit(QString::fromStdString(server.user), this);
    EditPassword = new QLineEdit(QString::fromStdString(server.password), this);
    EditPassword->setEchoMode(QLineEdit::Password);
    LblError = new QLabel(this);
    LblError->setObjectName(QStringLiteral("LblError"));
    LblError->setStyleSheet(QStringLiteral("color: #b00000"));
    LblError->setWordWrap(true);
    BtnOk = MakeStockOkButton(this, QStringLiteral("确定"));
    BtnCancel = MakeStockCancelButton(this, QStringLiteral("取消"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("名称(&N)："), EditName);
    form->addRow(QStringLiteral("地址(&A)："), EditAddress);
    form->addRow(QStringLiteral("协议(&P)："), CbxProtocol);
    form->addRow(QStringLiteral("记录格式(&S)："), CbxSyntax);
    form->addRow(QStringLiteral("检索词字符集(&C)："), CbxCharset);
    form->addRow(QStringLiteral("用户名(&U)："), EditUser);
    form->addRow(QStringLiteral("密码(&W)："), EditPassword);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    buttons->addWidget(BtnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(LblError);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    EditName->setFocus();
    CentreOnMainWindow(this, owner);
}

veltrane::ServerDescription ServerDialog::server() const
{
    veltrane::ServerDescription server = m_original;
    server.name = EditName->text().trimmed().toStdString();
    const bool sru = CbxProtocol->currentData().toInt() == static_cast<int>(ServerProtocol::Sru);
    const veltrane::ParsedServer parsed = veltrane::ParseServerAddress(EditAddress->text().trimmed().toStdString(), sru);
    if (parsed.server) {
        server.protocol = parsed.server->protocol;
        server.address = parsed.server->address;
    }
    server.syntax = static_cast<RecordSyntax>(CbxSyntax->currentData().toInt());
    server.termCharset = static_cast<Charset>(CbxCharset->currentData().toInt());
    server.user = EditUser->text().toStdString();
    server.password = EditPassword->text().toStdString();
    return server;
}

QString ServerDialog::problem() const
{
    const QString name = EditName->text().trimmed();
    if (name.isEmpty())
        return QStringLiteral("请输入服务器名称。");
    // The settings file keeps a server's keys as "NAME/key".
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("服务器名称不能含有“/”或“\\”。");
    if (m_takenNames.contains(name))
        return QStringLiteral("已有名为“%1”的服务器。").arg(name);
    const bool sru = CbxProtocol->currentData().toInt() == static_cast<int>(ServerProtocol::Sru);
    const veltrane::ParsedServer parsed = veltrane::ParseServerAddress(EditAddress->text().trimmed().toStdString(), sru);
    if (!parsed.server)
        return QStringLiteral("地址应为“主机:端口/数据库”（Z39.50）或 http:// 地址（SRU）。");
    return {};
}

void ServerDialog::done(int result)
{
    if (result == kResultOk) {
        if (const QString why = problem(); !why.isEmpty()) {
            LblError->setText(why);
            return;
        }
    }
    TModalDialog::done(result);
}
