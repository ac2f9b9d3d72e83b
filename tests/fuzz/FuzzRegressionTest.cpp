// Replays through every fuzz check the seed corpus and the crash inputs kept
// under tests/regressions/<check name>/, so a fault found once by fuzzing stays
// found in the ordinary and the sanitizer builds.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "FuzzChecks.h"
#include "RecordFiles.h"

namespace fuzzchecks {
// Names the check in gtest's messages instead of dumping its bytes.
void PrintTo(const NamedCheck& check, std::ostream* out) { *out << check.name; }
}  // namespace fuzzchecks

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder)
{
    std::vector<fs::path> files;
    if (fs::is_directory(folder))
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzRegression : public testing::TestWithParam<fuzzchecks::NamedCheck> {};

TEST_P(FuzzRegression, SeedsAndKeptCrashesPassTheCheck)
{
    const fs::path source = VELTRANE_SOURCE_DIR;
    std::vector<fs::path> inputs = filesIn(source / "tests/fuzz/seeds");
    ASSERT_FALSE(inputs.empty()) << "no seed corpus under tests/fuzz/seeds";
    for (const fs::path& kept : filesIn(source / "tests/regressions" / GetParam().name))
        inputs.push_back(kept);
    for (const fs::path& input : inputs) {
        std::string bytes = testsupport::ReadFile(input.string());
        std::string failure =
            GetParam().check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(failure, "") << "input " << input.filename().string();
    }
}

INSTANTIATE_TEST_SUITE_P(AllChecks, FuzzRegression, testing::ValuesIn(fuzzchecks::kChecks),
                         [](const testing::TestParamInfo<fuzzchecks::NamedCheck>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
