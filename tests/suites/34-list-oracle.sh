#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Compares the record list's title, author and year (list_dump) with values
# taken independently from `convert --to json` over every corpus file that
# converts whole, by the list's rules: UNIMARC 200 $a, 200 $f, 210 $d else
# 100 $a/9-12; MARC 21 245 $a and 100/110/111 $a else 245 $c without trailing
# ISBD punctuation, 008/07-10 else the first four digits of 264 (second
# indicator 1) or 260 $c.
#   VELTRANE_CORPUS_DIR   record files (default: ../shared/corpus beside the sources)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}
cli=${VELTRANE_CLI:-$build_dir/cli/veltrane-cli}
dump=$build_dir/tests/engine/list_dump

if ! command -v python3 >/dev/null; then echo "list-oracle: python3 not installed: skipped"; exit 77; fi
if [ ! -d "$corpus" ]; then echo "list-oracle: no corpus at $corpus: skipped"; exit 77; fi
if [ ! -x "$cli" ] || [ ! -x "$dump" ]; then echo "list-oracle: veltrane-cli or list_dump not built in $build_dir" >&2; exit 1; fi

python3 - "$cli" "$dump" "$corpus" <<'PY'
import concurrent.futures, json, pathlib, re, subprocess, sys
cli, dump, corpus = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])

def shown(text):
    """The text as a list cell shows it: escapes to a non-sorting span and
    controls (C0, DEL, C1) left out."""
    text = re.sub("\x1b[HI]", "", text)
    return "".join(c for c in text if not (ord(c) < 0x20 or 0x7f <= ord(c) < 0xa0))

def trimmed(text, isbd):
    text = shown(text).lstrip(" ")
    return text.rstrip(" /:;=,." if isbd else " ")

def fields(record, tag):
    return [body for field in record["fields"] for t, body in field.items() if t == tag]

def first_subfield(body, code):
    if not isinstance(body, dict):
        return None
    return next((value for sub in body["subfields"] for c, value in sub.items() if c == code), None)

def first_field_subfield(record, tag, code):
    found = fields(record, tag)
    return first_subfield(found[0], code) if found else None

def four_digits(text):
    match = re.search(r"(?<![0-9])[0-9]{4}(?![0-9])", text or "")
    return str(int(match.group())) if match else ""

def unimarc_shaped(record):
    for body in fields(record, "100"):
        a = first_subfield(body, "a")
        if a is not None and re.match(r"[0-9 ]{8}[a-z]", a):
            return True
    return False

def row(record):
    if unimarc_shaped(record):
        title = trimmed(first_field_subfield(record, "200", "a") or "", False)
        author = trimmed(first_field_subfield(record, "200", "f") or "", False)
        year = four_digits(first_field_subfield(record, "210", "d"))
        a100 = first_field_subfield(record, "100", "a") or ""
        if not year and len(a100) >= 13 and a100[9:13].isdigit():
            year = str(int(a100[9:13]))
        return title, author, year
    title = trimmed(first_field_subfield(record, "245", "a") or "", True)
    author = None
    for tag in ("100", "110", "111"):
        if author is None:
            author = first_field_subfield(record, tag, "a")
    if author is None:
        author = first_field_subfield(record, "245", "c")
    year = ""
    f008 = fields(record, "008")
    if f008 and isinstance(f008[0], str) and len(f008[0]) >= 11 and f008[0][6] in "cdeikmpqrstu" \
            and f008[0][7:11].isdigit():
        year = str(int(f008[0][7:11]))
    if not year:
        for body in fields(record, "264"):
            if body["ind2"] == "1":
                year = four_digits(first_subfield(body, "c"))
                if year:
                    break
    if not year:
        year = four_digits(first_field_subfield(record, "260", "c"))
    return title, trimmed(author or "", True), year

def both(path):
    """convert's and the list's output for a file (two processes at once)."""
    converting = subprocess.Popen([cli, "convert", "--to", "json", str(path)], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
    listed = subprocess.run([dump, str(path)], capture_output=True)
    converted = converting.communicate()[0]
    return path, converting.returncode, converted, listed

paths = sorted(p for p in corpus.rglob("*") if p.is_file() and p.suffix in (".mrc", ".marc", ".usmarc", ".dat", ".iso"))
compared = failures = 0
with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
    for path, status, converted, listed in pool.map(both, paths):
        if status != 0:
            continue  # records read only in part: convert leaves pieces out
        if listed.returncode != 0:
            print(f"list-oracle: {path.name}: list_dump exited {listed.returncode}")
            failures += 1
            continue
        want = [row(record) for record in json.loads(converted.decode("utf-8"))]
        got = [tuple(line.split("\t")[1:]) for line in listed.stdout.decode("utf-8").split("\n") if line]
        compared += 1
        if len(got) != len(want):
            print(f"list-oracle: {path.name}: {len(got)} rows against {len(want)} records")
            failures += 1
            continue
        wrong = [(n + 1, g, w) for n, (g, w) in enumerate(zip(got, want)) if g != w]
        for number, g, w in wrong[:3]:
            print(f"list-oracle: {path.name} record {number}: list {g!r}, convert {w!r}")
        failures += bool(wrong)
print(f"list-oracle: {compared} files compared, {failures} with differences")
sys.exit(1 if failures or compared == 0 else 0)
PY
