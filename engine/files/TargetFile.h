// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "files/FileAccess.h"

namespace veltrane {

/// What a write does to its target file.
enum class TargetWrite {
    Create,     ///< the target must not exist yet
    Overwrite,  ///< the target's old content is replaced
    Append,     ///< the new bytes go after the target's old content
};

/// Where a created or overwritten target's new content is written.
enum class TargetPlacement {
    /// Into a new file beside the target, renamed into its place by commit():
    /// until then the target keeps its old content, whatever happens.
    Beside,
    /// Into the target itself: created with the name, or emptied before the
    /// first byte is written (started by begin()).
    InPlace,
};

/// One write of a target file as a transaction: open, write through fd(),
/// then commit() or roll back. Rolling back (explicitly, or by destroying an
/// uncommitted target) leaves the target as it was before: a created target
/// removed, an appended one cut back to its old length, one overwritten beside
/// untouched. An in-place overwrite cannot keep what it has emptied: the
/// target is left empty.
class TargetFile {
public:
    TargetFile() = default;
    ~TargetFile() { rollback(); }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    /// Opens the target for the write. Nothing of it is changed yet, so the
    /// caller may still refuse it by its identity() and roll back. Returns 0,
    /// or the errno of the failure (with nothing left behind).
    [[nodiscard]] int open(const std::string& path, TargetWrite write, TargetPlacement placement);

    /// The file the target names (for a write beside, the existing target, or
    /// the new file when there is none).
    [[nodiscard]] const fileaccess::FileIdentity& identity() const { return m_identity; }
    /// Length of the target when it was opened for appending; 0 otherwise.
    [[nodiscard]] off_t oldLength() const { return m_oldLength; }
    /// The descriptor to write through; -1 when not open.
    [[nodiscard]] int fd() const { return m_fd.get(); }
    /// The file being written beside the target; empty for an in-place write.
    /// Whoever removes files when a signal ends the process removes this one.
    [[nodiscard]] const std::string& temporaryPath() const { return m_temporary; }

    /// Starts writing: an in-place overwrite empties the target here. Returns
    /// 0 or the errno of the failure.
    [[nodiscard]] int begin();

    /// Makes the written content the target's: closes it and, for a write
    /// beside, gives it the old target's permissions, flushes it to disk and
    /// renames it into the target's place. Returns 0, or the errno of the
    /// failure, after which the write has been rolled back.
    [[nodiscard]] int commit();

    /// Undoes an uncommitted write (see the class comment). Safe to call more
    /// than once.
    void rollback();

private:
    std::string m_path, m_temporary;
    fileaccess::UniqueFd m_fd;
    fileaccess::FileIdentity m_identity{};
    TargetWrite m_write = TargetWrite::Create;
    TargetPlacement m_placement = TargetPlacement::Beside;
    off_t m_oldLength = 0;
    mode_t m_permissions = 0;
    bool m_keepPermissions = false;
    bool m_begun = false;
    bool m_open = false;
};

}  // namespace veltrane
