// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

/// Which part of a record a column of one's own shows, as typed:
/// - `245$a` or `245a`: the first subfield a of the 245 fields;
/// - `245$a*`: every subfield a of every 245, joined with " ; ";
/// - `245`: a data field's subfields joined with spaces, a control field's data;
/// - `008/35-37`, `LDR/06`, `100$a/9-12`: characters at positions (0-based,
///   inclusive) of the value, the leader's when the tag is LDR.
/// A tag is three ASCII letters or digits; LDR (any case) is the leader.
struct ColumnPath {
    std::string tag;          ///< "245", or "LDR" for the leader
    char code = 0;            ///< the subfield code; 0 for the whole field
    bool every = false;       ///< every occurrence, not only the first
    std::size_t first = 0;    ///< with positions: the first position
    std::optional<std::size_t> last;  ///< with positions: the last one (both 0-based)
    [[nodiscard]] bool leader() const { return tag == "LDR"; }
    /// The path written as it is parsed back (`245$a*`, `008/35-37`).
    [[nodiscard]] std::string text() const;
};

/// A path parsed, or why it cannot be (a message for the user, in Chinese).
struct ColumnPathParse {
    std::optional<ColumnPath> path;
    std::string message;
};

/// Parses a path typed by the user; blanks around it are ignored.
[[nodiscard]] ColumnPathParse ParseColumnPath(std::string_view text);

}  // namespace veltrane
