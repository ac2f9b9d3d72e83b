// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "EngineFiles.h"
#include "files/RecordExtract.h"

using namespace veltrane;
using testsupport::MakeRecord;
using testsupport::ReadFile;

namespace {

/// Forty records of about 5,000 bytes with CR LF after each, indexed: ranges of
/// them run over several copy blocks.
class ExtractTest : public testsupport::EngineFiles {
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 40; ++n)
            m_parts.push_back(MakeRecord({{"001", "r" + std::to_string(n)}, {"300", std::string(5000, 'a' + n % 26)}})
                                + "\r\n");
        m_file = range(1, 40);
        ASSERT_EQ(open(m_file), 40);
    }

    std::string range(int a, int b) const
    {
        std::string bytes;
        for (int n = a; n <= b; ++n)
            bytes += m_parts[static_cast<std::size_t>(n - 1)];
        return bytes;
    }
    /// Extracts with the answer given to the overwrite question; the engine
    /// itself never shows a message.
    ExtractResult extract(int a, int b, const std::string& target, OverwriteChoice answer = OverwriteChoice::Cancel)
    {
        m_prompt = testsupport::RecordingPrompt(answer);
        const ExtractResult result =
            ExtractRecords(m_prompt, m_scratch, m_records.c_str(), m_index.c_str(), a, b, target.c_str());
        EXPECT_TRUE(m_prompt.messages.empty());
        EXPECT_EQ(result.message.empty(), result.outcome != ExtractOutcome::Failed);
        return result;
    }

    std::vector<std::string> m_parts;
    std::string m_file;
};

TEST_F(ExtractTest, NewTargetGetsTheRangeWithItsSeparators)
{
    for (auto [a, b] : {std::pair{3, 3}, std::pair{2, 39}}) {
        const std::string target = m_dir.file("new" + std::to_string(b) + ".mrc");
        EXPECT_EQ(extract(a, b, target).outcome, ExtractOutcome::Copied);
        EXPECT_EQ(ReadFile(target), range(a, b));
        EXPECT_EQ(m_prompt.questions, 0);
    }
}

TEST_F(ExtractTest, ExistingTargetFollowsTheAnswer)
{
    const std::string target = m_dir.file("target.mrc");
    struct Case {
        OverwriteChoice answer;
        ExtractOutcome outcome;
        std::string expected;
    } cases[] = {
        {OverwriteChoice::Append, ExtractOutcome::Copied, "old content" + range(2, 3)},
        {OverwriteChoice::Overwrite, ExtractOutcome::Copied, range(2, 3)},
        {OverwriteChoice::Cancel, ExtractOutcome::Declined, "old content"},
        {OverwriteChoice::Unavailable, ExtractOutcome::QuestionUnavailable, "old content"},
    };
    for (const Case& c : cases) {
        m_dir.write("target.mrc", "old content");
        EXPECT_EQ(extract(2, 3, target, c.answer).outcome, c.outcome);
        EXPECT_EQ(ReadFile(target), c.expected);
        EXPECT_EQ(m_prompt.questions, 1);
        EXPECT_EQ(m_prompt.askedAbout, target);
    }
}

TEST_F(ExtractTest, AppendingManyBlocksKeepsEveryByteInOrder)
{
    // About 200,000 bytes: blocks start at odd offsets of the target.
    const std::string old(4095 + 17, 'o'), target = m_dir.write("target.mrc", old);
    EXPECT_EQ(extract(1, 40, target, OverwriteChoice::Append).outcome, ExtractOutcome::Copied);
    EXPECT_EQ(ReadFile(target), old + range(1, 40));
}

TEST_F(ExtractTest, RecordFileItselfIsNeverOverwritten)
{
    const std::string link = m_dir.file("link.mrc"), hardLink = m_dir.file("hard.mrc");
    ASSERT_EQ(::symlink(m_records.c_str(), link.c_str()), 0);
    ASSERT_EQ(::link(m_records.c_str(), hardLink.c_str()), 0);
    for (const std::string& target : {m_records, link, hardLink}) {
        const ExtractResult refused = extract(1, 2, target, OverwriteChoice::Overwrite);
        EXPECT_EQ(refused.outcome, ExtractOutcome::Failed) << target;
        EXPECT_NE(refused.message.find("record file itself"), std::string::npos);
        EXPECT_EQ(ReadFile(m_records), m_file);
    }
    // Appended to itself, the range is copied as it stood before the copy.
    EXPECT_EQ(extract(1, 40, link, OverwriteChoice::Append).outcome, ExtractOutcome::Copied);
    EXPECT_EQ(ReadFile(m_records), m_file + m_file);
}

TEST_F(ExtractTest, ScratchDisplayFileIsRefusedAsTarget)
{
    EXPECT_EQ(extract(1, 2, m_scratch.path(), OverwriteChoice::Overwrite).outcome, ExtractOutcome::Failed);  // not there yet
    EXPECT_NE(::access(m_scratch.path().c_str(), F_OK), 0);
    m_dir.write("tempdisp.mrc", "display");
    const ExtractResult refused = extract(1, 2, m_scratch.path(), OverwriteChoice::Append);
    EXPECT_EQ(refused.outcome, ExtractOutcome::Failed);
    EXPECT_EQ(m_prompt.questions, 0);
    EXPECT_EQ(ReadFile(m_scratch.path()), "display");
    EXPECT_NE(refused.message.find("display scratch file"), std::string::npos);
}

}  // namespace
