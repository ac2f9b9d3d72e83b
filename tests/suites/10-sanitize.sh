#!/usr/bin/env bash
# Builds the engine, the command-line tool and their tests with AddressSanitizer
# and UndefinedBehaviorSanitizer and runs every test there. Any report fails:
# the build stops on the first one (-fno-sanitize-recover) and leaks count too.
set -euo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_root=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
build_dir=$build_root/sanitize
jobs=${VELTRANE_SANITIZE_JOBS:-2}

cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ \
  -DVELTRANE_SANITIZE=ON \
  -DVELTRANE_BUILD_UI=OFF >/dev/null
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
exit $status
