// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace veltrane {

/// How an engine operation ended.
enum class Outcome {
    Done,        ///< a record was found, shown or copied; the work was done
    NotFound,    ///< the range holds no record with the pattern
    Unreadable,  ///< a record is short or cut off; a search ends there
    Cancelled,   ///< stopped through the work monitor; nothing is left half done
    FileError,   ///< a file could not be opened, read or written: see the message
};

/// An outcome with the message a file error is told with (one of the
/// engine's fixed texts, or empty when there is nothing to tell).
struct Status {
    Outcome outcome = Outcome::Done;
    std::string message;

    [[nodiscard]] bool ok() const { return outcome == Outcome::Done; }
};

}  // namespace veltrane
