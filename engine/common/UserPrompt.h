// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace veltrane {

/// The overwrite question asked before an extraction writes to an existing file.
/// The values are the question dialog's modal results.
enum class OverwriteChoice : int {
    Overwrite = 1,
    Append = 2,
    Cancel = 3,
    Unavailable = -1,  ///< the question could not be asked at all
};

/// How the engine reaches the user. The viewer answers with message boxes and a
/// dialog; the command-line tool and the tests answer without a window.
class UserPrompt {
public:
    virtual ~UserPrompt() = default;

    /// Shows one of the engine's fixed messages (ASCII text) and returns when the
    /// user has acknowledged it.
    virtual void showMessage(std::string_view text) = 0;

    /// Asks whether an existing extraction target is to be overwritten, appended
    /// to, or left alone.
    [[nodiscard]] virtual OverwriteChoice askOverwrite(std::string_view targetPath) = 0;
};

}  // namespace veltrane
