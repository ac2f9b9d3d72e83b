// SPDX-License-Identifier: Apache-2.0
// Over every file of the shared corpus: a record that convert reads only in
// part is one that check finds fault with, and the other way round.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "check/RecordCheck.h"
#include "files/FileAccess.h"
#include "formats/RecordConvert.h"
#include "iso2709/RecordStream.h"

namespace {

using namespace veltrane;
using fileaccess::UniqueFd;

UniqueFd openRecords(const std::filesystem::path& path) { return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

/// Up to five numbers of a set, for a failure message.
std::string someOf(const std::vector<std::int64_t>& numbers)
{
    std::string text;
    for (std::size_t i = 0; i < numbers.size() && i < 5; ++i)
        text += (i == 0 ? "" : " ") + std::to_string(numbers[i]);
    return text + (numbers.size() > 5 ? " ..." : "");
}

TEST(CheckAndConvert, AgreeOnWhichRecordsOfTheCorpusHaveProblems)
{
    // Where the corpus suite finds it.
    const char* corpus = std::getenv("VELTRANE_CORPUS_DIR");
    const std::filesystem::path folder = corpus != nullptr ? corpus : VELTRANE_SOURCE_DIR "/../shared/corpus";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "corpus folder not found: " << folder;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() != ".md" && entry.path().extension() != ".py")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    std::int64_t records = 0, faulty = 0;
    for (const std::filesystem::path& file : files) {
        SCOPED_TRACE(file.string());
        // Where each record lies as the two frame it: bytes between records
        // belong to none, and convert never reads them.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
        {
            UniqueFd fd = openRecords(file);
            ASSERT_TRUE(fd);
            RecordStream stream(fd.get());
            FramedRecord record;
            while (stream.next(record) == RecordStream::Step::Record)
                spans.emplace_back(record.offset, record.offset + record.bytes.size());
        }
        std::set<std::int64_t> partial, reported;
        {
            UniqueFd in = openRecords(file), out(::open("/dev/null", O_WRONLY | O_CLOEXEC));
            ConvertOptions options;
            options.to = RecordFormat::Mrk;
            const ConvertResult converted = ConvertRecords(in.get(), out.get(), options, NoMonitor(),
                                                           [&](const ConvertWarning& w) { partial.insert(w.number); });
            ASSERT_EQ(converted.status, ConvertResult::Status::Done);
        }
        {
            UniqueFd in = openRecords(file);
            const CheckResult checked = CheckRecords(in.get(), CheckOptions{}, NoMonitor(), [&](const CheckProblem& p) {
                if (p.number >= 1 && static_cast<std::size_t>(p.number) <= spans.size() &&
                    p.offset >= spans[p.number - 1].first && p.offset < spans[p.number - 1].second)
                    reported.insert(p.number);
            });
            ASSERT_EQ(checked.status, CheckResult::Status::Done);
        }
        std::vector<std::int64_t> onlyPartial, onlyReported;
        std::set_difference(partial.begin(), partial.end(), reported.begin(), reported.end(), std::back_inserter(onlyPartial));
        std::set_difference(reported.begin(), reported.end(), partial.begin(), partial.end(), std::back_inserter(onlyReported));
        EXPECT_TRUE(onlyPartial.empty()) << "converted in part, nothing reported: records " << someOf(onlyPartial);
        EXPECT_TRUE(onlyReported.empty()) << "reported, converted whole: records " << someOf(onlyReported);
        records += static_cast<std::int64_t>(spans.size());
        faulty += static_cast<std::int64_t>(reported.size());
    }
    // The corpus holds both kinds.
    EXPECT_GT(faulty, 0);
    EXPECT_GT(records, faulty);
}

}  // namespace
