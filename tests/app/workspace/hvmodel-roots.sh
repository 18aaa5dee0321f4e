#!/bin/sh
# A root given with --root counts for one run only: run after run (the ready file replaced each
# time), after a failed command and after a run stopped by a signal, the home lists its stored
# roots' projects alone, each once; a --root the stored roots hold already is not added again.
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

# Stopped by a signal while it runs.
for signal in TERM INT; do
  rm -f "$run/ready"
  "$hvmodel" --home "$home" --root "$run/extra" --ready "$run/ready" run 120 >/dev/null 2>&1 &
  b=$!
  await_ready "$run/ready"
  kill -"$signal" "$b"
  status=0
  wait "$b" || status=$?
  b=""
  [ "$status" -ne 0 ] || fail "a run stopped by SIG$signal ended with 0"
  expect_stored "after SIG$signal"
done
echo ok
