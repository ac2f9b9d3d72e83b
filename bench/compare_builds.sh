#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# compare_builds.sh BEFORE_BUILD AFTER_BUILD FILE [UTF8_FILE]: the same commands
# of two builds on the same record file, in interleaved runs (cat, before,
# after, repeated), each time as a ratio to `cat` of the file taken in the same
# round, so that the swings of a shared machine hit both builds alike. Prints
# the median ratio of each build and after/before. UTF8_FILE (a UTF-8 MARC 21
# file, e.g. the one bench/convert_bench.sh makes) adds `convert --to marcxml`.
#   VELTRANE_BENCH_RUNS   rounds (default 5)
set -euo pipefail

before=${1:?before build folder}
after=${2:?after build folder}
file=${3:?record file}
utf8=${4:-}
runs=${VELTRANE_BENCH_RUNS:-5}
absent="no such title anywhere"

seconds() {  # seconds COMMAND...: wall time of one run, output into /dev/null
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
}
median() { sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

# compare LABEL INPUT ARGS...: ARGS follow the tool's path; INPUT is the file cat reads.
compare() {
  local label=$1 input=$2; shift 2
  local b=() a=() rb ra
  "$before/cli/veltrane-cli" "$@" > /dev/null 2>&1 || true
  "$after/cli/veltrane-cli" "$@" > /dev/null 2>&1 || true
  for _ in $(seq "$runs"); do
    local c; c=$(seconds cat "$input")
    b+=("$(awk -v t="$(seconds "$before/cli/veltrane-cli" "$@")" -v c="$c" 'BEGIN { print t / c }')")
    a+=("$(awk -v t="$(seconds "$after/cli/veltrane-cli" "$@")" -v c="$c" 'BEGIN { print t / c }')")
  done
  rb=$(printf '%s\n' "${b[@]}" | median)
  ra=$(printf '%s\n' "${a[@]}" | median)
  awk -v l="$label" -v b="$rb" -v a="$ra" 'BEGIN { printf "%-36s before %5.2fx cat  after %5.2fx cat  after/before %5.2f\n", l, b, a, a / b }'
}

count=$("$after/cli/veltrane-cli" count "$file")
echo "compare_builds: $(basename "$file"), $count records, median of $runs interleaved rounds"
compare "count" "$file" count "$file"
compare "find --all --case (absent)" "$file" find --all --case -- "$file" "$absent"
compare "find --all (absent, any case)" "$file" find --all -- "$file" "$absent"
compare "show 1 N" "$file" show "$file" 1 "$count"
compare "check" "$file" check "$file"
if [ -n "$utf8" ]; then
  compare "convert --to marcxml (UTF-8 file)" "$utf8" convert --to marcxml "$utf8"
fi
if [ -x "$before/bench/viewer_open_bench" ] && [ -x "$after/bench/viewer_open_bench" ]; then
  echo "viewer_open_bench (before, then after):"
  QT_QPA_PLATFORM=offscreen "$before/bench/viewer_open_bench" "$file" | tail -n 1
  QT_QPA_PLATFORM=offscreen "$after/bench/viewer_open_bench" "$file" | tail -n 1
fi
