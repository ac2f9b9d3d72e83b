#include "FuzzChecks.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "DisplayText.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"

namespace fuzzchecks {

using namespace veltrane;

namespace {

// Records shown or searched one by one per input: enough to reach the
// interesting records of a small input, few enough to keep thousands of runs a
// second.
constexpr int kMaxRecordsVisited = 16;
constexpr std::size_t kMaxPatternLength = 40;
constexpr std::string_view kOldTargetContent = "old content of the target\n";

/// Answers the engine without a window and remembers what it was told, so a
/// check can insist that a run over readable files told the user nothing.
class QuietPrompt : public UserPrompt {
public:
    explicit QuietPrompt(OverwriteChoice answer = OverwriteChoice::Cancel) : m_answer(answer) {}

    void showMessage(std::string_view text) override
    {
        if (m_messages.empty())
            m_messages = text;
    }
    OverwriteChoice askOverwrite(std::string_view) override
    {
        ++m_questions;
        return m_answer;
    }

    std::string m_messages;
    int m_questions = 0;

private:
    OverwriteChoice m_answer;
};

/// The files of one run, in a private directory made once per process and
/// removed at exit.
struct Workspace {
    testsupport::TempDir dir;
    std::string records = dir.file("records.mrc");
    std::string index = dir.file("records.idx");
    std::string scratch = dir.file("display.txt");
    std::string target = dir.file("target.mrc");
};

Workspace& workspace()
{
    static Workspace w;
    ScratchDisplayFile = w.scratch;
    return w;
}

bool writeWhole(const std::string& path, std::string_view bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}

/// The index rule, computed over the bytes in memory: offsets of every record
/// followed by the sentinel.
std::vector<std::uint64_t> referenceIndex(std::string_view file)
{
    std::vector<std::uint64_t> entries;
    std::uint64_t offset = 0;
    for (;;) {
        entries.push_back(offset);
        if (offset >= file.size() || file.size() - offset < kLeaderLength)
            break;
        // The record length: up to five leading digits, read here without the
        // engine's routine so that a fault in it shows.
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < 5 && file[offset + i] >= '0' && file[offset + i] <= '9'; ++i)
            length = length * 10 + static_cast<std::uint64_t>(file[offset + i] - '0');
        if (length <= kLeaderLength)
            break;
        offset += length;
        while (offset < file.size() && (file[offset] < '0' || file[offset] > '9'))
            ++offset;
    }
    return entries;
}

std::string describe(const char* what, long long got, long long expected)
{
    return std::string(what) + ": got " + std::to_string(got) + ", expected " + std::to_string(expected);
}

/// Writes the record file and indexes it; an empty result means ready.
std::string prepare(const Workspace& w, std::string_view file, int& count)
{
    if (!writeWhole(w.records, file))
        return "cannot write the record file";
    count = BuildRecordIndex(w.records.c_str(), w.index.c_str());
    if (count < 0)
        return "BuildRecordIndex failed on a readable file";
    return {};
}

std::string asText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

/// Takes the run's choices from the end of the input, so that the front stays a
/// record file and the seed records keep their shape. Missing bytes read as 0.
class ChoiceReader {
public:
    ChoiceReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    unsigned byte()
    {
        if (m_size == 0)
            return 0;
        return m_data[--m_size];
    }
    unsigned word() { return byte() | byte() << 8; }
    std::string rest() const { return asText(m_data, m_size); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

}  // namespace

std::string checkRecordIndex(const std::uint8_t* data, std::size_t size)
{
    const Workspace& w = workspace();
    std::string file = asText(data, size);
    int count = 0;
    if (std::string failure = prepare(w, file, count); !failure.empty())
        return failure;
    std::vector<std::uint64_t> expected = referenceIndex(file);
    if (count != static_cast<long long>(expected.size()) - 1)
        return describe("record count", count, static_cast<long long>(expected.size()) - 1);
    for (std::size_t k = 1; k <= expected.size(); ++k) {
        std::optional<std::uint64_t> entry = ReadIndexEntry(w.index.c_str(), static_cast<std::int64_t>(k));
        if (!entry)
            return "index entry " + std::to_string(k) + " missing";
        if (*entry != expected[k - 1])
            return describe(("index entry " + std::to_string(k)).c_str(), static_cast<long long>(*entry),
                            static_cast<long long>(expected[k - 1]));
    }
    if (ReadIndexEntry(w.index.c_str(), static_cast<std::int64_t>(expected.size()) + 1))
        return "an index entry follows the sentinel";
    return {};
}

std::string checkScanShow(const std::uint8_t* data, std::size_t size)
{
    const Workspace& w = workspace();
    int count = 0;
    if (std::string failure = prepare(w, asText(data, size), count); !failure.empty())
        return failure;
    const int shown = std::min(count, kMaxRecordsVisited);
    for (int mode : {dmNormal, dmSpecial1, dmSpecial2}) {
        DelimiterMode = mode;
        QuietPrompt prompt;
        std::vector<int> results(static_cast<std::size_t>(shown) + 1);
        std::vector<std::string> texts(static_cast<std::size_t>(shown) + 1);
        for (int n = 1; n <= shown; ++n) {
            int r = ScanRecords(prompt, w.records.c_str(), w.index.c_str(), n, n, "");
            if (r != n && r != -1)
                return describe(("mode " + std::to_string(mode) + ", show record").c_str(), r, n);
            results[n] = r;
            texts[n] = r == n ? testsupport::ReadFile(w.scratch) : std::string();
        }
        // Backwards, so each record follows a different one than the first time.
        for (int n = shown; n >= 1; --n) {
            int r = ScanRecords(prompt, w.records.c_str(), w.index.c_str(), n, n, "");
            if (r != results[n])
                return describe(("mode " + std::to_string(mode) + ", record shown again").c_str(), r, results[n]);
            if (r == n && testsupport::ReadFile(w.scratch) != texts[n])
                return "mode " + std::to_string(mode) + ": record " + std::to_string(n) +
                       " shows a different text after another record";
        }
        if (!prompt.m_messages.empty())
            return "message on readable files: " + prompt.m_messages;
    }
    DelimiterMode = dmNormal;
    return {};
}

std::string checkScanSearch(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input(data, size);
    const int mode = static_cast<int>(input.byte() % 3);
    const bool caseSensitive = input.byte() & 1;
    const std::size_t patternStart = input.word();
    const std::size_t patternLength = 1 + input.byte() % kMaxPatternLength;
    const unsigned fromChoice = input.byte();
    std::string file = input.rest();

    const Workspace& w = workspace();
    int count = 0;
    if (std::string failure = prepare(w, file, count); !failure.empty())
        return failure;

    std::string pattern;
    if (!file.empty())
        pattern = file.substr(patternStart % file.size(), patternLength);
    pattern = pattern.substr(0, pattern.find('\0'));
    if (pattern.empty())
        pattern = "$a";

    DelimiterMode = mode;
    SearchCaseSensitive = caseSensitive;
    QuietPrompt prompt;
    auto find = [&](int from, int to) {
        return ScanRecords(prompt, w.records.c_str(), w.index.c_str(), from, to, pattern.c_str());
    };
    // From 1 to one past the last record: the empty range ends the search.
    const int from = 1 + static_cast<int>(fromChoice % static_cast<unsigned>(count + 1));
    const int found = find(from, count);
    std::string where = "mode " + std::to_string(mode) + (caseSensitive ? ", case" : ", any case") +
                        ", from " + std::to_string(from) + " of " + std::to_string(count);
    if (found != -1 && (found < from || found > count))
        return where + ": found record " + std::to_string(found) + " outside the range";
    if (found > 0) {
        if (int again = find(found, found); again != found)
            return where + ": " + describe("the record found, searched alone", again, found);
        if (found > from && find(from, found - 1) != -1)
            return where + ": a match before the first one found";
    } else {
        for (int n = from; n <= std::min(count, from + kMaxRecordsVisited - 1); ++n)
            if (int alone = find(n, n); alone != -1)
                return where + ": record " + std::to_string(n) + " matches alone but the range search found none";
    }
    if (!prompt.m_messages.empty())
        return "message on readable files: " + prompt.m_messages;
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
    first.clear();
    RenderDisplayText(first, data + 1, used, FieldTerminator(mode), SubfieldDelimiter(mode));
    std::string_view text = first.text();

    // Each continuation costs a line end and five spaces per at most 72 bytes.
    const std::size_t bound = used + 6 * (used / 72 + 1) + 1;
    if (text.size() > bound || text.size() > DisplayText::kCapacity)
        return describe("display text length", static_cast<long long>(text.size()),
                        static_cast<long long>(bound));
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n') {
            if (i - lineStart > 78)
                return describe("line length", static_cast<long long>(i - lineStart), 78);
            lineStart = i + 1;
        }
    }
    second.clear();
    RenderDisplayText(second, data + 1, used, FieldTerminator(mode), SubfieldDelimiter(mode));
    if (second.text() != text)
        return "a second rendering of the same bytes differs";
    return {};
}

std::string checkExtract(const std::uint8_t* data, std::size_t size)
{
    ChoiceReader input(data, size);
    const unsigned firstChoice = input.word();
    const unsigned lastChoice = input.word();
    const unsigned targetChoice = input.byte();
    const bool targetExists = targetChoice & 1;
    constexpr OverwriteChoice kAnswers[] = {OverwriteChoice::Overwrite, OverwriteChoice::Append,
                                            OverwriteChoice::Cancel};
    const OverwriteChoice answer = kAnswers[(targetChoice >> 1) % 3];
    std::string file = input.rest();

    const Workspace& w = workspace();
    int count = 0;
    if (std::string failure = prepare(w, file, count); !failure.empty())
        return failure;
    if (count < 1)
        return {};  // the extract command never asks for a range of an empty file
    const int a = 1 + static_cast<int>(firstChoice % static_cast<unsigned>(count));
    const int b = a + static_cast<int>(lastChoice % static_cast<unsigned>(count - a + 1));

    ::unlink(w.target.c_str());
    if (targetExists && !writeWhole(w.target, kOldTargetContent))
        return "cannot write the old target";

    QuietPrompt prompt(answer);
    int result = ExtractRecords(prompt, w.records.c_str(), w.index.c_str(), a, b, w.target.c_str());
    std::string where = "records " + std::to_string(a) + " to " + std::to_string(b) + " of " +
                        std::to_string(count);
    if (result != 1)
        return where + ": " + describe("ExtractRecords", result, 1);
    if (prompt.m_questions != (targetExists ? 1 : 0))
        return where + ": " + describe("overwrite questions", prompt.m_questions, targetExists ? 1 : 0);
    if (!prompt.m_messages.empty())
        return where + ": message on readable files: " + prompt.m_messages;

    std::vector<std::uint64_t> entries = referenceIndex(file);
    const std::uint64_t start = entries[static_cast<std::size_t>(a) - 1];
    const std::uint64_t end = std::min<std::uint64_t>(entries[static_cast<std::size_t>(b)], file.size());
    std::string range = file.substr(start, end - start);
    std::string expected;
    if (!targetExists || answer == OverwriteChoice::Overwrite)
        expected = range;
    else if (answer == OverwriteChoice::Append)
        expected = std::string(kOldTargetContent) + range;
    else
        expected = kOldTargetContent;
    if (testsupport::ReadFile(w.target) != expected)
        return where + ": the target does not hold the expected bytes (" +
               std::to_string(testsupport::ReadFile(w.target).size()) + " bytes, expected " +
               std::to_string(expected.size()) + ")";
    return {};
}

}  // namespace fuzzchecks
