// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where a decoded line breaks when it wraps: after a word where one ends near
// the line's end, never between '$' and its subfield code. The byte layout of
// the scratch file keeps its own breaks.

namespace veltrane {

/// Breaks the decoded line being laid out, whose wrap is due. [floor, at)
/// ends with the line so far (it starts after floor and after its last '\n');
/// col is its width in columns; nextIsCode tells that what comes next is an
/// ASCII letter or digit. The break goes after the last space that starts in
/// the line's last kWordBreakColumns columns (unless a mark of that space
/// follows it), else before a '$' that ends the line when its code comes
/// next, else at the end. Writes the wrap there and moves what follows it
/// along (room for the wrap's bytes is needed at at); returns the new end,
/// and col becomes the width of the continuation line so far.
char* BreakDecodedLine(char* floor, char* at, int& col, bool nextIsCode);

}  // namespace veltrane
