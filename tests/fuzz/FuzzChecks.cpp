#include "FuzzChecks.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "EngineTestDoubles.h"
#include "DisplayText.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordCheck.h"
#include "RecordConvert.h"
#include "RecordScan.h"

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
    ScratchDisplayFile = files.scratch;
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
    const int count = prepare(ChoiceReader{data, size}.rest());
    RecordingPrompt prompt;
    for (int mode : {dmNormal, dmSpecial1, dmSpecial2})
        for (int n = 1; n <= std::min(count, 16); ++n) {  // enough for a small input, quick for thousands of runs
            DelimiterMode = mode;
            const int r = ScanRecords(prompt, files.records.c_str(), files.index.c_str(), n, n, "");
            if (r != n && r != -1)
                return say("mode ", mode, ": showing record ", n, " gave ", r);
        }
    return prompt.messages.empty() ? "" : "message on readable files: " + prompt.messages[0];
}

std::string checkScanSearch(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input{data, size};
    DelimiterMode = static_cast<int>(input.byte() % 3);
    SearchCaseSensitive = input.byte() & 1;
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
        return ScanRecords(prompt, files.records.c_str(), files.index.c_str(), from, to, pattern.c_str());
    };
    // From 1 to one past the last record: the empty range ends the search.
    const int from = 1 + static_cast<int>(fromChoice % static_cast<unsigned>(count + 1));
    const int found = find(from, count);
    if (found != -1 && (found < from || find(found, found) != found || (found > from && find(from, found - 1) != -1)))
        return say("mode ", DelimiterMode, SearchCaseSensitive ? ", case" : ", any case", ", from ", from, " of ",
                   count, ": record ", found, " is not the range's first match");
    return prompt.messages.empty() ? "" : "message on readable files: " + prompt.messages[0];
}

std::string checkDisplayText(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    const int mode = data[0] % 3;
    const std::size_t used = std::min(size - 1, kFieldBufferSize);
    static DisplayText rendered;
    rendered.clear();
    RenderDisplayText(rendered, data + 1, used, FieldTerminator(mode), SubfieldDelimiter(mode));
    const std::string_view text = rendered.text();
    for (std::size_t start = 0, end = 0; start <= text.size(); start = end + 1)
        if ((end = std::min(text.find('\n', start), text.size())) - start > 78)
            return say("a line of ", end - start, " bytes");
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
    const int result = ExtractRecords(prompt, files.records.c_str(), files.index.c_str(), a, b, files.target.c_str());
    if (result != 1 || !prompt.messages.empty() || prompt.questions != 0)
        return say("records ", a, " to ", b, ": ExtractRecords gave ", result, " after ", prompt.questions,
                   " questions and ", prompt.messages.size(), " messages");
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
        options.mode = pick < 3 ? static_cast<int>(pick) : 0;
        options.to = to;
        options.charset = (data[0] / 6) % 2 ? CharsetSetting::Utf8 : CharsetSetting::Auto;
        ConvertRun run = convertFile(input, options);
        if (to == RecordFormat::MarcXml && run.result.status == ConvertResult::Status::Done &&
            !run.out.ends_with("</collection>\n"))
            return "a finished MARCXML output does not end with </collection>";
    }
    if (pick < 3) {
        CheckOptions options;
        options.mode = static_cast<int>(pick);
        const int fd = ::open(input.c_str(), O_RDONLY);
        (void)CheckRecords(fd, options, NoMonitor(), [](const CheckProblem&) {});
        ::close(fd);
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
