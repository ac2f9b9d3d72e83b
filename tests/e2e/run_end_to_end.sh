#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the viewer's end-to-end test in a virtual X server with a private D-Bus
# session (the accessibility bus lives there). Exit 77 (skipped) when the X
# server or the tools are missing.
#   usage: run_end_to_end.sh VIEWER CLI SCREENSHOT
set -uo pipefail
skip() { echo "end-to-end test skipped: $*"; exit 77; }
for tool in xvfb-run xdotool dbus-run-session import; do
  command -v "$tool" >/dev/null || skip "$tool is missing (the set-up installs it)"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is missing (the set-up installs it)"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
runtime=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-e2e-runtime-XXXXXX")
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
# Never the user's settings, whatever starts the viewer.
export XDG_CONFIG_HOME=$runtime/config
# The accessibility bus must run before the viewer starts, or it never joins it.
exec xvfb-run -a -s '-screen 0 1280x1024x24' dbus-run-session -- bash -c '
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  exec /usr/bin/python3 "$0" "$@"' "$here/viewer_end_to_end.py" "$@" 2> >(grep -v -e "Failed to set fd limit" -e "Activating service" -e "Successfully activated" >&2)
