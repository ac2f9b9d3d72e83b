#include "FuzzChecks.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "../hardening/HardeningSupport.h"
#include "DisplayText.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"

namespace fuzzchecks {

using namespace veltrane;
using hardening::RecordingPrompt;
using testsupport::ReadFile;

namespace {

// Records shown or searched one by one per input: enough for a small input,
// few enough to keep thousands of runs a second.
constexpr int kMaxRecordsVisited = 16;

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
        for (offset += length; offset < file.size() && (file[offset] < '0' || file[offset] > '9');)
            ++offset;
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
    const int count = prepare(file);
    if (count < 0)
        return "BuildRecordIndex failed on a readable file";
    std::vector<std::uint64_t> expected = referenceIndex(file);
    if (count != static_cast<int>(expected.size()) - 1)
        return say("record count ", count, ", expected ", expected.size() - 1);
    for (std::size_t k = 1; k <= expected.size() + 1; ++k) {
        std::optional<std::uint64_t> entry = ReadIndexEntry(files.index.c_str(), static_cast<std::int64_t>(k));
        if (k > expected.size() && entry)
            return "an index entry follows the sentinel";
        if (k <= expected.size() && entry != expected[k - 1])
            return say("index entry ", k, ": ", entry.value_or(~0ULL), ", expected ", expected[k - 1]);
    }
    return {};
}

std::string checkScanShow(const std::uint8_t* data, std::size_t size)
{
    const int count = prepare(ChoiceReader{data, size}.rest());
    if (count < 0)
        return "BuildRecordIndex failed on a readable file";
    const int shown = std::min(count, kMaxRecordsVisited);
    for (int mode : {dmNormal, dmSpecial1, dmSpecial2}) {
        DelimiterMode = mode;
        RecordingPrompt prompt;
        std::vector<std::optional<std::string>> seen(static_cast<std::size_t>(shown) + 1);
        // Forwards, then backwards, so each record follows a different one the
        // second time: a record shows as itself or not at all, and alike twice.
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 1; i <= shown; ++i) {
                const int n = pass == 0 ? i : shown + 1 - i;
                const int r = ScanRecords(prompt, files.records.c_str(), files.index.c_str(), n, n, "");
                if (r != n && r != -1)
                    return say("mode ", mode, ": showing record ", n, " gave ", r);
                std::optional<std::string> text;
                if (r == n)
                    text = ReadFile(files.scratch);
                if (pass == 0)
                    seen[n] = text;
                else if (text != seen[n])
                    return say("mode ", mode, ": record ", n, " shows differently after another record");
            }
        if (!prompt.messages.empty())
            return "message on readable files: " + prompt.messages[0];
    }
    DelimiterMode = dmNormal;
    return {};
}

std::string checkScanSearch(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input{data, size};
    const int mode = static_cast<int>(input.byte() % 3);
    const bool caseSensitive = input.byte() & 1;
    const std::size_t patternStart = input.word(), patternLength = 1 + input.byte() % 40;
    const unsigned fromChoice = input.byte();
    const std::string file = input.rest();
    const int count = prepare(file);
    if (count < 0)
        return "BuildRecordIndex failed on a readable file";

    // The search text is cut from the file itself, so that it often matches.
    std::string pattern = file.empty() ? "" : file.substr(patternStart % file.size(), patternLength);
    pattern = pattern.substr(0, pattern.find('\0'));
    if (pattern.empty())
        pattern = "$a";
    DelimiterMode = mode;
    SearchCaseSensitive = caseSensitive;
    RecordingPrompt prompt;
    auto find = [&](int from, int to) {
        return ScanRecords(prompt, files.records.c_str(), files.index.c_str(), from, to, pattern.c_str());
    };
    // From 1 to one past the last record: the empty range ends the search.
    const int from = 1 + static_cast<int>(fromChoice % static_cast<unsigned>(count + 1));
    const int found = find(from, count);
    const std::string where =
        say("mode ", mode, caseSensitive ? ", case" : ", any case", ", from ", from, " of ", count);
    if (found != -1 && (found < from || found > count))
        return say(where, ": found record ", found, " outside the range");
    if (found > 0 && find(found, found) != found)
        return say(where, ": record ", found, " found, but not when searched alone");
    if (found > from && find(from, found - 1) != -1)
        return say(where, ": a match before the first one found");
    for (int n = from; found == -1 && n <= std::min(count, from + kMaxRecordsVisited - 1); ++n)
        if (find(n, n) != -1)
            return say(where, ": record ", n, " matches alone but the range search found none");
    if (!prompt.messages.empty())
        return "message on readable files: " + prompt.messages[0];
    DelimiterMode = dmNormal;
    SearchCaseSensitive = false;
    return {};
}

std::string checkDisplayText(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    const int mode = data[0] % 3;
    const std::size_t used = std::min(size - 1, kFieldBufferSize);
    static DisplayText first, second;
    for (DisplayText* t : {&first, &second}) {
        t->clear();
        RenderDisplayText(*t, data + 1, used, FieldTerminator(mode), SubfieldDelimiter(mode));
    }
    const std::string_view text = first.text();
    // Each continuation costs a line end and five spaces per at most 72 bytes.
    const std::size_t bound = used + 6 * (used / 72 + 1) + 1;
    if (text.size() > bound || text.size() > DisplayText::kCapacity)
        return say("display text of ", text.size(), " bytes, at most ", bound);
    for (std::size_t start = 0, end = 0; start <= text.size(); start = end + 1)
        if ((end = std::min(text.find('\n', start), text.size())) - start > 78)
            return say("a line of ", end - start, " bytes");
    return second.text() == text ? "" : "a second rendering of the same bytes differs";
}

std::string checkExtract(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input{data, size};
    const unsigned firstChoice = input.word(), lastChoice = input.word(), targetChoice = input.byte();
    const bool targetExists = targetChoice & 1;
    const auto answer = static_cast<OverwriteChoice>(1 + (targetChoice >> 1) % 3);  // overwrite, append, cancel
    const std::string file = input.rest(), old = "old content of the target\n";
    const int count = prepare(file);
    if (count < 0)
        return "BuildRecordIndex failed on a readable file";
    if (count < 1)
        return {};  // the extract command never asks for a range of an empty file
    const int a = 1 + static_cast<int>(firstChoice % static_cast<unsigned>(count));
    const int b = a + static_cast<int>(lastChoice % static_cast<unsigned>(count - a + 1));
    ::unlink(files.target.c_str());
    if (targetExists && !(std::ofstream(files.target, std::ios::binary) << old))
        return "cannot write the old target";

    RecordingPrompt prompt(answer);
    const int result =
        ExtractRecords(prompt, files.records.c_str(), files.index.c_str(), a, b, files.target.c_str());
    const std::string where = say("records ", a, " to ", b, " of ", count);
    if (result != 1 || !prompt.messages.empty())
        return say(where, ": ExtractRecords gave ", result, prompt.messages.empty() ? "" : " and a message");
    if (prompt.questions != (targetExists ? 1 : 0))
        return say(where, ": ", prompt.questions, " overwrite questions");
    // The source bytes from the first record's offset to the sentinel, capped at
    // the file size; after the old content when appending; nothing on cancel.
    std::vector<std::uint64_t> entries = referenceIndex(file);
    const std::uint64_t start = entries[static_cast<std::size_t>(a) - 1];
    const std::uint64_t end = std::min<std::uint64_t>(entries[static_cast<std::size_t>(b)], file.size());
    std::string expected = file.substr(start, end - start);
    if (targetExists && answer == OverwriteChoice::Append)
        expected = old + expected;
    else if (targetExists && answer == OverwriteChoice::Cancel)
        expected = old;
    const std::string got = ReadFile(files.target);
    return got == expected ? "" : say(where, ": the target holds ", got.size(), " bytes, expected ", expected.size());
}

}  // namespace fuzzchecks
