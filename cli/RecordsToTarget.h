// SPDX-License-Identifier: Apache-2.0
#pragma once

// What convert and fix share: the options both take and the run that reads
// the records of FILE and writes them on standard output or into TARGET
// through the engine's target-file transaction.

#include <optional>
#include <string>
#include <string_view>

#include "CommandSupport.h"
#include "TargetOutput.h"
#include "files/FileAccess.h"

namespace veltrane::cli {

/// The command line convert and fix share, besides their own options.
struct RecordsToTargetArguments {
    bool overwrite = false;
    bool help = false;
    std::string file;
    std::string target;  ///< empty: standard output
};

/// Reads an option convert and fix both take (--help, --mode, --charset,
/// -o, --overwrite, --utf8) into `shared` and `options` (a RepairOptions or
/// a ConvertOptions). Nothing when `name` is none of them; otherwise the
/// error message, empty when the option was read.
template <class Options>
[[nodiscard]] std::optional<std::string> readSharedOption(ArgumentWalker& walker, std::string_view name,
                                                          Options& options, RecordsToTargetArguments& shared)
{
    if (name == "--help" || name == "-h") {
        shared.help = true;
        return std::string();
    }
    if (name == "--mode")
        return parseModeValue(walker.value(), options.mode);
    if (name == "--charset")
        return parseCharsetValue(walker.value(), options.charset);
    if (name == "-o" || name == "--output")
        return parseTargetValue(walker.value(), shared.target);
    if (name == "--overwrite")
        return takeFlag(walker, name, shared.overwrite);
    if (name == "--utf8")
        return takeFlag(walker, name, options.utf8);
    return std::nullopt;
}

/// After the options: --overwrite only with a TARGET, then the operands
/// FILE [A [B]]. An error message, or empty.
template <class Options>
[[nodiscard]] std::string finishSharedArguments(const ArgumentWalker& walker, Options& options,
                                                RecordsToTargetArguments& shared)
{
    if (shared.overwrite && shared.target.empty())
        return "option '--overwrite' needs '-o TARGET'";
    return parseFileAndRange(walker.operands(), walker.optionsEnded(), shared.file, options.first, options.last);
}

/// FILE opened for reading and the output the records go to: TARGET through
/// the target-file transaction, or standard output. A TARGET not committed
/// is discarded, so a failed run leaves none behind.
class RecordsToTarget {
public:
    explicit RecordsToTarget(const RecordsToTargetArguments& arguments) : m_arguments(arguments) {}

    /// Opens FILE, refusing a directory and, when `fileMustBeRegular`, any
    /// other file that is not a regular one; then opens TARGET (refusing
    /// FILE itself, and an existing one without --overwrite), or takes
    /// standard output unless it is FILE. kExitSuccess, or kExitFailure after
    /// telling why.
    int open(bool fileMustBeRegular);

    [[nodiscard]] int inputFd() const { return m_input.get(); }
    [[nodiscard]] int outputFd() const { return m_outputFd; }

    /// Tells that FILE could not be read (errno value `error`); returns kExitFailure.
    int failedToRead(int error) const;
    /// Tells that the output could not be written, unless it is standard
    /// output whose reader went away; returns kExitFailure.
    int failedToWrite(int error) const;

    /// Makes TARGET the written content, when there is one; false after
    /// telling a failure.
    bool commit();

private:
    const RecordsToTargetArguments& m_arguments;
    fileaccess::UniqueFd m_input;
    TargetOutput m_target;
    int m_outputFd = -1;
};

}  // namespace veltrane::cli
