# SPDX-License-Identifier: Apache-2.0
# Sourced by the shell benchmarks: the timing helpers they share. Needs $work
# (a scratch folder) and $runs (timed runs per command) set by the caller.

# median_of COMMAND...: median seconds and peak KiB of $runs runs after a warm-up.
median_of() {
  "$@" >/dev/null 2>&1 || true
  local times=() peak=0 seconds kib
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>/dev/null || true
    # time(1) puts "Command exited with non-zero status" first when a command fails.
    read -r seconds kib < <(tail -n 1 "$work/time")
    times+=("$seconds")
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")" "$peak"
}

# ratio A B: A / B to two places.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
