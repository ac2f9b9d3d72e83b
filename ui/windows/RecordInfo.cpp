// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordInfo.h"

#include <fcntl.h>

#include <memory>

#include "files/FileAccess.h"
#include "files/IndexFile.h"
#include "files/RecordFile.h"
#include "iso2709/RecordLayout.h"
#include "iso2709/RecordStream.h"
#include "display/DecodedText.h"

namespace {

using veltrane::fileaccess::readAt;
using veltrane::fileaccess::UniqueFd;

// The record's bytes as the file holds them, a truncated last record included
// (the check reports it), which RecordFile::read refuses.
std::vector<veltrane::CheckProblem> checkRecord(int recordsFd, const std::string& indexFileName, std::int64_t number,
                                                veltrane::CharsetSetting setting, veltrane::DelimiterMode delimiterMode,
                                                veltrane::TextCodec& codec)
{
    std::vector<veltrane::CheckProblem> problems;
    const UniqueFd index(::open(indexFileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (!index)
        return problems;
    veltrane::IndexReader entries(index.get());
    const std::optional<std::uint64_t> offset = entries.entry(number);
    if (!offset)
        return problems;
    unsigned char digits[5];
    if (readAt(recordsFd, digits, sizeof digits, static_cast<off_t>(*offset)) != static_cast<ssize_t>(sizeof digits))
        return problems;
    const std::uint32_t declared = veltrane::ParseDigits(digits, sizeof digits);
    if (declared <= veltrane::kLeaderLength)
        return problems;
    std::vector<unsigned char> bytes(declared);
    const ssize_t got = readAt(recordsFd, bytes.data(), bytes.size(), static_cast<off_t>(*offset));
    if (got < 0)
        return problems;
    veltrane::FramedRecord framed;
    framed.number = number;
    framed.offset = *offset;
    framed.declaredLength = declared;
    framed.bytes = std::span<const unsigned char>(bytes.data(), static_cast<std::size_t>(got));
    veltrane::CheckOptions options;
    options.mode = delimiterMode;
    options.charset = setting;
    veltrane::RecordFields scratch;
    veltrane::CheckRecord(framed, options, scratch, codec, problems);
    return problems;
}

}  // namespace

RecordInfo InspectRecord(const std::string& fileName, const std::string& indexFileName, std::int64_t number,
                         veltrane::CharsetSetting setting, veltrane::DelimiterMode delimiterMode, veltrane::TextCodec& codec)
{
    RecordInfo info;
    veltrane::RecordFile records;
    if (!records.openRecords(fileName.c_str()) || !records.openIndex(indexFileName.c_str()))
        return info;
    if (records.read(number) == veltrane::Outcome::Done) {
        info.read = true;
        info.decision = veltrane::ChooseCharset(setting, records.fields());
        info.told = veltrane::TellCharset(setting, info.decision, records.fields());
        // Rendered for GBK too: the count of invalid bytes comes from it, while
        // the text shown stays the display bytes decoded as always.
        const veltrane::DecodedDisplay shown =
            veltrane::RenderDecodedDisplayText(codec, info.decision.charset, records.fields(),
                                               veltrane::FieldTerminator(delimiterMode),
                                               veltrane::SubfieldDelimiter(delimiterMode));
        info.invalidBytes = shown.invalidBytes;
        if (info.decision.charset != veltrane::Charset::Gbk) {
            info.decodedText = QString::fromUtf8(shown.text.data(), static_cast<qsizetype>(shown.text.size()));
        }
    }
    info.problems = checkRecord(records.recordsFd(), indexFileName, number, setting, delimiterMode, codec);
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
