// SPDX-License-Identifier: Apache-2.0
#include "display/RecordScan.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "check/RecordCheck.h"
#include "check/RecordChecker.h"
#include "display/DisplayText.h"
#include "display/RecordTextWriter.h"
#include "files/RecordFile.h"

namespace veltrane {

using namespace fileaccess;

void ScratchDisplay::registerRecordFile(const char* path)
{
    if (const std::optional<FileIdentity> identity = identityOf(path))
        m_recordFiles.push_back({path, *identity});
}

void ScratchDisplay::unregisterRecordFile(const char* path)
{
    auto it = std::find_if(m_recordFiles.begin(), m_recordFiles.end(),
                           [path](const OpenRecordFile& f) { return f.path == path; });
    if (it == m_recordFiles.end()) {
        const std::optional<FileIdentity> identity = identityOf(path);
        it = std::find_if(m_recordFiles.begin(), m_recordFiles.end(),
                          [&identity](const OpenRecordFile& f) { return identity && f.identity == *identity; });
    }
    if (it != m_recordFiles.end())
        m_recordFiles.erase(it);
}

bool ScratchDisplay::isOpenRecordFile(const FileIdentity& identity) const
{
    return std::any_of(m_recordFiles.begin(), m_recordFiles.end(),
                       [&identity](const OpenRecordFile& f) { return f.identity == identity; });
}

bool ScratchDisplay::isOpenRecordFile(const char* path) const
{
    const std::optional<FileIdentity> identity = identityOf(path);
    return identity && isOpenRecordFile(*identity);
}

UniqueFd ScratchDisplay::open(int recordFd, const char* indexFileName) const
{
    UniqueFd fd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!fd)
        return fd;
    const std::optional<FileIdentity> scratch = identityOf(fd.get());
    if (!scratch || *scratch == identityOf(recordFd) || *scratch == identityOf(indexFileName)
        || isOpenRecordFile(*scratch))
        fd.reset();
    return fd;
}

bool ScratchDisplay::write(UniqueFd& fd, std::string_view text) const
{
    // Half a display would pass for the whole record: a failed write leaves
    // the scratch file empty, as after any other failure.
    const bool written = writeAll(fd.get(), text.data(), text.size())
                         && ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
    if (!written)
        ignoreResult(::ftruncate(fd.get(), 0));
    const bool closed = fd.reset();
    if (written && !closed)
        ignoreResult(::truncate(m_path.c_str(), 0));
    return written && closed;
}

namespace {

ScanResult fileError(std::string_view message)
{
    ScanResult result;
    result.outcome = ScanOutcome::FileError;
    result.message = message;
    return result;
}

ScanOutcome scanOutcome(Outcome outcome)
{
    return outcome == Outcome::Unreadable ? ScanOutcome::Unreadable : ScanOutcome::NotFound;
}

/// The structural problems and content findings of a record (its bytes as
/// the file holds them, its number and where it starts), the rules it was
/// checked by and its format, from one check of it.
void checkShownRecord(std::span<const unsigned char> bytes, std::int64_t number, std::uint64_t offset,
                      const ShowTextRequest& show, DelimiterMode delimiterMode, Charset charset,
                      ShownRecordText& shown)
{
    shown.leader.assign(reinterpret_cast<const char*>(bytes.data()), std::min(bytes.size(), kLeaderLength));
    // A record of its leader alone is no record to check.
    if (bytes.size() <= kLeaderLength)
        return;
    FramedRecord framed;
    framed.number = number;
    framed.offset = offset;
    framed.declaredLength = static_cast<std::uint32_t>(bytes.size());
    framed.bytes = bytes;
    CheckOptions options;
    options.mode = delimiterMode;
    options.charset = show.charset;
    options.rules = show.rules;
    RecordFields scratch;
    check::CheckScratch checkScratch;
    check::ControlNumber controlNumber;
    check::CheckOne(framed, options, scratch, show.codec, shown.problems, checkScratch, controlNumber, false);
    // The checker's reader still holds the record: the choice of rules reads it there.
    if (!checkScratch.reader.leaderWhole())
        return;
    shown.format = ChooseRuleSet(RuleSetting::Auto, checkScratch.reader, charset);
    if (show.rules != RuleSetting::None)
        shown.rules = ChooseRuleSet(show.rules, checkScratch.reader, charset);
}

/// The display bytes into `text` and what is shown of the record beside them,
/// from one layout of its fields.
ShownRecordText writeShownRecord(RecordTextWriter& writer, const RecordFields& fields,
                                 std::span<const unsigned char> bytes, std::int64_t number, std::uint64_t offset,
                                 const ShowTextRequest& show, DelimiterMode delimiterMode, DisplayText& text)
{
    ShownRecordText shown;
    const RecordTextFacts facts = writer.writeRecord(fields, text, shown.text);
    shown.decision = facts.decision;
    shown.told = TellCharset(show.charset, facts.decision, fields);
    shown.invalidBytes = facts.invalidBytes;
    checkShownRecord(bytes, number, offset, show, delimiterMode, facts.decision.charset, shown);
    return shown;
}

}  // namespace

int ScanRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const ScanSettings& settings,
                const char* fileName, const char* indexFileName, int from, int to, const char* pattern)
{
    const ScanResult result = ScanRecordText(scratch, settings, fileName, indexFileName, from, to, pattern);
    if (result.outcome == ScanOutcome::FileError)
        prompt.showMessage(std::string(result.message));
    return result.found() ? result.record : -1;
}

ScanResult ScanRecordText(const ScratchDisplay& scratch, const ScanSettings& settings, const char* fileName,
                          const char* indexFileName, int from, int to, const char* pattern,
                          const ShowTextRequest* show)
{
    RecordFile file;
    if (!file.openRecords(fileName))
        return fileError(kInvalidDriveMessage);
    UniqueFd display = scratch.open(file.recordsFd(), indexFileName);
    if (!display)
        return fileError(kDisplayFileMessage);
    if (!file.openIndex(indexFileName)) {
        ignoreResult(::ftruncate(display.get(), 0));
        return fileError(kIndexFileMessage);
    }

    ScanResult result;
    std::int64_t number = from;
    if (pattern != nullptr && *pattern != '\0') {
        const SearchQuery query{pattern, settings.caseSensitive, settings.delimiterMode, {}, {}, {}};
        const FindResult found = file.find(from, to, query);
        number = found.outcome == Outcome::Done ? found.record : 0;
        result.outcome = scanOutcome(found.outcome);
    } else if (from > to) {
        number = 0;
    }
    const Outcome read = number >= 1 ? file.read(number) : Outcome::NotFound;
    if (read != Outcome::Done) {
        // Nothing rendered: the scratch file holds no record.
        ignoreResult(::ftruncate(display.get(), 0));
        if (number >= 1)
            result.outcome = scanOutcome(read);
        return result;
    }
    TextCodec* codec = show != nullptr ? &show->codec : nullptr;
    std::optional<TextCodec> ownCodec;
    if (codec == nullptr)
        codec = &ownCodec.emplace();
    RecordTextWriter writer(*codec, {show != nullptr ? show->charset : CharsetSetting::Auto, settings.delimiterMode,
                                     GbkTextLayout::TextControl});
    auto text = std::make_unique<DisplayText>();
    if (show == nullptr) {
        writer.writeDisplayBytes(file.fields(), *text);
    } else {
        result.shown = writeShownRecord(writer, file.fields(), file.recordBytes(), number, file.recordOffset(), *show,
                                        settings.delimiterMode, *text);
    }
    if (!scratch.write(display, text->text()))
        return fileError(kDisplayFileMessage);
    result.outcome = ScanOutcome::Found;
    result.record = static_cast<int>(number);
    result.displayText = text->text();
    return result;
}

ShownRecordText ShowRecordText(std::span<const unsigned char> record, DelimiterMode delimiterMode,
                               const ShowTextRequest& show)
{
    if (record.size() < kLeaderLength)
        return {};
    RecordFields fields;
    fields.assemble(record.data(), record.size());
    RecordTextWriter writer(show.codec, {show.charset, delimiterMode, GbkTextLayout::TextControl});
    // Display bytes have room for the largest record: kept off the stack.
    auto text = std::make_unique<DisplayText>();
    return writeShownRecord(writer, fields, record, 1, 0, show, delimiterMode, *text);
}

}  // namespace veltrane
