// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordNotes.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "rules/RuleCodeMeanings.h"
#include "rules/RuleTables.h"

namespace {

using veltrane::RuleSet;
using veltrane::rules::FieldRule;
using veltrane::rules::RuleSetTables;

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const RuleSetTables* tablesOf(RuleSet rules)
{
    switch (rules) {
    case RuleSet::Marc21:
        return &veltrane::rules::Marc21Bibliographic();
    case RuleSet::Unimarc:
        return &veltrane::rules::UnimarcBibliographic();
    case RuleSet::Cnmarc:
        return &veltrane::rules::CnmarcBibliographic();
    case RuleSet::Marc21Authority:
        return &veltrane::rules::Marc21Authority();
    case RuleSet::None:
        break;
    }
    return nullptr;
}

/// "中文 (English)", or whichever of the two there is.
QString bothNames(std::string_view zh, std::string_view en)
{
    if (zh.empty() || zh == en)
        return fromUtf8(en);
    return en.empty() ? fromUtf8(zh) : QStringLiteral("%1 (%2)").arg(fromUtf8(zh), fromUtf8(en));
}

const FieldRule* fieldRule(const RuleSetTables* tables, const QString& tag)
{
    const QByteArray bytes = tag.toLatin1();
    return tables != nullptr ? tables->field(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))
                             : nullptr;
}

QString shownValue(QChar value)
{
    return value == QLatin1Char(' ') ? QStringLiteral("空格") : QString(value);
}

/// "第一指示符 1：题名有检索意义 (First indicator 1: Added entry)": what a
/// value of an indicator means, in Chinese and then in English; empty for a
/// value the rules give no meaning (an undefined one is underlined instead).
QString indicatorValueMeaning(const RuleSetTables& tables, const FieldRule& rule, int which, QChar value)
{
    const bool first = which == 1;
    for (const veltrane::rules::IndicatorValueRule& v : tables.indicatorValuesOf(rule, which)) {
        if (QChar(QLatin1Char(v.value)) != value)
            continue;
        const QString zh = (first ? QStringLiteral("第一指示符 ") : QStringLiteral("第二指示符 ")) + shownValue(value) +
                           QStringLiteral("：") + fromUtf8(v.meaningZh);
        const QString en = (first ? QStringLiteral("First indicator ") : QStringLiteral("Second indicator ")) +
                           (value == QLatin1Char(' ') ? QStringLiteral("blank") : QString(value)) +
                           QStringLiteral(": ") + fromUtf8(v.meaning);
        return zh + QStringLiteral(" (") + en + QLatin1Char(')');
    }
    return {};
}

// The leader positions that hold the record's structure rather than a code:
// every ISO 2709 record gives them the same meaning, whatever its format. The
// coded positions, with the meaning of each code, come from the rule tables.
struct LeaderPosition {
    int first;
    int last;
    const char* zh;
    const char* en;
};
constexpr LeaderPosition kStructurePositions[] = {
    {0, 4, "纪录长度", "Record length"},
    {10, 10, "指示符数", "Indicator count"},
    {11, 11, "子字段代码长度", "Subfield code count"},
    {12, 16, "数据起始地址", "Base address of data"},
    {20, 23, "地址目次项结构", "Entry map"},
};
// The parts of the entry map, which MARC 21's documentation names one by one.
constexpr LeaderPosition kEntryMapParts[] = {
    {20, 20, "字段长度部分的长度", "Length of the length-of-field portion"},
    {21, 21, "起始字符位置部分的长度", "Length of the starting-character-position portion"},
    {22, 22, "实施者定义部分的长度", "Length of the implementation-defined portion"},
    {23, 23, "未定义", "Undefined"},
};

/// A leader position the description names: a structural one, or a coded
/// one the rule tables explain (`coded` set).
struct NamedLeaderPosition {
    int first;
    int last;
    QString name;
    const veltrane::rules::FixedCodeRule* coded = nullptr;
};

std::vector<NamedLeaderPosition> namedLeaderPositions(const RuleSetTables* tables, RuleSet rules)
{
    std::vector<NamedLeaderPosition> named;
    const bool entryMapInParts = rules == RuleSet::Marc21 || rules == RuleSet::Marc21Authority;
    for (const LeaderPosition& p : kStructurePositions) {
        if (entryMapInParts && p.first == kEntryMapParts[0].first) {
            for (const LeaderPosition& part : kEntryMapParts)
                named.push_back({part.first, part.last, bothNames(part.zh, part.en)});
            continue;
        }
        named.push_back({p.first, p.last, bothNames(p.zh, p.en)});
    }
    if (tables != nullptr) {
        for (const veltrane::rules::FixedCodeRule& rule : tables->fixedCodes) {
            if (rule.block != "LDR")
                continue;
            if (const auto* meanings = tables->meaningsOf(rule))
                named.push_back({rule.position, rule.position + rule.length - 1, bothNames(meanings->nameZh, rule.name),
                                 &rule});
        }
    }
    std::sort(named.begin(), named.end(), [](const NamedLeaderPosition& a, const NamedLeaderPosition& b) {
        return a.first < b.first;
    });
    return named;
}

}  // namespace

std::optional<RecordTextSpan> FindingSpan(const RecordTextMap& map, const veltrane::CheckProblem& finding)
{
    // A repeated subfield is at fault where it repeats.
    return map.placeOf(QString::fromStdString(finding.tag), finding.occurrence, finding.indicator,
                       finding.subfield != 0 ? QChar::fromLatin1(finding.subfield) : QChar(),
                       finding.code == "repeated-subfield", finding.position);
}

RuleSet NamingRules(const RecordInfo& info)
{
    return tablesOf(info.rules) != nullptr ? info.rules : info.format;
}

QStringList LineNames(const RecordTextMap& map, RuleSet rules)
{
    const RuleSetTables* tables = tablesOf(rules);
    QStringList names;
    names.reserve(static_cast<qsizetype>(map.lines().size()));
    for (const RecordTextLine& line : map.lines()) {
        const FieldRule* rule = line.field >= 0 ? fieldRule(tables, line.tag) : nullptr;
        names.append(rule != nullptr ? fromUtf8(rule->nameZh.empty() ? rule->name : rule->nameZh) : QString());
    }
    return names;
}

QStringList LineToolTips(const RecordTextMap& map, const RecordInfo& info)
{
    const RuleSetTables* tables = tablesOf(NamingRules(info));
    QStringList tips;
    for (const RecordTextLine& line : map.lines()) {
        const FieldRule* rule = line.field >= 0 ? fieldRule(tables, line.tag) : nullptr;
        tips.append(rule != nullptr ? line.tag + QLatin1Char(' ') + bothNames(rule->nameZh, rule->name) : QString());
    }
    if (!tips.isEmpty())
        tips[0] = (tips[0].isEmpty() ? QString() : tips[0] + QStringLiteral("\n\n")) +
                  LeaderDescription(info.leader, NamingRules(info));
    return tips;
}

QString ElementToolTip(const RecordTextMap& map, const RecordInfo& info, int position)
{
    const RecordTextElement element = map.elementAt(position);
    if (element.line < 0)
        return {};
    const RecordTextLine& line = map.lines()[static_cast<std::size_t>(element.line)];
    const RuleSetTables* tables = tablesOf(NamingRules(info));
    const FieldRule* rule = fieldRule(tables, line.tag);
    QString tip;
    switch (element.kind) {
    case RecordTextElement::Kind::Tag:
        if (tables != nullptr)
            tip = line.tag + QLatin1Char(' ') +
                  (rule != nullptr ? bothNames(rule->nameZh, rule->name) : QStringLiteral("（规则中没有定义）"));
        break;
    case RecordTextElement::Kind::Indicator: {
        const bool first = element.indicator == 1;
        tip = first ? QStringLiteral("第一指示符") : QStringLiteral("第二指示符");
        if (rule != nullptr) {
            const QString name = bothNames(first ? rule->indicator1NameZh : rule->indicator2NameZh,
                                           first ? rule->indicator1Name : rule->indicator2Name);
            if (!name.isEmpty())
                tip += QStringLiteral("：") + name;
        }
        tip += QStringLiteral(" 值 ") + shownValue(element.value);
        if (rule != nullptr && tables != nullptr) {
            const QString meaning = indicatorValueMeaning(*tables, *rule, element.indicator, element.value);
            if (!meaning.isEmpty())
                tip += QLatin1Char('\n') + meaning;
        }
        break;
    }
    case RecordTextElement::Kind::SubfieldCode: {
        tip = line.tag + QStringLiteral(" $") + element.value;
        if (rule != nullptr && tables != nullptr) {
            const auto* subfield = tables->subfield(*rule, static_cast<char>(element.value.toLatin1()));
            tip += QStringLiteral("：") + (subfield != nullptr ? bothNames(subfield->nameZh, subfield->name)
                                                               : QStringLiteral("（规则中没有定义）"));
        }
        break;
    }
    case RecordTextElement::Kind::Data:
    case RecordTextElement::Kind::None:
        break;
    }
    if (element.line == 0)
        tip = (tip.isEmpty() ? QString() : tip + QStringLiteral("\n\n")) + LeaderDescription(info.leader, NamingRules(info));
    return tip;
}

QString LeaderDescription(const std::string& leader, RuleSet rules)
{
    const RuleSetTables* tables = tablesOf(rules);
    QStringList lines{QStringLiteral("头标 (Leader)")};
    int next = 0;
    const auto bytes = [&](int first, int last) {
        return QString::fromLatin1(leader.data() + first, last - first + 1).replace(QLatin1Char(' '), QLatin1Char('#'));
    };
    const auto bare = [&](int upTo) {
        for (; next < upTo && next < static_cast<int>(leader.size()); ++next)
            lines.append(QStringLiteral("%1 %2").arg(next, 2, 10, QLatin1Char('0')).arg(bytes(next, next)));
    };
    for (const NamedLeaderPosition& p : namedLeaderPositions(tables, rules)) {
        bare(p.first);
        if (p.first >= static_cast<int>(leader.size()))
            break;
        const int last = std::min(p.last, static_cast<int>(leader.size()) - 1);
        QString line = (p.first == last ? QStringLiteral("%1").arg(p.first, 2, 10, QLatin1Char('0'))
                                        : QStringLiteral("%1-%2").arg(p.first, 2, 10, QLatin1Char('0'))
                                              .arg(last, 2, 10, QLatin1Char('0'))) +
                       QLatin1Char(' ') + p.name + QStringLiteral("：") + bytes(p.first, last);
        if (p.coded != nullptr) {
            const std::string_view code = std::string_view(leader).substr(static_cast<std::size_t>(p.first), p.coded->width);
            if (const auto* meaning = tables->codeMeaning(*p.coded, code))
                line += QLatin1Char(' ') + bothNames(meaning->meaningZh, meaning->meaning);
        }
        lines.append(line);
        next = last + 1;
    }
    bare(static_cast<int>(leader.size()));
    lines.append(QStringLiteral("（# 为空格）"));
    return lines.join(QLatin1Char('\n'));
}

std::vector<RecordTextEdit::Underline> FindingUnderlines(const RecordTextMap& map, const RecordInfo& info)
{
    std::vector<RecordTextEdit::Underline> underlines;
    for (const veltrane::CheckProblem& finding : info.findings) {
        if (!IsContentFault(finding))
            continue;
        if (const auto span = FindingSpan(map, finding); span && span->end > span->start)
            underlines.push_back({span->start, span->end,
                                  fromUtf8(veltrane::rules::RuleCodeMeaningZh(finding.code)) + QStringLiteral("：") +
                                      fromUtf8(finding.description)});
    }
    return underlines;
}
