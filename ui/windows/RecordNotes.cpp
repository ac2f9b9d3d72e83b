// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordNotes.h"

#include <algorithm>
#include <string_view>

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

// The MARC 21 bibliographic leader: its positions and the codes of the coded
// ones, from the Library of Congress's field list (docs/RULES.md).
struct LeaderCode {
    char code;
    const char* zh;
    const char* en;
};
struct LeaderPosition {
    int first;
    int last;
    const char* zh;
    const char* en;
    std::vector<LeaderCode> codes;
};

const std::vector<LeaderPosition>& marc21Leader()
{
    static const std::vector<LeaderPosition> kPositions = {
        {0, 4, "纪录长度", "Record length", {}},
        {5, 5, "纪录状态", "Record status",
         {{'a', "编码级别提高", "Increase in encoding level"},
          {'c', "已更正或修订", "Corrected or revised"},
          {'d', "已删除", "Deleted"},
          {'n', "新纪录", "New"},
          {'p', "由预出版级别提高", "Increase in encoding level from prepublication"}}},
        {6, 6, "纪录类型", "Type of record",
         {{'a', "文字资料", "Language material"},
          {'c', "乐谱", "Notated music"},
          {'d', "手稿乐谱", "Manuscript notated music"},
          {'e', "地图资料", "Cartographic material"},
          {'f', "手稿地图资料", "Manuscript cartographic material"},
          {'g', "放映媒体", "Projected medium"},
          {'i', "非音乐录音", "Nonmusical sound recording"},
          {'j', "音乐录音", "Musical sound recording"},
          {'k', "二维非放映图形", "Two-dimensional nonprojectable graphic"},
          {'m', "计算机文件", "Computer file"},
          {'o', "成套资料", "Kit"},
          {'p', "混合资料", "Mixed material"},
          {'r', "三维制品或自然物", "Three-dimensional artifact or naturally occurring object"},
          {'t', "手稿文字资料", "Manuscript language material"}}},
        {7, 7, "书目级别", "Bibliographic level",
         {{'a', "专著的组成部分", "Monographic component part"},
          {'b', "连续出版物的组成部分", "Serial component part"},
          {'c', "集合", "Collection"},
          {'d', "子单元", "Subunit"},
          {'i', "集成性资源", "Integrating resource"},
          {'m', "专著/单件", "Monograph/item"},
          {'s', "连续出版物", "Serial"}}},
        {8, 8, "控制类型", "Type of control", {{' ', "无特定类型", "No specific type"}, {'a', "档案", "Archival"}}},
        {9, 9, "字符编码方案", "Character coding scheme", {{' ', "MARC-8", "MARC-8"}, {'a', "UCS/Unicode", "UCS/Unicode"}}},
        {10, 10, "指示符数", "Indicator count", {}},
        {11, 11, "子字段代码长度", "Subfield code count", {}},
        {12, 16, "数据起始地址", "Base address of data", {}},
        {17, 17, "编码级别", "Encoding level",
         {{' ', "完整级", "Full level"},
          {'1', "完整级，未核对资料", "Full level, material not examined"},
          {'2', "低于完整级，未核对资料", "Less-than-full level, material not examined"},
          {'3', "简略级", "Abbreviated level"},
          {'4', "核心级", "Core level"},
          {'5', "部分（初步）级", "Partial (preliminary) level"},
          {'7', "最低级", "Minimal level"},
          {'8', "预出版级", "Prepublication level"},
          {'u', "未知", "Unknown"},
          {'z', "不适用", "Not applicable"}}},
        {18, 18, "著录格式", "Descriptive cataloging form",
         {{' ', "非 ISBD", "Non-ISBD"},
          {'a', "AACR 2", "AACR 2"},
          {'c', "省略 ISBD 标识符", "ISBD punctuation omitted"},
          {'i', "含 ISBD 标识符", "ISBD punctuation included"},
          {'n', "非 ISBD，省略标识符", "Non-ISBD punctuation omitted"},
          {'u', "未知", "Unknown"}}},
        {19, 19, "多部分资源纪录级别", "Multipart resource record level",
         {{' ', "未指明或不适用", "Not specified or not applicable"},
          {'a', "全套", "Set"},
          {'b', "有独立题名的部分", "Part with independent title"},
          {'c', "有从属题名的部分", "Part with dependent title"}}},
        {20, 20, "字段长度部分的长度", "Length of the length-of-field portion", {}},
        {21, 21, "起始字符位置部分的长度", "Length of the starting-character-position portion", {}},
        {22, 22, "实施者定义部分的长度", "Length of the implementation-defined portion", {}},
        {23, 23, "未定义", "Undefined", {}},
    };
    return kPositions;
}

// The positions every ISO 2709 record gives the same meaning, whatever its format.
const std::vector<LeaderPosition>& structureLeader()
{
    static const std::vector<LeaderPosition> kPositions = {
        {0, 4, "纪录长度", "Record length", {}},
        {10, 10, "指示符数", "Indicator count", {}},
        {11, 11, "子字段代码长度", "Subfield code count", {}},
        {12, 16, "数据起始地址", "Base address of data", {}},
        {20, 23, "地址目次项结构", "Entry map", {}},
    };
    return kPositions;
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
    QStringList lines{QStringLiteral("头标 (Leader)")};
    const auto& positions = rules == RuleSet::Marc21 ? marc21Leader() : structureLeader();
    int next = 0;
    const auto bytes = [&](int first, int last) {
        return QString::fromLatin1(leader.data() + first, last - first + 1).replace(QLatin1Char(' '), QLatin1Char('#'));
    };
    const auto bare = [&](int upTo) {
        for (; next < upTo && next < static_cast<int>(leader.size()); ++next)
            lines.append(QStringLiteral("%1 %2").arg(next, 2, 10, QLatin1Char('0')).arg(bytes(next, next)));
    };
    for (const LeaderPosition& p : positions) {
        bare(p.first);
        if (p.first >= static_cast<int>(leader.size()))
            break;
        const int last = std::min(p.last, static_cast<int>(leader.size()) - 1);
        QString line = (p.first == last ? QStringLiteral("%1").arg(p.first, 2, 10, QLatin1Char('0'))
                                        : QStringLiteral("%1-%2").arg(p.first, 2, 10, QLatin1Char('0'))
                                              .arg(last, 2, 10, QLatin1Char('0'))) +
                       QLatin1Char(' ') + bothNames(p.zh, p.en) + QStringLiteral("：") + bytes(p.first, last);
        if (p.codes.size() > 0) {
            const char value = leader[static_cast<std::size_t>(p.first)];
            for (const LeaderCode& c : p.codes)
                if (c.code == value)
                    line += QLatin1Char(' ') + bothNames(c.zh, c.en);
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
