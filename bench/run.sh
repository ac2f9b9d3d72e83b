#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Generates a record file of SIZE_MIB MiB (default 1024) in the temporary
# directory, runs every *_bench executable of the build on it, then deletes it.
#   bench/run.sh [SIZE_MIB]
# The build folder is VELTRANE_BUILD_DIR, else build/ (as ./setup build makes it).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${VELTRANE_BUILD_DIR:-$here/../build}
bench_dir=$build_dir/bench
size=${1:-1024}

if [ ! -x "$bench_dir/make_bench_file" ]; then
  echo "run.sh: no benchmarks in $bench_dir; run ./setup build first or set VELTRANE_BUILD_DIR" >&2
  exit 2
fi

file=$(mktemp "${TMPDIR:-/tmp}/veltrane-bench-XXXXXX")
trap 'rm -f "$file"' EXIT
echo "== generating $size MiB of records"
"$bench_dir/make_bench_file" "$file" "$size"

status=0
for bench in "$bench_dir"/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" "$file" || status=1
done
exit $status
