#pragma once

#include <cstddef>
#include <string>

#include "UserPrompt.h"

namespace veltrane {

/// Bytes the search pattern buffer holds; a search text may have one fewer.
inline constexpr std::size_t kPatternBufferSize = 256;
inline constexpr std::size_t kMaxSearchTextLength = kPatternBufferSize - 1;

/// The text of the last find, shared by every document window (zero-terminated,
/// GBK bytes).
extern char SearchText[kPatternBufferSize];
/// Whether scans with a pattern distinguish letter case.
extern bool SearchCaseSensitive;

/// Path of the scratch display file, relative to the current directory unless
/// absolute. The viewer keeps "tempdisp.mrc"; the command-line tool sets a
/// private file of its own.
extern std::string ScratchDisplayFile;

/// Record files open in the process (the viewer's document windows). The
/// scratch display file is never truncated when it is one of them.
void RegisterOpenRecordFile(const char* path);
void UnregisterOpenRecordFile(const char* path);
/// Whether path names the same file as an open record file (by identity, so
/// through any path or link).
[[nodiscard]] bool IsOpenRecordFile(const char* path);

/// Renders into the scratch display file the first record from `from` to `to`
/// (1-based, inclusive) that holds `pattern`, or record `from` when the pattern
/// is empty. Returns the record's number, or -1 when nothing was rendered (not
/// found, unreadable record, or a file that cannot be opened; the last is told
/// to the user with "Invalid drive or directory", "Display File open error!" or
/// "Index file open error!").
[[nodiscard]] int ScanRecords(UserPrompt& prompt, const char* fileName, const char* indexFileName,
                              int from, int to, const char* pattern);

}  // namespace veltrane
