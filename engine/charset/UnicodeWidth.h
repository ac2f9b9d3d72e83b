// SPDX-License-Identifier: Apache-2.0
#pragma once

// Display widths of code points, from the generated table of Unicode's East
// Asian widths and general categories.

namespace veltrane {

/// Display columns of one code point: 2 for East Asian wide and full-width
/// characters, 0 for combining marks and format characters, else 1.
[[nodiscard]] int DisplayWidth(char32_t codePoint);
/// Whether a code point stays on the line of the one before it: combining
/// marks (Mn, Mc, Me) and the zero-width joiner and non-joiner.
[[nodiscard]] bool IsClusterExtender(char32_t codePoint);

}  // namespace veltrane
