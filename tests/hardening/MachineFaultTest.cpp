// SPDX-License-Identifier: Apache-2.0
// Faults of the machine around an open record file: the file or its index
// disappears or shrinks after indexing, the scratch file or an extraction
// target cannot be written. Each is told with the engine's message, and nothing
// half-written passes for a result. A missing or full temporary folder is
// tested with the index.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "EngineFiles.h"
#include "files/RecordExtract.h"

using namespace veltrane;
using testsupport::RecordingPrompt;
using testsupport::ReadFile;
using Messages = std::vector<std::string>;

namespace {

namespace fs = std::filesystem;

const Messages kInvalidDrive = {"Invalid drive or directory"};

/// The messages an extraction's caller shows: the failure's text, if any. The
/// engine itself shows none.
Messages Told(const ExtractResult& result, const testsupport::RecordingPrompt& prompt)
{
    EXPECT_TRUE(prompt.messages.empty());
    return result.message.empty() ? Messages{} : Messages{std::string(result.message)};
}

/// Three indexed records of a little over 200 bytes each, with the scratch file
/// in the same private folder.
class MachineFault : public testsupport::EngineFiles {
protected:
    void SetUp() override
    {
        for (const char* id : {"r1", "r2", "r3"})
            m_original += testsupport::MakeRecord({{"001", id}, {"330", "  \x1f" "a" + std::string(150, 'z')}});
        ASSERT_EQ(open(m_original), 3);
        m_indexBytes = ReadFile(m_index);
    }
    void TearDown() override { fs::current_path(m_savedCwd); }

    bool sourcesUntouched() { return ReadFile(m_records) == m_original && ReadFile(m_index) == m_indexBytes; }

    const std::string dir = m_dir.path().string(), target = m_dir.file("target.mrc");
    std::string m_original, m_indexBytes;
    fs::path m_savedCwd = fs::current_path();
};

TEST_F(MachineFault, RecordOrIndexFileGoneOrShrunkAfterIndexing)
{
    const std::size_t r1 = m_original.size() / 3;
    struct Case {
        const char* name;
        std::string removed;
        std::size_t keep;  // bytes left of the record file
        int showResult;                 // of record 2
        ExtractOutcome extractOutcome;  // of records 2 to 3
        Messages showMessages, extractMessages;
    };
    const Case cases[] = {
        {"record file deleted", m_records, 0, -1, ExtractOutcome::Failed, kInvalidDrive, kInvalidDrive},
        {"index file deleted", m_index, 0, -1, ExtractOutcome::Failed, {"Index file open error!"}, {"File open error!"}},
        {"cut inside record 3", "", 2 * r1 + 40, 2, ExtractOutcome::Copied, {}, {}},
        {"cut inside the leader of record 2", "", r1 + 10, -1, ExtractOutcome::Copied, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_dir.write("records.mrc", m_original);
        m_dir.write("records.idx", m_indexBytes);
        ::unlink(target.c_str());
        ASSERT_EQ(c.removed.empty() ? ::truncate(m_records.c_str(), static_cast<off_t>(c.keep))
                                    : ::unlink(c.removed.c_str()), 0);
        RecordingPrompt prompt;
        EXPECT_EQ(ScanRecords(prompt, m_scratch, m_settings, m_records.c_str(), m_index.c_str(), 2, 2, ""), c.showResult);
        EXPECT_EQ(prompt.messages, c.showMessages);
        // Extraction copies what is there, as for a last record running past
        // the end of the file.
        prompt.messages.clear();
        const ExtractResult extracted =
            ExtractRecords(prompt, m_scratch, m_records.c_str(), m_index.c_str(), 2, 3, target.c_str());
        EXPECT_EQ(extracted.outcome, c.extractOutcome);
        EXPECT_EQ(Told(extracted, prompt), c.extractMessages);
        EXPECT_EQ(fs::exists(target) ? std::optional(ReadFile(target)) : std::nullopt,
                  c.removed.empty() ? std::optional(m_original.substr(r1, c.keep - r1)) : std::nullopt);
    }
}

TEST_F(MachineFault, ScratchFileInADeletedCurrentFolderIsTold)
{
    // The current folder is deleted, which only the relative name feels.
    fs::create_directory(dir + "/gone");
    fs::current_path(dir + "/gone");
    fs::remove(dir + "/gone");
    m_scratch.setPath("tempdisp.mrc");
    RecordingPrompt prompt;
    EXPECT_EQ(ScanRecords(prompt, m_scratch, m_settings, m_records.c_str(), m_index.c_str(), 2, 2, ""), -1);
    EXPECT_EQ(prompt.messages, Messages{"Display File open error!"});
    EXPECT_TRUE(sourcesUntouched());
}

TEST_F(MachineFault, UnwritableExtractionTargetIsToldAndNoResultRemains)
{
    const std::string old = "old target content\n", kernel = dir + "/kernel-file";
    fs::create_symlink("/proc/version", kernel);  // read-only even for root
    struct Case {
        std::string target;
        OverwriteChoice answer;
        std::optional<std::string> targetAfter;  // nothing: the target must not exist
        rlim_t sizeLimit;                        // a full disk after this many bytes
    };
    const Case cases[] = {
        {kernel, OverwriteChoice::Overwrite, std::nullopt, 0},
        {dir + "/new.mrc", OverwriteChoice::Overwrite, std::nullopt, 300},
        {target, OverwriteChoice::Append, old, 300},
        // The user gave up the old content; what stays is nothing, never a part.
        {target, OverwriteChoice::Overwrite, "", 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + (c.answer == OverwriteChoice::Append ? " append" : " overwrite"));
        m_dir.write("target.mrc", old);
        RecordingPrompt prompt(c.answer);
        ExtractResult extracted;
        {
            testsupport::FileSizeLimit diskAlmostFull(c.sizeLimit);  // 0: none
            extracted = ExtractRecords(prompt, m_scratch, m_records.c_str(), m_index.c_str(), 1, 3, c.target.c_str());
        }
        EXPECT_EQ(extracted.outcome, ExtractOutcome::Failed);
        EXPECT_EQ(Told(extracted, prompt), kInvalidDrive);
        EXPECT_TRUE(sourcesUntouched());
        if (c.target != kernel) {  // the link is not read
            EXPECT_EQ(fs::exists(c.target) ? std::optional(ReadFile(c.target)) : std::nullopt, c.targetAfter);
        }
    }
}

}  // namespace
