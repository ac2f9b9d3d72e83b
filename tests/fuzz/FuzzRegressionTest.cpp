// SPDX-License-Identifier: Apache-2.0
// Replays through every fuzz check the seed corpus and the crash inputs kept
// under tests/regressions/<check name>/, so a fault found once by fuzzing stays
// found in the ordinary and the sanitizer builds.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "FuzzChecks.h"
#include "RecordFiles.h"

namespace fs = std::filesystem;

class FuzzRegression : public testing::TestWithParam<std::size_t> {};

TEST_P(FuzzRegression, SeedsAndKeptCrashesPassTheCheck)
{
    const fuzzchecks::NamedCheck& check = fuzzchecks::kChecks[GetParam()];
    const fs::path seeds = fs::path(VELTRANE_SOURCE_DIR) / "tests/fuzz/seeds";
    ASSERT_FALSE(fs::is_empty(seeds)) << "no seed corpus under tests/fuzz/seeds";
    std::set<fs::path> inputs;
    std::error_code ec;  // no folder of kept crashes: none
    for (const fs::path& folder : {seeds, fs::path(VELTRANE_SOURCE_DIR) / "tests/regressions" / check.name})
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec))
            inputs.insert(entry.path());
    for (const fs::path& input : inputs) {
        std::string bytes = testsupport::ReadFile(input.string());
        EXPECT_EQ(check.check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
            << "input " << input.filename().string();
    }
}

INSTANTIATE_TEST_SUITE_P(AllChecks, FuzzRegression, testing::Range<std::size_t>(0, std::size(fuzzchecks::kChecks)),
                         [](const auto& info) { return std::string(fuzzchecks::kChecks[info.param].name); });
