#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets with clang (coverage, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a short, fixed time over the
# seed corpus: all of them together 36 seconds, shared equally. A crash or a
# broken check fails the run; its input is kept under
# tests/regressions/<target>/ where the replay test picks it up.
#   VELTRANE_FUZZ_SECONDS   seconds per target (default: 36 shared among the targets)
#   VELTRANE_FUZZ_TARGETS   targets to run (default: all)
set -euo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_root=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
build_dir=$build_root/sanitize
all_targets="record_index scan_show scan_search display_text extract decoded_display convert_any convert_round_trip server_reply"
targets=${VELTRANE_FUZZ_TARGETS:-$all_targets}
seconds=${VELTRANE_FUZZ_SECONDS:-$(( 36 / $(wc -w <<<"$all_targets") ))}
source "$source_dir/tests/suites/include/sanitized-build.sh"

# The sanitizer suite's build: when it ran first, the targets are already built.
configure_sanitized_build "$source_dir" "$build_dir"
cmake --build "$build_dir" -j 2 --target $(printf 'fuzz_%s ' $targets)

# The targets write their record files into a private temporary folder, in
# memory where possible: on ext4 every truncate-and-rewrite waits for the disk.
tmp_parent=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then tmp_parent=/dev/shm; fi
work_tmp=$(mktemp -d "$tmp_parent/veltrane-fuzz-XXXXXX")
trap 'rm -rf "$work_tmp"' EXIT
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

status=0
printf '%-14s %10s %8s %8s %s\n' target executions seconds corpus result
for target in $targets; do
  corpus=$build_dir/corpus/$target
  artifacts=$source_dir/tests/regressions/$target
  log=$build_dir/fuzz_$target.log
  mkdir -p "$corpus" "$artifacts"
  started=$(date +%s)
  result=ok
  TMPDIR=$work_tmp "$build_dir/tests/fuzz/fuzz_$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="$source_dir/tests/fuzz/marc.dict" -artifact_prefix="$artifacts/" \
    "$corpus" "$source_dir/tests/fuzz/seeds" >"$log" 2>&1 || result=FAILED
  elapsed=$(( $(date +%s) - started ))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus_size=$(find "$corpus" -type f | wc -l)
  printf '%-14s %10s %8s %8s %s\n' "$target" "${executions:-?}" "$elapsed" "$corpus_size" "$result"
  if [ "$result" != ok ]; then
    status=1
    echo "--- fuzz_$target: end of $log" >&2
    tail -40 "$log" >&2
    echo "--- the failing input is kept in tests/regressions/$target/; fuzz_regression_test replays it" >&2
  fi
  # An empty folder is noise in the source tree.
  rmdir "$artifacts" 2>/dev/null || true
done
rmdir "$source_dir/tests/regressions" 2>/dev/null || true
exit $status
