// SPDX-License-Identifier: Apache-2.0
#include "display/RecordScan.h"

#include <algorithm>
#include <optional>

#include "display/DisplayText.h"
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

int ScanRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const ScanSettings& settings,
                const char* fileName, const char* indexFileName, int from, int to, const char* pattern)
{
    return ScanRecordDisplay(prompt, scratch, settings, fileName, indexFileName, from, to, pattern).record;
}

ScanDisplay ScanRecordDisplay(UserPrompt& prompt, const ScratchDisplay& scratch, const ScanSettings& settings,
                              const char* fileName, const char* indexFileName, int from, int to, const char* pattern)
{
    RecordFile file;
    if (!file.openRecords(fileName)) {
        prompt.showMessage(kInvalidDriveMessage);
        return {};
    }
    UniqueFd display = scratch.open(file.recordsFd(), indexFileName);
    if (!display) {
        prompt.showMessage(kDisplayFileMessage);
        return {};
    }
    if (!file.openIndex(indexFileName)) {
        ignoreResult(::ftruncate(display.get(), 0));
        prompt.showMessage(kIndexFileMessage);
        return {};
    }

    std::int64_t number = from;
    if (pattern != nullptr && *pattern != '\0') {
        const SearchQuery query{pattern, settings.caseSensitive, settings.delimiterMode, {}, {}, {}};
        const FindResult found = file.find(from, to, query);
        number = found.outcome == Outcome::Done ? found.record : 0;
    } else if (from > to) {
        number = 0;
    }
    auto text = std::make_unique<DisplayText>();
    if (number < 1 || file.render(number, settings.delimiterMode, *text) != Outcome::Done) {
        // Nothing rendered: the scratch file holds no record.
        ignoreResult(::ftruncate(display.get(), 0));
        return {};
    }
    if (!scratch.write(display, text->text())) {
        prompt.showMessage(kDisplayFileMessage);
        return {};
    }
    return {static_cast<int>(number), std::string(text->text())};
}

}  // namespace veltrane
