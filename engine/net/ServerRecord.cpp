// SPDX-License-Identifier: Apache-2.0
#include "net/ServerRecord.h"

#include "formats/RecordFormats.h"
#include "formats/XmlReader.h"
#include "iso2709/Iso2709Reader.h"
#include "iso2709/MarcRecord.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

std::string tooLong(std::size_t bytes)
{
    return "the record is " + std::to_string(bytes) + " bytes, more than " + std::to_string(kRecordBufferSize) +
           ": skipped";
}

/// Reads standard ISO 2709 bytes that are all of the record: its problems and its set.
ServerRecordResult readRecordBytes(std::string bytes, TextCodec& codec)
{
    ServerRecordResult result;
    const std::span<const unsigned char> view(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (bytes.size() > kRecordBufferSize) {
        result.error = tooLong(bytes.size());
        return result;
    }
    if (bytes.size() < kLeaderLength) {
        result.error = "the record is " + std::to_string(bytes.size()) + " bytes, shorter than a leader: skipped";
        return result;
    }
    Iso2709Reader reader;
    const std::uint32_t declared = ParseDigits(view.data(), kRecordLengthDigits);
    reader.read(view, declared, {dmNormal, true, true});
    ServerRecord record;
    for (const RecordProblem& problem : reader.problems())
        record.problems.push_back(std::string(problem.code) + ": " + problem.description);
    RecordFields fields;
    fields.assemble(reader);
    record.charset = DetectCharset(fields);
    if (record.charset.charset != Charset::Marc8) {
        std::size_t invalid = 0;
        for (std::size_t i = 0; i < fields.fields().size(); ++i)
            invalid += codec.countInvalid(record.charset.charset, fields.data(i));
        if (invalid > 0)
            record.problems.push_back(std::to_string(invalid) + (invalid == 1 ? " byte is" : " bytes are") +
                                      " not valid in " + std::string(CharsetName(record.charset.charset)));
    }
    record.iso2709 = std::move(bytes);
    result.record = std::move(record);
    return result;
}

}  // namespace

ServerRecordResult ReadIso2709Reply(std::span<const unsigned char> bytes, TextCodec& codec)
{
    return readRecordBytes(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), codec);
}

ServerRecordResult ReadMarcXmlReply(std::string_view xml, TextCodec& codec)
{
    ServerRecordResult result;
    std::unique_ptr<RecordReader> reader = MakeXmlReader(xml);
    MarcRecord record;
    switch (reader->next(record)) {
    case RecordReader::Step::Record:
        break;
    case RecordReader::Step::End:
        result.error = "the server sent no MARCXML record";
        return result;
    case RecordReader::Step::ReadError:
    case RecordReader::Step::FormatError:
        result.error = "the record's XML cannot be read: " + reader->message();
        return result;
    }
    std::string bytes;
    std::vector<std::string> problems;
    if (!WriteIso2709(record, bytes, problems)) {
        result.error = "the record would be more than " + std::to_string(kRecordBufferSize) + " bytes: skipped";
        return result;
    }
    result = readRecordBytes(std::move(bytes), codec);
    if (result.record) {
        std::vector<std::string> told = record.problems();
        told.insert(told.end(), problems.begin(), problems.end());
        told.insert(told.end(), result.record->problems.begin(), result.record->problems.end());
        result.record->problems = std::move(told);
    }
    return result;
}

}  // namespace veltrane
