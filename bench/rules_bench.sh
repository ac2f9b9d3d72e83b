#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# rules_bench.sh [FILE]: times `veltrane-cli check --rules auto --summary`
# against plain `check` and `cat` on FILE (bench/run.sh's 1 GiB file; without
# it, $VELTRANE_BENCH_FILE), to /dev/null, warm cache, median of 5 rounds
# after a warm-up, the three commands in turn in each round (a machine whose
# speed drifts slows each alike), with peak memory (max RSS), which stays flat
# whatever the file size. Targets: at most 2x check and 4x cat. Run it alone
# on the machine (chrt -f 50 bench/rules_bench.sh FILE).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${VELTRANE_CLI:-${VELTRANE_BUILD_DIR:-$here/build}/cli/veltrane-cli}
file=${1:-${VELTRANE_BENCH_FILE:-}}
runs=5
[ -x "$cli" ] || { echo "rules_bench: no veltrane-cli at $cli" >&2; exit 2; }
[ -f "$file" ] || { echo "usage: rules_bench.sh FILE" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/rules-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$here/bench/timing.sh"

{
  read -r cat_s cat_kib
  read -r check_s check_kib
  read -r rules_s rules_kib
} < <(medians_interleaved "$runs" cat "$file" -- "$cli" check --summary "$file" -- \
        "$cli" check --rules auto --summary "$file")
printf 'file %s MiB\n' "$(( $(stat -c %s "$file") / 1048576 ))"
printf 'cat                          %6.2f s  %7d KiB\n' "$cat_s" "$cat_kib"
printf 'check --summary              %6.2f s  %7d KiB\n' "$check_s" "$check_kib"
printf 'check --rules auto --summary %6.2f s  %7d KiB | %s x check (target <= 2) | %s x cat (target <= 4)\n' \
  "$rules_s" "$rules_kib" "$(ratio "$rules_s" "$check_s")" "$(ratio "$rules_s" "$cat_s")"
