#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# fetch_bench.sh: times `veltrane-cli fetch` against a yaz-ztest of its own on
# a loopback port (median of 3 runs after a warm-up):
# - 1,000 records over Z39.50 against zoomsh doing the same search and present
#   (target: at most 1.2x);
# - three servers at once, one slowed to 1 s per request, against the slow
#   one alone (target: within 1.5 s of it).
# The tool is taken from $VELTRANE_CLI, else $VELTRANE_BUILD_DIR/cli, else build/cli.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
runs=3
[ -x "$cli" ] || { echo "fetch_bench: no veltrane-cli at $cli (build first, or set VELTRANE_CLI)" >&2; exit 2; }
command -v yaz-ztest >/dev/null && command -v zoomsh >/dev/null ||
  { echo "fetch_bench: yaz-ztest and zoomsh (Debian package yaz) are needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/fetch-bench-XXXXXX")
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
yaz-ztest -l "$work/ztest.log" "tcp:127.0.0.1:$port" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
# shellcheck source=timing.sh
source "$here/bench/timing.sh"

z=127.0.0.1:$port/Default
slow="$z?search-delay=1&present-delay=1"

read -r fetch_s fetch_kib < <(median_of "$cli" fetch --server "$z" --any 1000 --max 1000)
read -r zoomsh_s _ < <(median_of zoomsh "connect $z" "set preferredRecordSyntax usmarc" \
  "search @attr 1=1016 1000" "show 0 1000 raw" quit)
read -r three_s _ < <(median_of "$cli" fetch --server "$z" --server "$slow" --server "http://127.0.0.1:$port/Default" \
  --any 40 --max 40)
read -r alone_s _ < <(median_of "$cli" fetch --server "$slow" --any 40 --max 40)

printf '%-52s %8s %8s %8s\n' work seconds against ratio
printf '%-52s %8s %8s %8s\n' "fetch 1,000 records (Z39.50; zoomsh)" "$fetch_s" "$zoomsh_s" "$(ratio "$fetch_s" "$zoomsh_s")x"
printf '%-52s %8s %8s %8s\n' "three servers, one slowed (the slowed one alone)" "$three_s" "$alone_s" \
  "+$(awk -v a="$three_s" -v b="$alone_s" 'BEGIN { printf "%.2f", a - b }') s"
printf 'peak memory of fetch (1,000 records): %s KiB\n' "$fetch_kib"
