#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Takes docs/screenshot.png: the viewer on the bundled sample under a virtual X
# display (Xvfb), captured with ImageMagick's import.
#
# Usage: tools/take_screenshot.sh [VIEWER]   (default: build/ui/veltrane)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
viewer=$(realpath "${1:-$here/build/ui/veltrane}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A relative name keeps the caption and status bar free of this machine's folders.
cp "$here/samples/sample.mrc" "$work/"

cat > "$work/capture.sh" <<'INNER'
#!/bin/sh
set -e
"$1" sample.mrc &
pid=$!
sleep 4
window=$(xdotool search --name '^Veltrane$' | head -1)
import -window "$window" "$2"
kill "$pid"
INNER
chmod +x "$work/capture.sh"

mkdir -p "$here/docs"
(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" ./capture.sh "$viewer" "$here/docs/screenshot.png")
echo "wrote docs/screenshot.png"
