// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "check/CheckTypes.h"
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

/// How a scan ended.
enum class ScanOutcome {
    Found,       ///< a record was rendered into the scratch file
    NotFound,    ///< the range is empty, or no record in it holds the pattern
    Unreadable,  ///< the record to show, or one the search met, is short or cut off
    FileError,   ///< a file could not be opened or written: see ScanResult::message
};

/// What the viewer shows of a record beyond its display bytes.
struct ShownRecordText {
    /// The text to show (UTF-8): a GBK record's display bytes as a text
    /// control shows them, any other set's fields decoded and wrapped at 77
    /// display columns.
    std::string text;
    CharsetDecision decision;
    ToldCharset told;  ///< the set as a person is told it
    std::size_t invalidBytes = 0;  ///< bytes not valid in the record's set
    /// The record's structural problems, then its content findings under
    /// the rules asked for (none under RuleSetting::None).
    std::vector<CheckProblem> problems;
    /// The rules the record's content was checked by (None: not checked).
    RuleSet rules = RuleSet::None;
    /// The format the record's shape and set give it (as the automatic rules
    /// choose), whatever rules were asked for; None for a record whose leader
    /// is cut short. Tells whose names its fields have.
    RuleSet format = RuleSet::None;
    /// The record's leader as the file holds it (24 bytes, or fewer when cut short).
    std::string leader;
};

/// What a scan did. After anything but Found the scratch file holds no
/// record (or was not opened at all).
struct ScanResult {
    ScanOutcome outcome = ScanOutcome::NotFound;
    /// FileError: the text to tell, "Invalid drive or directory", "Display
    /// File open error!" or "Index file open error!"; empty otherwise.
    std::string_view message;
    int record = -1;          ///< Found: the record's number
    std::string displayText;  ///< Found: the bytes written to the scratch file
    /// Found, when asked for: what to show of the record, made from the same
    /// read of it.
    std::optional<ShownRecordText> shown;

    [[nodiscard]] bool found() const { return outcome == ScanOutcome::Found; }
};

/// How a scan also makes the text to show: under a character-set setting,
/// with the caller's codec (one per thread), and the content rules to check
/// the record by besides its structure.
struct ShowTextRequest {
    CharsetSetting charset = CharsetSetting::Auto;
    TextCodec& codec;
    RuleSetting rules = RuleSetting::None;
};

/// Renders into the scratch display file the first record from `from` to `to`
/// (1-based, inclusive) that holds `pattern`, or record `from` when the
/// pattern is empty, and hands back what it wrote; with `show`, also the text
/// to show, the set, the invalid bytes and the structural problems of that
/// record, from the one read of it. Tells nobody anything: a FileError's
/// message is the caller's to tell.
[[nodiscard]] ScanResult ScanRecordText(const ScratchDisplay& scratch, const ScanSettings& settings,
                                        const char* fileName, const char* indexFileName, int from, int to,
                                        const char* pattern, const ShowTextRequest* show = nullptr);

/// What the viewer shows of one record held in memory (all of `record` is the
/// record, as a file holds it): the same text, set and structural problems a
/// scan gives it in a record file, under the caller's setting and codec.
/// Nothing but an empty text for fewer bytes than a leader.
[[nodiscard]] ShownRecordText ShowRecordText(std::span<const unsigned char> record, DelimiterMode delimiterMode,
                                             const ShowTextRequest& show);

/// ScanRecordText told through prompt: the record's number, or -1 when
/// nothing was rendered (not found, unreadable record, or a file that cannot
/// be opened; the last is told with its message). After -1 the scratch file
/// holds no record.
[[nodiscard]] int ScanRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const ScanSettings& settings,
                              const char* fileName, const char* indexFileName, int from, int to,
                              const char* pattern);

}  // namespace veltrane
