// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Output.h"
#include "common/UserPrompt.h"
#include "files/FileAccess.h"

namespace veltrane::cli {

/// What to do with an extraction target that exists already.
enum class ExistingTarget { Refuse, Append, Overwrite };

/// Answers the engine without a window: its messages go to standard error and
/// the overwrite question is answered by the command-line options.
class TerminalPrompt final : public UserPrompt {
public:
    explicit TerminalPrompt(ExistingTarget existingTarget) : m_existingTarget(existingTarget) {}

    void showMessage(std::string_view text) override;
    OverwriteChoice askOverwrite(std::string_view) override;

private:
    ExistingTarget m_existingTarget;
};

/// One run of a command over one record file, for the commands that read
/// records by number or frame them: the file opened (and indexed when the
/// command asks for it), record numbers read against the count, and the
/// output written and its failure told at the end.
class RecordFileRun {
public:
    explicit RecordFileRun(std::string file, ExistingTarget existingTarget = ExistingTarget::Refuse);

    /// Opens the file, and indexes it when needsIndex. kExitSuccess, or the
    /// status of a failure already told.
    int open(bool needsIndex);

    [[nodiscard]] const std::string& file() const { return m_file; }
    [[nodiscard]] const char* fileName() const { return m_file.c_str(); }
    [[nodiscard]] const char* indexFileName() const { return m_indexFileName.c_str(); }
    /// The number of records the index holds (after open with an index).
    [[nodiscard]] int count() const { return m_count; }
    [[nodiscard]] int recordFd() const { return m_recordFd.get(); }
    [[nodiscard]] const struct stat& recordFileInfo() const { return m_recordFile; }
    [[nodiscard]] StandardOutput& output() { return m_output; }
    [[nodiscard]] TerminalPrompt& prompt() { return m_prompt; }

    /// Reads a record number within [1, maximum]; tells why not otherwise.
    std::optional<int> recordNumber(std::string_view text, int maximum);
    /// Reads records first to last (last defaults to first) against the
    /// count; tells why not otherwise.
    std::optional<std::pair<int, int>> recordRange(std::string_view first, const std::optional<std::string>& last);
    /// Tells that the file holds no record, when so.
    bool refuseEmptyFile();
    /// The number of records, framed as the index frames them; nothing (told)
    /// when the file cannot be read.
    std::optional<std::int64_t> countRecords();
    /// Tells that the file could not be read through.
    void tellUnreadable();

    /// Writes out the output; status, or kExitFailure when the output failed.
    int finishOutput(int status);

private:
    std::string m_file;
    TerminalPrompt m_prompt;
    StandardOutput m_output;
    struct stat m_recordFile {};
    fileaccess::UniqueFd m_recordFd;
    std::string m_indexFileName;
    int m_count = 0;
};

/// Runs a command over record files with the clean-up of its temporary files
/// in place, also when a signal ends the process.
int runWithTemporaryFiles(const std::function<int()>& command);

}  // namespace veltrane::cli
