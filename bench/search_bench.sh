#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# search_bench.sh FILE [MARC8_FILE]: times `veltrane-cli find --all` for a text
# no record holds (ASCII and Chinese, letter case ignored and significant)
# against `veltrane-cli count` and `cat` of the same file: five interleaved
# rounds, warm cache, medians. Beside each figure: the user and system time
# per GiB of the file. With MARC8_FILE, an absent ASCII text in it too.
# $VELTRANE_CLI (else $VELTRANE_BUILD_DIR/cli, else build/cli) is timed, and
# $VELTRANE_BEFORE_CLI beside it when set (an earlier build, for comparison).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
before=${VELTRANE_BEFORE_CLI:-}
rounds=5
[ -x "$cli" ] || { echo "search_bench: no veltrane-cli at $cli" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "search_bench: needs GNU time at /usr/bin/time" >&2; exit 2; }
[ $# -ge 1 ] && [ -f "$1" ] || { echo "usage: search_bench.sh FILE [MARC8_FILE]" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/search-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

ascii='no such title anywhere'
chinese='并无此书之题名'

# Each job: NAME FILE COMMAND...
jobs=()
add() { jobs+=("$*"); }
for f in "$@"; do
  add "cat|$f|cat $f"
  add "count|$f|$cli count $f"
  add "find ascii|$f|$cli find --all -- $f '$ascii'"
  add "find --case ascii|$f|$cli find --all --case -- $f '$ascii'"
  if [ "$f" = "$1" ]; then
    add "find chinese|$f|$cli find --all -- $f '$chinese'"
    add "find --case chinese|$f|$cli find --all --case -- $f '$chinese'"
  fi
  if [ -n "$before" ]; then
    add "before find ascii|$f|$before find --all -- $f '$ascii'"
    [ "$f" = "$1" ] && add "before find chinese|$f|$before find --all -- $f '$chinese'"
  fi
done

for f in "$@"; do cat "$f" > /dev/null; done  # warm the cache
for round in $(seq "$rounds"); do
  for i in "${!jobs[@]}"; do
    IFS='|' read -r name file command <<< "${jobs[$i]}"
    /usr/bin/time -f '%e %U %S' -o "$work/t" bash -c "$command > /dev/null || [ \$? -eq 1 ]"
    echo "$i $(tail -n 1 "$work/t")" >> "$work/all"
  done
done

echo "search_bench: median of $rounds interleaved rounds; $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
for i in "${!jobs[@]}"; do
  IFS='|' read -r name file command <<< "${jobs[$i]}"
  gib=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { print b / 1073741824 }')
  wall=$(awk -v i="$i" '$1 == i { print $2 }' "$work/all" | median)
  user=$(awk -v i="$i" '$1 == i { print $3 }' "$work/all" | median)
  sys=$(awk -v i="$i" '$1 == i { print $4 }' "$work/all" | median)
  echo "$i $file $name $wall $user $sys $gib"
done > "$work/medians"
awk '
  { key = $2; name = $3; for (k = 4; k < NF - 3; ++k) name = name " " $k
    wall[NR] = $(NF - 3); user[NR] = $(NF - 2); sys[NR] = $(NF - 1); gib[NR] = $NF; label[NR] = name; file[NR] = key
    if (name == "cat") cat[key] = wall[NR]; if (name == "count") count[key] = wall[NR] }
  END { for (r = 1; r <= NR; ++r) {
          if (r == 1 || file[r] != file[r - 1]) printf "%s (%.2f GiB)\n", file[r], gib[r]
          printf "  %-24s %7.3f s  %5.2fx count  %5.2fx cat   user %.3f s/GiB  sys %.3f s/GiB\n", label[r], wall[r],
                 wall[r] / count[file[r]], wall[r] / cat[file[r]], user[r] / gib[r], sys[r] / gib[r] } }
' "$work/medians"
echo "limits: find <= 1.5x count and <= 1.6x cat; in a MARC-8 file <= 2x count"
