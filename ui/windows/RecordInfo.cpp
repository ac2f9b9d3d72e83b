// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordInfo.h"

#include <algorithm>
#include <iterator>

RecordInfo MakeRecordInfo(veltrane::ShownRecordText shown)
{
    RecordInfo info;
    info.read = true;
    info.decision = shown.decision;
    info.told = shown.told;
    info.text = QString::fromUtf8(shown.text.data(), static_cast<qsizetype>(shown.text.size()));
    info.invalidBytes = shown.invalidBytes;
    info.rules = shown.rules;
    info.format = shown.format;
    info.leader = std::move(shown.leader);
    // The check gives a record's structural problems first, then its content findings.
    for (veltrane::CheckProblem& problem : shown.problems) {
        const bool content = std::any_of(std::begin(veltrane::kRuleCodes), std::end(veltrane::kRuleCodes),
                                         [&](const veltrane::RuleCode& c) { return c.code == problem.code; });
        (content ? info.findings : info.problems).push_back(std::move(problem));
    }
    return info;
}

bool IsContentFault(const veltrane::CheckProblem& finding)
{
    return finding.code != "no-rules";
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
    if (const auto faults = std::count_if(info.findings.begin(), info.findings.end(), IsContentFault); faults > 0) {
        if (!text.isEmpty())
            text += QStringLiteral("，");
        text += QStringLiteral("内容问题：%1").arg(faults);
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

QString RuleSettingCaption(veltrane::RuleSetting setting)
{
    switch (setting) {
    case veltrane::RuleSetting::Auto:
        return QStringLiteral("自动");
    case veltrane::RuleSetting::Marc21:
        return QStringLiteral("MARC 21");
    case veltrane::RuleSetting::Unimarc:
        return QStringLiteral("UNIMARC");
    case veltrane::RuleSetting::Cnmarc:
        return QStringLiteral("CNMARC");
    case veltrane::RuleSetting::None:
        return QStringLiteral("不检查");
    }
    return {};
}

QString RuleSetCaption(veltrane::RuleSet set)
{
    switch (set) {
    case veltrane::RuleSet::Marc21:
        return QStringLiteral("MARC 21");
    case veltrane::RuleSet::Marc21Authority:
        return QStringLiteral("MARC 21 规范");
    case veltrane::RuleSet::Unimarc:
        return QStringLiteral("UNIMARC");
    case veltrane::RuleSet::Cnmarc:
        return QStringLiteral("CNMARC");
    case veltrane::RuleSet::None:
        break;
    }
    return {};
}
