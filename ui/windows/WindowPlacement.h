// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

class QMdiArea;
class QMdiSubWindow;
class QPlainTextEdit;

// Where a new document window goes in the main window's area, and how large it
// is: each one a step below and to the right of the one opened before it,
// never reaching past the area, and wide enough for a whole display line.

/// The top left corner of a new window of size `size` in area (viewport
/// coordinates): `step` pixels right of and below `previous` (the place of the
/// window opened before it), or the area's top left corner for the first
/// window and whenever the window would reach past the area there.
[[nodiscard]] QPoint CascadedPlace(const QRect& area, std::optional<QPoint> previous, QSize size, int step);

/// The size of a new window in an area of areaSize: three quarters of the
/// area, but at least `fitting` (what shows a whole line) as far as the area
/// allows, and never below 200 × 150.
[[nodiscard]] QSize NewWindowSize(QSize areaSize, QSize fitting);

/// Sizes and places window, just added to area and not yet shown, whose record
/// text is memo: a line of the widest display width fits without a horizontal
/// scroll bar at the default text size where the area allows.
void PlaceNewDocumentWindow(QMdiArea* area, QMdiSubWindow* window, QPlainTextEdit* memo);
