#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Measures the automatic character-set rule over the shared corpus: for every
# record file listed in its SOURCES.md (and the synthetic GBK files), how many
# records holding non-ASCII bytes each set and rule took, with the invalid
# bytes their decoding met. Real files hold no GBK, so a record of a real file
# left on GBK is a misfit unless the file is in a set not read here (cp866,
# cp1251, MAB, PICA); those records are listed at the end.
#   tools/measure_charsets.sh            (after building the charset_dump target)
#   VELTRANE_BUILD_DIR (default build/), VELTRANE_CORPUS_DIR (default ../shared/corpus)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dump=${VELTRANE_BUILD_DIR:-$here/build}/tests/engine/charset_dump
corpus=${VELTRANE_CORPUS_DIR:-$here/../shared/corpus}
[ -x "$dump" ] || { echo "measure_charsets: build the charset_dump target first ($dump)" >&2; exit 2; }
[ -d "$corpus" ] || { echo "measure_charsets: no corpus at $corpus" >&2; exit 2; }

unread='cp1251|cp866|CP866|Windows-1251|MAB|PICA|not_iso2709'
listed=$(grep '^| ' "$corpus/SOURCES.md" | awk -F'|' 'NR > 1 { gsub(/ /, "", $2); print $2 }' | grep -v '^file$' || true)
files=$(printf '%s\n' $listed; cd "$corpus" && ls synthetic/*.iso 2>/dev/null)

printf '%-40s %6s %6s  %s\n' file records nonasc 'set/rule:records (non-ASCII records only), invalid bytes'
misfits=0
misfit_lines=
for f in $files; do
  [ -f "$corpus/$f" ] || continue
  out=$("$dump" detect "$corpus/$f")
  summary=$(awk -F'\t' '$7 == "nonascii" { k[$2 "/" $3]++; n++; inv += $4 }
                        END { for (x in k) printf "%s:%d ", x, k[x]; printf "| invalid %d", inv }' <<<"$out")
  total=$(grep -c . <<<"$out" || true)
  nonascii=$(awk -F'\t' '$7 == "nonascii"' <<<"$out" | grep -c . || true)
  printf '%-40s %6d %6d  %s\n' "$f" "$total" "$nonascii" "$summary"
  description=$(grep -F "| $(basename "$f") |" "$corpus/SOURCES.md" | awk -F'|' '{ print $8 $9 }' || true)
  if [[ $f != synthetic/* ]] && ! grep -qE "$unread" <<<"$f $description"; then
    left=$(awk -F'\t' '$7 == "nonascii" && $2 == "gbk" { print $1 }' <<<"$out" | tr '\n' ' ')
    if [ -n "$left" ]; then
      count=$(wc -w <<<"$left")
      misfits=$((misfits + count))
      misfit_lines+="  $f: $count record(s): $(cut -c1-120 <<<"$left")"$'\n'
    fi
  fi
done
echo
echo "records of real files (sets read here) left on GBK: $misfits"
printf '%s' "$misfit_lines"
