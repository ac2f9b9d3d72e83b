#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "../hardening/HardeningSupport.h"
#include "RecordExtract.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"

using namespace veltrane;
using testsupport::MakeRecord;
using testsupport::ReadFile;

namespace {

class ExtractTest : public testing::Test {
protected:
    void SetUp() override { ScratchDisplayFile = m_dir.file("tempdisp.mrc"); }
    void TearDown() override { ScratchDisplayFile = m_savedScratch; }

    /// Writes the records, each followed by separator, and indexes them.
    void open(int count, const std::string& separator = "", std::size_t size = 40)
    {
        m_records.clear();
        for (int n = 1; n <= count; ++n)
            m_records.push_back(MakeRecord({{"001", "r" + std::to_string(n)}, {"300", std::string(size, 'a' + n % 26)}})
                                + separator);
        m_file = range(1, count);
        m_path = m_dir.write("records.mrc", m_file);
        m_index = m_dir.file("idx");
        ASSERT_EQ(BuildRecordIndex(m_path.c_str(), m_index.c_str()), count);
    }
    std::string range(int a, int b) const
    {
        std::string bytes;
        for (int n = a; n <= b; ++n)
            bytes += m_records[static_cast<std::size_t>(n - 1)];
        return bytes;
    }
    int extract(int a, int b, const std::string& target, OverwriteChoice answer = OverwriteChoice::Cancel)
    {
        m_prompt = hardening::RecordingPrompt(answer);
        return ExtractRecords(m_prompt, m_path.c_str(), m_index.c_str(), a, b, target.c_str());
    }

    const std::string m_savedScratch = ScratchDisplayFile;
    testsupport::TempDir m_dir;
    hardening::RecordingPrompt m_prompt;
    std::vector<std::string> m_records;
    std::string m_file, m_path, m_index;
};

TEST_F(ExtractTest, CopiesTheRangeWithItsSeparators)
{
    struct Case {
        const char* name;
        int count;
        const char* separator;
        std::size_t size;
        int a, b;
    } cases[] = {
        {"single_record", 3, "", 40, 3, 3},
        {"crlf_kept", 3, "\r\n", 40, 2, 3},
        {"more_than_one_buffer", 40, "\r\n", 5000, 2, 39},  // about 200,000 bytes
    };
    for (const Case& c : cases) {
        open(c.count, c.separator, c.size);
        const std::string target = m_dir.file(std::string(c.name) + ".mrc");
        EXPECT_EQ(extract(c.a, c.b, target), 1) << c.name;
        EXPECT_EQ(ReadFile(target), range(c.a, c.b)) << c.name;
        EXPECT_TRUE(m_prompt.questions == 0 && m_prompt.messages.empty()) << c.name;
    }
}

TEST_F(ExtractTest, ExistingTargetFollowsTheAnswer)
{
    open(3);
    const std::string target = m_dir.file("target.mrc");
    struct Case {
        OverwriteChoice answer;
        int result;
        std::string expected;
    } cases[] = {
        {OverwriteChoice::Append, 1, "old content" + range(2, 3)},
        {OverwriteChoice::Overwrite, 1, range(2, 3)},
        {OverwriteChoice::Cancel, 1, "old content"},
        {OverwriteChoice::Unavailable, -1, "old content"},
    };
    for (const Case& c : cases) {
        m_dir.write("target.mrc", "old content");
        EXPECT_EQ(extract(2, 3, target, c.answer), c.result);
        EXPECT_EQ(ReadFile(target), c.expected);
        EXPECT_EQ(m_prompt.questions, 1);
        EXPECT_EQ(m_prompt.askedAbout, target);
        EXPECT_TRUE(m_prompt.messages.empty());
    }
}

TEST_F(ExtractTest, AppendingManyBlocksKeepsEveryByteInOrder)
{
    open(40, "\r\n", 5000);  // about 200,000 bytes: blocks start at odd offsets of the target
    const std::string old(4095 + 17, 'o'), target = m_dir.write("target.mrc", old);
    EXPECT_EQ(extract(1, 40, target, OverwriteChoice::Append), 1);
    EXPECT_EQ(ReadFile(target), old + range(1, 40));
}

TEST_F(ExtractTest, RecordFileItselfIsNeverOverwritten)
{
    open(3, "\r\n");
    const std::string link = m_dir.file("link.mrc"), hardLink = m_dir.file("hard.mrc");
    ASSERT_EQ(::symlink(m_path.c_str(), link.c_str()), 0);
    ASSERT_EQ(::link(m_path.c_str(), hardLink.c_str()), 0);
    for (const std::string& target : {m_path, link, hardLink}) {
        EXPECT_EQ(extract(1, 2, target, OverwriteChoice::Overwrite), 0) << target;
        ASSERT_EQ(m_prompt.messages.size(), 1u);
        EXPECT_NE(m_prompt.messages[0].find("record file itself"), std::string::npos);
        EXPECT_EQ(ReadFile(m_path), m_file);
    }
    // Appended to itself, the range is copied as it stood before the copy.
    EXPECT_EQ(extract(1, 3, link, OverwriteChoice::Append), 1);
    EXPECT_EQ(ReadFile(m_path), m_file + m_file);
}

TEST_F(ExtractTest, ScratchDisplayFileIsRefusedAsTarget)
{
    open(2);
    EXPECT_EQ(extract(1, 2, ScratchDisplayFile, OverwriteChoice::Overwrite), 0);  // not there yet
    EXPECT_NE(::access(ScratchDisplayFile.c_str(), F_OK), 0);
    m_dir.write("tempdisp.mrc", "display");
    EXPECT_EQ(extract(1, 2, ScratchDisplayFile, OverwriteChoice::Append), 0);
    EXPECT_EQ(m_prompt.questions, 0);
    EXPECT_EQ(ReadFile(ScratchDisplayFile), "display");
    ASSERT_EQ(m_prompt.messages.size(), 1u);
    EXPECT_NE(m_prompt.messages[0].find("display scratch file"), std::string::npos);
}

}  // namespace
