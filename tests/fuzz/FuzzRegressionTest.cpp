// Replays through every fuzz check the seed corpus and the crash inputs kept
// under tests/regressions/<check name>/, so a fault found once by fuzzing stays
// found in the ordinary and the sanitizer builds.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "FuzzChecks.h"
#include "RecordFiles.h"

namespace fuzzchecks {
void PrintTo(const NamedCheck& check, std::ostream* out) { *out << check.name; }  // not its bytes
}  // namespace fuzzchecks

namespace {

namespace fs = std::filesystem;

class FuzzRegression : public testing::TestWithParam<fuzzchecks::NamedCheck> {};

TEST_P(FuzzRegression, SeedsAndKeptCrashesPassTheCheck)
{
    std::set<fs::path> inputs;
    auto add = [&](const fs::path& folder) {
        if (fs::is_directory(VELTRANE_SOURCE_DIR / folder))
            for (const fs::directory_entry& entry : fs::directory_iterator(VELTRANE_SOURCE_DIR / folder))
                if (entry.is_regular_file())
                    inputs.insert(entry.path());
    };
    add("tests/fuzz/seeds");
    ASSERT_FALSE(inputs.empty()) << "no seed corpus under tests/fuzz/seeds";
    add(fs::path("tests/regressions") / GetParam().name);
    for (const fs::path& input : inputs) {
        std::string bytes = testsupport::ReadFile(input.string());
        EXPECT_EQ(GetParam().check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
            << "input " << input.filename().string();
    }
}

INSTANTIATE_TEST_SUITE_P(AllChecks, FuzzRegression, testing::ValuesIn(fuzzchecks::kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
