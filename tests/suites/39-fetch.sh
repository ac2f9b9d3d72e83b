#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks `veltrane-cli fetch` against servers of its own on loopback, never
# the network: yaz-ztest (Z39.50 and SRU, generated MARC 21 records; a
# numeric term gives that many hits), tests/fetch/gbk_fixture_server (Z39.50
# on libyaz's frontend server: the GBK CNMARC records of samples/sample.mrc,
# GBK query terms) and tests/fetch/sru_fixture_server.py
# (SRU replies made to order: a fixture record, broken XML, 2^31 hits, a
# record past 99,999 bytes, bytes in another set than declared). Every server
# started is stopped on every exit.
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
cli=${VELTRANE_CLI:-$build_dir/cli/veltrane-cli}

if ! command -v yaz-ztest >/dev/null; then echo "fetch: yaz-ztest not installed (Debian package yaz): skipped"; exit 77; fi
if ! command -v python3 >/dev/null; then echo "fetch: python3 not installed: skipped"; exit 77; fi
if [ ! -x "$cli" ]; then echo "fetch: veltrane-cli not built ($cli)" >&2; exit 1; fi
gbk_server=$build_dir/tests/fetch/gbk_fixture_server
if [ ! -x "$gbk_server" ]; then echo "fetch: the GBK fixture server is not built ($gbk_server)" >&2; exit 1; fi

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrane-fetch-XXXXXX")
pids=()
# Each server runs in a process group of its own, so that the processes it
# forks for connections stop with it.
stop_servers() {
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap stop_servers EXIT
trap 'exit 130' INT TERM

# Free loopback ports: yaz-ztest's, the GBK fixture server's, one where nothing listens.
read -r ztest_port gbk_port closed_port < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(3)]
for s in sockets: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in sockets))')
wait_for_port() {
  for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "fetch: no server came up on port $1" >&2
  return 1
}

setsid yaz-ztest -l "$work/ztest.log" "tcp:127.0.0.1:$ztest_port" >/dev/null 2>&1 &
pids+=($!)
setsid python3 "$source_dir/tests/fetch/sru_fixture_server.py" "$source_dir/tests/fetch/fixture_record.xml" >"$work/sru.port" &
pids+=($!)
VELTRANE_FIXTURE_RECORDS=$source_dir/samples/sample.mrc setsid "$gbk_server" -l "$work/gbk.log" "tcp:127.0.0.1:$gbk_port" \
  >/dev/null 2>&1 &
pids+=($!)
wait_for_port "$ztest_port" || exit 1
wait_for_port "$gbk_port" || exit 1
for _ in $(seq 100); do [ -s "$work/sru.port" ] && break; sleep 0.05; done
sru_port=$(head -1 "$work/sru.port")
wait_for_port "$sru_port" || exit 1

z3950=127.0.0.1:$ztest_port/Default
fixture=http://127.0.0.1:$sru_port/sru
failures=0
fail() { echo "fetch: FAILED: $*" >&2; failures=$((failures + 1)); }

# run EXPECTED-STATUS ARGS...: runs fetch (time-limited) with its output in
# $work/out and its messages in $work/err.
run() {
  local expected=$1; shift
  timeout 20 "$cli" fetch "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" != "$expected" ]; then
    fail "fetch $* exited $status, not $expected; it said: $(head -c 600 "$work/err")"
    return 1
  fi
}
says() { grep -qF -- "$1" "$work/err" || fail "expected the message '$1'; got: $(head -c 600 "$work/err")"; }
count_of() { "$cli" count "$1" 2>/dev/null; }

# Hits, the hit list, and records read by the engine's reader.
if run 0 --server "$z3950" --any 7 --list; then
  [ "$(wc -l <"$work/out")" = 7 ] || fail "--list of 7 hits gave $(wc -l <"$work/out") lines"
  says "$z3950: 7 hits, 7 fetched"
  awk -F'\t' 'NF != 7 || $2 != NR { exit 1 }' "$work/out" || fail "hit list rows are not server, number and five cells"
fi
if run 0 --server "$z3950" --any 45 -o "$work/45.mrc"; then
  [ "$(count_of "$work/45.mrc")" = 45 ] || fail "45 hits fetched in batches gave $(count_of "$work/45.mrc") records"
  "$cli" check --summary "$work/45.mrc" >/dev/null || fail "records fetched from yaz-ztest do not pass check"
fi
# Each present goes out before the records of the one before are read: every
# batch's records still come once each, in order, across batch boundaries.
if run 0 --server "$z3950" --any 45 --list; then
  awk -F'\t' '$2 != NR { exit 1 } END { exit NR != 45 }' "$work/out" ||
    fail "45 hits listed in batches are not records 1 to 45 in order"
fi
run 0 --server "$z3950" --any 150 -o "$work/max.mrc" && [ "$(count_of "$work/max.mrc")" = 100 ] ||
  fail "--max defaults to 100 records"
run 0 --server "$z3950" --any 9 --max 4 --list && [ "$(wc -l <"$work/out")" = 4 ] || fail "--max 4 listed more or fewer"
run 1 --server "$z3950" --any 0 && says "0 hits"
run 1 --server "$z3950" --any 0 -o "$work/none.mrc" && [ ! -e "$work/none.mrc" ] || fail "nothing found left a target"

# SRU on yaz-ztest's port, MARCXML read into ISO 2709.
if run 0 --server "$z3950" --sru --any 3 -o "$work/sru.mrc"; then
  [ "$(count_of "$work/sru.mrc")" -ge 1 ] || fail "SRU gave no record"
fi

# Several servers at once, one of them a closed port: the others' results stay.
if run 0 --server "127.0.0.1:$closed_port/Default" --server "$z3950" --server "http://127.0.0.1:$ztest_port/Default" \
       --any 5 -o "$work/several.mrc"; then
  says "127.0.0.1:$closed_port/Default: failed"
  says "$z3950: 5 hits, 5 fetched"
  [ "$(count_of "$work/several.mrc")" -ge 6 ] || fail "several servers gave $(count_of "$work/several.mrc") records"
fi
run 2 --server "127.0.0.1:$closed_port/Default" --any 5 -o "$work/closed.mrc" && [ ! -e "$work/closed.mrc" ] ||
  fail "a failed server left a target"

# A slowed server hits a short time limit, without holding up a quick one.
started=$(date +%s%N)
run 0 --server "$z3950?search-delay=5" --server "$z3950" --any 2 --timeout 1 -o "$work/slow.mrc" &&
  says "failed: no answer within 1 s"
elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
[ "$elapsed_ms" -lt 4000 ] || fail "a 1 s time limit took ${elapsed_ms} ms"
[ "$(count_of "$work/slow.mrc")" = 2 ] || fail "the quick server's records were lost beside the slow one"

# The target: refused when it exists, appended to, overwritten; never left partial.
printf 'old' >"$work/existing.mrc"
run 2 --server "$z3950" --any 1 -o "$work/existing.mrc" && says "exists; give --append or --overwrite"
[ "$(cat "$work/existing.mrc")" = old ] || fail "a refused target changed"
cp "$work/45.mrc" "$work/append.mrc"
run 0 --server "$z3950" --any 2 -o "$work/append.mrc" --append && [ "$(count_of "$work/append.mrc")" = 47 ] ||
  fail "--append did not add 2 records to 45"
run 0 --server "$z3950" --any 3 -o "$work/append.mrc" --overwrite && [ "$(count_of "$work/append.mrc")" = 3 ] ||
  fail "--overwrite did not replace the target"

# A cancel (Ctrl-C) during a slow present leaves no target and no file beside it.
timeout 20 "$cli" fetch --server "$z3950?present-delay=3" --any 30 -o "$work/cancel/partial.mrc" 2>/dev/null &
mkdir -p "$work/cancel"
fetch_pid=$!
sleep 1
kill -INT "$fetch_pid" 2>/dev/null
wait "$fetch_pid" 2>/dev/null
[ -z "$(ls -A "$work/cancel")" ] || fail "a cancelled fetch left $(ls -A "$work/cancel")"

# Terms go out in the server's set: the server's log shows the bytes it got.
# (yaz-ztest's hits for a word vary with its bytes: only the log is looked at.)
timeout 20 "$cli" fetch --server "$z3950" --server-charset gbk --title 红楼梦 --max 1 --list >/dev/null 2>&1
LC_ALL=C grep -qF "$(printf '@attr 1=4 \272\354\302\245\303\316')" "$work/ztest.log" ||
  fail "the GBK server did not get 红楼梦 in GBK"
timeout 20 "$cli" fetch --server "$z3950" --title 红楼梦 --max 1 --list >/dev/null 2>&1
LC_ALL=C grep -qF "@attr 1=4 红楼梦" "$work/ztest.log" || fail "the UTF-8 server did not get 红楼梦 in UTF-8"

# A GBK CNMARC server: a title typed in UTF-8 finds its record, whose bytes are
# the fixture's and which shows right; sent in UTF-8 the title finds nothing.
gbk=127.0.0.1:$gbk_port/Default
if run 0 --server "$gbk" --server-charset gbk --syntax unimarc --title 红楼梦 -o "$work/hlm.mrc"; then
  "$cli" extract "$source_dir/samples/sample.mrc" 2 2 "$work/fixture2.mrc" 2>/dev/null
  cmp -s "$work/hlm.mrc" "$work/fixture2.mrc" || fail "the GBK record fetched differs from the fixture's bytes"
  "$cli" show --utf8 "$work/hlm.mrc" 1 | grep -qF '2001 $a红楼梦$f曹雪芹著' || fail "the GBK record does not show right"
fi
run 0 --server "$gbk" --server-charset gbk --syntax unimarc --title 红楼梦 --list &&
  [ "$(cut -f3,4 "$work/out")" = "$(printf 'VT0000000002\t红楼梦')" ] || fail "GBK hit list row: $(cat "$work/out")"
run 1 --server "$gbk" --syntax unimarc --title 红楼梦

# Terms a server's set cannot hold are refused before anything is sent.
run 2 --server "$z3950" --server-charset gbk --title "a😀" && says "cannot hold '😀' (U+1F600)"

# An ISBN list: the ISBN-13 finds nothing, its ISBN-10 the fixture record,
# whose bytes equal the fixture converted by the engine itself.
printf '978-7-02-000220-7\n\n# a comment\nnot-an-isbn\n' >"$work/isbns.txt"
if run 0 --server "127.0.0.1:$closed_port/Default" --server "$fixture" --isbn-list "$work/isbns.txt" \
       -o "$work/isbn.mrc"; then
  :
fi
grep -qxF "$(printf '9787020002207\t%s\t1' "$fixture")" "$work/err" || fail "no report line for the ISBN: $(cat "$work/err")"
says "'not-an-isbn' is not an ISBN-10 or ISBN-13"
"$cli" convert --from marcxml --to iso2709 -o "$work/fixture.mrc" "$source_dir/tests/fetch/fixture_record.xml" 2>/dev/null
cmp -s "$work/isbn.mrc" "$work/fixture.mrc" || fail "the fetched record differs from the fixture's bytes"
if run 0 --server "$fixture" --isbn 702000220X --list; then
  [ "$(cut -f3- "$work/out")" = "$(printf 'fixture-hlm\t红楼梦\t曹雪芹\t1998\t702000220X')" ] ||
    fail "hit list row of the fixture: $(cat "$work/out")"
fi

# Hostile SRU replies: a clear message each, no crash, no hang.
run 2 --server "$fixture" --title broken && says "$fixture: failed:"
if run 0 --server "$fixture" --title manyhits --max 3 --list; then
  says "2147483648 hits, 3 fetched"
  [ "$(wc -l <"$work/out")" = 3 ] || fail "2^31 hits listed $(wc -l <"$work/out") rows, not 3"
fi
run 1 --server "$fixture" --title bigrecord && says "more than 99999"
if run 2 --server "$fixture" --title gbkbytes; then
  says "$fixture: failed:"
elif grep -qF "not valid in utf-8" "$work/err"; then
  :
fi

if [ "$failures" -ne 0 ]; then echo "fetch: $failures check(s) failed" >&2; exit 1; fi
echo "fetch: all checks passed"
