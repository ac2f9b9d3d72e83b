// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

#include "files/FileAccess.h"
#include "files/TargetFile.h"

namespace veltrane::cli {

/// What may happen to a TARGET that exists already.
enum class ExistingTargetRule {
    Refuse,     ///< tell it and write nothing
    Overwrite,  ///< replace it
    Append,     ///< add after its content
};

/// A command's TARGET through the engine's target-file transaction. A new or
/// overwritten TARGET is written beside and renamed into place only by
/// commit(), so a failed run leaves no partial target; the file beside is
/// removed when a signal ends the process. An appended TARGET is cut back to
/// its old length unless committed.
class TargetOutput {
public:
    TargetOutput() = default;
    ~TargetOutput() { discard(); }
    TargetOutput(const TargetOutput&) = delete;
    TargetOutput& operator=(const TargetOutput&) = delete;

    /// Installs the signal handlers that remove the file beside (once per process).
    static void installSignalHandlers();

    /// Refuses a directory, `recordFile` (the file the command reads, when
    /// there is one) and an existing TARGET the rule does not allow, telling
    /// why; `refusal` is the advice after "exists; " ("give --overwrite to
    /// replace it"). Opens the target otherwise.
    bool open(const std::string& target, ExistingTargetRule rule, std::string_view refusal,
              const std::optional<fileaccess::FileIdentity>& recordFile);

    [[nodiscard]] int fd() const { return m_file.fd(); }

    /// Makes the written content the target's; tells a failure.
    bool commit();
    void discard();

private:
    std::string m_target;
    TargetFile m_file;
};

}  // namespace veltrane::cli
