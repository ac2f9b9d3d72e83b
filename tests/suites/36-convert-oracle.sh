#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Compares `convert` with the field's own tools, used here as test oracles
# only (never linked): MARCXML and MARC-in-JSON against yaz-marcdump's, parsed
# and compared record by record, not byte by byte; every XML output, broken
# records included, through `xmllint --noout`; the framing of every
# `--to iso2709` output by `yaz-marcdump -n -p` against `veltrane-cli index`;
# the round trip back from each text format; and, where MARC::File::MARCMaker
# is installed, the mnemonic lines of every ASCII record against its own.
#   VELTRANE_CORPUS_DIR   record files (default: ../shared/corpus beside the sources)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}
cli=${VELTRANE_CLI:-$build_dir/cli/veltrane-cli}

for tool in yaz-marcdump xmllint python3; do
  if ! command -v "$tool" >/dev/null; then echo "convert-oracle: $tool not installed: skipped"; exit 77; fi
done
if [ ! -x "$cli" ]; then echo "convert-oracle: veltrane-cli not built ($cli)" >&2; exit 1; fi

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-oracle-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Generated UTF-8 MARC 21 records: diacritics, CJK, markup characters, '$'.
python3 - "$work/generated.mrc" <<'PY'
import sys
def record(n):
    fields = [(b"001", ("gen%05d" % n).encode()), (b"008", b"850101s1985    xx            000 0 eng d"),
              (b"100", b"1 \x1faM\xc3\xbcller, J\xc3\xb6rg\x1fd1950-"),
              (b"245", ("10\x1fa<T\u00edtulo> & \"quoted\" $%d \u4e2d\u6587\x1fcby {someone}" % n).encode()),
              (b"650", b" 0\x1faA\\B\x1fxC")]
    directory, data = b"", b""
    for tag, body in fields[: 3 + n % 3]:
        body += b"\x1e"
        directory += tag + b"%04d%05d" % (len(body), len(data))
        data += body
    directory += b"\x1e"
    base = 24 + len(directory)
    return b"%05d" % (base + len(data) + 1) + b"nam a22" + b"%05d" % base + b" i 4500" + directory + data + b"\x1d"
open(sys.argv[1], "wb").write(b"".join(record(n) for n in range(1, 60)))
PY

cat > "$work/compare.py" <<'PY'
import json, sys, xml.etree.ElementTree as ET
NS = "{http://www.loc.gov/MARC21/slim}"
def from_xml(path):
    out = []
    for r in ET.parse(path).getroot().iter(NS + "record"):
        rec = [r.find(NS + "leader").text or ""]
        for f in r:
            if f.tag == NS + "controlfield":
                rec.append((f.get("tag"), f.text or ""))
            elif f.tag == NS + "datafield":
                rec.append((f.get("tag"), f.get("ind1"), f.get("ind2"),
                            [(s.get("code"), s.text or "") for s in f.iter(NS + "subfield")]))
        out.append(rec)
    return out
def from_json(path):
    data = json.load(open(path, encoding="utf-8"))
    if isinstance(data, dict):
        data = [data]
    out = []
    for r in data:
        rec = [r["leader"]]
        for f in r["fields"]:
            (tag, body), = f.items()
            if isinstance(body, str):
                rec.append((tag, body))
            else:
                rec.append((tag, body["ind1"], body["ind2"], [tuple(*s.items()) for s in body["subfields"]]))
        out.append(rec)
    return out
def yaz_json(path):
    # yaz-marcdump writes one JSON document per record, back to back.
    text, out, decoder, at = open(path, encoding="utf-8").read(), [], json.JSONDecoder(), 0
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at >= len(text):
            return out
        value, at = decoder.raw_decode(text, at)
        out.append(value)
kind, ours, theirs = sys.argv[1:4]
if kind == "xml":
    a, b = from_xml(ours), from_xml(theirs)
else:
    a = from_json(ours)
    json.dump(yaz_json(theirs), open(theirs + ".array", "w"))
    b = from_json(theirs + ".array")
# yaz-marcdump flags its MARCXML as UTF-8 (leader byte 9) and writes "4500" in
# bytes 20-23 whatever the record says; the records' own bytes are kept here.
for r in a + b:
    r[0] = r[0][:9] + r[0][10:20]
if a != b:
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            print("record %d differs:\n ours   %r\n theirs %r" % (i + 1, x, y))
            break
    else:
        print("record counts differ: %d against %d" % (len(a), len(b)))
    sys.exit(1)
PY

# The mnemonic lines of the ASCII records of an ISO 2709 file against
# MARC::File::MARCMaker's (which writes MARC-8 mnemonics, so it speaks for
# ASCII records only). It leaves the leader's blanks as blanks.
cat > "$work/marcmaker.py" <<'PY'
import re, subprocess, sys
cli, path = sys.argv[1:3]
data = open(path, "rb").read()
offsets = [int(x) for x in subprocess.run([cli, "index", path], capture_output=True, text=True).stdout.split()]
script = r"""
use MARC::File::USMARC; use MARC::File::MARCMaker;
my $f = MARC::File::USMARC->in($ARGV[0]); my $n = 0;
while (my $r = $f->next) { $n++; print "\x01$n\n", MARC::File::MARCMaker->encode($r); }
"""
theirs = subprocess.run(["perl", "-e", script, path], capture_output=True, text=True, check=True).stdout
ours = subprocess.run([cli, "convert", "--charset", "utf-8", "--to", "mrk", path], capture_output=True,
                      text=True).stdout.split("\n\n")
checked = 0
for chunk in theirs.split("\x01")[1:]:
    number, _, lines = chunk.partition("\n")
    n = int(number)
    raw = data[offsets[n - 1]:offsets[n]]
    # ASCII records only; and MARCMaker reads "&name;" in the data as a
    # mnemonic of its own and rewrites it, which the data does not mean.
    if any(b >= 0x80 for b in raw) or re.search(rb"&[A-Za-z0-9]+;", raw):
        continue
    expected = lines.strip("\n").splitlines()
    got = ours[n - 1].strip("\n").splitlines()
    if got and got[0].startswith("=LDR  "):
        got[0] = "=LDR  " + got[0][6:].replace("\\", " ")
    if got != expected:
        print("record %d: ours %r, MARCMaker %r" % (n, got, expected))
        sys.exit(1)
    checked += 1
print(checked)
PY

status=0
fail() { echo "FAIL $*"; status=1; }
# What could not be checked for want of a tool or the corpus; the suite then
# ends as skipped (77) unless something failed.
skipped=()
marcmaker=0
perl -MMARC::File::MARCMaker -e 1 2>/dev/null && marcmaker=1
[ $marcmaker = 1 ] || skipped+=("MARC::File::MARCMaker not installed")
mnemonic_records=0
files=("$work/generated.mrc")
if [ -d "$corpus" ]; then
  for f in "$corpus"/*; do
    case "$f" in *.mrc|*.marc|*.usmarc|*.iso) files+=("$f") ;; esac
  done
else
  echo "corpus folder not found: only generated files ($corpus)"
  skipped+=("corpus folder not found ($corpus)")
fi

compared=0
for f in "${files[@]}"; do
  name=$(basename "$f")
  # Every XML output is well-formed, broken records included.
  "$cli" convert --to marcxml "$f" >"$work/any.xml" 2>/dev/null
  [ $? -le 1 ] || fail "$name: convert --to marcxml"
  xmllint --noout "$work/any.xml" 2>/dev/null || fail "$name: xmllint rejects the MARCXML"
  # yaz-marcdump frames the standard output exactly as count and index do.
  "$cli" convert --to iso2709 "$f" >"$work/std.mrc" 2>/dev/null
  if [ -s "$work/std.mrc" ]; then
    ours=$("$cli" index "$work/std.mrc" | sed '$d' | tr '\n' ' ')
    theirs=$(yaz-marcdump -n -p "$work/std.mrc" 2>/dev/null | sed -n 's/^<!-- Record [0-9]* offset \([0-9]*\) .*/\1/p' | tr '\n' ' ')
    [ "$ours" = "$theirs" ] || fail "$name: yaz-marcdump frames the iso2709 output differently"
  fi
  # Field by field against yaz-marcdump, and back: only well-formed UTF-8 MARC 21 files.
  "$cli" check --charset utf-8 "$f" >/dev/null 2>&1 || continue
  "$cli" convert --charset utf-8 --to mrk "$f" >/dev/null 2>&1 || continue
  [ "$(head -c 10 "$f" | tail -c 1)" = a ] || continue
  compared=$((compared + 1))
  "$cli" convert --charset utf-8 --to marcxml "$f" >"$work/ours.xml" 2>/dev/null || fail "$name: marcxml status"
  yaz-marcdump -o marcxml "$f" >"$work/theirs.xml" 2>/dev/null
  python3 "$work/compare.py" xml "$work/ours.xml" "$work/theirs.xml" || fail "$name: MARCXML differs from yaz-marcdump's"
  "$cli" convert --charset utf-8 --to json "$f" >"$work/ours.json" 2>/dev/null || fail "$name: json status"
  yaz-marcdump -o json "$f" >"$work/theirs.json" 2>/dev/null
  python3 "$work/compare.py" json "$work/ours.json" "$work/theirs.json" || fail "$name: JSON differs from yaz-marcdump's"
  "$cli" convert --to iso2709 "$f" >"$work/std.mrc" 2>/dev/null
  if [ $marcmaker = 1 ]; then
    if checked=$(python3 "$work/marcmaker.py" "$cli" "$work/std.mrc"); then
      mnemonic_records=$((mnemonic_records + checked))
    else
      fail "$name: mnemonic lines differ from MARC::File::MARCMaker's: $checked"
    fi
  fi
  for format in marcxml json jsonl mrk; do
    "$cli" convert --charset utf-8 --to "$format" "$work/std.mrc" >"$work/text.$format" 2>/dev/null
    "$cli" convert --from "$format" --to iso2709 "$work/text.$format" >"$work/back.mrc" 2>/dev/null
    cmp -s "$work/std.mrc" "$work/back.mrc" || fail "$name: iso2709 -> $format -> iso2709 is not the identity"
  done
done
echo "convert-oracle: ${#files[@]} files, $compared compared with yaz-marcdump and round-tripped"
[ $marcmaker = 1 ] && echo "convert-oracle: $mnemonic_records ASCII records' mnemonic lines agree with MARC::File::MARCMaker"
[ $status -ne 0 ] && exit $status
if [ ${#skipped[@]} -gt 0 ]; then
  printf 'convert-oracle: skipped in part: %s\n' "${skipped[@]}"
  exit 77
fi
exit 0
