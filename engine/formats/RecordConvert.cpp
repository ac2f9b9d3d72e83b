// SPDX-License-Identifier: Apache-2.0
#include "formats/RecordConvert.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "files/FileAccess.h"
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
        : m_input(inputFd), m_output(outputFd), m_options(options), m_monitor(monitor), m_warn(warn)
    {
        struct stat info {};
        if (::fstat(inputFd, &info) == 0)
            m_total = static_cast<std::uint64_t>(info.st_size);
        m_out.reserve(kFlushSize + 128 * 1024);
    }

    ConvertResult run()
    {
        m_writer = MakeRecordWriter(m_options.to, {m_options.charset, m_options.mode, GbkTextLayout::Columns});
        if (m_writer)
            m_writer->begin(m_out);
        m_monitor.report(0, m_total);
        if (m_options.from == RecordFormat::Iso2709)
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
        MarcReadOptions read;
        read.mode = m_options.mode;
        read.charset = m_options.charset;
        read.decode = m_options.to != RecordFormat::Iso2709 || m_options.utf8;
        read.forceUtf8Flag = m_options.to == RecordFormat::Iso2709 && m_options.utf8;
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
            // Read as check reads it: what check reports is told here too.
            m_reader.read(framed.bytes, framed.declaredLength, {m_options.mode, true, true});
            m_fields.assemble(m_reader);
            BuildMarcRecord(m_fields, framed.declaredLength, framed.bytes.size(), m_reader.problems(), read, m_codec,
                            m_record);
            m_problems.clear();
            if (m_writer->writeFields(m_fields, m_out))
                finishRecord(framed.number, true);
            else
                emit(framed.number);
            if (!flush(false))
                return;
        }
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
        bool partial = !written;
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

    int m_input;
    int m_output;
    const ConvertOptions& m_options;
    const WorkMonitor& m_monitor;
    const std::function<void(const ConvertWarning&)>& m_warn;
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
};

}  // namespace

ConvertResult ConvertRecords(int inputFd, int outputFd, const ConvertOptions& options, const WorkMonitor& monitor,
                             const std::function<void(const ConvertWarning&)>& warn)
{
    return ConvertRun(inputFd, outputFd, options, monitor, warn).run();
}

}  // namespace veltrane
