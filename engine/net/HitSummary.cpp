// SPDX-License-Identifier: Apache-2.0
#include "net/HitSummary.h"

#include <initializer_list>
#include <optional>
#include <span>

#include "iso2709/Iso2709Reader.h"
#include "iso2709/MarcRecord.h"
#include "iso2709/RecordFields.h"
#include "profile/FileProfile.h"

namespace veltrane {

namespace {

/// The first `code` subfield of the first field with one of `tags`.
std::string firstSubfield(const MarcRecord& record, std::initializer_list<std::string_view> tags, std::string_view code)
{
    for (std::string_view wanted : tags)
        for (const MarcRecord::Field& f : record.fields())
            if (!f.control && record.tag(f) == wanted)
                for (const MarcRecord::Subfield& s : record.subfields(f))
                    if (record.code(s) == code && !record.value(s).empty())
                        return std::string(record.value(s));
    return {};
}

/// A list cell: tabs and line ends would break the row; blanks around it
/// and trailing ISBD punctuation (" /", " :") are noise there.
std::string cell(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    const std::size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
    while (!text.empty() && (text.back() == ' ' || text.back() == '/' || text.back() == ':' || text.back() == ';' ||
                             text.back() == ',' || text.back() == '='))
        text.pop_back();
    return text;
}

}  // namespace

HitSummary SummariseRecord(std::string_view iso2709, TextCodec& codec)
{
    HitSummary summary;
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(iso2709.data()), iso2709.size());
    if (bytes.size() < kLeaderLength)
        return summary;
    Iso2709Reader reader;
    reader.read(bytes, static_cast<std::uint32_t>(bytes.size()), {dmNormal, true, false});
    RecordFields fields;
    fields.assemble(reader);
    MarcRecord record;
    MarcReadOptions options;
    options.flagUtf8 = false;
    BuildMarcRecord(fields, static_cast<std::uint32_t>(bytes.size()), bytes.size(), reader.problems(), options, codec,
                    record);
    summary.controlNumber = cell(std::string(record.controlNumber()));
    if (IsUnimarcShaped(fields)) {
        summary.title = firstSubfield(record, {"200"}, "a");
        summary.author = firstSubfield(record, {"700", "701", "702", "710", "711"}, "a");
        if (summary.author.empty())
            summary.author = firstSubfield(record, {"200"}, "f");
        summary.isbn = firstSubfield(record, {"010"}, "a");
    } else {
        summary.title = firstSubfield(record, {"245"}, "a");
        summary.author = firstSubfield(record, {"100", "110", "111"}, "a");
        if (summary.author.empty())
            summary.author = firstSubfield(record, {"245"}, "c");
        summary.isbn = firstSubfield(record, {"020"}, "a");
    }
    summary.title = cell(std::move(summary.title));
    summary.author = cell(std::move(summary.author));
    summary.isbn = cell(std::move(summary.isbn));
    if (const std::optional<int> year = PublicationYear(fields, kStandardSubfieldDelimiter))
        summary.date = std::to_string(*year);
    return summary;
}

}  // namespace veltrane
