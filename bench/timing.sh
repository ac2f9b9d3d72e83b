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

# medians_interleaved N -- CMD1... -- CMD2... [-- CMD3...]: runs the commands
# in turn N times after a warm-up of each, so that a machine whose speed
# drifts slows each alike; prints "seconds peak-KiB" of each, a line each.
medians_interleaved() {
  local n=$1 commands=() current="" i k
  shift
  for arg in "$@"; do
    if [ "$arg" = "--" ]; then
      [ -n "$current" ] && commands+=("$current")
      current=""
    else
      current+="$(printf '%q ' "$arg")"
    fi
  done
  [ -n "$current" ] && commands+=("$current")
  for k in "${!commands[@]}"; do
    eval "${commands[$k]}" >/dev/null 2>&1 || true
    : >"$work/times.$k"
    echo 0 >"$work/peak.$k"
  done
  for i in $(seq "$n"); do
    for k in "${!commands[@]}"; do
      eval "/usr/bin/time -f '%e %M' -o \"\$work/time\" ${commands[$k]}" >/dev/null 2>/dev/null || true
      local seconds kib peak
      read -r seconds kib < <(tail -n 1 "$work/time")
      echo "$seconds" >>"$work/times.$k"
      read -r peak <"$work/peak.$k"
      [ "$kib" -gt "$peak" ] && echo "$kib" >"$work/peak.$k"
    done
  done
  for k in "${!commands[@]}"; do
    printf '%s %s\n' "$(sort -n "$work/times.$k" | sed -n "$(( (n + 1) / 2 ))p")" "$(cat "$work/peak.$k")"
  done
}

# ratio A B: A / B to two places.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
