#!/bin/sh
# A root given with --root counts for one run only and is never stored: run after run (the ready
# file replaced each time), after a failed command, after a run stopped by a signal or killed,
# and after runs at once that each save the home's tabs, the home lists its stored roots'
# projects alone, each once; a --root the stored roots hold already is not added again. A
# running tool ignores the file-size signal.
set -eu
hvmodel=$1
. "$(dirname "$0")/hvmodel-run.sh"
fail() {
  echo "hvmodel roots test: $*"
  exit 1
}
home="$run/home"
mkdir -p "$home/.config/halvoren" "$run/stored/web" "$run/extra/api"
printf '{"flutter.projectsRoots":["%s"],"flutter.onboardingDone":true}' "$run/stored" \
  >"$home/.config/halvoren/preferences.json"
# The projects of the stored roots alone, each once: name|path lines.
expect_stored() {
  listed=$("$hvmodel" --home "$home" projects | cut -d'|' -f2,3)
  [ "$listed" = "web|$run/stored/web" ] || fail "$1: the home lists: $listed"
}

for round in 1 2 3; do
  echo stale >"$run/ready"
  listed=$("$hvmodel" --home "$home" --root "$run/extra" --ready "$run/ready" projects) ||
    fail "round $round ended with $?"
  [ "$(echo "$listed" | cut -d'|' -f2 | tr '\n' ' ')" = "web api " ] || fail "round $round listed: $listed"
  [ ! -s "$run/ready" ] || fail "round $round left the ready file: $(cat "$run/ready")"
  [ -z "$(ls "$run" | grep -v '^ready$' | grep '^ready')" ] || fail "round $round left: $(ls "$run")"
  expect_stored "after round $round"
done

# A --root the stored roots hold already, written another way.
listed=$("$hvmodel" --home "$home" --root "$run/stored/." projects | cut -d'|' -f2)
[ "$listed" = web ] || fail "a stored root given again lists: $listed"
expect_stored "after a stored root given again"

# A command that fails.
if "$hvmodel" --home "$home" --root "$run/extra" close nothing 2>/dev/null; then fail "closing no tab succeeded"; fi
expect_stored "after a failed command"

# Whether process $1 ignores the file-size signal: SIGXFSZ, signal 25, is bit 24 of the mask
# of ignored signals in its status.
ignores_file_size_signal() {
  ignored=$(sed -n 's/^SigIgn:[[:space:]]*//p' "/proc/$1/status")
  [ "${#ignored}" = 16 ] || fail "no mask of ignored signals for $1: $ignored"
  [ $((0x${ignored#????????} & 0x01000000)) != 0 ]
}

# Stopped by a signal while it runs, one that cannot be caught included. A command sh runs in
# the background starts with SIGINT ignored: the tool gets it at its default instead, as one
# typed at a terminal does. It is started with the file-size signal at its default too, so that
# it ignores that signal only when it sets it up itself, as it must: a write past the file-size
# limit must fail and say so, never end the run.
for signal in TERM INT KILL; do
  rm -f "$run/ready"
  env --default-signal=INT,XFSZ "$hvmodel" --home "$home" --root "$run/extra" --ready "$run/ready" run 120 >/dev/null 2>&1 &
  b=$!
  await_ready "$run/ready"
  ignores_file_size_signal "$b" || fail "a run leaves the file-size signal at its default"
  kill -"$signal" "$b"
  status=0
  wait "$b" || status=$?
  b=""
  [ "$status" -ne 0 ] || fail "a run stopped by SIG$signal ended with 0"
  expect_stored "after SIG$signal"
done

# Runs at once on the home: A with a root of its own, B with another started while A runs, C
# with none; each waits for a tab that a fourth run opens. A ends first; B and C save the tab
# they waited for after A has ended.
mkdir -p "$run/extra2/lib"
listing=$("$hvmodel" --home "$home" --root "$run/extra" projects)
key_of() {
  echo "$listing" | awk -F'|' -v name="$1" '$2 == name { print $1 "::" $4 }'
}
web=$(key_of web)
api=$(key_of api)
[ -n "$web" ] && [ -n "$api" ] || fail "no tab keys in: $listing"
"$hvmodel" --home "$home" --root "$run/extra" --ready "$run/a.ready" await "$web" 60 >"$run/a.out" 2>&1 &
a=$!
b=$a
await_ready "$run/a.ready" "$a"
"$hvmodel" --home "$home" --root "$run/extra2" --ready "$run/b.ready" await "$api" 60 >"$run/b.out" 2>&1 &
b2=$!
"$hvmodel" --home "$home" --ready "$run/c.ready" await "$api" 60 >"$run/c.out" 2>&1 &
c=$!
b="$a $b2 $c"
await_ready "$run/b.ready" "$b2"
await_ready "$run/c.ready" "$c"
"$hvmodel" --home "$home" open "$run/stored/web" >/dev/null || fail "web did not open"
wait "$a" || fail "A ended with $?"
grep -q "^$web|" "$run/a.out" || fail "A did not see its tab: $(cat "$run/a.out")"
kill -0 "$b2" 2>/dev/null && kill -0 "$c" 2>/dev/null || fail "B or C ended before A"
"$hvmodel" --home "$home" open "$run/extra/api" >/dev/null || fail "api did not open"
for pid in "$b2" "$c"; do wait "$pid" || fail "a run at once ended with $?"; done
b=""
for out in b c; do
  grep -q "^$api|" "$run/$out.out" || fail "$out did not see its tab: $(cat "$run/$out.out")"
done
expect_stored "after runs at once"
echo ok
