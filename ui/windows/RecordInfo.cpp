// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordInfo.h"

RecordInfo MakeRecordInfo(veltrane::ShownRecordText shown)
{
    RecordInfo info;
    info.read = true;
    info.decision = shown.decision;
    info.told = shown.told;
    info.text = QString::fromUtf8(shown.text.data(), static_cast<qsizetype>(shown.text.size()));
    info.invalidBytes = shown.invalidBytes;
    info.problems = std::move(shown.problems);
    return info;
}

QString RecordInfoText(const RecordInfo& info, veltrane::CharsetSetting setting, int recordCount)
{
    QString text;
    if (info.read) {
        const auto name = info.told.name;
        text = QStringLiteral("字符集：%1").arg(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())).toUpper());
        if (setting == veltrane::CharsetSetting::Auto)
            text += QStringLiteral("（自动）");
        if (info.invalidBytes > 0)
            text += QStringLiteral("，无效字节：%1").arg(info.invalidBytes);
    }
    if (!info.problems.empty()) {
        if (!text.isEmpty())
            text += QStringLiteral("，");
        text += QStringLiteral("结构问题：%1").arg(info.problems.size());
    }
    if (recordCount >= 0) {
        if (!text.isEmpty())
            text += QStringLiteral("，");
        text += QStringLiteral("共 %1 条").arg(recordCount);
    }
    return text;
}

QString CharsetSettingCaption(veltrane::CharsetSetting setting)
{
    switch (setting) {
    case veltrane::CharsetSetting::Auto:
        return QStringLiteral("自动");
    case veltrane::CharsetSetting::Gbk:
        return QStringLiteral("GBK");
    case veltrane::CharsetSetting::Gb18030:
        return QStringLiteral("GB18030");
    case veltrane::CharsetSetting::Utf8:
        return QStringLiteral("UTF-8");
    case veltrane::CharsetSetting::Marc8:
        return QStringLiteral("MARC-8");
    }
    return {};
}
