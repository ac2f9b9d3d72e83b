#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the character-set engine against the shared corpus with independent
# peers (used as test oracles only):
#  1. marc4j_brkrtest_marc8.mrc and marc4j_brkrtest_utf8.mrc hold the same
#     records, one in MARC-8 and one in UTF-8: their decoded display texts must
#     be equal after NFC normalisation (python3's unicodedata).
#  2. Every text run of every record the automatic rule reads as MARC-8 must
#     decode as MARC::Charset (Debian libmarc-charset-perl) decodes it, after
#     NFC normalisation. Allowed without a listing: a byte neither side maps,
#     which shows here as U+FFFD and which MARC::Charset drops. The runs listed
#     in `explained` below differ for the reason given there.
#  3. Every record of the synthetic GBK files is read as GBK.
#   VELTRANE_CORPUS_DIR   the folder (default: ../shared/corpus beside the sources)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}

if [ ! -d "$corpus" ]; then
  echo "charset oracle: corpus folder not found: skipped ($corpus)"
  exit 77
fi
dump=$build_dir/tests/engine/charset_dump
if [ ! -x "$dump" ]; then
  echo "charset oracle: charset_dump not built (looked in $build_dir/tests/engine)" >&2
  exit 1
fi
if ! perl -MMARC::Charset -e1 2>/dev/null; then
  echo "charset oracle: MARC::Charset missing (Debian libmarc-charset-perl)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-charset-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# 1. The MARC-8 / UTF-8 pair.
"$dump" show "$corpus/marc4j_brkrtest_marc8.mrc" >"$work/pair-marc8.txt"
"$dump" show "$corpus/marc4j_brkrtest_utf8.mrc" >"$work/pair-utf8.txt"
if python3 - "$work/pair-marc8.txt" "$work/pair-utf8.txt" <<'PY'
import sys, unicodedata
a, b = (unicodedata.normalize("NFC", open(p, encoding="utf-8").read()) for p in sys.argv[1:3])
if a != b:
    for n, (x, y) in enumerate(zip(a.splitlines(), b.splitlines()), 1):
        if x != y:
            print(f"line {n}:\n  marc-8: {x}\n  utf-8:  {y}", file=sys.stderr)
            break
    sys.exit(1)
print(f"charset oracle: brkrtest pair equal after NFC ({len(a.splitlines())} lines)")
PY
then :; else echo "FAIL brkrtest pair: decoded texts differ" >&2; failures=$((failures + 1)); fi

# 2. MARC-8 against MARC::Charset.
cat >"$work/oracle.pl" <<'PL'
use strict; use warnings;
use MARC::Charset qw(marc8_to_utf8);
use Unicode::Normalize qw(NFC);
MARC::Charset->ignore_errors(1);
MARC::Charset->assume_unicode(0);
binmode STDOUT, ':encoding(UTF-8)';
local $SIG{__WARN__} = sub {};  # its notes on unmapped bytes
my ($file) = @ARGV;
# file record tag => why the decoded texts differ
my %explained = (
  # A combining mark before a space: libyaz puts it on the space, MARC::Charset
  # carries it past the space to the next letter. The records are wrong either way.
  'evergreen_hebrew.marc 7 240' => 'mark before a space',
  'evergreen_jazz_1k.mrc 874 505' => 'mark before a space',
  'evergreen_jazz_1k.mrc 877 505' => 'mark before a space',
  'solrmarc_uva_2000.mrc 904 245' => 'mark before a space',
  'solrmarc_uva_2000.mrc 1237 245' => 'mark before a space',
  # Broken EACC: three-byte codes the libyaz table lacks (U+FFFD here) that
  # MARC::Charset maps, and cut codes each side resynchronises differently.
  'marc4j_chinese_mangled_multibyte.mrc 1 880' => 'EACC codes only MARC::Charset maps',
);
my ($runs, $dropped, $listed, $bad) = (0, 0, 0, 0);
while (my $line = <STDIN>) {
  chomp $line;
  my ($rec, $set, $idx, $tag, $raw, $ours) = split /\t/, $line;
  next unless $set eq 'marc-8';
  $runs++;
  $raw = $raw eq '-' ? '' : pack('H*', $raw);
  $ours = $ours eq '-' ? '' : pack('H*', $ours);
  utf8::decode($ours);
  my $theirs = marc8_to_utf8($raw) // '';
  next if NFC($ours) eq NFC($theirs);
  (my $kept = $ours) =~ s/\x{FFFD}//g;
  if (NFC($kept) eq NFC($theirs)) { $dropped++; next; }
  if ($explained{"$file $rec $tag"}) { $listed++; next; }
  $bad++;
  print "FAIL $file record $rec field $tag:\n  ours:   $ours\n  theirs: $theirs\n";
}
print "$file\t$runs\t$dropped\t$listed\t$bad\n";
exit($bad ? 1 : 0);
PL
printf '%-42s %8s %8s %8s %6s\n' 'file (MARC-8 records)' runs 'FFFD' listed differ
total_runs=0
while IFS= read -r -d '' file; do
  name=${file#"$corpus"/}
  "$dump" runs "$file" >"$work/runs.txt" 2>/dev/null
  grep -q $'^[0-9]*\tmarc-8\t' "$work/runs.txt" || continue
  if ! perl "$work/oracle.pl" "$name" <"$work/runs.txt" >"$work/oracle.out"; then
    failures=$((failures + 1))
    grep -v $'\t' "$work/oracle.out" | head -20 >&2
  fi
  IFS=$'\t' read -r _ runs dropped listed bad < <(tail -1 "$work/oracle.out")
  printf '%-42s %8s %8s %8s %6s\n' "$name" "$runs" "$dropped" "$listed" "$bad"
  total_runs=$((total_runs + runs))
done < <(find "$corpus" -maxdepth 1 -type f ! -name '*.md' -print0 | sort -z)
echo "charset oracle: $total_runs MARC-8 runs compared with MARC::Charset"

# 3. GBK stays GBK.
for file in "$corpus"/synthetic/*.iso "$source_dir"/samples/*.mrc; do
  [ -f "$file" ] || continue
  other=$("$dump" detect "$file" | awk -F'\t' '$2 != "gbk"' | head -3)
  if [ -n "$other" ]; then
    echo "FAIL ${file#"$corpus"/}: records not read as GBK:" >&2
    echo "$other" >&2
    failures=$((failures + 1))
  fi
done

if [ $failures -ne 0 ]; then
  echo "charset oracle: $failures failures" >&2
  exit 1
fi
echo "charset oracle: passed"
