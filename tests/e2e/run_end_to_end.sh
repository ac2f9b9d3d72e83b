#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the viewer's end-to-end test in a virtual X server with a private D-Bus
# session (the accessibility bus lives there). Exit 77 (skipped) when the X
# server or the tools are missing.
#   usage: run_end_to_end.sh VIEWER CLI SCREENSHOT
set -uo pipefail
skip() { echo "end-to-end test skipped: $*"; exit 77; }
for tool in Xvfb xdpyinfo xdotool dbus-run-session import; do
  command -v "$tool" >/dev/null || skip "$tool is missing (the set-up installs it)"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is missing (the set-up installs it)"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
runtime=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-e2e-runtime-XXXXXX")
chmod 700 "$runtime"
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

# The X server picks a free display itself and writes its number once it
# listens (-displayfd): no race with another server for the same number, and
# no guess at when it is ready. Only this user's local clients may connect.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$runtime/display" 2>"$runtime/xvfb.log" &
server=$!
for _ in $(seq 300); do
  [ -s "$runtime/display" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
number=$(tr -dc 0-9 <"$runtime/display")
if [ -z "$number" ]; then
  echo "e2e: FAILED: the virtual X server did not start" >&2
  cat "$runtime/xvfb.log" >&2
  exit 1
fi
export DISPLAY=:$number
unset XAUTHORITY
xdpyinfo >/dev/null || { echo "e2e: FAILED: display $DISPLAY does not answer" >&2; exit 1; }

export XDG_RUNTIME_DIR=$runtime
# Never the user's settings, whatever starts the viewer.
export XDG_CONFIG_HOME=$runtime/config
# The accessibility bus must run before the viewer starts, or it never joins it.
dbus-run-session -- bash -c '
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  exec /usr/bin/python3 "$0" "$@"' "$here/viewer_end_to_end.py" "$@" 2> >(grep -v -e "Failed to set fd limit" -e "Activating service" -e "Successfully activated" >&2)
