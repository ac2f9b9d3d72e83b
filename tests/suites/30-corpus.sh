#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs every record file of the corpus folder through the command-line tool:
# count (against the expected count of SOURCES.md where listed), the index,
# every record shown in all three delimiter variants, a search, and the whole
# file extracted and compared byte for byte with the source range. Each command
# has a time limit; no file may be left in the current or the temporary folder.
# Then fix, whose output must pass check and frame in yaz-marcdump as in count.
#   VELTRANE_CORPUS_DIR   the folder (default: ../shared/corpus beside the sources)
#   VELTRANE_CLI          the tool (default: the normal build's, else the sanitizer
#                         build's; the sanitizer build's runs it three times slower,
#                         more than CI's time allows, so it is run by hand)
#   VELTRANE_CORPUS_TIMEOUT  seconds per command (default 120)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}
limit=${VELTRANE_CORPUS_TIMEOUT:-120}

if [ ! -d "$corpus" ]; then
  echo "corpus folder not found: skipped ($corpus)"
  exit 77
fi
corpus=$(cd "$corpus" && pwd)

cli=${VELTRANE_CLI:-}
if [ -z "$cli" ]; then
  for candidate in "$build_dir/cli/veltrane-cli" "$build_dir/sanitize/cli/veltrane-cli"; do
    if [ -x "$candidate" ]; then cli=$candidate; break; fi
  done
fi
if [ -z "$cli" ] || [ ! -x "$cli" ]; then
  echo "corpus: veltrane-cli not built (looked in $build_dir)" >&2
  exit 1
fi
echo "corpus: $corpus with $cli"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-corpus-XXXXXX")
trap 'rm -rf "$work"' EXIT
run_dir=$work/cwd        # the tool's current folder
tool_tmp=$work/tmp       # its temporary folder
results=$work/results    # our own files
mkdir -p "$run_dir" "$tool_tmp" "$results"

# The expected counts: the "scan" column of the table in SOURCES.md.
declare -A expected_count=()
if [ -f "$corpus/SOURCES.md" ]; then
  while IFS='|' read -r _ name _ _ _ _ scan _; do
    name=${name// /}; scan=${scan// /}
    [[ $scan =~ ^[0-9]+$ ]] && expected_count[$name]=$scan
  done < <(grep '^|' "$corpus/SOURCES.md")
fi

# Runs the tool in its own folders with the time limit; stdout to $1, stderr to
# $results/stderr. Returns the tool's exit status (124 for a time-out).
cli_run() {
  local out=$1; shift
  (cd "$run_dir" && TMPDIR=$tool_tmp TMP=$tool_tmp timeout "$limit" "$cli" "$@") >"$out" 2>"$results/stderr"
}

failures=0
files=0
records_total=0
records_shown=0
records_unshown=0
fail() {
  echo "FAIL $relative: $*" >&2
  sed 's/^/    /' "$results/stderr" | head -5 >&2
  failures=$((failures + 1))
}

started=$(date +%s)
while IFS= read -r -d '' file; do
  relative=${file#"$corpus"/}
  files=$((files + 1))
  file_started=$(date +%s)

  cli_run "$results/count" count "$file"; status=$?
  if [ $status -ne 0 ]; then fail "count exited $status"; continue; fi
  count=$(cat "$results/count")
  if [ -n "${expected_count[$relative]:-}" ] && [ "$count" != "${expected_count[$relative]}" ]; then
    fail "count $count, SOURCES.md expects ${expected_count[$relative]}"
  fi
  records_total=$((records_total + count))

  cli_run "$results/index" index "$file"; status=$?
  if [ $status -ne 0 ]; then fail "index exited $status"; continue; fi
  entries=$(wc -l <"$results/index")
  if [ "$entries" -ne $((count + 1)) ]; then fail "index has $entries entries for $count records"; continue; fi
  if ! sort -n -c "$results/index" 2>/dev/null; then fail "index offsets are not ascending"; fi

  if [ "$count" -gt 0 ]; then
    for mode in 0 1 2; do
      cli_run /dev/null show --mode "$mode" "$file" 1 "$count"; status=$?
      if [ $status -ne 0 ] && [ $status -ne 1 ]; then fail "show --mode $mode 1 $count exited $status"; continue; fi
      unshown=$(grep -c 'cannot be shown' "$results/stderr")
      records_shown=$((records_shown + count - unshown))
      records_unshown=$((records_unshown + unshown))
    done

    cli_run "$results/found" find --all --raw "$file" 'the'; status=$?
    if [ $status -ne 0 ] && [ $status -ne 1 ]; then
      fail "find exited $status"
    elif ! sort -n -c "$results/found" 2>/dev/null ||
         { [ -s "$results/found" ] && { [ "$(head -1 "$results/found")" -lt 1 ] || [ "$(tail -1 "$results/found")" -gt "$count" ]; }; }; then
      fail "find --all gave numbers out of order or out of 1..$count"
    fi

    target=$results/extracted.mrc
    rm -f "$target"
    cli_run /dev/null extract "$file" 1 "$count" "$target"; status=$?
    if [ $status -ne 0 ]; then
      fail "extract 1 $count exited $status"
    else
      size=$(stat -c %s "$file")
      first=$(head -1 "$results/index")
      sentinel=$(tail -1 "$results/index")
      [ "$sentinel" -gt "$size" ] && sentinel=$size
      if ! cmp -s <(tail -c +$((first + 1)) "$file" | head -c $((sentinel - first))) "$target"; then
        fail "extracted bytes differ from the source range [$first, $sentinel)"
      fi
    fi
  fi

  if [ "$count" -gt 0 ]; then
    # fix: its output passes the structural check, but for bytes the record's
    # set cannot read (left for a cataloguer; --utf8 writes them as U+FFFD,
    # so then nothing is left), and yaz-marcdump frames it as count does.
    fixed=$results/fixed.mrc
    for fix_option in --mode=0 --utf8; do
      cli_run "$fixed" fix "$fix_option" "$file"; status=$?
      if [ $status -gt 1 ]; then fail "fix $fix_option exited $status"; continue; fi
      cli_run "$results/fixcheck" check --summary "$fixed"
      left=$(cut -f1 "$results/fixcheck" | tr '\n' ' ')
      [ "$fix_option" = --utf8 ] || left=$(cut -f1 "$results/fixcheck" | grep -Ev '^(invalid-bytes|bad-utf8)$' | tr '\n' ' ')
      [ -z "$left" ] || fail "fix $fix_option leaves $left"
      if command -v yaz-marcdump >/dev/null; then
        cli_run "$results/fixcount" count "$fixed"
        framed=$(yaz-marcdump -n -p "$fixed" 2>/dev/null | grep -c '^<!-- Record ')
        [ "$framed" = "$(cat "$results/fixcount")" ] || fail "fix $fix_option: yaz-marcdump frames $framed records, count $(cat "$results/fixcount")"
      fi
    done
  fi

  leftovers=$(find "$run_dir" "$tool_tmp" -mindepth 1 | head -3)
  if [ -n "$leftovers" ]; then
    fail "files left behind: $leftovers"
    rm -rf "${run_dir:?}"/* "${tool_tmp:?}"/*
  fi
  elapsed=$(( $(date +%s) - file_started ))
  [ "$elapsed" -ge 30 ] && echo "corpus: $relative took ${elapsed} s"
done < <(find "$corpus" -type f ! -name '*.md' ! -name '*.py' -print0 | sort -z)

echo "corpus: $files files, $records_total records, $records_shown record displays in 3 variants" \
     "($records_unshown short or unreadable), $(( $(date +%s) - started )) s"
if [ $failures -ne 0 ]; then
  echo "corpus: $failures failures" >&2
  exit 1
fi
