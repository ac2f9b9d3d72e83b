// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "iso2709/Iso2709Reader.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordStream.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane;
using testsupport::MakeRecord;

std::span<const unsigned char> Bytes(const std::string& s)
{
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

std::string Text(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

/// The quick scan either declines a record or reads it exactly as the long
/// way does, and only when the long way finds no problem.
void ExpectQuickScanAgrees(std::span<const unsigned char> bytes, std::uint32_t declared, DelimiterMode mode)
{
    Iso2709Reader quick, plain;
    quick.read(bytes, declared, {mode, true, true});
    plain.read(bytes, declared, {mode, true, false});
    ASSERT_FALSE(plain.readByQuickScan());
    ASSERT_EQ(quick.fields().size(), plain.fields().size());
    for (std::size_t i = 0; i < plain.fields().size(); ++i) {
        const IsoField& a = quick.fields()[i];
        const IsoField& b = plain.fields()[i];
        EXPECT_EQ(a.tag.data(), b.tag.data()) << "entry " << i;
        EXPECT_EQ(a.data.data(), b.data.data()) << "entry " << i;
        EXPECT_EQ(a.data.size(), b.data.size()) << "entry " << i;
        EXPECT_EQ(a.declaredLength, b.declaredLength) << "entry " << i;
    }
    EXPECT_EQ(quick.listedEntries(), plain.listedEntries());
    if (quick.readByQuickScan()) {
        EXPECT_TRUE(plain.problems().empty()) << plain.problems()[0].code << ": " << plain.problems()[0].description;
    } else {
        ASSERT_EQ(quick.problems().size(), plain.problems().size());
        for (std::size_t i = 0; i < plain.problems().size(); ++i)
            EXPECT_EQ(quick.problems()[i].description, plain.problems()[i].description);
    }
}

std::vector<std::string> GeneratedRecords(std::mt19937& random, int count)
{
    std::vector<std::string> records;
    const char* tags[] = {"001", "005", "100", "200", "245", "500", "6X0", "a10"};
    for (int r = 0; r < count; ++r) {
        std::vector<testsupport::Field> fields;
        const int n = 1 + static_cast<int>(random() % 12);
        for (int f = 0; f < n; ++f) {
            std::string body = "10";
            const int subfields = static_cast<int>(random() % 4);
            for (int s = 0; s < subfields; ++s)
                body += "\x1f" + std::string(1, static_cast<char>('a' + random() % 26)) +
                        std::string(random() % 40, static_cast<char>(0x41 + random() % 60));
            fields.push_back({tags[random() % std::size(tags)], body});
        }
        records.push_back(MakeRecord(fields));
    }
    return records;
}

/// One of the ways records go wrong: a byte of the leader or directory
/// changed, the record cut short, a byte of the data changed (to a field
/// terminator or a subfield delimiter), or a delimiter with no code.
std::string Damaged(std::string record, std::mt19937& random)
{
    const std::size_t directoryEnd = std::min<std::size_t>(record.size(), std::stoul(record.substr(12, 5)));
    switch (random() % 6) {
    case 0: record[random() % directoryEnd] = static_cast<char>("0 9X\x1e\x1d"[random() % 6]); break;
    case 1: record.resize(random() % record.size()); break;
    case 2: record[directoryEnd + random() % (record.size() - directoryEnd)] = '\x1e'; break;
    case 3: record[directoryEnd + random() % (record.size() - directoryEnd)] = '\x1f'; break;
    case 4: {
        // A delimiter with no code where a field ends, or an indicator lost.
        const std::size_t at = record.find('\x1e', directoryEnd + random() % (record.size() - directoryEnd));
        if (at != std::string::npos && at > directoryEnd)
            record[at - 1] = '\x1f';
        break;
    }
    default: record.back() = 'X'; break;
    }
    return record;
}

TEST(Iso2709Reader, QuickScanReadsGeneratedAndDamagedRecordsAsTheLongWay)
{
    std::mt19937 random(18);
    int quick = 0;
    for (const std::string& record : GeneratedRecords(random, 400)) {
        const std::uint32_t declared = ParseDigits(Bytes(record).data(), 5);
        ExpectQuickScanAgrees(Bytes(record), declared, dmNormal);
        ExpectQuickScanAgrees(Bytes(record), declared, dmSpecial1);
        Iso2709Reader reader;
        reader.read(Bytes(record), declared, {dmNormal, true, true});
        quick += reader.readByQuickScan() ? 1 : 0;
        for (int k = 0; k < 4; ++k) {
            const std::string damaged = Damaged(record, random);
            SCOPED_TRACE(damaged);
            ExpectQuickScanAgrees(Bytes(damaged), declared, dmNormal);
        }
    }
    EXPECT_EQ(quick, 400) << "clean records go by the quick scan";
}

TEST(Iso2709Reader, QuickScanReadsSampleAndCorpusRecordsAsTheLongWay)
{
    std::vector<std::string> files = {VELTRANE_SOURCE_DIR "/samples/sample.mrc"};
    const char* corpus = std::getenv("VELTRANE_CORPUS_DIR");
    const std::filesystem::path folder = corpus != nullptr ? corpus : VELTRANE_SOURCE_DIR "/../shared/corpus";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().filename() != "SOURCES.md")
            files.push_back(entry.path().string());
    std::size_t records = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const int fd = ::open(file.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        RecordStream stream(fd);
        FramedRecord framed;
        while (stream.next(framed) == RecordStream::Step::Record) {
            SCOPED_TRACE(framed.number);
            for (DelimiterMode mode : {dmNormal, dmSpecial1, dmSpecial2})
                ExpectQuickScanAgrees(framed.bytes, framed.declaredLength, mode);
            ++records;
        }
        ::close(fd);
    }
    EXPECT_GT(records, 0u);
}

TEST(Iso2709Reader, FieldsStayWithinTheBytesGiven)
{
    std::string record = MakeRecord({{"001", "id1"}, {"245", "10\x1f" "aTitle"}, {"500", "  \x1f" "aNote"}});
    // Entry 2 now reaches past the end, entry 3 starts beyond it.
    record.replace(24 + 12 + 3, 4, "0900");
    record.replace(24 + 24 + 7, 5, "09000");
    Iso2709Reader reader;
    reader.read(Bytes(record));
    ASSERT_EQ(reader.fields().size(), 3u);
    const std::size_t base = std::stoul(record.substr(12, 5));
    EXPECT_EQ(Text(reader.fields()[1].data), record.substr(base + 4));
    EXPECT_EQ(reader.fields()[1].declaredLength, 900u);
    EXPECT_TRUE(reader.fields()[2].data.empty());

    // Cut inside the third entry: it is left out, and so is everything after.
    reader.read(Bytes(record).first(24 + 24 + 5));
    EXPECT_EQ(reader.fields().size(), 2u);
    EXPECT_EQ(reader.listedEntries(), 3u);

    // Cut inside the leader: blanks stand for what is missing.
    reader.read(Bytes(record).first(10), 200, {dmNormal, true, true});
    EXPECT_FALSE(reader.leaderWhole());
    EXPECT_TRUE(reader.fields().empty());
    EXPECT_EQ(Text(reader.leader()), record.substr(0, 10) + std::string(14, ' '));
    ASSERT_EQ(reader.problems().size(), 1u);
    EXPECT_EQ(reader.problems()[0].code, "truncated");
}

TEST(Iso2709Reader, ProblemsComeInTheOrderTheyAreTold)
{
    std::string record = MakeRecord({{"001", "id1"}, {"245", "10\x1f" "aTitle"}, {"500", "  \x1f" "aNote"}});
    record.replace(0, 5, record.substr(2, 3) + "  ");     // length-digits, read as the same number
    record.replace(24 + 12 + 7, 5, "0000a");              // entry-digits on entry 2
    record.replace(24 + 24 + 7, 5, "00000");              // entry 3 overlaps entry 1
    record.replace(24 + 24 + 3, 4, "0004");
    Iso2709Reader reader;
    reader.read(Bytes(record), ParseDigits(Bytes(record).data(), 5), {dmNormal, true, true});
    std::vector<std::string_view> codes;
    for (const RecordProblem& p : reader.problems())
        codes.push_back(p.code);
    EXPECT_EQ(codes, (std::vector<std::string_view>{"length-digits", "entry-digits", "field-overlap"}));
}

TEST(Iso2709Reader, DataFieldsComeApartAtTheirDelimitersWhereTheyStand)
{
    const std::string record = MakeRecord(
        {{"001", "id1"}, {"245", "10\x1f" "aTitle\x1f" "cAuthor"}, {"500", " \x1f\x1f" "aNote\x1f"}});
    Iso2709Reader reader;
    reader.read(Bytes(record));
    const unsigned char* const begin = Bytes(record).data();
    auto within = [&](std::span<const unsigned char> s) { return s.data() >= begin && s.data() + s.size() <= begin + record.size(); };
    IsoDataField title = reader.dataField(1);
    EXPECT_EQ(Text(title.indicators), "10");
    ASSERT_EQ(title.subfields.size(), 2u);
    EXPECT_EQ(Text(title.subfields[0].code), "a");
    EXPECT_EQ(Text(title.subfields[0].value), "Title");
    EXPECT_EQ(Text(title.subfields[1].code), "c");
    EXPECT_EQ(Text(title.subfields[1].value), "Author");
    EXPECT_TRUE(within(title.indicators) && within(title.subfields[1].code) && within(title.subfields[1].value));
    // One indicator, and a delimiter with no code before another and at the end.
    IsoDataField note = reader.dataField(2);
    EXPECT_EQ(Text(note.indicators), " ");
    ASSERT_EQ(note.subfields.size(), 3u);
    EXPECT_TRUE(note.subfields[0].code.empty() && note.subfields[0].value.empty());
    EXPECT_EQ(Text(note.subfields[1].code) + Text(note.subfields[1].value), "aNote");
    EXPECT_TRUE(note.subfields[2].code.empty());

    // In the printable variants a '$' is a delimiter only before a letter or digit.
    std::vector<IsoSubfield> subfields;
    const std::string variant = "10$aUS$ 5$$b2$";
    EXPECT_EQ(Text(SplitSubfields(Bytes(variant), dmSpecial2, subfields)), "10");
    ASSERT_EQ(subfields.size(), 2u);
    EXPECT_EQ(Text(subfields[0].value), "US$ 5$");
    EXPECT_EQ(Text(subfields[1].code) + Text(subfields[1].value), "b2$");
    EXPECT_EQ(Text(SplitSubfields(Bytes(variant), dmNormal, subfields)), variant);
    EXPECT_TRUE(subfields.empty());
}

// Under the standard delimiter the subfields are found many bytes at a time;
// they must be those a byte-by-byte scan finds, in fields of every length and
// with bytes that differ from the delimiter in one bit.
TEST(Iso2709Reader, SubfieldsAreThoseAByteByByteScanFinds)
{
    const std::string alphabet = std::string("\x1f\x1f\x1f" "a1 ") + "\x9f\x1e\x3f\x0f\xff" + std::string(1, '\0');
    std::mt19937 random(20);
    std::vector<IsoSubfield> subfields;
    for (int round = 0; round < 3000; ++round) {
        std::string body(random() % 140, ' ');
        for (char& c : body)
            c = alphabet[random() % alphabet.size()];
        const auto bytes = Bytes(body);
        const std::span<const unsigned char> indicators = SplitSubfields(bytes, dmNormal, subfields);
        SCOPED_TRACE(::testing::PrintToString(body));
        std::size_t k = body.find('\x1f');
        EXPECT_EQ(Text(indicators), body.substr(0, k));
        std::size_t i = 0;
        for (; k != std::string::npos; ++i) {
            const std::size_t next = body.find('\x1f', k + 1);
            const std::string piece = body.substr(k + 1, next == std::string::npos ? std::string::npos : next - k - 1);
            ASSERT_LT(i, subfields.size());
            EXPECT_EQ(Text(subfields[i].code), piece.substr(0, 1));
            EXPECT_EQ(Text(subfields[i].value), piece.size() > 1 ? piece.substr(1) : "");
            EXPECT_EQ(subfields[i].code.data(), bytes.data() + k + 1);
            k = next;
        }
        EXPECT_EQ(subfields.size(), i);
    }
}

// A field is taken apart in one pass up to its first terminator, 32 bytes at
// a time where the record's bytes allow, reading past the field: it must be
// what SplitSubfields makes of the field's body, and it holds a control
// character exactly when a byte below 0x20 other than the delimiter stands
// in that body. The record's last field, at its end, is walked a word at a
// time; fields run across one and two chunks of 32.
TEST(Iso2709Reader, DataFieldsTakenApartInOnePassAreTheirBodysSubfields)
{
    const std::string alphabet = std::string("\x1f\x1f" "ab1  ") + "\x9f\x1e\x3f\x0f\xff\x1d\x7f" + std::string(1, '\0');
    std::mt19937 random(21);
    std::vector<IsoSubfield> expected;
    for (int round = 0; round < 600; ++round) {
        std::vector<testsupport::Field> fields;
        for (int f = 0; f < 5; ++f) {
            std::string body(random() % 150, ' ');
            for (char& c : body)
                c = alphabet[random() % alphabet.size()];
            // Most fields hold no control character at all.
            if (random() % 2 == 0)
                for (char& c : body)
                    if (static_cast<unsigned char>(c) < 0x20 && c != '\x1f' && c != '\x1e')
                        c = 'x';
            fields.push_back({"245", body});
        }
        const std::string record = MakeRecord(fields);
        Iso2709Reader reader;
        reader.read(Bytes(record));
        for (std::size_t i = 0; i < reader.fields().size(); ++i) {
            SCOPED_TRACE(::testing::PrintToString(fields[i].body));
            const std::span<const unsigned char> body = reader.body(i);
            const std::span<const unsigned char> indicators = SplitSubfields(body, dmNormal, expected);
            const bool controls =
                std::any_of(body.begin(), body.end(), [](unsigned char b) { return b < 0x20 && b != 0x1f; });
            bool walkedControls = !controls;
            const IsoDataField walked = reader.dataField(i, walkedControls);
            EXPECT_EQ(walkedControls, controls);
            EXPECT_EQ(walked.indicators.data(), indicators.data());
            EXPECT_EQ(walked.indicators.size(), indicators.size());
            ASSERT_EQ(walked.subfields.size(), expected.size());
            for (std::size_t k = 0; k < expected.size(); ++k) {
                EXPECT_EQ(walked.subfields[k].code.data(), expected[k].code.data());
                EXPECT_EQ(walked.subfields[k].code.size(), expected[k].code.size());
                EXPECT_EQ(walked.subfields[k].value.data(), expected[k].value.data());
                EXPECT_EQ(walked.subfields[k].value.size(), expected[k].value.size());
            }
        }
    }
}

TEST(Iso2709Reader, LeaderAndDataFieldProblems)
{
    const std::string unimarc100 = "  \x1f" "a20031205d1998    em y0chiy0110    ea";
    struct Row {
        const char* name;
        std::vector<testsupport::Field> fields;
        std::size_t at;             // a leader byte to change (24: none)
        std::string bytes;          // what it becomes
        std::vector<std::string_view> codes;
    } rows[] = {
        {"clean", {{"001", "id1"}, {"245", "10\x1f" "aTitle"}}, 24, "", {}},
        {"indicator_count_blank", {{"245", "10\x1f" "aT"}}, 10, " ", {"indicator-count"}},
        {"subfield_code_length_3", {{"245", "10\x1f" "aT"}}, 11, "3", {"subfield-code-length"}},
        {"both_counts", {{"245", "10\x1f" "aT"}}, 10, "  ", {"indicator-count", "subfield-code-length"}},
        {"entry_map_45_0", {{"245", "10\x1f" "aT"}}, 20, "45 0", {"entry-map"}},
        {"entry_map_letters", {{"245", "10\x1f" "aT"}}, 20, "45a0", {"entry-map"}},
        {"unimarc_map_in_marc21", {{"245", "10\x1f" "aT"}}, 20, "450 ", {"entry-map"}},
        {"unimarc_map_in_unimarc", {{"100", unimarc100}, {"200", "1 \x1f" "aT"}}, 20, "450 ", {}},
        {"marc21_map_in_unimarc", {{"100", unimarc100}, {"200", "1 \x1f" "aT"}}, 24, "", {}},
        {"control_in_leader", {{"245", "10\x1f" "aT"}}, 9, "\x14", {"leader-characters"}},
        {"high_byte_in_leader", {{"245", "10\x1f" "aT"}}, 7, "\xe9", {"leader-characters"}},
        {"one_indicator", {{"245", "1\x1f" "aT"}}, 24, "", {"indicators"}},
        {"no_subfield_but_indicators", {{"245", "10"}}, 24, "", {}},
        {"bytes_before_the_first_subfield", {{"245", "10x\x1f" "aT"}}, 24, "", {"indicators"}},
        {"bare_delimiter_at_the_end", {{"383", "10\x1f" "aT\x1f"}}, 24, "", {"empty-subfield"}},
        {"two_delimiters", {{"245", "10\x1f\x1f" "aT"}}, 24, "", {"empty-subfield"}},
        {"control_field_has_no_indicators", {{"008", "x"}, {"001", ""}}, 24, "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string record = MakeRecord(row.fields);
        if (row.at < 24)
            record.replace(row.at, row.bytes.size(), row.bytes);
        const std::uint32_t declared = static_cast<std::uint32_t>(record.size());
        Iso2709Reader reader;
        reader.read(Bytes(record), declared, {dmNormal, true, true});
        std::vector<std::string_view> codes;
        for (const RecordProblem& p : reader.problems())
            codes.push_back(p.code);
        EXPECT_EQ(codes, row.codes);
        EXPECT_EQ(reader.readByQuickScan(), row.codes.empty());
        ExpectQuickScanAgrees(Bytes(record), declared, dmNormal);
    }
}

TEST(Iso2709Reader, RecordFieldsHoldTheReadersFieldsBackToBack)
{
    const std::string record = MakeRecord({{"001", "id1"}, {"245", "10\x1f" "aTitle"}});
    RecordFields fields;
    fields.assemble(Bytes(record).data(), record.size());
    ASSERT_EQ(fields.fields().size(), 2u);
    EXPECT_EQ(fields.tag(1), "245");
    EXPECT_EQ(Text(fields.data(1)), "10\x1f" "aTitle\x1e");
    EXPECT_EQ(Text(fields.bytes()), "001id1\x1e" "24510\x1f" "aTitle\x1e");
    EXPECT_EQ(fields.listedEntries(), 2u);
}

}  // namespace
