#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Loads what `convert --to tsv` and `convert --to jsonl` write into DuckDB
# (@duckdb/node-api from the npm registry, pinned in tests/duckdb's lockfile,
# installed into the build folder; a test peer only, never shipped): the long
# table has one row per record, control field and subfield for every corpus
# file that converts whole, and keeps a tag 001 and values with a quote mark,
# a tab and a backslash as written. Skipped (77) where node, npm or the
# registry cannot be had.
#   VELTRANE_CORPUS_DIR   record files (default: ../shared/corpus beside the sources)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}
cli=${VELTRANE_CLI:-$build_dir/cli/veltrane-cli}

for tool in node npm python3; do
  if ! command -v "$tool" >/dev/null; then echo "duckdb-tables: $tool not installed: skipped"; exit 77; fi
done
if [ ! -d "$corpus" ]; then echo "duckdb-tables: no corpus at $corpus: skipped"; exit 77; fi
if [ ! -x "$cli" ]; then echo "duckdb-tables: veltrane-cli not built ($cli)" >&2; exit 1; fi

peer=$build_dir/duckdb-peer
mkdir -p "$peer"
cp "$source_dir/tests/duckdb/package.json" "$source_dir/tests/duckdb/package-lock.json" \
   "$source_dir/tests/duckdb/check_tables.mjs" "$peer/"
# Installed again only when the lockfile changed.
if ! cmp -s "$peer/package-lock.json" "$peer/node_modules/.installed-lock.json" 2>/dev/null; then
  if ! (cd "$peer" && npm ci --no-audit --no-fund --loglevel=error >/dev/null 2>"$peer/npm.log"); then
    echo "duckdb-tables: npm could not install @duckdb/node-api (see $peer/npm.log): skipped"
    exit 77
  fi
  cp "$peer/package-lock.json" "$peer/node_modules/.installed-lock.json"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-duckdb-XXXXXX")
trap 'rm -rf "$work"' EXIT
# One record: a 001 of leading zeros, a title with a quote mark, a tab and a
# backslash, and Chinese text.
python3 - "$work/made.mrc" <<'PY'
import sys
fields = [(b"001", b"007"), (b"245", '10\x1faSay "when"\ta\\b\x1fc中文'.encode())]
directory, data = b"", b""
for tag, body in fields:
    body += b"\x1e"
    directory += tag + b"%04d%05d" % (len(body), len(data))
    data += body
directory += b"\x1e"
base = 24 + len(directory)
length = base + len(data) + 1
open(sys.argv[1], "wb").write(b"%05dnam a22%05d   4500" % (length, base) + directory + data + b"\x1d")
PY
mapfile -t files < <(find "$corpus" -type f \( -name '*.mrc' -o -name '*.marc' -o -name '*.usmarc' -o -name '*.dat' -o -name '*.iso' \) | sort)
node "$peer/check_tables.mjs" "$cli" "$work" "${files[@]}"
