// Faults of the machine around an open record file: the file disappears or
// shrinks after indexing, the scratch file or an extraction target cannot be
// written (missing or deleted folder, a full device, a file size limit), the
// temporary folder is missing or full. Each must be told with the engine's
// message, and nothing half-written may pass for a result.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HardeningSupport.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordScan.h"

using namespace veltrane;
using hardening::FileSizeLimit;
using hardening::RecordingPrompt;
using testsupport::MakeRecord;
using Messages = std::vector<std::string>;

namespace {

namespace fs = std::filesystem;

const Messages kInvalidDrive = {"Invalid drive or directory"};
const Messages kDisplayFileError = {"Display File open error!"};
const Messages kNone = {};

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

/// Sets an environment variable, or removes it for nothing, until destroyed.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_saved = old;
        set(value);
    }
    ~ScopedEnv() { set(m_saved); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value)
    {
        if (value)
            ::setenv(m_name, value->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    const char* m_name;
    std::optional<std::string> m_saved;
};

/// Three records of a little over 200 bytes each, indexed, with the scratch
/// file in the same private folder.
class MachineFault : public testing::Test {
protected:
    void SetUp() override
    {
        m_savedScratch = ScratchDisplayFile;
        m_savedCwd = fs::current_path();
        ScratchDisplayFile = m_dir.file("display.txt");
        for (const char* id : {"r1", "r2", "r3"})
            m_recordBytes.push_back(MakeRecord({{"001", id},
                                                {"200", std::string("1 \x1f" "aTitle of ") + id},
                                                {"330", "  \x1f" "a" + std::string(150, 'z')}}));
        m_original = m_recordBytes[0] + m_recordBytes[1] + m_recordBytes[2];
        m_records = m_dir.write("records.mrc", m_original);
        m_index = m_dir.file("records.idx");
        ASSERT_EQ(BuildRecordIndex(m_records.c_str(), m_index.c_str()), 3);
        m_indexBytes = testsupport::ReadFile(m_index);
    }

    void TearDown() override
    {
        fs::current_path(m_savedCwd);
        ScratchDisplayFile = m_savedScratch;
    }

    int show(RecordingPrompt& prompt, int k)
    {
        return ScanRecords(prompt, m_records.c_str(), m_index.c_str(), k, k, "");
    }
    int extract(RecordingPrompt& prompt, int a, int b, const std::string& target)
    {
        return ExtractRecords(prompt, m_records.c_str(), m_index.c_str(), a, b, target.c_str());
    }

    /// The record file and its index are as they were before the fault.
    void expectSourcesUntouched()
    {
        EXPECT_EQ(testsupport::ReadFile(m_records), m_original);
        EXPECT_EQ(testsupport::ReadFile(m_index), m_indexBytes);
    }

    testsupport::TempDir m_dir;
    std::string m_savedScratch;
    fs::path m_savedCwd;
    std::vector<std::string> m_recordBytes;
    std::string m_original, m_records, m_index, m_indexBytes;
};

TEST_F(MachineFault, RecordFileDeletedAfterIndexing)
{
    ASSERT_EQ(::unlink(m_records.c_str()), 0);
    for (int k = 1; k <= 3; ++k) {
        RecordingPrompt prompt;
        EXPECT_EQ(show(prompt, k), -1);
        EXPECT_EQ(prompt.messages, kInvalidDrive) << "record " << k;
    }
    RecordingPrompt prompt;
    std::string target = m_dir.file("target.mrc");
    EXPECT_EQ(extract(prompt, 1, 3, target), 0);
    EXPECT_EQ(prompt.messages, kInvalidDrive);
    EXPECT_FALSE(exists(target));
}

TEST_F(MachineFault, RecordFileShrunkAfterIndexing)
{
    const std::size_t r1 = m_recordBytes[0].size(), r2 = m_recordBytes[1].size();
    struct Case {
        const char* name;
        std::size_t keep;                // bytes left of the file
        std::vector<int> showResults;    // of records 1, 2, 3
    };
    const Case cases[] = {
        {"cut inside record 3", r1 + r2 + 40, {1, 2, -1}},
        {"cut inside the leader of record 2", r1 + 10, {1, -1, -1}},
        {"cut right after record 1", r1, {1, -1, -1}},
        {"cut inside the directory of record 1", 30, {-1, -1, -1}},
        {"emptied", 0, {-1, -1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_dir.write("records.mrc", m_original);
        ASSERT_EQ(::truncate(m_records.c_str(), static_cast<off_t>(c.keep)), 0);
        for (int k = 1; k <= 3; ++k) {
            RecordingPrompt prompt;
            EXPECT_EQ(show(prompt, k), c.showResults[static_cast<std::size_t>(k) - 1]) << "record " << k;
            EXPECT_EQ(prompt.messages, kNone) << "a short record is no message";
        }
        // Extraction copies what is there, as for a last record that runs past
        // the end of the file.
        for (int a = 1; a <= 3; ++a) {
            std::string target = m_dir.file("target.mrc");
            ::unlink(target.c_str());
            RecordingPrompt prompt;
            EXPECT_EQ(extract(prompt, a, 3, target), 1);
            std::size_t start = 0;
            for (int k = 1; k < a; ++k)
                start += m_recordBytes[static_cast<std::size_t>(k) - 1].size();
            std::string expected = start < c.keep ? m_original.substr(start, c.keep - start) : "";
            EXPECT_EQ(testsupport::ReadFile(target), expected) << "records " << a << " to 3";
            EXPECT_EQ(prompt.messages, kNone);
        }
    }
}

TEST_F(MachineFault, IndexFileMissingIsToldByShowAndExtract)
{
    ASSERT_EQ(::unlink(m_index.c_str()), 0);
    RecordingPrompt showPrompt;
    EXPECT_EQ(show(showPrompt, 1), -1);
    EXPECT_EQ(showPrompt.messages, Messages{"Index file open error!"});
    RecordingPrompt extractPrompt;
    std::string target = m_dir.file("target.mrc");
    EXPECT_EQ(extract(extractPrompt, 1, 1, target), 0);
    EXPECT_EQ(extractPrompt.messages, Messages{"File open error!"});
    EXPECT_FALSE(exists(target));
}

TEST_F(MachineFault, UnwritableScratchFileIsToldAndNothingIsShown)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool needsNonRoot = false;
    };
    const std::string dir = m_dir.path().string();
    const Case cases[] = {
        {"folder missing", [&] { ScratchDisplayFile = dir + "/missing/display.txt"; }},
        {"a folder in its place",
         [&] {
             fs::create_directory(dir + "/folder");
             ScratchDisplayFile = dir + "/folder";
         }},
        {"current folder deleted",
         [&] {
             fs::create_directory(dir + "/gone");
             fs::current_path(dir + "/gone");
             fs::remove(dir + "/gone");
             ScratchDisplayFile = "tempdisp.mrc";
         }},
        {"full device",
         [&] {
             fs::create_symlink("/dev/full", dir + "/full");
             ScratchDisplayFile = dir + "/full";
         }},
        {"read-only folder",
         [&] {
             fs::create_directory(dir + "/readonly");
             fs::permissions(dir + "/readonly", fs::perms::owner_read | fs::perms::owner_exec);
             ScratchDisplayFile = dir + "/readonly/display.txt";
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsNonRoot && ::geteuid() == 0)
            continue;  // permission bits do not stop root
        c.arrange();
        RecordingPrompt prompt;
        EXPECT_EQ(show(prompt, 2), -1);
        EXPECT_EQ(prompt.messages, kDisplayFileError);
        expectSourcesUntouched();
        fs::current_path(m_savedCwd);
    }
}

TEST_F(MachineFault, ScratchFileOnAFullDiskIsToldAndNothingIsShown)
{
    RecordingPrompt prompt;
    {
        FileSizeLimit diskAlmostFull(20);
        EXPECT_EQ(show(prompt, 3), -1);
    }
    EXPECT_EQ(prompt.messages, kDisplayFileError);
    expectSourcesUntouched();
}

TEST_F(MachineFault, UnwritableExtractionTargetIsToldAndNoResultRemains)
{
    const std::string dir = m_dir.path().string();
    const std::string old = "old target content\n";
    struct Case {
        const char* name;
        std::string target;
        OverwriteChoice answer;
        std::optional<std::string> targetAfter;  // nothing: the target must not exist (links: not read)
        std::size_t sizeLimit = 0;               // a full disk after this many bytes
        bool needsNonRoot = false;               // permission bits do not stop root
    };
    fs::create_symlink("/dev/full", dir + "/full");
    fs::create_directory(dir + "/folder");
    // A file the kernel refuses to write, whoever asks: read-only even for root.
    fs::create_symlink("/proc/version", dir + "/kernel-file");
    m_dir.write("readonly.mrc", old);
    fs::permissions(dir + "/readonly.mrc", fs::perms::owner_read);
    const Case cases[] = {
        {"folder missing", dir + "/missing/target.mrc", OverwriteChoice::Overwrite, std::nullopt},
        {"a folder as target", dir + "/folder", OverwriteChoice::Overwrite, std::string()},
        {"full device, overwrite", dir + "/full", OverwriteChoice::Overwrite, std::string()},
        {"full device, append", dir + "/full", OverwriteChoice::Append, std::string()},
        {"read-only system file", dir + "/kernel-file", OverwriteChoice::Overwrite, std::string()},
        {"read-only file, append", dir + "/readonly.mrc", OverwriteChoice::Append, old, 0, true},
        {"disk full while creating", dir + "/new.mrc", OverwriteChoice::Overwrite, std::nullopt, 300},
        {"disk full while appending", dir + "/old.mrc", OverwriteChoice::Append, old, 300},
        // The user gave up the old content; what stays is nothing, never a part.
        {"disk full while overwriting", dir + "/old.mrc", OverwriteChoice::Overwrite, std::string(), 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsNonRoot && ::geteuid() == 0)
            continue;
        m_dir.write("old.mrc", old);
        ::unlink((dir + "/new.mrc").c_str());
        RecordingPrompt prompt(c.answer);
        int result;
        if (c.sizeLimit != 0) {
            FileSizeLimit diskAlmostFull(c.sizeLimit);
            result = extract(prompt, 1, 3, c.target);
        } else {
            result = extract(prompt, 1, 3, c.target);
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(prompt.messages, kInvalidDrive);
        if (!c.targetAfter) {
            EXPECT_FALSE(exists(c.target));
        } else if (fs::is_regular_file(fs::symlink_status(c.target))) {
            EXPECT_EQ(testsupport::ReadFile(c.target), *c.targetAfter);
        }
        expectSourcesUntouched();
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device must survive";
    EXPECT_FALSE(testsupport::ReadFile("/proc/version").empty());
}

TEST_F(MachineFault, TemporaryFolderMissingOrFull)
{
    struct Case {
        const char* name;
        std::optional<std::string> tmp;
    };
    const std::string dir = m_dir.path().string();
    m_dir.write("plain-file", "x");
    for (const Case& c : {Case{"TMP names a missing folder", dir + "/missing"},
                          Case{"TMP names a file", dir + "/plain-file"}}) {
        SCOPED_TRACE(c.name);
        ScopedEnv tmp("TMP", c.tmp);
        RecordingPrompt prompt;
        EXPECT_EQ(CreateIndexName(prompt), std::nullopt);
        EXPECT_EQ(prompt.messages, Messages{"tempnam couldn't create name"});
    }

    // A full temporary folder: the index cannot be written whole, so it is not
    // kept at all rather than kept short behind a full record count.
    std::string many;
    for (int k = 0; k < 40; ++k)
        many += m_recordBytes[static_cast<std::size_t>(k) % 3];
    std::string bigFile = m_dir.write("many.mrc", many);
    std::string index = m_dir.file("many.idx");
    {
        FileSizeLimit diskAlmostFull(100);
        EXPECT_EQ(BuildRecordIndex(bigFile.c_str(), index.c_str()), -1);
    }
    EXPECT_FALSE(exists(index));
    EXPECT_EQ(testsupport::ReadFile(bigFile), many);
}

}  // namespace
