// SPDX-License-Identifier: Apache-2.0
#include "formats/RecordConvert.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "files/FileAccess.h"
#include "files/IndexFile.h"
#include "formats/RecordRepair.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordStream.h"

namespace veltrane {

namespace {

// Output leaves in blocks of about this size.
constexpr std::size_t kFlushSize = 1024 * 1024;

class ConvertRun {
public:
    ConvertRun(int inputFd, int outputFd, const ConvertOptions& options, const WorkMonitor& monitor,
               const std::function<void(const ConvertWarning&)>& warn)
        : m_input(inputFd), m_output(outputFd), m_options(options), m_monitor(monitor), m_warn(warn),
          m_read(iso2709ReadOptions())
    {
        struct stat info {};
        if (::fstat(inputFd, &info) == 0)
            m_total = static_cast<std::uint64_t>(info.st_size);
        m_out.reserve(kFlushSize + 128 * 1024);
        if (options.repair) {
            m_repairOptions.mode = options.mode;
            m_repairOptions.charset = options.charset;
            m_repairer = std::make_unique<RecordRepairer>(m_repairOptions);
        }
    }

    ConvertResult run()
    {
        m_writer = MakeRecordWriter(m_options.to, {m_options.charset, m_options.mode, GbkTextLayout::Columns});
        if (m_writer)
            m_writer->begin(m_out);
        m_monitor.report(0, m_total);
        if (m_chosen)
            readChosen();
        else if (m_options.from == RecordFormat::Iso2709)
            readIso2709();
        else
            readText();
        // A stop asked for after the last check still leaves no finished target.
        if (m_result.status == ConvertResult::Status::Done && m_monitor.stopRequested())
            m_result.status = ConvertResult::Status::Cancelled;
        if (m_result.status == ConvertResult::Status::Done) {
            if (m_writer)
                m_writer->end(m_out);
            flush(true);
            m_monitor.report(m_total, m_total);
        }
        return m_result;
    }

private:
    bool inRange(std::int64_t number) const { return number >= m_options.first && number <= m_options.last; }

    /// True to go on; checks for cancellation and reports progress now and then.
    bool progress(std::uint64_t position)
    {
        if (position < m_reported + m_monitor.interval)
            return true;
        if (m_monitor.stopRequested()) {
            m_result.status = ConvertResult::Status::Cancelled;
            return false;
        }
        m_reported = position;
        m_monitor.report(std::min(position, m_total), m_total);
        return true;
    }

    void readIso2709()
    {
        RecordStream stream(m_input);
        FramedRecord framed;
        for (;;) {
            const RecordStream::Step step = stream.next(framed);
            if (step == RecordStream::Step::ReadError) {
                m_result.status = ConvertResult::Status::ReadError;
                m_result.error = errno;
                return;
            }
            if (step == RecordStream::Step::End)
                return;
            m_result.records = framed.number;
            if (framed.number > m_options.last)
                return;
            if (!progress(framed.offset))
                return;
            if (!inRange(framed.number))
                continue;
            if (!convertIso2709(framed.number, framed.bytes, framed.declaredLength))
                return;
        }
    }

    MarcReadOptions iso2709ReadOptions() const
    {
        MarcReadOptions read;
        read.mode = m_options.mode;
        read.charset = m_options.charset;
        read.decode = m_options.to != RecordFormat::Iso2709 || m_options.utf8;
        read.forceUtf8Flag = m_options.to == RecordFormat::Iso2709 && m_options.utf8;
        return read;
    }

    /// Converts one ISO 2709 record; false when the output failed.
    bool convertIso2709(std::int64_t number, std::span<const unsigned char> bytes, std::uint32_t declaredLength)
    {
        m_repairLosses = false;
        if (m_repairer) {
            m_repaired.clear();
            m_repairer->repair(bytes, declaredLength, m_repaired, m_repairReport);
            for (const std::string& loss : m_repairReport.losses)
                m_warn({number, loss, 0});
            m_repairLosses = !m_repairReport.losses.empty() || !m_repairReport.written;
            if (!m_repairReport.written) {
                ++m_result.partial;
                return true;
            }
            if (m_options.to == RecordFormat::Iso2709 && !m_options.utf8) {
                // The repaired record is already standard ISO 2709.
                m_out += m_repaired;
                ++m_result.converted;
                if (m_repairLosses)
                    ++m_result.partial;
                return flush(false);
            }
            bytes = {reinterpret_cast<const unsigned char*>(m_repaired.data()), m_repaired.size()};
            declaredLength = static_cast<std::uint32_t>(m_repaired.size());
        }
        // Read as check reads it: what check reports is told here too.
        m_reader.read(bytes, declaredLength, {m_options.mode, true, true});
        m_fields.assemble(m_reader);
        BuildMarcRecord(m_fields, declaredLength, bytes.size(), m_reader.problems(), m_read, m_codec, m_record);
        m_problems.clear();
        if (m_writer->writeFields(m_fields, m_out))
            finishRecord(number, true);
        else
            emit(number);
        return flush(false);
    }

    void readChosen()
    {
        IndexReader index(m_indexFd);
        std::vector<unsigned char> bytes;
        const std::size_t total = m_numbers.size();
        for (std::size_t i = 0; i < total; ++i) {
            if (i % kChosenCheckRecords == 0) {
                if (m_monitor.stopRequested()) {
                    m_result.status = ConvertResult::Status::Cancelled;
                    return;
                }
                m_monitor.report(i, total);
            }
            const std::int64_t number = m_numbers[i];
            const std::optional<std::uint64_t> offset = index.entry(number);
            unsigned char leader[kLeaderLength];
            const ssize_t got = offset ? fileaccess::readAt(m_input, leader, kLeaderLength, static_cast<off_t>(*offset)) : -1;
            const std::uint32_t length = got == static_cast<ssize_t>(kLeaderLength) ? ParseDigits(leader, 5) : 0;
            if (length <= kLeaderLength) {
                m_result.status = ConvertResult::Status::ReadError;
                m_result.error = got < 0 && offset ? errno : EINVAL;
                return;
            }
            bytes.resize(length);
            const ssize_t read = fileaccess::readAt(m_input, bytes.data(), length, static_cast<off_t>(*offset));
            if (read < 0) {
                m_result.status = ConvertResult::Status::ReadError;
                m_result.error = errno;
                return;
            }
            ++m_result.records;
            if (!convertIso2709(number, {bytes.data(), static_cast<std::size_t>(read)}, length))
                return;
        }
        m_total = total;  // the report at the end says all of them
    }

    void readText()
    {
        std::unique_ptr<RecordReader> reader = MakeRecordReader(m_options.from, m_input);
        if (!reader) {
            m_result.status = ConvertResult::Status::FormatError;
            m_result.message = "cannot read " + std::string(RecordFormatName(m_options.from));
            return;
        }
        std::int64_t number = 0;
        for (;;) {
            const RecordReader::Step step = reader->next(m_record);
            if (step == RecordReader::Step::ReadError) {
                m_result.status = ConvertResult::Status::ReadError;
                m_result.error = errno;
                return;
            }
            if (step == RecordReader::Step::FormatError) {
                m_result.status = ConvertResult::Status::FormatError;
                m_result.message = reader->message();
                return;
            }
            if (step == RecordReader::Step::End)
                return;
            m_result.records = ++number;
            if (number > m_options.last)
                return;
            if (!progress(reader->position()))
                return;
            if (!inRange(number))
                continue;
            m_repairLosses = false;
            emit(number);
            if (!flush(false))
                return;
        }
    }

    void emit(std::int64_t number)
    {
        m_problems.clear();
        m_writer->recordNumber(number);
        const bool written = m_writer->write(m_record, m_out, m_problems);
        finishRecord(number, written);
    }

    /// Tells the record's problems (the reader's, then the writer's).
    void finishRecord(std::int64_t number, bool written)
    {
        bool partial = !written || m_repairLosses;
        for (const std::string& problem : m_record.problems()) {
            m_warn({number, problem, ReplacementCount(problem)});
            partial = true;
        }
        for (const std::string& problem : m_problems) {
            m_warn({number, problem, ReplacementCount(problem)});
            partial = true;
        }
        if (written)
            ++m_result.converted;
        if (partial)
            ++m_result.partial;
    }

    bool flush(bool all)
    {
        if (m_out.size() < kFlushSize && !all)
            return true;
        if (!m_out.empty() && !fileaccess::writeAll(m_output, m_out.data(), m_out.size())) {
            m_result.status = ConvertResult::Status::WriteError;
            m_result.error = errno;
            return false;
        }
        m_out.clear();
        return true;
    }

public:
    /// Converts the records given by number instead, found through the index.
    void choose(int indexFd, std::span<const std::int64_t> numbers)
    {
        m_chosen = true;
        m_indexFd = indexFd;
        m_numbers = numbers;
    }

private:
    // Chosen records between two looks at the monitor.
    static constexpr std::size_t kChosenCheckRecords = 256;

    int m_input;
    int m_output;
    bool m_chosen = false;
    int m_indexFd = -1;
    std::span<const std::int64_t> m_numbers;
    const ConvertOptions& m_options;
    const WorkMonitor& m_monitor;
    const std::function<void(const ConvertWarning&)>& m_warn;
    MarcReadOptions m_read;
    std::uint64_t m_total = 0;
    std::uint64_t m_reported = 0;
    ConvertResult m_result;
    std::unique_ptr<RecordWriter> m_writer;
    TextCodec m_codec;
    Iso2709Reader m_reader;
    RecordFields m_fields;
    MarcRecord m_record;
    std::vector<std::string> m_problems;
    std::string m_out;
    RepairOptions m_repairOptions;
    std::unique_ptr<RecordRepairer> m_repairer;  ///< only with options.repair
    RecordRepair m_repairReport;
    std::string m_repaired;
    bool m_repairLosses = false;  ///< the record being converted lost bytes in its repair
};

}  // namespace

ConvertResult ConvertRecords(int inputFd, int outputFd, const ConvertOptions& options, const WorkMonitor& monitor,
                             const std::function<void(const ConvertWarning&)>& warn)
{
    return ConvertRun(inputFd, outputFd, options, monitor, warn).run();
}

ConvertResult ConvertChosenRecords(int inputFd, int indexFd, std::span<const std::int64_t> numbers, int outputFd,
                                   const ConvertOptions& options, const WorkMonitor& monitor,
                                   const std::function<void(const ConvertWarning&)>& warn)
{
    ConvertRun run(inputFd, outputFd, options, monitor, warn);
    run.choose(indexFd, numbers);
    return run.run();
}

}  // namespace veltrane
