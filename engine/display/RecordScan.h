// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "files/FileAccess.h"
#include "search/RecordSearch.h"
#include "common/UserPrompt.h"

namespace veltrane {

/// The scratch display file that carries a record's display text from a scan
/// to whoever shows it, with the record files it must never overwrite: the
/// viewer keeps one for all its windows ("tempdisp.mrc", relative to the
/// current directory unless absolute) and registers every open record file.
class ScratchDisplay {
public:
    explicit ScratchDisplay(std::string path = "tempdisp.mrc") : m_path(std::move(path)) {}

    [[nodiscard]] const std::string& path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }

    /// Record files open in the viewer (its document windows).
    void registerRecordFile(const char* path);
    void unregisterRecordFile(const char* path);
    /// Whether path names the same file as a registered record file (by
    /// identity, so through any path or link).
    [[nodiscard]] bool isOpenRecordFile(const char* path) const;
    [[nodiscard]] bool isOpenRecordFile(const fileaccess::FileIdentity& identity) const;

    /// Opens the scratch file for writing, unless it is a file the user cares
    /// about: an open record file (through any path or link) or one of the two
    /// files of this scan. It is not emptied here: the new text is written over
    /// the old one and the file cut to its length, because emptying a file and
    /// then writing it makes some file systems flush it at every display.
    [[nodiscard]] fileaccess::UniqueFd open(int recordFd, const char* indexFileName) const;

    /// Writes text as the scratch file's whole content through fd (which it
    /// closes); false, with the file left empty, when that fails.
    [[nodiscard]] bool write(fileaccess::UniqueFd& fd, std::string_view text) const;

private:
    struct OpenRecordFile {
        std::string path;
        fileaccess::FileIdentity identity;
    };
    std::string m_path;
    std::vector<OpenRecordFile> m_recordFiles;
};

/// What the scans of one viewer share: the delimiter variant and how the last
/// find compares letters.
struct ScanSettings {
    DelimiterMode delimiterMode = dmNormal;
    bool caseSensitive = false;
};

/// Renders into the scratch display file the first record from `from` to `to`
/// (1-based, inclusive) that holds `pattern`, or record `from` when the pattern
/// is empty. Returns the record's number, or -1 when nothing was rendered (not
/// found, unreadable record, or a file that cannot be opened; the last is told
/// to the user with "Invalid drive or directory", "Display File open error!" or
/// "Index file open error!"). After -1 the scratch file holds no record.
[[nodiscard]] int ScanRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const ScanSettings& settings,
                              const char* fileName, const char* indexFileName, int from, int to,
                              const char* pattern);

/// What a scan rendered: the record's number as ScanRecords returns it, and
/// the display text it wrote to the scratch file (the same bytes; empty after
/// -1), so that whoever shows it need not read the file back.
struct ScanDisplay {
    int record = -1;
    std::string displayText;
};

/// ScanRecords, giving back the display text along with the number.
[[nodiscard]] ScanDisplay ScanRecordDisplay(UserPrompt& prompt, const ScratchDisplay& scratch,
                                            const ScanSettings& settings, const char* fileName,
                                            const char* indexFileName, int from, int to, const char* pattern);

}  // namespace veltrane
