// SPDX-License-Identifier: Apache-2.0
#include "formats/RecordRepair.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "charset/ByteWords.h"
#include "charset/Utf8.h"
#include "files/FileAccess.h"
#include "formats/LineDiff.h"
#include "formats/RecordFormats.h"
#include "iso2709/RecordStream.h"

namespace veltrane {

namespace {

// The leader bytes that describe the layout every record is read with: two
// indicators, a delimiter and one code byte, and directory entries of a
// four-digit length, a five-digit start and no implementation part ("4500").
constexpr std::size_t kIndicatorCountOffset = 10;
constexpr std::size_t kSubfieldCodeLengthOffset = 11;
constexpr std::size_t kEntryMapOffset = 20;
constexpr std::string_view kEntryMap = "4500";
constexpr std::string_view kUnimarcEntryMap = "450 ";  // UNIMARC leaves byte 23 blank
constexpr std::string_view kLineBreaks = "\t\r\n";
// Flush the output in blocks of about this size.
constexpr std::size_t kFlushSize = 1024 * 1024;

std::string byteText(unsigned char b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string codingText(char c) { return c == ' ' ? "blank" : std::string("'") + c + "'"; }

}  // namespace

char RecordRepairer::codingSchemeWanted(bool unimarc)
{
    if (unimarc || IsAsciiWithoutEscape(m_fields.bytes()))
        return 0;  // UNIMARC says its set in 100 $a; ASCII reads the same either way
    const char now = static_cast<char>(m_fields.leader()[kCharacterCodingOffset]);
    switch (m_options.charset) {
    case CharsetSetting::Utf8: return now == kUtf8Coding ? 0 : kUtf8Coding;
    case CharsetSetting::Marc8: return now == ' ' ? 0 : ' ';
    case CharsetSetting::Gbk:
    case CharsetSetting::Gb18030: return 0;
    case CharsetSetting::Auto: break;
    }
    if (now == kUtf8Coding) {
        // Flagged UTF-8 but not valid UTF-8: only bytes that read whole as
        // MARC-8 undo the flag; UTF-8 with a few bad bytes stays UTF-8.
        if (IsValidUtf8(m_fields.bytes()))
            return 0;
        for (std::size_t i = 0; i < m_fields.fields().size(); ++i)
            if (m_codec.countInvalid(Charset::Marc8, m_fields.data(i)) > 0)
                return 0;
        return ' ';
    }
    const CharsetDecision bytes = DetectCharset(m_fields);
    if (bytes.charset == Charset::Utf8)
        return kUtf8Coding;
    if (bytes.charset == Charset::Marc8 && now != ' ')
        return ' ';
    return 0;
}

bool RecordRepairer::hasLineBreaksInData() const
{
    const unsigned char terminator = FieldTerminator(m_options.mode);
    for (std::size_t i = 0; i < m_fields.fields().size(); ++i) {
        const std::span<const unsigned char> data = m_fields.data(i);
        const auto end = std::find(data.begin(), data.end(), terminator);
        if (std::any_of(data.begin(), end, [](unsigned char b) { return b == '\t' || b == '\r' || b == '\n'; }))
            return true;
    }
    return false;
}

void RecordRepairer::repair(std::span<const unsigned char> bytes, std::uint32_t declaredLength, std::string& out,
                            RecordRepair& report)
{
    report = RecordRepair{};
    m_reader.read(bytes, declaredLength, {m_options.mode, true, true});
    if (!m_reader.leaderWhole()) {
        report.written = false;
        report.losses.push_back("the file ends inside the leader: left out");
        return;
    }
    m_fields.assemble(m_reader);
    const bool unimarc = IsUnimarcShaped(m_fields);
    const char coding = codingSchemeWanted(unimarc);
    const bool lineBreaks = hasLineBreaksInData();
    const std::span<const RecordProblem> structural = m_reader.problems();
    if (structural.empty() && m_options.mode == dmNormal && coding == 0 && !lineBreaks && !m_options.utf8) {
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return;
    }

    for (const RecordProblem& p : structural)
        report.repairs.push_back(std::string(p.code) + ": " + p.description);
    if (m_options.mode != dmNormal)
        report.repairs.push_back("delimiters written as the standard 0x1E and 0x1F");

    MarcReadOptions read;
    read.mode = m_options.mode;
    read.charset = m_options.charset;
    // A record flagged UTF-8 whose bytes are MARC-8 is decoded as MARC-8.
    if (coding == ' ' && m_options.charset == CharsetSetting::Auto)
        read.charset = CharsetSetting::Marc8;
    read.decode = m_options.utf8;
    read.flagUtf8 = m_options.utf8;
    read.forceUtf8Flag = m_options.utf8;
    // The structural problems are what is mended here, not losses: only what
    // the building itself could not keep is told as one.
    BuildMarcRecord(m_fields, declaredLength, bytes.size(), {}, read, m_codec, m_record);
    for (const std::string& problem : m_record.problems())
        report.losses.push_back(problem);
    if (m_options.utf8) {
        const Charset from = ChooseCharset(read.charset, m_fields).charset;
        if (from != Charset::Utf8 && !IsAsciiWithoutEscape(m_fields.bytes()))
            report.repairs.push_back("text converted from " + std::string(CharsetName(from)) + " to UTF-8");
    }

    const std::span<const unsigned char, kLeaderLength> leader = m_fields.leader();
    for (std::size_t i = 0; i < kLeaderLength; ++i)
        if (leader[i] < 0x20 || leader[i] >= 0x7F) {
            m_record.setLeaderByte(i, ' ');
            report.repairs.push_back("leader/" + std::to_string(i) + " (" + byteText(leader[i]) +
                                     ") is no character: set to blank");
        }
    if (leader[kIndicatorCountOffset] != '2' || leader[kSubfieldCodeLengthOffset] != '2') {
        m_record.setLeaderByte(kIndicatorCountOffset, '2');
        m_record.setLeaderByte(kSubfieldCodeLengthOffset, '2');
        report.repairs.push_back("leader/10-11 set to \"22\": two indicators and one-byte subfield codes");
    }
    const std::string_view entryMap(reinterpret_cast<const char*>(leader.data()) + kEntryMapOffset, kEntryMap.size());
    if (entryMap != kEntryMap && !(unimarc && entryMap == kUnimarcEntryMap)) {
        for (std::size_t i = 0; i < kEntryMap.size(); ++i)
            m_record.setLeaderByte(kEntryMapOffset + i, kEntryMap[i]);
        report.repairs.push_back("leader/20-23 set to \"4500\", the directory's layout");
    }
    if (coding != 0 && !m_options.utf8) {
        m_record.setLeaderByte(kCharacterCodingOffset, coding);
        report.repairs.push_back("leader/09 set to " + codingText(coding) + (coding == kUtf8Coding
                                                                                  ? ": the record is in UTF-8"
                                                                                  : ": the record is in MARC-8"));
    }
    if (const std::size_t replaced = m_record.replaceDataBytes(kLineBreaks, ' '); replaced > 0)
        report.repairs.push_back(std::to_string(replaced) + (replaced == 1 ? " tab, CR or LF" : " tabs, CRs or LFs") +
                                 " in data replaced by a blank");

    if (const std::size_t narrowed = m_record.narrowIndicators(' '); narrowed > 0)
        report.losses.push_back(std::to_string(narrowed) +
                                (narrowed == 1 ? " indicator of more than one byte" : " indicators of more than one byte") +
                                " written as a blank");

    m_problems.clear();
    const std::size_t start = out.size();
    report.written = WriteIso2709(m_record, out, m_problems);
    for (std::string& problem : m_problems)
        report.losses.push_back(std::move(problem));
    // '450 ' holds only in a record still UNIMARC-shaped once rebuilt (bytes
    // the reader could not place may have taken its 100 $a).
    if (report.written && out.compare(start + kEntryMapOffset, kUnimarcEntryMap.size(), kUnimarcEntryMap) == 0) {
        m_fields.assemble(reinterpret_cast<const unsigned char*>(out.data() + start), out.size() - start);
        if (!IsUnimarcShaped(m_fields)) {
            out.replace(start + kEntryMapOffset, kEntryMap.size(), kEntryMap);
            report.repairs.push_back("leader/20-23 set to \"4500\", the directory's layout");
        }
    }
    // A record whose bytes come out as they went in was not repaired.
    if (report.written && out.size() - start == bytes.size() &&
        std::memcmp(out.data() + start, bytes.data(), bytes.size()) == 0)
        report.repairs.clear();
    else if (report.repairs.empty())
        report.repairs.push_back("record length, base address and directory recomputed");
}

void RecordRepairer::appendMnemonic(std::span<const unsigned char> bytes, std::uint32_t declaredLength,
                                    DelimiterMode mode, std::string& out)
{
    m_reader.read(bytes, declaredLength, {mode, false, false});
    m_fields.assemble(m_reader);
    MarcReadOptions read;
    read.mode = mode;
    read.charset = m_options.charset;
    read.flagUtf8 = false;  // shown as it stands
    BuildMarcRecord(m_fields, declaredLength, bytes.size(), {}, read, m_codec, m_record);
    m_problems.clear();
    if (!m_mnemonic)
        m_mnemonic = MakeRecordWriter(RecordFormat::Mrk);
    (void)m_mnemonic->write(m_record, out, m_problems);
    // The blank line that parts records in a .mrk file is no line of the record.
    if (out.ends_with("\n\n"))
        out.pop_back();
}

namespace {

class RepairRun {
public:
    RepairRun(int inputFd, int outputFd, const RepairOptions& options, const WorkMonitor& monitor,
              const std::function<void(std::int64_t, std::uint64_t, const RecordRepair&)>& tell)
        : m_input(inputFd), m_output(outputFd), m_options(options), m_monitor(monitor), m_tell(tell),
          m_repairer(options)
    {
        struct stat info {};
        if (::fstat(inputFd, &info) == 0)
            m_total = static_cast<std::uint64_t>(info.st_size);
        m_out.reserve(kFlushSize + 128 * 1024);
    }

    RepairResult run()
    {
        m_monitor.report(0, m_total);
        RecordStream stream(m_input);
        FramedRecord framed;
        for (;;) {
            const RecordStream::Step step = stream.next(framed);
            if (step == RecordStream::Step::ReadError) {
                m_result.status = RepairResult::Status::ReadError;
                m_result.error = errno;
                return m_result;
            }
            if (step == RecordStream::Step::End) {
                // What follows the last record (junk, a cut leader) is left out too.
                if (m_options.last == std::numeric_limits<std::int64_t>::max() && m_recordsEnd < m_total)
                    dropped(m_recordsEnd, m_total - m_recordsEnd, false);
                break;
            }
            m_result.records = framed.number;
            if (framed.number > m_options.last)
                break;
            if (!progress(framed.offset))
                return m_result;
            m_recordsEnd = framed.offset + framed.bytes.size();
            if (framed.number < m_options.first)
                continue;
            if (framed.separatorBefore > 0 && framed.number > m_options.first)
                dropped(framed.offset - framed.separatorBefore, framed.separatorBefore, framed.separatorLineEnds);
            repairOne(framed);
            if (!flush(false))
                return m_result;
        }
        if (m_monitor.stopRequested()) {
            m_result.status = RepairResult::Status::Cancelled;
            return m_result;
        }
        if (flush(true))
            m_monitor.report(m_total, m_total);
        return m_result;
    }

private:
    void repairOne(const FramedRecord& framed)
    {
        const std::size_t start = m_out.size();
        m_repairer.repair(framed.bytes, framed.declaredLength, m_out, m_report);
        if (!m_report.repairs.empty())
            ++m_result.repaired;
        if (!m_report.losses.empty() || !m_report.written)
            ++m_result.partial;
        if (!m_report.repairs.empty() || !m_report.losses.empty())
            m_tell(framed.number, framed.offset, m_report);
        if (!m_options.dryRun)
            return;
        // The dry run shows the change instead of writing the record.
        m_fixed.assign(m_out, start);
        m_out.resize(start);
        if (m_report.repairs.empty() && m_report.written)
            return;
        m_before.clear();
        m_after.clear();
        m_repairer.appendMnemonic(framed.bytes, framed.declaredLength, m_options.mode, m_before);
        if (m_report.written) {
            const std::span<const unsigned char> fixed(reinterpret_cast<const unsigned char*>(m_fixed.data()),
                                                       m_fixed.size());
            m_repairer.appendMnemonic(fixed, static_cast<std::uint32_t>(fixed.size()), dmNormal, m_after);
        }
        m_out += "--- record " + std::to_string(framed.number) + " at byte " + std::to_string(framed.offset) + '\n';
        m_out += "+++ record " + std::to_string(framed.number) + (m_report.written ? " repaired\n" : " left out\n");
        AppendUnifiedDiff(m_before, m_after, m_out);
    }

    void dropped(std::uint64_t offset, std::uint64_t length, bool lineEnds)
    {
        m_result.dropped += length;
        if (m_options.dryRun && !lineEnds)
            m_out += "junk: " + std::to_string(length) + " bytes at byte " + std::to_string(offset) + " left out\n";
    }

    bool progress(std::uint64_t position)
    {
        if (position < m_reported + m_monitor.interval)
            return true;
        if (m_monitor.stopRequested()) {
            m_result.status = RepairResult::Status::Cancelled;
            return false;
        }
        m_reported = position;
        m_monitor.report(std::min(position, m_total), m_total);
        return true;
    }

    bool flush(bool all)
    {
        if (m_out.size() < kFlushSize && !all)
            return true;
        if (!m_out.empty() && !fileaccess::writeAll(m_output, m_out.data(), m_out.size())) {
            m_result.status = RepairResult::Status::WriteError;
            m_result.error = errno;
            return false;
        }
        m_out.clear();
        return true;
    }

    int m_input;
    int m_output;
    const RepairOptions& m_options;
    const WorkMonitor& m_monitor;
    const std::function<void(std::int64_t, std::uint64_t, const RecordRepair&)>& m_tell;
    RecordRepairer m_repairer;
    RecordRepair m_report;
    RepairResult m_result;
    std::uint64_t m_total = 0;
    std::uint64_t m_reported = 0;
    std::uint64_t m_recordsEnd = 0;  ///< where the last record framed ends
    std::string m_out, m_fixed, m_before, m_after;
};

}  // namespace

RepairResult RepairRecords(int inputFd, int outputFd, const RepairOptions& options, const WorkMonitor& monitor,
                           const std::function<void(std::int64_t, std::uint64_t, const RecordRepair&)>& tell)
{
    return RepairRun(inputFd, outputFd, options, monitor, tell).run();
}

}  // namespace veltrane
