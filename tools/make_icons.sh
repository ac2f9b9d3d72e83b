#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Draws the ten 16 x 16 images of the viewer's menus and tool bar (ImageList1)
# as PNG files with transparency, with ImageMagick's convert.
#
# Usage: tools/make_icons.sh [OUTPUT_DIR]   (default: ui/icons next to this script)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/../ui/icons}
mkdir -p "$out"

# draw NAME DRAW-ARGS...: a transparent 16 x 16 canvas, crisp pixels, the given
# -fill/-stroke/-draw arguments, stored as 32-bit PNG without a time stamp.
draw() {
  local name=$1
  shift
  convert -size 16x16 xc:none +antialias -strokewidth 1 "$@" \
    -define png:exclude-chunks=date,time +set date:create +set date:modify \
    "png32:$out/$name.png"
}

# A sheet of paper with a folded corner, used by several images.
page=(-fill white -stroke '#606060' -draw 'polygon 2,1 9,1 12,4 12,14 2,14'
      -fill '#d0d0d0' -draw 'polygon 9,1 9,4 12,4')
# A yellow burst in the top right corner.
burst=(-fill '#ffd800' -stroke '#c08000'
       -draw 'polygon 12,0 13,3 15,2 14,5 15,8 12,7 10,9 10,6 8,4 11,4')

# 0 open: page with a burst
draw open "${page[@]}" "${burst[@]}" \
  -stroke '#8080a0' -draw 'line 4,7 9,7' -draw 'line 4,9 10,9' -draw 'line 4,11 10,11'
# 1 close: page with a burst and a red cross
draw close "${page[@]}" "${burst[@]}" \
  -stroke '#d00000' -draw 'line 4,8 9,13' -draw 'line 9,8 4,13' -draw 'line 5,8 10,13' -draw 'line 10,8 5,13'
# 2 previous, 3 next: blue arrow heads
draw previous -fill '#2050d0' -stroke '#102880' -draw 'polygon 11,2 11,13 4,8 4,7'
draw next -fill '#2050d0' -stroke '#102880' -draw 'polygon 4,2 4,13 11,8 11,7'
# 4 record count: a stack of written pages
draw count \
  -fill white -stroke '#606060' -draw 'rectangle 6,1 14,10' -draw 'rectangle 4,3 12,12' -draw 'rectangle 2,5 10,14' \
  -stroke '#3060c0' -draw 'line 4,8 8,8' -draw 'line 4,10 8,10' -draw 'line 4,12 7,12'
# 5 delimiter: a spanner
draw delimiter -stroke '#505050' -strokewidth 2 -draw 'line 3,13 10,6' \
  -strokewidth 1 -fill '#909090' -stroke '#404040' -draw 'circle 11,5 14,5' \
  -fill none -stroke none -draw 'color 12,3 point' -draw 'color 13,3 point' -draw 'color 12,4 point' \
  -draw 'color 13,4 point' -draw 'color 14,2 point' -draw 'color 13,2 point' -draw 'color 14,3 point'
# 6 exit: a door standing open in its frame
draw exit -fill '#404040' -stroke '#202020' -draw 'rectangle 3,1 12,15' \
  -fill '#b07030' -stroke '#603810' -draw 'polygon 3,1 8,3 8,15 3,15' \
  -fill '#ffd800' -stroke '#ffd800' -draw 'point 7,9'
# 7 extract: a floppy disk
draw extract -fill '#3050b0' -stroke '#182860' -draw 'polygon 1,1 13,1 14,2 14,14 1,14' \
  -fill white -stroke '#c0c0c0' -draw 'rectangle 3,2 12,7' \
  -fill '#c0c0c0' -stroke '#808080' -draw 'rectangle 4,10 11,14' \
  -fill '#182860' -stroke '#182860' -draw 'rectangle 5,11 6,13'
# 8 find: a hand pointing right
draw find -fill '#f8d0a0' -stroke '#905020' \
  -draw 'polygon 1,6 5,4 14,4 14,6 9,6 9,12 3,12 1,10' \
  -draw 'line 5,8 9,8' -draw 'line 5,10 9,10'
# 9 find next: a red circular arrow
draw find-next -fill none -stroke '#d01010' -strokewidth 2 -draw 'arc 2,3 13,14 20,290' \
  -strokewidth 1 -fill '#d01010' -draw 'polygon 8,0 14,3 9,7'
