#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Compares `profile --format json` with counts taken independently from
# `convert --to jsonl` over every corpus file that converts whole: the record
# count, and per tag and per tag and subfield code the records that have it
# and its occurrences.
#   VELTRANE_CORPUS_DIR   record files (default: ../shared/corpus beside the sources)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}
cli=${VELTRANE_CLI:-$build_dir/cli/veltrane-cli}

if ! command -v python3 >/dev/null; then echo "profile-oracle: python3 not installed: skipped"; exit 77; fi
if [ ! -d "$corpus" ]; then echo "profile-oracle: no corpus at $corpus: skipped"; exit 77; fi
if [ ! -x "$cli" ]; then echo "profile-oracle: veltrane-cli not built ($cli)" >&2; exit 1; fi

python3 - "$cli" "$corpus" <<'PY'
import collections, json, pathlib, subprocess, sys
cli, corpus = sys.argv[1], pathlib.Path(sys.argv[2])
compared = failures = 0
for path in sorted(p for p in corpus.rglob("*") if p.is_file() and p.suffix in (".mrc", ".marc", ".usmarc", ".dat", ".iso")):
    converted = subprocess.run([cli, "convert", "--to", "jsonl", str(path)], capture_output=True)
    if converted.returncode != 0:
        continue  # records read only in part: convert leaves pieces out
    profiled = subprocess.run([cli, "profile", "--format", "json", str(path)], capture_output=True)
    if profiled.returncode != 0:
        print(f"profile-oracle: {path.name}: profile exited {profiled.returncode}")
        failures += 1
        continue
    profile = json.loads(profiled.stdout)
    tags = collections.Counter(); tag_records = collections.Counter()
    codes = collections.Counter(); code_records = collections.Counter()
    records = 0
    for line in converted.stdout.decode("utf-8").splitlines():
        record = json.loads(line)
        records += 1
        seen_tags, seen_codes = set(), set()
        for field in record["fields"]:
            (tag, body), = field.items()
            tags[tag] += 1; seen_tags.add(tag)
            if isinstance(body, dict):
                for sub in body["subfields"]:
                    (code, _), = sub.items()
                    codes[(tag, code)] += 1; seen_codes.add((tag, code))
        tag_records.update(seen_tags); code_records.update(seen_codes)
    got_tags = {t["tag"]: (t["records"], t["occurrences"]) for t in profile["tags"]}
    got_codes = {(t["tag"], c): (v["records"], v["occurrences"]) for t in profile["tags"] for c, v in t["subfields"].items()}
    want_tags = {t: (tag_records[t], tags[t]) for t in tags}
    want_codes = {k: (code_records[k], codes[k]) for k in codes}
    # A code byte past ASCII is written decoded by convert and as \xHH here:
    # only printable ASCII codes are compared.
    printable = lambda code: len(code) == 1 and "!" <= code <= "~" and code != "\\"
    got_codes = {k: v for k, v in got_codes.items() if printable(k[1])}
    want_codes = {k: v for k, v in want_codes.items() if printable(k[1])}
    problems = []
    if profile["records"] != records:
        problems.append(f"records {profile['records']} against {records}")
    if got_tags != want_tags:
        problems.append(f"tags differ: {sorted(set(got_tags.items()) ^ set(want_tags.items()))[:4]}")
    if got_codes != want_codes:
        problems.append(f"subfields differ: {sorted(set(got_codes.items()) ^ set(want_codes.items()))[:4]}")
    compared += 1
    for p in problems:
        print(f"profile-oracle: {path.name}: {p}")
        failures += 1
print(f"profile-oracle: {compared} files compared, {failures} differences")
sys.exit(1 if failures or compared < 10 else 0)
PY
