#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# profile_bench.sh FILE: times `veltrane-cli profile` against `cat` on FILE
# (bench/make_bench_file makes the 1 GiB one), and `convert --to tsv` against
# `convert --to jsonl` on the same file. Everything goes to /dev/null, warm
# cache, median of 3 runs after a warm-up. Peak memory (max RSS) is printed for
# the whole file and for its first eighth: it stays flat whatever the size.
# Targets: profile at most 3x cat; tsv at most 1.0x jsonl.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
file=${1:?usage: profile_bench.sh FILE}
runs=3
[ -x "$cli" ] || { echo "profile_bench: no veltrane-cli at $cli" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/profile-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$here/bench/timing.sh"

printf 'file: %s MiB\n' "$(( $(stat -c %s "$file") / 1048576 ))"
read -r catted _ < <(median_of cat "$file")
read -r profiled profile_kib < <(median_of "$cli" profile "$file")
printf 'profile              %6.2f s  %7d KiB | cat                 %6.2f s | ratio %s (target <= 3.0)\n' \
  "$profiled" "$profile_kib" "$catted" "$(ratio "$profiled" "$catted")"
head -c $(( $(stat -c %s "$file") / 8 )) "$file" > "$work/eighth.mrc"
read -r _ eighth_kib < <(median_of "$cli" profile "$work/eighth.mrc")
printf 'profile peak memory: %d KiB for the file, %d KiB for its first eighth\n' "$profile_kib" "$eighth_kib"
read -r tsv tsv_kib < <(median_of "$cli" convert --to tsv "$file")
read -r jsonl jsonl_kib < <(median_of "$cli" convert --to jsonl "$file")
printf 'convert --to tsv     %6.2f s  %7d KiB | convert --to jsonl  %6.2f s  %7d KiB | ratio %s (target <= 1.0)\n' \
  "$tsv" "$tsv_kib" "$jsonl" "$jsonl_kib" "$(ratio "$tsv" "$jsonl")"
