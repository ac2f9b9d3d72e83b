// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "EngineTestDoubles.h"
#include "RecordFiles.h"
#include "files/TargetFile.h"

using namespace veltrane;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

constexpr char kMissing[] = "<missing>";

std::string contentOf(const std::string& path)
{
    return std::filesystem::exists(path) ? ReadFile(path) : kMissing;
}

std::vector<std::string> namesIn(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    return names;
}

bool writeText(const TargetFile& target, const std::string& text)
{
    return fileaccess::writeAll(target.fd(), text.data(), text.size());
}

enum class End { Commit, CancelBeforeWriting, CancelAfterWriting, FailWriting };

TEST(TargetFile, EachWriteEndsAsItsRuleSays)
{
    struct Case {
        const char* name;
        TargetWrite write;
        TargetPlacement placement;
        End end;
        std::string expected;  // the target's content afterwards
    } cases[] = {
        {"create_beside_committed", TargetWrite::Create, TargetPlacement::Beside, End::Commit, "new"},
        {"create_beside_cancelled", TargetWrite::Create, TargetPlacement::Beside, End::CancelAfterWriting, kMissing},
        {"create_beside_failed", TargetWrite::Create, TargetPlacement::Beside, End::FailWriting, kMissing},
        {"create_in_place_committed", TargetWrite::Create, TargetPlacement::InPlace, End::Commit, "new"},
        {"create_in_place_cancelled", TargetWrite::Create, TargetPlacement::InPlace, End::CancelAfterWriting, kMissing},
        {"create_in_place_failed", TargetWrite::Create, TargetPlacement::InPlace, End::FailWriting, kMissing},
        {"overwrite_beside_committed", TargetWrite::Overwrite, TargetPlacement::Beside, End::Commit, "new"},
        {"overwrite_beside_cancelled", TargetWrite::Overwrite, TargetPlacement::Beside, End::CancelAfterWriting, "old"},
        {"overwrite_beside_failed", TargetWrite::Overwrite, TargetPlacement::Beside, End::FailWriting, "old"},
        {"overwrite_in_place_committed", TargetWrite::Overwrite, TargetPlacement::InPlace, End::Commit, "new"},
        {"overwrite_in_place_refused", TargetWrite::Overwrite, TargetPlacement::InPlace, End::CancelBeforeWriting, "old"},
        {"overwrite_in_place_cancelled", TargetWrite::Overwrite, TargetPlacement::InPlace, End::CancelAfterWriting, ""},
        {"overwrite_in_place_failed", TargetWrite::Overwrite, TargetPlacement::InPlace, End::FailWriting, ""},
        {"append_committed", TargetWrite::Append, TargetPlacement::Beside, End::Commit, "oldnew"},
        {"append_cancelled", TargetWrite::Append, TargetPlacement::InPlace, End::CancelAfterWriting, "old"},
        {"append_failed", TargetWrite::Append, TargetPlacement::Beside, End::FailWriting, "old"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.file("out.mrc");
        if (c.write != TargetWrite::Create)
            dir.write("out.mrc", "old");
        {
            TargetFile target;
            ASSERT_EQ(target.open(path, c.write, c.placement), 0) << c.name;
            if (c.end == End::CancelBeforeWriting) {
                target.rollback();
            } else {
                ASSERT_EQ(target.begin(), 0) << c.name;
                if (c.end == End::FailWriting) {
                    // The disk fills after one byte.
                    const testsupport::FileSizeLimit limit(c.write == TargetWrite::Append ? 4 : 1);
                    EXPECT_FALSE(writeText(target, "new")) << c.name;
                } else {
                    ASSERT_TRUE(writeText(target, "new")) << c.name;
                }
                if (c.end == End::Commit)
                    EXPECT_EQ(target.commit(), 0) << c.name;
                // The others are rolled back as the target goes out of scope.
            }
        }
        EXPECT_EQ(contentOf(path), c.expected) << c.name;
        const std::vector<std::string> expectedNames =
            c.expected == kMissing ? std::vector<std::string>{} : std::vector<std::string>{"out.mrc"};
        EXPECT_EQ(namesIn(dir), expectedNames) << c.name << ": nothing but the target is left";
    }
}

TEST(TargetFile, WritingBesideKeepsTheTargetUntilCommitAndItsPermissions)
{
    TempDir dir;
    const std::string path = dir.write("out.mrc", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    TargetFile target;
    ASSERT_EQ(target.open(path, TargetWrite::Overwrite, TargetPlacement::Beside), 0);
    EXPECT_EQ(target.identity(), (fileaccess::FileIdentity{before.st_dev, before.st_ino}));
    EXPECT_EQ(std::filesystem::path(target.temporaryPath()).parent_path(), dir.path());
    ASSERT_EQ(target.begin(), 0);
    ASSERT_TRUE(writeText(target, "new"));
    EXPECT_EQ(ReadFile(path), "old");
    ASSERT_EQ(target.commit(), 0);
    EXPECT_EQ(ReadFile(path), "new");
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"out.mrc"});
}

TEST(TargetFile, RefusesWhatItCannotWriteAndLeavesNothing)
{
    TempDir dir;
    const std::string existing = dir.write("old.mrc", "old");
    std::filesystem::create_directory(dir.file("folder"));
    TargetFile target;
    EXPECT_EQ(target.open(existing, TargetWrite::Create, TargetPlacement::Beside), EEXIST);
    EXPECT_EQ(target.open(existing, TargetWrite::Create, TargetPlacement::InPlace), EEXIST);
    EXPECT_EQ(target.open(dir.file("folder"), TargetWrite::Overwrite, TargetPlacement::Beside), EISDIR);
    EXPECT_EQ(target.open(dir.file("none/out.mrc"), TargetWrite::Create, TargetPlacement::Beside), ENOENT);
    EXPECT_EQ(target.open(dir.file("none.mrc"), TargetWrite::Append, TargetPlacement::InPlace), ENOENT);
    EXPECT_EQ(ReadFile(existing), "old");
    std::vector<std::string> names = namesIn(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder", "old.mrc"}));
}

TEST(TargetFile, FailedRenameRollsBack)
{
    TempDir dir;
    const std::string path = dir.write("out.mrc", "old");
    TargetFile target;
    ASSERT_EQ(target.open(path, TargetWrite::Overwrite, TargetPlacement::Beside), 0);
    ASSERT_EQ(target.begin(), 0);
    ASSERT_TRUE(writeText(target, "new"));
    // The name now holds a folder with something in it: the rename fails.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    dir.write("out.mrc/keep", "x");
    EXPECT_NE(target.commit(), 0);
    EXPECT_EQ(ReadFile(dir.file("out.mrc/keep")), "x");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"out.mrc"});
}

}  // namespace
