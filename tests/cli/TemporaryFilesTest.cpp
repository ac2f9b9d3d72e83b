#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "RecordFiles.h"
#include "TemporaryFiles.h"

namespace {

using veltrane::cli::createScratchFileOnDisk;
using veltrane::cli::removeTemporaryFiles;

// The scratch file on disk is the fallback where no memory file can be had;
// the process tests only ever see the memory file.

TEST(TemporaryFilesTest, ScratchFileOnDiskIsPrivateBesideTheIndexAndRemoved)
{
    testsupport::TempDir directory;
    std::string error;
    std::optional<std::string> scratch = createScratchFileOnDisk(directory.file("idx0"), error);
    ASSERT_TRUE(scratch) << error;
    EXPECT_EQ(std::filesystem::path(*scratch).parent_path(), directory.path());
    struct stat info {};
    ASSERT_EQ(::stat(scratch->c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 0);
    removeTemporaryFiles();
    EXPECT_FALSE(std::filesystem::exists(*scratch));
}

}  // namespace
