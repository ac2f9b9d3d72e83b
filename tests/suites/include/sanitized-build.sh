# SPDX-License-Identifier: Apache-2.0
# Sourced by the sanitizer and fuzz suites: one clang build, with
# AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's coverage, serves
# both. The tests run in it, and the fuzz targets link against the same engine,
# so the engine is compiled once for the two suites.
#   configure_sanitized_build SOURCE_DIR BUILD_DIR

find_clang() {
  local candidate
  for candidate in clang++ clang++-14; do
    if command -v "$candidate" >/dev/null; then command -v "$candidate"; return 0; fi
  done
  echo "clang++ not found (the set-up installs clang and libclang-rt-14-dev)" >&2
  return 1
}

configure_sanitized_build() {
  local source_dir=$1 build_dir=$2 compiler
  compiler=$(find_clang) || return 1
  # Line tables are all a report needs, and they build much faster than full
  # debug information. Any sanitizer report stops the program.
  cmake -S "$source_dir" -B "$build_dir" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$compiler" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DVELTRANE_BUILD_UI=OFF \
    -DVELTRANE_BUILD_BENCH=OFF \
    -DVELTRANE_FUZZ=ON >/dev/null
}
