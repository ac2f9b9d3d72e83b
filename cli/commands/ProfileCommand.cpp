// SPDX-License-Identifier: Apache-2.0
#include "commands/ProfileCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "CommandSupport.h"
#include "Output.h"
#include "files/FileAccess.h"
#include "profile/FileProfile.h"

namespace veltrane::cli {

namespace {

int runProfileCommand(const std::vector<std::string_view>& arguments);

}  // namespace

const CliCommand kProfileCommand{"profile", "profile [--format tsv|json] [--mode M] [--charset C] FILE [A [B]]",
                                 "report what the records of a file hold, in one pass", runProfileCommand};

namespace {

constexpr std::string_view kProfileHelp =
    "Reads the records of FILE (all, record A, or records A to B) once and\n"
    "reports what they hold: the record count and sizes, the character sets and\n"
    "the rules that decided them, structural problems per code, per tag the\n"
    "records that have it, its occurrences and its shortest and longest field,\n"
    "per tag and subfield the records and occurrences, per tag and indicator the\n"
    "values, the values at each position of the leader, of 008 by material type\n"
    "(leader/06-07, MARC 21) and of 100 $a (UNIMARC), and the years of\n"
    "publication.\n"
    "\n"
    "  --format tsv|json  one table per section, each with a header line and\n"
    "                     a blank line after it (default); or one JSON object\n"
    "  --mode 0|1|2       delimiter variant (see 'show --help')\n"
    "  --charset C        the records' character set: auto (default), gbk,\n"
    "                     gb18030, utf-8 or marc-8\n"
    "\n"
    "Byte values are shown as themselves when they are printable ASCII, else as\n"
    "\\xHH (a blank is \\x20); a backslash is \\\\.\n"
    "\n"
    "Exit status: 0 done, 2 a usage error or a file that cannot be read.\n";

std::string number(std::int64_t n) { return std::to_string(n); }

void writePositionsTsv(StandardOutput& out, const std::string& prefix, const PositionCounts& counts)
{
    for (std::size_t p = 0; p < counts.values.size(); ++p)
        for (std::size_t v = 0; v < 256; ++v)
            if (const std::int64_t n = counts.values[p][v]; n > 0)
                out.write(prefix + number(static_cast<std::int64_t>(p)) + '\t' + ProfileByteText(static_cast<unsigned char>(v)) +
                          '\t' + number(n) + '\n');
}

void writeTsv(StandardOutput& out, const FileProfile& profile)
{
    out.write("records\tsmallest\tmedian\tlargest\n" + number(profile.records) + '\t' + number(profile.smallest) +
              '\t' + number(profile.median) + '\t' + number(profile.largest) + "\n\n");
    out.write("charset\trule\trecords\n");
    for (const auto& [key, n] : profile.charsets)
        out.write(key.first + '\t' + number(key.second) + '\t' + number(n) + '\n');
    out.write("\nproblem\tcount\n");
    for (const auto& [code, n] : profile.problems)
        out.write(code + '\t' + number(n) + '\n');
    out.write("\ntag\trecords\toccurrences\tshortest\tlongest\n");
    for (const auto& [tag, t] : profile.tags)
        out.write(ProfileTagText(tag) + '\t' + number(t.count.records) + '\t' + number(t.count.occurrences) + '\t' +
                  number(static_cast<std::int64_t>(t.shortest)) + '\t' + number(static_cast<std::int64_t>(t.longest)) + '\n');
    out.write("\ntag\tsubfield\trecords\toccurrences\n");
    for (const auto& [key, c] : profile.subfields)
        out.write(ProfileTagText(key.first) + '\t' + ProfileByteText(static_cast<unsigned char>(key.second)) + '\t' +
                  number(c.records) + '\t' + number(c.occurrences) + '\n');
    out.write("\ntag\tindicator\tvalue\tfields\n");
    for (const auto& [key, values] : profile.indicators)
        for (const auto& [value, n] : values)
            out.write(ProfileTagText(key.first) + '\t' + number(key.second) + '\t' + ProfileByteText(static_cast<unsigned char>(value)) +
                      '\t' + number(n) + '\n');
    out.write("\nleader_position\tvalue\trecords\n");
    writePositionsTsv(out, "", profile.leader);
    out.write("\nmaterial_type\t008_position\tvalue\trecords\n");
    for (const auto& [type, counts] : profile.marc21FixedData)
        writePositionsTsv(out, ProfileTagText(type) + '\t', counts);
    out.write("\n100a_position\tvalue\trecords\n");
    writePositionsTsv(out, "", profile.unimarcGeneralData);
    out.write("\nyear\trecords\n");
    for (const auto& [year, n] : profile.years)
        out.write(number(year) + '\t' + number(n) + '\n');
}

std::string positionsJson(const PositionCounts& counts)
{
    std::string json = "[";
    for (std::size_t p = 0; p < counts.values.size(); ++p) {
        json += p == 0 ? "{" : ",{";
        bool first = true;
        for (std::size_t v = 0; v < 256; ++v)
            if (const std::int64_t n = counts.values[p][v]; n > 0) {
                json += (first ? "" : ",") + jsonString(ProfileByteText(static_cast<unsigned char>(v))) + ':' + number(n);
                first = false;
            }
        json += '}';
    }
    return json + ']';
}

void writeJson(StandardOutput& out, const FileProfile& profile)
{
    std::string json = "{\"records\":" + number(profile.records) + ",\"sizes\":{\"smallest\":" + number(profile.smallest) +
                       ",\"median\":" + number(profile.median) + ",\"largest\":" + number(profile.largest) + "}";
    json += ",\"charsets\":[";
    bool first = true;
    for (const auto& [key, n] : profile.charsets) {
        json += std::string(first ? "" : ",") + "{\"charset\":" + jsonString(key.first) + ",\"rule\":" + number(key.second) +
                ",\"records\":" + number(n) + '}';
        first = false;
    }
    json += "],\"problems\":{";
    first = true;
    for (const auto& [code, n] : profile.problems) {
        json += (first ? "" : ",") + jsonString(code) + ':' + number(n);
        first = false;
    }
    json += "},\"tags\":[";
    first = true;
    for (const auto& [tag, t] : profile.tags) {
        json += std::string(first ? "" : ",") + "{\"tag\":" + jsonString(ProfileTagText(tag)) + ",\"records\":" +
                number(t.count.records) + ",\"occurrences\":" + number(t.count.occurrences) + ",\"shortest\":" +
                number(static_cast<std::int64_t>(t.shortest)) + ",\"longest\":" + number(static_cast<std::int64_t>(t.longest)) +
                ",\"subfields\":{";
        bool firstCode = true;
        for (auto it = profile.subfields.lower_bound({tag, '\0'}); it != profile.subfields.end() && it->first.first == tag; ++it) {
            json += (firstCode ? "" : ",") + jsonString(ProfileByteText(static_cast<unsigned char>(it->first.second))) +
                    ":{\"records\":" + number(it->second.records) + ",\"occurrences\":" + number(it->second.occurrences) + '}';
            firstCode = false;
        }
        json += "},\"indicators\":[";
        for (int position = 1; position <= 2; ++position) {
            json += position == 1 ? "{" : ",{";
            if (auto found = profile.indicators.find({tag, position}); found != profile.indicators.end()) {
                bool firstValue = true;
                for (const auto& [value, n] : found->second) {
                    json += (firstValue ? "" : ",") + jsonString(ProfileByteText(static_cast<unsigned char>(value))) + ':' + number(n);
                    firstValue = false;
                }
            }
            json += '}';
        }
        json += "]}";
        first = false;
    }
    json += "],\"leader\":" + positionsJson(profile.leader) + ",\"marc21_008\":{";
    first = true;
    for (const auto& [type, counts] : profile.marc21FixedData) {
        json += (first ? "" : ",") + jsonString(ProfileTagText(type)) + ':' + positionsJson(counts);
        first = false;
    }
    json += "},\"unimarc_100a\":" + positionsJson(profile.unimarcGeneralData) + ",\"years\":{";
    first = true;
    for (const auto& [year, n] : profile.years) {
        json += (first ? "\"" : ",\"") + number(year) + "\":" + number(n);
        first = false;
    }
    json += "}}\n";
    out.write(json);
}

int runProfileCommand(const std::vector<std::string_view>& arguments)
{
    DelimiterMode mode = dmNormal;
    CharsetSetting setting = CharsetSetting::Auto;
    bool json = false;
    std::string file;
    std::int64_t first = 1, last = std::numeric_limits<std::int64_t>::max();
    ArgumentWalker walker(arguments);
    std::string error;
    while (std::optional<std::string_view> option = walker.nextOption()) {
        if (isHelpOption(walker, *option))
            return printCommandHelp(kProfileCommand, kProfileHelp);
        if (*option == "--mode") {
            error = parseModeValue(walker.value(), mode);
        } else if (*option == "--charset") {
            error = parseCharsetValue(walker.value(), setting);
        } else if (*option == "--format") {
            const std::optional<std::string_view> value = walker.value();
            if (value == "json" || value == "tsv")
                json = value == "json";
            else
                error = value ? "unknown format '" + std::string(*value) + "': tsv or json"
                              : "option '--format' needs a value: tsv or json";
        } else {
            error = unknownOption(*option);
        }
        if (!error.empty())
            break;
    }
    if (error.empty())
        error = parseFileAndRange(walker.operands(), walker.optionsEnded(), file, first, last);
    if (!error.empty())
        return refuseUsage(kProfileCommand, error);

    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        tellError(::stat(file.c_str(), &info) != 0 ? "cannot open " + quotedName(file) + ": " + std::strerror(errno)
                  : quotedName(file) + (S_ISDIR(info.st_mode) ? " is a directory" : " is not a regular file"));
        return kExitFailure;
    }
    fileaccess::UniqueFd input(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        tellError("cannot open " + quotedName(file) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    const ProfileResult result = ProfileRecords(input.get(), first, last, mode, setting);
    if (result.outcome == Outcome::FileError) {
        tellError("cannot read " + quotedName(file));
        return kExitFailure;
    }
    const bool rangeGiven = first != 1 || last != std::numeric_limits<std::int64_t>::max();
    const std::int64_t wanted = last == std::numeric_limits<std::int64_t>::max() ? first : last;
    if (rangeGiven && wanted > result.framed) {
        tellError("invalid record number " + std::to_string(wanted) + ": " + quotedName(file) + " holds " +
                  std::to_string(result.framed) + " records");
        return kExitFailure;
    }
    StandardOutput output;
    if (json)
        writeJson(output, result.profile);
    else
        writeTsv(output, result.profile);
    if (!output.flush()) {
        if (output.error() != EPIPE)
            tellError(std::string("cannot write the output: ") + std::strerror(output.error()));
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace

}  // namespace veltrane::cli
