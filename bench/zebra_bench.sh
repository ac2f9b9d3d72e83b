#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# zebra_bench.sh: times `veltrane-cli fetch` of 1,000 records over Z39.50 from
# a Zebra server of its own against zoomsh doing the same search and presents
# (MARC 21 raw, 20 records a present), median of 9 runs after a warm-up;
# target: at most 1.2x. Run by hand: Zebra (Debian idzebra-2.0) is a test peer
# only, so the benchmark says so and exits 77 when zebrasrv is missing.
# Environment:
#   VELTRANE_CLI          the tool (default: $VELTRANE_BUILD_DIR/cli, else build/cli)
#   VELTRANE_CORPUS_DIR   record files (default: ../shared/corpus beside the sources)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
corpus=${VELTRANE_CORPUS_DIR:-$here/../shared/corpus}
records=$corpus/solrmarc_uva_2000.mrc  # 2,000 MARC 21 records
runs=9
batch=20  # fetch's records a present

command -v zebrasrv >/dev/null && command -v zebraidx >/dev/null ||
  { echo "zebra_bench: skipped: zebrasrv and zebraidx (Debian package idzebra-2.0) are not installed" >&2; exit 77; }
command -v zoomsh >/dev/null || { echo "zebra_bench: zoomsh (Debian package yaz) is needed" >&2; exit 2; }
[ -x "$cli" ] || { echo "zebra_bench: no veltrane-cli at $cli (build first, or set VELTRANE_CLI)" >&2; exit 2; }
[ -r "$records" ] || { echo "zebra_bench: no $records (set VELTRANE_CORPUS_DIR)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zebra-bench-XXXXXX")
server=
stop_server() {
  # zebrasrv runs in a process group of its own, so whatever it forks stops with it.
  [ -n "$server" ] && { kill -- "-$server" 2>/dev/null; wait "$server" 2>/dev/null; }
  rm -rf "$work"
}
trap stop_server EXIT
trap 'exit 130' INT TERM

# A private configuration: one database of MARC 21 records; the abstract
# syntax below, found before Zebra's own in the profile path, indexes the
# title (Bib-1 4) and the physical description under "any" (Bib-1 1016), so
# that "cm" hits nearly every book.
mkdir -p "$work/register" "$work/lock" "$work/tmp"
cat >"$work/zebra.cfg" <<CFG
profilePath: $work:/usr/share/idzebra-2.0/tab
attset: bib1.att
attset: explain.att
recordType: grs.marc.usmarc
register: $work/register:200M
lockDir: $work/lock
keyTmpDir: $work/tmp
setTmpDir: $work/tmp
CFG
cat >"$work/usmarc.abs" <<'ABS'
name usmarc
reference USmarc
attset bib1.att
tagset usmarc.tag
marc usmarc.mar
esetname F @
all any
elm 245     title   -
elm 245/?   title   !:w
elm 245/?/a title   !:w,!:p
elm 300     any     -
elm 300/?   any     !:w
ABS
zebraidx -c "$work/zebra.cfg" -d Default update "$records" >"$work/zebraidx.log" 2>&1 ||
  { echo "zebra_bench: zebraidx failed:" >&2; tail -n 5 "$work/zebraidx.log" >&2; exit 2; }

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
setsid zebrasrv -c "$work/zebra.cfg" -l "$work/zebrasrv.log" "tcp:127.0.0.1:$port" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

z=127.0.0.1:$port/Default
term=cm
hits=$(zoomsh "connect $z" "search @attr 1=1016 $term" quit 2>&1 | sed -n 's/.*: \([0-9]*\) hits$/\1/p')
[ "${hits:-0}" -ge 1000 ] || { echo "zebra_bench: the search hits ${hits:-no} records, not 1,000 or more" >&2; exit 2; }

# shellcheck source=timing.sh
source "$here/bench/timing.sh"
read -r fetch_s fetch_kib < <(median_of "$cli" fetch --server "$z" --any "$term" --max 1000)
read -r zoomsh_s _ < <(median_of zoomsh "connect $z" "set preferredRecordSyntax usmarc" "set elementSetName F" \
  "set presentChunk $batch" "search @attr 1=1016 $term" "show 0 1000 raw" quit)

printf '%-52s %8s %8s %8s %8s\n' work seconds against ratio target
printf '%-52s %8s %8s %8s %8s\n' "fetch 1,000 of $hits records (Z39.50, Zebra; zoomsh)" "$fetch_s" "$zoomsh_s" \
  "$(ratio "$fetch_s" "$zoomsh_s")x" "<= 1.2x"
printf 'peak memory of fetch (1,000 records): %s KiB\n' "$fetch_kib"
