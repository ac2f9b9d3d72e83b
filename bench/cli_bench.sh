#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# cli_bench.sh [FILE [TEXT]]: times `veltrane-cli count FILE` and
# `veltrane-cli find --all FILE TEXT` against `cat FILE > /dev/null` on the same
# file, warm cache, best of 3 runs, and prints each command's peak memory, which
# stays the same whatever the size of FILE.
#
# TEXT defaults to a text no record holds, so find reads every record. Without
# FILE, a file of about 128 MiB is made by repeating samples/sample.mrc.
# The tool is taken from $VELTRANE_CLI, else $VELTRANE_BUILD_DIR/cli, else build/cli.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
runs=3

[ -x "$cli" ] || { echo "cli_bench: no veltrane-cli at $cli (build first, or set VELTRANE_CLI)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/cli-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

file=${1:-}
text=${2:-no such title anywhere}
if [ -z "$file" ]; then
  file=$work/repeated-sample.mrc
  sample=$(cat "$here/samples/sample.mrc"; echo x)  # keeps trailing bytes
  sample=${sample%x}
  chunk=$work/chunk.mrc
  for _ in $(seq 1024); do printf '%s' "$sample"; done > "$chunk"
  for _ in $(seq 136); do cat "$chunk"; done > "$file"
fi
[ -f "$file" ] || { echo "cli_bench: no file $file" >&2; exit 2; }

now() { date +%s.%N; }

# best_of COMMAND...: best wall time in seconds of $runs runs, output discarded.
best_of() {
  local best="" start end
  for _ in $(seq "$runs"); do
    start=$(now)
    "$@" > /dev/null || [ $? -eq 1 ]  # find exits 1 when it finds nothing
    end=$(now)
    best=$(awk -v b="$best" -v s="$start" -v e="$end" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}

# peak_memory COMMAND...: peak resident memory in MiB, or n/a without GNU time.
peak_memory() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null 2>&1 || true
    tail -n 1 "$work/rss" | awk '{ printf "%.1f MiB", $1 / 1024 }'
  else
    echo "n/a"
  fi
}

report() {  # report LABEL SECONDS MEMORY [NOTE]
  awk -v l="$1" -v t="$2" -v c="$cat_seconds" -v m="$3" -v n="${4:-}" \
    'BEGIN { printf "%-36s %8.3f s  %6.2fx cat  peak %s%s\n", l, t, t / c, m, n }'
}

cat "$file" > /dev/null  # warm the cache
size_mib=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
count=$("$cli" count "$file")
found=$("$cli" find --all -- "$file" "$text" | wc -l || true)

cat_seconds=$(best_of cat "$file")
count_seconds=$(best_of "$cli" count "$file")
find_seconds=$(best_of "$cli" find --all -- "$file" "$text")

echo "cli_bench: $file, $size_mib MiB, $count records, TEXT '$text', best of $runs runs"
printf '%-36s %8.3f s\n' "cat FILE > /dev/null" "$cat_seconds"
report "veltrane-cli count FILE" "$count_seconds" "$(peak_memory "$cli" count "$file")"
report "veltrane-cli find --all FILE TEXT" "$find_seconds" \
  "$(peak_memory "$cli" find --all -- "$file" "$text")" "  ($found records found)"
