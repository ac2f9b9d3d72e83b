#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# convert_bench.sh [CHECK_FILE]: times `veltrane-cli convert --to marcxml`
# against `yaz-marcdump -o marcxml` on a generated UTF-8 MARC 21 file of
# $VELTRANE_BENCH_MIB MiB (default 128), and `veltrane-cli check` against `cat`
# on CHECK_FILE (bench/run.sh passes its 1 GiB file; without it, the UTF-8
# file). Everything goes to /dev/null, warm cache, median of 5 runs after one
# warm-up; peak memory (max RSS) is printed for each and stays flat whatever
# the file size. Targets: convert at most 1.0x yaz-marcdump, check at most 3x cat.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
mib=${VELTRANE_BENCH_MIB:-128}
runs=5
[ -x "$cli" ] || { echo "convert_bench: no veltrane-cli at $cli" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/convert-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
utf8=$work/utf8-marc21.mrc
python3 - "$utf8" "$mib" <<'PY'
import random, sys
random.seed(13)
words = ["Müller", "Geschichte", "économie", "Ελληνικά", "русский", "中文书名", "日本の歴史", "data", "library",
         "catalogue", "records", "über", "façade", "naïve", "résumé", "ciudad", "España", "København"]
def text(n): return " ".join(random.choice(words) for _ in range(n))
def record(i):
    fields = [(b"001", b"bench%09d" % i), (b"005", b"20240101120000.0"),
              (b"008", b"240101s2024    xx            000 0 eng d"),
              (b"020", b"  \x1fa978%010d" % i),
              (b"100", b"1 \x1fa" + text(2).encode() + b"\x1fd1950-"),
              (b"245", b"10\x1fa" + text(random.randint(3, 12)).encode() + b" /\x1fc" + text(3).encode()),
              (b"260", b"  \x1faBerlin :\x1fbVerlag,\x1fc2024."),
              (b"520", b"  \x1fa" + text(random.randint(10, 150)).encode()),
              (b"650", b" 0\x1fa" + text(2).encode() + b"\x1fx" + text(1).encode())]
    directory, data = b"", b""
    for tag, body in fields:
        body += b"\x1e"
        directory += tag + b"%04d%05d" % (len(body), len(data))
        data += body
    directory += b"\x1e"
    base = 24 + len(directory)
    return b"%05d" % (base + len(data) + 1) + b"cam a22" + b"%05d" % base + b" i 4500" + directory + data + b"\x1d"
pool = b"".join(record(i) for i in range(20000))
with open(sys.argv[1], "wb") as out:
    for _ in range(int(sys.argv[2]) * 1024 * 1024 // len(pool) + 1):
        out.write(pool)
PY
check_file=${1:-$utf8}

source "$here/bench/timing.sh"

printf 'UTF-8 MARC 21 file: %s MiB; check file: %s MiB\n' "$(( $(stat -c %s "$utf8") / 1048576 ))" \
  "$(( $(stat -c %s "$check_file") / 1048576 ))"
read -r ours ours_kib < <(median_of "$cli" convert --charset utf-8 --to marcxml "$utf8")
if command -v yaz-marcdump >/dev/null; then
  read -r yaz yaz_kib < <(median_of yaz-marcdump -o marcxml "$utf8")
  printf 'convert --to marcxml %6.2f s  %7d KiB | yaz-marcdump -o marcxml %6.2f s  %7d KiB | ratio %s (target <= 1.0)\n' \
    "$ours" "$ours_kib" "$yaz" "$yaz_kib" "$(ratio "$ours" "$yaz")"
else
  printf 'convert --to marcxml %6.2f s  %7d KiB | yaz-marcdump not installed\n' "$ours" "$ours_kib"
fi
read -r checked check_kib < <(median_of "$cli" check "$check_file")
read -r catted cat_kib < <(median_of cat "$check_file")
printf 'check                %6.2f s  %7d KiB | cat                     %6.2f s  %7d KiB | ratio %s (target <= 3.0)\n' \
  "$checked" "$check_kib" "$catted" "$cat_kib" "$(ratio "$checked" "$catted")"
