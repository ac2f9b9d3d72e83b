// SPDX-License-Identifier: Apache-2.0
// The engine's objects: two files worked on at once give what they give one
// after the other; long work reports progress that only rises and, cancelled
// at any point, leaves the state it promises.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "EngineFiles.h"
#include "files/RecordExtract.h"
#include "files/RecordFile.h"
#include "files/RecordIndex.h"

using namespace veltrane;
using testsupport::MakeRecord;
using testsupport::ReadFile;

namespace {

namespace fs = std::filesystem;

/// n records of about 1,000 bytes, every seventh holding "needle" in its 245.
std::string makeRecords(int n, char filler)
{
    std::string bytes;
    for (int k = 1; k <= n; ++k) {
        const std::string title = k % 7 == 0 ? "needle " + std::to_string(k) : "hay " + std::to_string(k);
        bytes += MakeRecord({{"001", std::string(1, filler) + std::to_string(k)},
                             {"245", "10\x1f" "a" + title},
                             {"520", "  \x1f" "a" + std::string(900, filler)}});
        if (k % 3 == 0)
            bytes += "\r\n";
    }
    return bytes;
}

/// What one pass over a file finds and shows: every hit of "needle" (record
/// and tag) and every record's display text.
struct FilePass {
    std::vector<std::pair<std::int64_t, std::string>> hits;
    std::string texts;
    friend bool operator==(const FilePass&, const FilePass&) = default;
};

FilePass passOver(const std::string& records, const std::string& index, int count)
{
    FilePass pass;
    RecordFile file;
    if (!file.openRecords(records.c_str()) || !file.openIndex(index.c_str()))
        return pass;
    const SearchQuery query{"NEEDLE", false, dmNormal, {}, {}, {}};
    for (std::int64_t from = 1;;) {
        const FindResult found = file.find(from, count, query);
        if (found.outcome != Outcome::Done)
            break;
        pass.hits.emplace_back(found.record, found.tag);
        from = found.record + 1;
    }
    auto text = std::make_unique<DisplayText>();
    for (int k = 1; k <= count; ++k) {
        if (file.render(k, dmNormal, *text) == Outcome::Done)
            pass.texts += text->text();
    }
    return pass;
}

class RecordFileTest : public testsupport::EngineFiles {
protected:
    /// Writes a second record file and indexes it; its record count.
    int openSecond(const std::string& bytes)
    {
        m_dir.write("second.mrc", bytes);
        return BuildRecordIndex(m_second.c_str(), m_secondIndex.c_str());
    }

    const std::string m_second = m_dir.file("second.mrc"), m_secondIndex = m_dir.file("second.idx");
};

TEST_F(RecordFileTest, TwoFilesOnTwoThreadsGiveWhatTheyGiveOneAfterTheOther)
{
    const int count1 = open(makeRecords(700, 'x')), count2 = openSecond(makeRecords(900, 'y'));
    ASSERT_EQ(count1, 700);
    ASSERT_EQ(count2, 900);
    const FilePass alone1 = passOver(m_records, m_index, count1), alone2 = passOver(m_second, m_secondIndex, count2);
    ASSERT_EQ(alone1.hits.size(), 100u);
    EXPECT_EQ(alone1.hits.front(), (std::pair<std::int64_t, std::string>{7, "245"}));
    for (int round = 0; round < 5; ++round) {
        FilePass together1, together2;
        std::thread first([&] { together1 = passOver(m_records, m_index, count1); });
        std::thread second([&] { together2 = passOver(m_second, m_secondIndex, count2); });
        first.join();
        second.join();
        EXPECT_EQ(together1, alone1);
        EXPECT_EQ(together2, alone2);
    }
}

TEST_F(RecordFileTest, TagLimitsTheFieldsAMatchMayLieIn)
{
    const std::string bytes = MakeRecord({{"001", "r1"}, {"500", "  \x1f" "aneedle"}})
                              + MakeRecord({{"001", "r2"}, {"245", "10\x1f" "aneedle"}, {"500", "  \x1f" "aneedle"}});
    ASSERT_EQ(open(bytes), 2);
    RecordFile file;
    ASSERT_TRUE(file.openRecords(m_records.c_str()) && file.openIndex(m_index.c_str()));
    struct Case {
        std::string pattern, tag;
        std::int64_t record;
        std::string matchedTag;
    };
    const Case cases[] = {
        {"needle", "", 1, "500"},
        {"needle", "245", 2, "245"},
        {"245", "245", 2, "245"},  // the tag's own bytes belong to its field
        {"needle", "100", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + " in " + c.tag);
        const FindResult found = file.find(1, 2, {c.pattern, false, dmNormal, c.tag, {}, {}});
        EXPECT_EQ(found.outcome, c.record != 0 ? Outcome::Done : Outcome::NotFound);
        EXPECT_EQ(found.record, c.record);
        EXPECT_EQ(found.tag, c.matchedTag);
    }
}

using testsupport::ReportWatch;

TEST_F(RecordFileTest, LongWorkReportsRisingProgressAndACancelAnywhereLeavesThePromisedState)
{
    const std::string bytes = makeRecords(300, 'z');
    ASSERT_EQ(open(bytes), 300);
    const std::string target = m_dir.file("target.mrc"), index = m_dir.file("cancelled.idx");
    const std::string old = "old target\n";
    auto buildIndex = [&](const WorkMonitor& monitor) {
        const IndexBuild build = BuildRecordIndex(m_records.c_str(), index.c_str(), monitor);
        return build.outcome;
    };
    auto find = [&](const WorkMonitor& monitor) {
        RecordFile file;
        EXPECT_TRUE(file.openRecords(m_records.c_str()) && file.openIndex(m_index.c_str()));
        return file.find(1, 300, {"absent text", true, dmNormal, {}, {}, {}}, monitor).outcome;
    };
    auto extract = [&](OverwriteChoice answer) {
        return [&, answer](const WorkMonitor& monitor) {
            testsupport::RecordingPrompt prompt(answer);
            const ExtractOutcome outcome =
                ExtractRecords(prompt, m_scratch, m_records.c_str(), m_index.c_str(), 1, 300, target.c_str(), monitor)
                    .outcome;
            EXPECT_TRUE(prompt.messages.empty());
            return outcome == ExtractOutcome::Cancelled ? Outcome::Cancelled
                   : outcome == ExtractOutcome::Copied  ? Outcome::Done
                                                        : Outcome::FileError;
        };
    };
    struct Work {
        const char* name;
        std::function<Outcome(const WorkMonitor&)> run;
        std::function<void()> prepare;
        std::function<void()> checkCancelled;  // the state a cancel promises
        Outcome whole;                         // the outcome of a run to the end
    };
    const Work works[] = {
        {"index build", buildIndex, [&] { fs::remove(index); }, [&] { EXPECT_FALSE(fs::exists(index)); },
         Outcome::Done},
        {"find", find, [] {}, [] {}, Outcome::NotFound},
        {"extraction to a new file", extract(OverwriteChoice::Cancel), [&] { fs::remove(target); },
         [&] { EXPECT_FALSE(fs::exists(target)); }, Outcome::Done},
        {"extraction appended", extract(OverwriteChoice::Append), [&] { m_dir.write("target.mrc", old); },
         [&] { EXPECT_EQ(ReadFile(target), old); }, Outcome::Done},
        {"extraction overwriting", extract(OverwriteChoice::Overwrite), [&] { m_dir.write("target.mrc", old); },
         [&] { EXPECT_EQ(ReadFile(target), ""); }, Outcome::Done},
    };
    for (const Work& work : works) {
        SCOPED_TRACE(work.name);
        work.prepare();
        ReportWatch whole;
        EXPECT_EQ(work.run(whole.monitor), work.whole);
        EXPECT_TRUE(whole.rising);
        EXPECT_EQ(whole.last, whole.lastTotal);
        ASSERT_GE(whole.reports, 4);  // the first, some on the way, the last
        // Early (at the first report), midway, and at the last report before
        // the end.
        for (int stopAt : {1, whole.reports / 2, whole.reports - 1}) {
            SCOPED_TRACE(stopAt);
            work.prepare();
            ReportWatch cancelled(stopAt);
            EXPECT_EQ(work.run(cancelled.monitor), Outcome::Cancelled);
            EXPECT_TRUE(cancelled.rising);
            work.checkCancelled();
        }
    }
    EXPECT_EQ(ReadFile(m_records), bytes);
}

TEST_F(RecordFileTest, StreamSearchFindsWhatTheIndexedSearchFinds)
{
    const std::string bytes = makeRecords(200, 'w') + MakeRecord({{"001", "cut"}, {"245", "10\x1f" "aneedle"}}).substr(0, 40);
    const int count = open(bytes);
    ASSERT_EQ(count, 201);
    const FilePass indexed = passOver(m_records, m_index, count);
    for (std::int64_t from : {1, 50, 201}) {
        SCOPED_TRACE(from);
        std::vector<std::pair<std::int64_t, std::string>> streamed;
        fileaccess::UniqueFd fd(::open(m_records.c_str(), O_RDONLY));
        const Status status = SearchRecordStream(fd.get(), from, {"NEEDLE", false, dmNormal, {}, {}, {}}, NoMonitor(),
                                                 [&](std::int64_t record, std::string_view tag) {
                                                     streamed.emplace_back(record, std::string(tag));
                                                     return true;
                                                 });
        // The record cut off by the end of the file ends the search.
        EXPECT_EQ(status.outcome, Outcome::Unreadable);
        std::vector<std::pair<std::int64_t, std::string>> expected;
        for (const auto& hit : indexed.hits)
            if (hit.first >= from)
                expected.push_back(hit);
        EXPECT_EQ(streamed, expected);
    }
}

}  // namespace

namespace {

// "中文" in GBK and in UTF-8; "é" in MARC-8 (combining acute, then e) and UTF-8.
const std::string kGbkChinese = "\xd6\xd0\xce\xc4", kUtf8Chinese = "\xe4\xb8\xad\xe6\x96\x87";

std::string marc21Record(const std::string& id, char codingScheme, const std::string& title)
{
    std::string record = MakeRecord({{"001", id}, {"008", "850101s1985    xx            000 0 eng d"},
                                     {"245", "10\x1f" "a" + title}});
    record[9] = codingScheme;
    return record;
}

}  // namespace

TEST_F(RecordFileTest, TextIsComparedInEachRecordsOwnSet)
{
    const std::string bytes =
        MakeRecord({{"001", "gbk"}, {"100", "  \x1f" "a20231201d1998    em y0chiy0110    ea"},
                    {"200", "1 \x1f" "a" + kGbkChinese + kGbkChinese}})
        + marc21Record("utf8", 'a', "Caf\xc3\xa9 " + kUtf8Chinese + " notes")
        + marc21Record("marc8", ' ', "R\xe2" "esum\xe2" "e of a caf\xe2" "e");
    ASSERT_EQ(open(bytes), 3);
    RecordFile file;
    ASSERT_TRUE(file.openRecords(m_records.c_str()) && file.openIndex(m_index.c_str()));
    struct Case {
        const char* name;
        std::string text;
        CharsetSetting charset;
        std::vector<std::int64_t> records;
    };
    const Case cases[] = {
        {"chinese in its GBK and its UTF-8 record", "中文", CharsetSetting::Auto, {1, 2}},
        {"a fixed set reads every record in it", "中文", CharsetSetting::Gbk, {1}},
        {"accented text in the UTF-8 record and, decoded, in the MARC-8 one", "café", CharsetSetting::Auto, {2, 3}},
        {"MARC-8 is compared after decoding", "résumé", CharsetSetting::Auto, {3}},
        {"letter case folds in decoded text", "RÉSUMÉ", CharsetSetting::Marc8, {}},
        {"ascii case folds in decoded text", "OF A", CharsetSetting::Marc8, {3}},
        {"a character GBK cannot hold never matches there", "שלום", CharsetSetting::Gbk, {}},
        {"subfield delimiter in decoded text", "$aRésumé", CharsetSetting::Auto, {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchQuery query{{}, false, dmNormal, {}, c.text, c.charset};
        std::vector<std::int64_t> found;
        for (std::int64_t from = 1;;) {
            const FindResult result = file.find(from, 3, query);
            if (result.outcome != Outcome::Done)
                break;
            found.push_back(result.record);
            from = result.record + 1;
        }
        EXPECT_EQ(found, c.records);
    }
}
