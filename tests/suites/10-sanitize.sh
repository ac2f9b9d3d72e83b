#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the engine, the command-line tool and their tests with AddressSanitizer
# and UndefinedBehaviorSanitizer (clang; the fuzz suite shares the build) and
# runs every test there. Any report fails: the build stops on the first one
# (-fno-sanitize-recover) and leaks count too.
# Then the engine and its tests again with ThreadSanitizer, for the scans that
# run on several threads at once.
set -euo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_root=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
build_dir=$build_root/sanitize
jobs=${VELTRANE_SANITIZE_JOBS:-2}
line_tables="-O2 -g1 -DNDEBUG"
source "$source_dir/tests/suites/include/sanitized-build.sh"

configure_sanitized_build "$source_dir" "$build_dir"
cmake --build "$build_dir" -j "$jobs"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# A report that did not stop the run still counts: scan the log for one.
log=$build_dir/ctest-sanitize.log
status=0
(cd "$build_dir" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log" || status=1
if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$log"; then
  echo "sanitize: a sanitizer report was printed (see $log)" >&2
  status=1
fi
thread_dir=$build_root/sanitize-thread
cmake -S "$source_dir" -B "$thread_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$line_tables" \
  -DCMAKE_CXX_COMPILER=g++ \
  -DVELTRANE_SANITIZE_THREAD=ON \
  -DVELTRANE_BUILD_UI=OFF \
  -DVELTRANE_BUILD_BENCH=OFF >/dev/null
engine_tests=(record_file_test record_scan_test record_index_test record_extract_test display_text_test record_check_test block_search_test)
cmake --build "$thread_dir" -j "$jobs" --target "${engine_tests[@]}"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
thread_log=$thread_dir/thread-sanitize.log
: > "$thread_log"
# The tests run two at a time, each into a log of its own, read in order after.
run_thread_test() {
  "$thread_dir/tests/engine/$1" >"$thread_dir/$1.log" 2>&1 && echo ok >"$thread_dir/$1.status" || echo failed >"$thread_dir/$1.status"
}
export -f run_thread_test
export thread_dir
rm -f "$thread_dir"/*.status
printf '%s\n' "${engine_tests[@]}" | xargs -P 2 -I{} bash -c 'run_thread_test {}'
for test in "${engine_tests[@]}"; do
  cat "$thread_dir/$test.log" >>"$thread_log"
  tail -n 3 "$thread_dir/$test.log"
  [ "$(cat "$thread_dir/$test.status" 2>/dev/null)" = ok ] || { echo "sanitize: $test failed under ThreadSanitizer" >&2; status=1; }
done
if grep -q 'WARNING: ThreadSanitizer' "$thread_log"; then
  echo "sanitize: a thread sanitizer report was printed (see $thread_log)" >&2
  status=1
fi
exit $status
