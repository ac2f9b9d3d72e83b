#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Renders the application icon's PNG sizes from veltrane.svg (ImageMagick's convert,
# whose SVG delegate is rsvg-convert from librsvg2-bin). Run after editing the SVG.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
for size in 16 22 24 32 48 64 128 256; do
  convert -background none -density 384 veltrane.svg -resize "${size}x${size}" -strip "PNG32:veltrane-${size}.png"
done
