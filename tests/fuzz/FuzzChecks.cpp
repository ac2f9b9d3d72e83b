// SPDX-License-Identifier: Apache-2.0
#include "FuzzChecks.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "EngineTestDoubles.h"
#include "display/DisplayText.h"
#include "files/RecordExtract.h"
#include "iso2709/RecordFields.h"
#include "RecordFiles.h"
#include "files/RecordIndex.h"
#include "iso2709/RecordLayout.h"
#include "check/RecordCheck.h"
#include "formats/RecordConvert.h"
#include "formats/RecordRepair.h"
#include "display/RecordScan.h"
#include "display/DecodedText.h"
#include "charset/UnicodeWidth.h"
#include "profile/FileProfile.h"
#include "charset/Utf8.h"
#include "net/HitSummary.h"
#include "net/ServerRecord.h"

namespace fuzzchecks {

using namespace veltrane;
using testsupport::RecordingPrompt;

namespace {

/// The files of every run, in a private folder made once per process.
const struct Workspace {
    testsupport::TempDir dir;
    std::string records = dir.file("records.mrc"), index = dir.file("records.idx");
    std::string scratch = dir.file("display.txt"), target = dir.file("target.mrc");
} files;

const ScratchDisplay scratch(files.scratch);

template <class... Parts>
std::string say(const Parts&... parts)
{
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

/// Writes the record file and indexes it: the record count, -1 on failure.
int prepare(std::string_view file)
{
    std::ofstream(files.records, std::ios::binary) << file;
    return BuildRecordIndex(files.records.c_str(), files.index.c_str());
}

/// The index rule over the bytes in memory: every record's offset, then the
/// sentinel. The length is read here without the engine's digit routine, so
/// that a fault in it shows.
std::vector<std::uint64_t> referenceIndex(std::string_view file)
{
    std::vector<std::uint64_t> entries;
    for (std::uint64_t offset = 0;;) {
        entries.push_back(offset);
        if (offset >= file.size() || file.size() - offset < kLeaderLength)
            return entries;
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < 5 && file[offset + i] >= '0' && file[offset + i] <= '9'; ++i)
            length = length * 10 + static_cast<std::uint64_t>(file[offset + i] - '0');
        if (length <= kLeaderLength)
            return entries;
        // The next digit at or after the record's end; past the file's end, that end.
        offset = std::max(offset + length, std::min(file.find_first_of("0123456789", offset + length), file.size()));
    }
}

/// The digits rule read here without the engine's routine: up to n leading
/// ASCII digits of the bytes from at (none past the end).
std::uint64_t referenceDigits(std::string_view bytes, std::size_t at, std::size_t n)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < n && at + i < bytes.size() && bytes[at + i] >= '0' && bytes[at + i] <= '9'; ++i)
        value = value * 10 + static_cast<std::uint64_t>(bytes[at + i] - '0');
    return value;
}

/// One directory entry's tag and field bytes as the display and the search
/// take them, and its field length as the directory gives it.
struct ReferenceEntry {
    std::string bytes;
    std::uint64_t declaredLength;
};

/// The entries of the record at offset, taken apart here without the engine:
/// entries in directory order while they lie wholly within the record, each
/// field's bytes as far as the record goes, everything together capped at the
/// field buffer's size. Nothing when the record is cut off by the end of the file.
std::optional<std::vector<ReferenceEntry>> referenceEntries(std::string_view file, std::uint64_t offset)
{
    const std::uint64_t length = referenceDigits(file, offset, 5);
    if (length < kLeaderLength || offset + length > file.size())
        return std::nullopt;
    const std::string_view record = file.substr(offset, length);
    const std::uint64_t base = referenceDigits(record, 12, 5);
    const std::uint64_t entries = base > kLeaderLength ? (base - kLeaderLength) / 12 : 0;
    std::vector<ReferenceEntry> result;
    std::size_t room = kFieldBufferSize;
    for (std::uint64_t i = 0; i < entries && kLeaderLength + 12 * (i + 1) <= length; ++i) {
        const std::size_t at = kLeaderLength + 12 * i;
        std::string bytes(record.substr(at, 3));
        const std::uint64_t fieldLength = referenceDigits(record, at + 3, 4);
        const std::uint64_t start = base + referenceDigits(record, at + 7, 5);
        if (start < length)
            bytes += record.substr(start, std::min(fieldLength, length - start));
        bytes.resize(std::min(bytes.size(), room));
        room -= bytes.size();
        result.push_back({bytes, fieldLength});
    }
    return result;
}

/// Whether pattern (as typed: "$a" for subfield a) lies in one entry, never
/// taking in its last byte, compared byte by byte at every alignment.
bool referenceMatch(const ReferenceEntry& entry, std::string pattern, DelimiterMode mode, bool caseSensitive)
{
    const char subfieldDelimiter = mode == dmNormal ? '\x1f' : '$';
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '$' && std::isalnum(static_cast<unsigned char>(pattern[i + 1])) != 0
            && static_cast<unsigned char>(pattern[i + 1]) < 0x80)
            pattern[i] = subfieldDelimiter;
    }
    auto fold = [caseSensitive](char c) { return !caseSensitive && c >= 'a' && c <= 'z' ? char(c - 32) : c; };
    const std::size_t searchable = std::min<std::uint64_t>(2 + entry.declaredLength, entry.bytes.size());
    for (std::size_t i = 0; i + pattern.size() <= searchable; ++i) {
        std::size_t t = 0;
        while (t < pattern.size() && fold(entry.bytes[i + t]) == fold(pattern[t]))
            ++t;
        if (t == pattern.size())
            return true;
    }
    return false;
}

/// Takes the run's choices from the end of the input, so that the front stays a
/// record file shaped like the seeds. Missing bytes read as 0.
struct ChoiceReader {
    const std::uint8_t* data;
    std::size_t size;
    unsigned byte() { return size == 0 ? 0 : data[--size]; }
    unsigned word() { return byte() | byte() << 8; }
    std::string rest() const { return {reinterpret_cast<const char*>(data), size}; }
};

}  // namespace

std::string checkRecordIndex(const std::uint8_t* data, std::size_t size)
{
    std::string file = ChoiceReader{data, size}.rest();
    const int count = prepare(file);  // -1 on failure
    std::vector<std::uint64_t> expected = referenceIndex(file);
    // One entry past the sentinel is read too: there must be none.
    std::vector<std::uint64_t> got;
    for (std::optional<std::uint64_t> entry; got.size() <= expected.size() &&
                                             (entry = ReadIndexEntry(files.index.c_str(), std::ssize(got) + 1));)
        got.push_back(*entry);
    if (count != std::ssize(expected) - 1 || got != expected)
        return say("count ", count, " with ", got.size(), " entries, expected ", expected.size(), " entries");
    return {};
}

std::string checkScanShow(const std::uint8_t* data, std::size_t size)
{
    const std::string file = ChoiceReader{data, size}.rest();
    const int count = prepare(file);
    const std::vector<std::uint64_t> offsets = referenceIndex(file);
    RecordingPrompt prompt;
    auto expected = std::make_unique<DisplayText>();
    for (DelimiterMode mode : {dmNormal, dmSpecial1, dmSpecial2})
        for (int n = 1; n <= std::min(count, 16); ++n) {  // enough for a small input, quick for thousands of runs
            const int r = ScanRecords(prompt, scratch, {mode, false}, files.records.c_str(), files.index.c_str(), n, n, "");
            const std::optional<std::vector<ReferenceEntry>> entries = referenceEntries(file, offsets[n - 1]);
            std::string fieldBytes;
            for (const ReferenceEntry& entry : entries.value_or(std::vector<ReferenceEntry>()))
                fieldBytes += entry.bytes;
            expected->clear();
            RenderDisplayText(*expected, reinterpret_cast<const unsigned char*>(fieldBytes.data()), fieldBytes.size(),
                              FieldTerminator(mode), SubfieldDelimiter(mode));
            if (r != (entries ? n : -1))
                return say("mode ", DelimiterModeNumber(mode), ": showing record ", n, " gave ", r);
            if (testsupport::ReadFile(files.scratch) != (entries ? expected->text() : ""))
                return say("mode ", DelimiterModeNumber(mode), ": the display text of record ", n, " is not its fields laid out");
        }
    return prompt.messages.empty() ? "" : "message on readable files: " + prompt.messages[0];
}

std::string checkScanSearch(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input{data, size};
    ScanSettings settings;
    settings.delimiterMode = *DelimiterModeFromNumber(static_cast<int>(input.byte() % 3));
    settings.caseSensitive = input.byte() & 1;
    const std::size_t patternStart = input.word(), patternLength = 1 + input.byte() % 40;
    const unsigned fromChoice = input.byte();
    const std::string file = input.rest();
    const int count = prepare(file);
    if (count < 0)
        return "BuildRecordIndex failed on a readable file";

    // The search text is cut from the file itself, so that it often matches.
    std::string pattern = file.empty() ? "" : file.substr(patternStart % file.size(), patternLength);
    if (pattern = pattern.substr(0, pattern.find('\0')); pattern.empty())
        pattern = "$a";
    RecordingPrompt prompt;
    auto find = [&](int from, int to) {
        return ScanRecords(prompt, scratch, settings, files.records.c_str(), files.index.c_str(), from, to,
                           pattern.c_str());
    };
    // From 1 to one past the last record: the empty range ends the search.
    const int from = 1 + static_cast<int>(fromChoice % static_cast<unsigned>(count + 1));
    const std::vector<std::uint64_t> offsets = referenceIndex(file);
    int expected = -1;
    for (int k = from; k <= count && expected == -1; ++k) {
        const std::optional<std::vector<ReferenceEntry>> entries = referenceEntries(file, offsets[k - 1]);
        if (!entries)
            break;  // an unreadable record ends the search
        for (const ReferenceEntry& entry : *entries)
            if (referenceMatch(entry, pattern, settings.delimiterMode, settings.caseSensitive))
                expected = k;
    }
    const int found = find(from, count);
    if (found != expected)
        return say("mode ", DelimiterModeNumber(settings.delimiterMode), settings.caseSensitive ? ", case" : ", any case", ", from ", from,
                   " of ", count, ": the search gave record ", found, ", the byte comparison ", expected);
    return prompt.messages.empty() ? "" : "message on readable files: " + prompt.messages[0];
}

namespace {

/// The display rule a byte at a time, written here plainly: the text is what
/// the renderer must give, whatever shortcuts it takes.
std::string referenceDisplayText(const std::uint8_t* bytes, std::size_t n, unsigned char terminator,
                                 unsigned char delimiter)
{
    std::string text;
    std::size_t position = 0;
    auto put = [&](char c) {
        if (position < text.size())
            text[position] = c;
        else
            text += c;
        ++position;
    };
    int col = 0, hi = 0;
    bool wrapped = false;
    for (std::size_t k = 0; k < n;) {
        const unsigned char b = bytes[k];
        hi = b >= 0x80 ? hi + 1 : 0;
        if (b == terminator) {
            col = -1;
            hi = 0;
            if (wrapped)
                position -= 5;
            else
                put('\n');
        } else if (b == delimiter && k + 1 < n && std::isalnum(bytes[k + 1]) != 0 && bytes[k + 1] < 0x80) {
            put('$');
        } else {
            put(static_cast<char>(b));
        }
        ++k;
        ++col;
        wrapped = false;
        if (col > 76) {
            if (hi % 2 == 1 && k < n && bytes[k] >= 0x80)
                put(static_cast<char>(bytes[k++]));
            for (char c : std::string_view("\n     "))
                put(c);
            hi = 0;
            col = 5;
            wrapped = true;
        }
    }
    return text;
}

}  // namespace

std::string checkDisplayText(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    const DelimiterMode mode = *DelimiterModeFromNumber(data[0] % 3);
    const std::size_t used = std::min(size - 1, kFieldBufferSize);
    static DisplayText rendered;
    rendered.clear();
    RenderDisplayText(rendered, data + 1, used, FieldTerminator(mode), SubfieldDelimiter(mode));
    const std::string_view text = rendered.text();
    for (std::size_t start = 0, end = 0; start <= text.size(); start = end + 1)
        if ((end = std::min(text.find('\n', start), text.size())) - start > 78)
            return say("a line of ", end - start, " bytes");
    if (text != referenceDisplayText(data + 1, used, FieldTerminator(mode), SubfieldDelimiter(mode)))
        return "the display text is not the byte rule's";
    return {};
}

namespace {

/// The code points of UTF-8 text, checked independently of the engine's
/// decoder: nothing when the text is not well-formed.
std::optional<std::vector<char32_t>> codePoints(std::string_view text)
{
    std::vector<char32_t> cps;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size())
            return std::nullopt;
        char32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (int k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        cps.push_back(cp);
        i += n;
    }
    return cps;
}

}  // namespace

std::string checkDecodedDisplay(const std::uint8_t* data, std::size_t size)
{
    static RecordFields record;
    static TextCodec codec;
    record.assemble(data, std::min(size, kRecordBufferSize));
    (void)DetectCharset(record);
    for (Charset charset : {Charset::Gbk, Charset::Gb18030, Charset::Utf8, Charset::Marc8}) {
        for (DelimiterMode mode : {dmNormal, dmSpecial1, dmSpecial2}) {
            const DecodedDisplay display =
                RenderDecodedDisplayText(codec, charset, record, FieldTerminator(mode), SubfieldDelimiter(mode));
            const std::string where = say(CharsetName(charset), " mode ", DelimiterModeNumber(mode), ": ");
            if (charset == Charset::Utf8) {
                // UTF-8 takes its own single pass; the general way must agree.
                std::string general = "kept";
                const std::size_t invalid = RenderDecodedDisplayTextByRuns(codec, charset, record, FieldTerminator(mode),
                                                                           SubfieldDelimiter(mode), general);
                if (general.substr(4) != display.text || invalid != display.invalidBytes)
                    return where + "the single pass differs from decoding run by run";
            }
            if (display.invalidBytes > record.bytes().size())
                return say(where, display.invalidBytes, " invalid bytes of ", record.bytes().size());
            if (!display.text.empty() && display.text.back() != '\n')
                return where + "the text does not end with a line end";
            const std::string_view text = display.text;
            int carried = 0;  // columns of the cluster open at the end of the line before
            for (std::size_t start = 0, line = 1; start < text.size(); ++line) {
                const std::size_t end = text.find('\n', start);
                const auto cps = codePoints(text.substr(start, end - start));
                start = end + 1;
                if (!cps)
                    return say(where, "line ", line, " is not valid UTF-8");
                const bool continuation = cps->size() > 5 && std::all_of(cps->begin(), cps->begin() + 5,
                                                                         [](char32_t c) { return c == U' '; });
                int columns = 0, leading = 0, trailing = 0;
                bool seenBase = false;
                for (std::size_t k = 0; k < cps->size(); ++k) {
                    const char32_t cp = (*cps)[k];
                    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0))
                        return say(where, "line ", line, " holds control ", static_cast<unsigned>(cp));
                    const int width = DisplayWidth(cp);
                    columns += width;
                    if (continuation && k < 5)
                        continue;
                    if (!IsClusterExtender(cp)) {
                        seenBase = true;
                        trailing = 0;
                    } else if (!seenBase) {
                        leading += width;
                    }
                    trailing += width;
                }
                if (columns > 77)
                    return say(where, "line ", line, " is ", columns, " columns wide");
                // Marks part from their base only in a cluster wider than a
                // continuation line's 72 columns.
                if (continuation && IsClusterExtender((*cps)[5]) && carried + leading <= 72)
                    return say(where, "line ", line, " starts with a mark parted from its base");
                carried = seenBase || !continuation ? trailing : carried + trailing;
            }
        }
    }
    return {};
}

std::string checkExtract(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input{data, size};
    const unsigned firstChoice = input.word(), lastChoice = input.word();
    const std::string file = input.rest();
    const int count = prepare(file);
    if (count < 1)
        return {};  // the extract command never asks for a range of an empty file
    const int a = 1 + static_cast<int>(firstChoice % static_cast<unsigned>(count));
    const int b = a + static_cast<int>(lastChoice % static_cast<unsigned>(count - a + 1));
    ::unlink(files.target.c_str());
    RecordingPrompt prompt;
    const ExtractResult result =
        ExtractRecords(prompt, scratch, files.records.c_str(), files.index.c_str(), a, b, files.target.c_str());
    if (result.outcome != ExtractOutcome::Copied || !prompt.messages.empty() || prompt.questions != 0)
        return say("records ", a, " to ", b, ": ExtractRecords gave outcome ", static_cast<int>(result.outcome),
                   " (", result.message, ") after ", prompt.questions, " questions and ", prompt.messages.size(),
                   " messages");
    // The source bytes from the first record's offset to the sentinel, capped at
    // the file size.
    const std::vector<std::uint64_t> entries = referenceIndex(file);
    const std::uint64_t start = entries[a - 1], end = std::min<std::uint64_t>(entries[b], file.size());
    const std::string expected = file.substr(start, end - start);
    const std::string got = testsupport::ReadFile(files.target);
    return got == expected ? "" : say("records ", a, " to ", b, ": ", got.size(), " bytes, expected ", expected.size());
}

namespace {

struct ConvertRun {
    veltrane::ConvertResult result;
    std::string out;
};

ConvertRun convertFile(const std::string& input, const veltrane::ConvertOptions& options)
{
    ConvertRun run;
    testsupport::TempDir dir;
    const std::string out = dir.file("out");
    const int in = ::open(input.c_str(), O_RDONLY);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    run.result = veltrane::ConvertRecords(in, fd, options, veltrane::NoMonitor(), [](const veltrane::ConvertWarning&) {});
    ::close(in);
    ::close(fd);
    run.out = testsupport::ReadFile(out);
    return run;
}

/// What fix writes of a file.
std::string repairFile(const std::string& input, const veltrane::RepairOptions& options)
{
    testsupport::TempDir dir;
    const std::string out = dir.file("out");
    const int in = ::open(input.c_str(), O_RDONLY);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    (void)veltrane::RepairRecords(in, fd, options, veltrane::NoMonitor(),
                                  [](std::int64_t, std::uint64_t, const veltrane::RecordRepair&) {});
    ::close(in);
    ::close(fd);
    return testsupport::ReadFile(out);
}

constexpr veltrane::RecordFormat kAllFormats[] = {
    veltrane::RecordFormat::Iso2709, veltrane::RecordFormat::MarcXml, veltrane::RecordFormat::Json,
    veltrane::RecordFormat::JsonLines, veltrane::RecordFormat::Mrk,   veltrane::RecordFormat::Text};

}  // namespace

std::string checkConvertAny(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    const unsigned pick = data[0] % 6;
    constexpr RecordFormat kFrom[] = {RecordFormat::Iso2709, RecordFormat::Iso2709, RecordFormat::Iso2709,
                                      RecordFormat::MarcXml, RecordFormat::Json,    RecordFormat::Mrk};
    const std::string input = files.dir.write("convert.in", std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    for (RecordFormat to : kAllFormats) {
        ConvertOptions options;
        options.from = kFrom[pick];
        options.mode = DelimiterModeFromNumber(static_cast<int>(pick)).value_or(dmNormal);
        options.to = to;
        options.charset = (data[0] / 6) % 2 ? CharsetSetting::Utf8 : CharsetSetting::Auto;
        ConvertRun run = convertFile(input, options);
        if (to == RecordFormat::MarcXml && run.result.status == ConvertResult::Status::Done &&
            !run.out.ends_with("</collection>\n"))
            return "a finished MARCXML output does not end with </collection>";
    }
    if (pick < 3) {
        // Workers check well-formed records where they stand, with one pass
        // over their text; one thread takes every record apart. Both must
        // tell the same problems.
        std::vector<std::string> told[2];
        for (int workers : {1, 2}) {
            CheckOptions options;
            options.mode = *DelimiterModeFromNumber(static_cast<int>(pick));
            options.charset = (data[0] / 6) % 2 ? CharsetSetting::Gbk : CharsetSetting::Auto;
            // The content rules read the same fields either way too.
            constexpr RuleSetting kRules[] = {RuleSetting::None, RuleSetting::Auto, RuleSetting::Marc21,
                                              RuleSetting::Unimarc, RuleSetting::Cnmarc};
            options.rules = kRules[(data[0] / 12) % 5];
            options.workers = workers;
            const int fd = ::open(input.c_str(), O_RDONLY);
            (void)CheckRecords(fd, options, NoMonitor(), [&](const CheckProblem& p) {
                told[workers - 1].push_back(say(p.number, " ", p.offset, " ", p.controlNumber, " ", p.code, " ",
                                                p.description));
            });
            ::close(fd);
        }
        if (told[0] != told[1]) {
            const auto differ = std::mismatch(told[0].begin(), told[0].end(), told[1].begin(), told[1].end());
            return say("check told ", told[0].size(), " problems on one thread, ", told[1].size(),
                       " on workers; first difference: ", differ.first == told[0].end() ? "" : *differ.first, " / ",
                       differ.second == told[1].end() ? "" : *differ.second);
        }
        // fix: its output is sound but for bytes its set cannot read (none
        // with --utf8), and fixing it again changes nothing.
        RepairOptions repair;
        repair.mode = *DelimiterModeFromNumber(static_cast<int>(pick));
        repair.utf8 = (data[0] / 60) % 2 != 0;
        const std::string fixed = repairFile(input, repair);
        const std::string fixedPath = files.dir.write("convert.fixed", fixed);
        const int fixedFd = ::open(fixedPath.c_str(), O_RDONLY);
        std::string unsound;
        (void)CheckRecords(fixedFd, {}, NoMonitor(), [&](const CheckProblem& p) {
            if (unsound.empty() && (repair.utf8 || (p.code != "invalid-bytes" && p.code != "bad-utf8")))
                unsound = say(p.number, " ", p.code, " ", p.description);
        });
        ::close(fixedFd);
        if (!unsound.empty())
            return "check finds fault with what fix wrote: " + unsound;
        repair.mode = dmNormal;
        if (repairFile(fixedPath, repair) != fixed)
            return "fix changes what it wrote itself";
        repair.dryRun = true;
        (void)repairFile(input, repair);

        // The profile reads every framed record, the last one cut off included.
        const int fd = ::open(input.c_str(), O_RDONLY);
        const ProfileResult profiled = ProfileRecords(fd, 1, INT64_MAX, *DelimiterModeFromNumber(static_cast<int>(pick)),
                                                      CharsetSetting::Auto);
        ::close(fd);
        if (profiled.profile.records != profiled.framed)
            return say("the profile counted ", profiled.profile.records, " of ", profiled.framed, " framed records");
    }
    return {};
}

std::string checkConvertRoundTrip(const std::uint8_t* data, std::size_t size)
{
    const std::string input = files.dir.write("round.in", std::string(reinterpret_cast<const char*>(data), size));
    ConvertOptions options;
    options.to = RecordFormat::Iso2709;
    options.charset = CharsetSetting::Utf8;
    const std::string standard = convertFile(input, options).out;
    const std::string path = files.dir.write("round.mrc", standard);
    CheckOptions check;
    check.charset = CharsetSetting::Utf8;
    const int fd = ::open(path.c_str(), O_RDONLY);
    const CheckResult checked = CheckRecords(fd, check, NoMonitor(), [](const CheckProblem&) {});
    ::close(fd);
    if (checked.problems > 0 || checked.records == 0)
        return {};
    for (RecordFormat format : {RecordFormat::MarcXml, RecordFormat::Json, RecordFormat::JsonLines, RecordFormat::Mrk}) {
        options.from = RecordFormat::Iso2709;
        options.to = format;
        ConvertRun there = convertFile(path, options);
        if (there.result.partial > 0)
            return {};  // not well-formed: lacking indicators, or text the format cannot hold
        const std::string textPath = files.dir.write("round.text", there.out);
        options.from = format;
        options.to = RecordFormat::Iso2709;
        ConvertRun back = convertFile(textPath, options);
        if (back.out != standard)
            return say("iso2709 -> ", RecordFormatName(format), " -> iso2709 changed the records (",
                       standard.size(), " bytes, ", back.out.size(), " back)");
    }
    return {};
}

}  // namespace fuzzchecks

namespace fuzzchecks {

std::string checkServerReply(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    veltrane::TextCodec codec;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const veltrane::ServerRecordResult read =
        data[0] % 2 == 1 ? veltrane::ReadMarcXmlReply(rest, codec)
                         : veltrane::ReadIso2709Reply({data + 1, size - 1}, codec);
    if (!read.record)
        return read.error.empty() ? "a record was skipped without a reason" : std::string();
    if (!read.error.empty())
        return "a record read came with an error: " + read.error;
    const std::string& bytes = read.record->iso2709;
    if (bytes.size() > veltrane::kRecordBufferSize || bytes.size() < veltrane::kLeaderLength)
        return "a record of " + std::to_string(bytes.size()) + " bytes was kept";
    if (data[0] % 2 == 1) {
        if (std::to_string(100000 + bytes.size()).substr(1) != bytes.substr(0, 5))
            return "the leader's length " + bytes.substr(0, 5) + " is not the record's " + std::to_string(bytes.size());
        if (bytes.back() != '\x1d')
            return "the record written from MARCXML does not end with its terminator";
    }
    const veltrane::HitSummary summary = veltrane::SummariseRecord(bytes);
    for (const std::string* cell : {&summary.controlNumber, &summary.title, &summary.author, &summary.date,
                                    &summary.isbn}) {
        if (!veltrane::IsValidUtf8({reinterpret_cast<const unsigned char*>(cell->data()), cell->size()}))
            return "a hit-list cell is not UTF-8";
        if (cell->find_first_of("\t\r\n") != std::string::npos)
            return "a hit-list cell holds a tab or a line end";
    }
    return {};
}

}  // namespace fuzzchecks
