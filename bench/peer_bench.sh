#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# peer_bench.sh [SIZE_MIB]: the command-line tool against its peers and the
# system's own copy commands on a generated record file with no line ends
# between records (so that yaz-marcdump reads it cleanly), warm cache, output
# into /dev/null, median of several runs after a warm-up run. Prints each
# ratio and each command's peak memory.
#   bench/peer_bench.sh [SIZE_MIB]        (default 100; 1024 for the search and copy ratios)
# The build folder is VELTRANE_BUILD_DIR, else build/. yaz-marcdump comes from
# Debian's yaz package; rows that need it are skipped without it. The rows of
# show --utf8 build their UTF-8 and MARC-8 files from the shared corpus
# (VELTRANE_CORPUS_DIR, else ../shared/corpus beside the project) and are
# skipped without it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VELTRANE_BUILD_DIR:-$here/build}
cli=$build_dir/cli/veltrane-cli
size=${1:-100}
runs=${VELTRANE_BENCH_RUNS:-5}

[ -x "$cli" ] || { echo "peer_bench: no veltrane-cli in $build_dir/cli (run ./setup build)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/peer-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/bench.mrc
"$build_dir/bench/make_bench_file" "$file" "$size" packed
count=$("$cli" count "$file")
absent="no such title anywhere"

now() { date +%s.%N; }

# median COMMAND...: median wall time in seconds of $runs runs after one
# warm-up run; a shell snippet runs through bash -c.
median() {
  local times=() start end
  "$@" > /dev/null 2>&1 || true
  for _ in $(seq "$runs"); do
    start=$(now)
    "$@" > /dev/null 2>&1 || true
    end=$(now)
    times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

peak() {  # peak resident memory of COMMAND... in MiB
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null 2>&1 || true
    tail -n 1 "$work/rss" | awk '{ printf "%.1f MiB", $1 / 1024 }'
  else
    echo "n/a"
  fi
}

row() {  # row LABEL SECONDS PEER_LABEL PEER_SECONDS TARGET MEMORY
  awk -v l="$1" -v t="$2" -v pl="$3" -v p="$4" -v g="$5" -v m="$6" \
    'BEGIN { printf "%-44s %7.3f s  %-34s %7.3f s  %5.2fx (target <= %s)  peak %s\n", l, t, pl, p, t / p, g, m }'
}

echo "peer_bench: $size MiB, $count records, median of $runs runs"
cat_s=$(median cat "$file")
cp_target=$work/cp.mrc
extract_target=$work/extract.mrc

if command -v yaz-marcdump > /dev/null; then
  yaz_s=$(median yaz-marcdump "$file")
  show_s=$(median "$cli" show "$file" 1 "$count")
  row "veltrane-cli show FILE 1 N" "$show_s" "yaz-marcdump FILE" "$yaz_s" 0.8 "$(peak "$cli" show "$file" 1 "$count")"
  yaz_grep_s=$(median bash -c 'yaz-marcdump "$1" | grep -c .' _ "$file")
  all_s=$(median "$cli" find --all "$file" 0)
  row "veltrane-cli find --all FILE 0 (all match)" "$all_s" "yaz-marcdump FILE | grep -c ." "$yaz_grep_s" 1.0 \
    "$(peak "$cli" find --all "$file" 0)"
else
  echo "peer_bench: no yaz-marcdump: peer rows skipped"
fi
find_s=$(median "$cli" find --all --case -- "$file" "$absent")
row "veltrane-cli find --all --case (absent)" "$find_s" "cat FILE" "$cat_s" 1.6 \
  "$(peak "$cli" find --all --case -- "$file" "$absent")"
find_i=$(median "$cli" find --all -- "$file" "$absent")
row "veltrane-cli find --all (absent, any case)" "$find_i" "cat FILE" "$cat_s" 1.6 \
  "$(peak "$cli" find --all -- "$file" "$absent")"
count_s=$(median "$cli" count "$file")
row "veltrane-cli count FILE" "$count_s" "cat FILE" "$cat_s" 1.2 "$(peak "$cli" count "$file")"
cp_s=$(median bash -c 'rm -f "$2"; cp "$1" "$2"' _ "$file" "$cp_target")
rm -f "$cp_target"
extract_s=$(median bash -c 'rm -f "$3"; "$1" extract "$2" 1 "$4" "$3"' _ "$cli" "$file" "$extract_target" "$count")
row "veltrane-cli extract FILE 1 N TARGET" "$extract_s" "cp FILE TARGET" "$cp_s" 1.5 \
  "$(rm -f "$extract_target"; peak "$cli" extract "$file" 1 "$count" "$extract_target")"
cmp -s "$file" "$extract_target" || { echo "peer_bench: the extraction differs from the file" >&2; exit 1; }

# show --utf8 against show on real UTF-8 records, and on MARC-8 records
# against yaz-marcdump's own MARC-8 to UTF-8 conversion.
corpus=${VELTRANE_CORPUS_DIR:-$here/../shared/corpus}
utf8_parts=(evergreen_auth_1066.mrc evergreen_nepali.marc marc4j_065001035.mrc marc4j_brkrtest_utf8.mrc
            pymarc_regression45.dat traject_test_data_utf8.mrc yaz_marccol1_utf8.marc yaz_marccol5_utf8.marc)
have_utf8=1
for part in "${utf8_parts[@]}"; do [ -f "$corpus/$part" ] || have_utf8=0; done
if [ "$have_utf8" = 1 ]; then
  utf8_file=$work/utf8.mrc
  (cd "$corpus" && cat "${utf8_parts[@]}") > "$work/utf8-mix.mrc"
  for _ in $(seq 150); do cat "$work/utf8-mix.mrc"; done > "$utf8_file"
  utf8_count=$("$cli" count "$utf8_file")
  raw_s=$(median "$cli" show "$utf8_file" 1 "$utf8_count")
  utf8_s=$(median "$cli" show --utf8 "$utf8_file" 1 "$utf8_count")
  row "veltrane-cli show --utf8 (UTF-8 records)" "$utf8_s" "veltrane-cli show" "$raw_s" 1.5 \
    "$(peak "$cli" show --utf8 "$utf8_file" 1 "$utf8_count")"
  rm -f "$utf8_file"*
else
  echo "peer_bench: no UTF-8 files of the corpus in $corpus: show --utf8 row skipped"
fi
if [ ! -f "$corpus/solrmarc_uva_2000.mrc" ]; then
  echo "peer_bench: no solrmarc_uva_2000.mrc in $corpus: MARC-8 row skipped"
elif ! command -v yaz-marcdump > /dev/null; then
  echo "peer_bench: no yaz-marcdump: MARC-8 row skipped"
else
  marc8_file=$work/marc8.mrc
  : > "$marc8_file"
  while [ "$(stat -c %s "$marc8_file")" -lt $((50 * 1024 * 1024)) ]; do
    cat "$corpus/solrmarc_uva_2000.mrc" >> "$marc8_file"
  done
  marc8_count=$("$cli" count "$marc8_file")
  yaz8_s=$(median yaz-marcdump -f MARC-8 -t UTF-8 "$marc8_file")
  show8_s=$(median "$cli" show --utf8 "$marc8_file" 1 "$marc8_count")
  row "veltrane-cli show --utf8 (MARC-8 records)" "$show8_s" "yaz-marcdump -f MARC-8 -t UTF-8" "$yaz8_s" 1.0 \
    "$(peak "$cli" show --utf8 "$marc8_file" 1 "$marc8_count")"
fi
