// Faults of the machine around an open record file: the file or its index
// disappears or shrinks after indexing, the scratch file or an extraction
// target cannot be written (missing or deleted folder, a full device, a file
// size limit, a read-only file), the temporary folder is missing or full. Each
// is told with the engine's message, and nothing half-written passes for a
// result.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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
using testsupport::ReadFile;
using Messages = std::vector<std::string>;

namespace {

namespace fs = std::filesystem;

const Messages kInvalidDrive = {"Invalid drive or directory"};

bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

/// Three indexed records of a little over 200 bytes each, with the scratch file,
/// a folder and a link to the full device in the same private folder.
class MachineFault : public testing::Test {
protected:
    void SetUp() override
    {
        m_savedScratch = ScratchDisplayFile;
        ScratchDisplayFile = m_dir.file("display.txt");
        for (const char* id : {"r1", "r2", "r3"})
            m_recordBytes.push_back(testsupport::MakeRecord({{"001", id},
                                                             {"200", std::string("1 \x1f" "aTitle of ") + id},
                                                             {"330", "  \x1f" "a" + std::string(150, 'z')}}));
        m_original = m_recordBytes[0] + m_recordBytes[1] + m_recordBytes[2];
        m_dir.write("records.mrc", m_original);
        ASSERT_EQ(BuildRecordIndex(m_records.c_str(), m_index.c_str()), 3);
        m_indexBytes = ReadFile(m_index);
        fs::create_directory(dir + "/folder");
        fs::create_symlink("/dev/full", dir + "/full");
    }
    void TearDown() override
    {
        fs::current_path(m_savedCwd);
        ScratchDisplayFile = m_savedScratch;
    }

    // A size limit of 0 is none.
    int show(RecordingPrompt& prompt, int k, rlim_t sizeLimit = 0)
    {
        FileSizeLimit diskAlmostFull(sizeLimit);
        return ScanRecords(prompt, m_records.c_str(), m_index.c_str(), k, k, "");
    }
    int extract(RecordingPrompt& prompt, int a, int b, const std::string& target, rlim_t sizeLimit = 0)
    {
        FileSizeLimit diskAlmostFull(sizeLimit);
        return ExtractRecords(prompt, m_records.c_str(), m_index.c_str(), a, b, target.c_str());
    }
    bool sourcesUntouched() { return ReadFile(m_records) == m_original && ReadFile(m_index) == m_indexBytes; }

    testsupport::TempDir m_dir;
    const std::string dir = m_dir.path().string();
    std::string m_records = m_dir.file("records.mrc"), m_index = m_dir.file("records.idx");
    std::string m_savedScratch, m_original, m_indexBytes;
    fs::path m_savedCwd = fs::current_path();
    std::vector<std::string> m_recordBytes;
};

TEST_F(MachineFault, RecordOrIndexFileGoneAfterIndexingIsTold)
{
    struct Case {
        const char* name;
        std::string removed;
        Messages showMessages, extractMessages;
    };
    const Case cases[] = {
        {"record file deleted", m_records, kInvalidDrive, kInvalidDrive},
        {"index file deleted", m_index, {"Index file open error!"}, {"File open error!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_dir.write("records.mrc", m_original);
        m_dir.write("records.idx", m_indexBytes);
        ASSERT_EQ(::unlink(c.removed.c_str()), 0);
        for (int k = 1; k <= 3; ++k) {
            RecordingPrompt prompt;
            EXPECT_EQ(show(prompt, k), -1);
            EXPECT_EQ(prompt.messages, c.showMessages) << "record " << k;
        }
        RecordingPrompt prompt;
        std::string target = m_dir.file("target.mrc");
        EXPECT_EQ(extract(prompt, 1, 3, target), 0);
        EXPECT_EQ(prompt.messages, c.extractMessages);
        EXPECT_FALSE(exists(target));
    }
}

TEST_F(MachineFault, RecordFileShrunkAfterIndexing)
{
    const std::size_t r1 = m_recordBytes[0].size(), r2 = m_recordBytes[1].size();
    struct Case {
        const char* name;
        std::size_t keep;             // bytes left of the file
        std::vector<int> showResults;  // of records 1, 2, 3
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
            EXPECT_EQ(prompt.messages, Messages{}) << "a short record is no message";
        }
        // Extraction copies what is there, as for a last record running past
        // the end of the file.
        std::size_t start = 0;
        for (int a = 1; a <= 3; start += m_recordBytes[static_cast<std::size_t>(a) - 1].size(), ++a) {
            std::string target = m_dir.file("target.mrc");
            ::unlink(target.c_str());
            RecordingPrompt prompt;
            EXPECT_EQ(extract(prompt, a, 3, target), 1);
            EXPECT_EQ(ReadFile(target), start < c.keep ? m_original.substr(start, c.keep - start) : "")
                << "records " << a << " to 3";
            EXPECT_EQ(prompt.messages, Messages{});
        }
    }
}

TEST_F(MachineFault, UnwritableScratchFileIsToldAndNothingIsShown)
{
    // The current folder is deleted for every case, which only the relative
    // name feels.
    fs::create_directory(dir + "/gone");
    fs::current_path(dir + "/gone");
    fs::remove(dir + "/gone");
    struct Case {
        const char* name;
        std::string scratch;
        rlim_t sizeLimit = 0;  // a full disk after this many bytes
    };
    const Case cases[] = {
        {"folder missing", dir + "/missing/display.txt"},
        {"a folder in its place", dir + "/folder"},
        {"current folder deleted", "tempdisp.mrc"},
        {"full device", dir + "/full"},
        {"disk full while writing", dir + "/display.txt", 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDisplayFile = c.scratch;
        RecordingPrompt prompt;
        EXPECT_EQ(show(prompt, 2, c.sizeLimit), -1);
        EXPECT_EQ(prompt.messages, Messages{"Display File open error!"});
        EXPECT_TRUE(sourcesUntouched());
    }
}

TEST_F(MachineFault, UnwritableExtractionTargetIsToldAndNoResultRemains)
{
    const std::string old = "old target content\n";
    fs::create_symlink("/proc/version", dir + "/kernel-file");  // read-only even for root
    m_dir.write("readonly.mrc", old);
    fs::permissions(dir + "/readonly.mrc", fs::perms::owner_read);
    struct Case {
        const char* name;
        std::string target;
        OverwriteChoice answer;
        std::optional<std::string> targetAfter;  // nothing: the target must not exist (links: not read)
        rlim_t sizeLimit = 0;                    // a full disk after this many bytes
        bool needsNonRoot = false;               // permission bits do not stop root
    };
    const Case cases[] = {
        {"folder missing", dir + "/missing/target.mrc", OverwriteChoice::Overwrite, std::nullopt},
        {"a folder as target", dir + "/folder", OverwriteChoice::Overwrite, ""},
        {"full device, overwrite", dir + "/full", OverwriteChoice::Overwrite, ""},
        {"full device, append", dir + "/full", OverwriteChoice::Append, ""},
        {"read-only system file", dir + "/kernel-file", OverwriteChoice::Overwrite, ""},
        {"read-only file, append", dir + "/readonly.mrc", OverwriteChoice::Append, old, 0, true},
        {"disk full while creating", dir + "/new.mrc", OverwriteChoice::Overwrite, std::nullopt, 300},
        {"disk full while appending", dir + "/old.mrc", OverwriteChoice::Append, old, 300},
        // The user gave up the old content; what stays is nothing, never a part.
        {"disk full while overwriting", dir + "/old.mrc", OverwriteChoice::Overwrite, "", 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsNonRoot && ::geteuid() == 0)
            continue;
        m_dir.write("old.mrc", old);
        ::unlink((dir + "/new.mrc").c_str());
        RecordingPrompt prompt(c.answer);
        EXPECT_EQ(extract(prompt, 1, 3, c.target, c.sizeLimit), 0);
        EXPECT_EQ(prompt.messages, kInvalidDrive);
        if (!c.targetAfter) {
            EXPECT_FALSE(exists(c.target));
        } else if (fs::is_regular_file(fs::symlink_status(c.target))) {
            EXPECT_EQ(ReadFile(c.target), *c.targetAfter);
        }
        EXPECT_TRUE(sourcesUntouched());
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device must survive";
    EXPECT_FALSE(ReadFile("/proc/version").empty());
}

TEST_F(MachineFault, TemporaryFolderMissingOrFull)
{
    const char* savedTmp = std::getenv("TMP");
    const std::string saved = savedTmp ? savedTmp : "";
    m_dir.write("plain-file", "x");
    for (const std::string& tmp : {dir + "/missing", dir + "/plain-file"}) {
        SCOPED_TRACE("TMP=" + tmp);
        ::setenv("TMP", tmp.c_str(), 1);
        RecordingPrompt prompt;
        EXPECT_EQ(CreateIndexName(prompt), std::nullopt);
        EXPECT_EQ(prompt.messages, Messages{"tempnam couldn't create name"});
    }
    savedTmp ? ::setenv("TMP", saved.c_str(), 1) : ::unsetenv("TMP");

    // A full temporary folder: the index cannot be written whole, so it is not
    // kept at all rather than kept short behind a full record count.
    const std::string index = m_dir.file("other.idx");
    {
        FileSizeLimit diskAlmostFull(10);
        EXPECT_EQ(BuildRecordIndex(m_records.c_str(), index.c_str()), -1);
    }
    EXPECT_FALSE(exists(index));
    EXPECT_TRUE(sourcesUntouched());
}

}  // namespace
