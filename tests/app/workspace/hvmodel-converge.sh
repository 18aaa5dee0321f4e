#!/bin/sh
# Two homes on one private tmux server: a folder opened with hvmodel in the first home becomes a
# tab of the second by polling alone (the second has started, and done its start-up sync,
# before the folder is opened); an unknown tab key fails with one line.
set -eu
hvmodel=$1
. "$(dirname "$0")/hvmodel-run.sh"
fail() {
  echo "hvmodel test: $*"
  for f in "$run"/b.*; do if [ -s "$f" ]; then echo "$f:"; cat "$f"; fi; done
  for s in $(tmux ls -F '#S' 2>/dev/null); do echo "session $s: $(tmux show -t "$s" 2>/dev/null | grep @hv | tr '\n' ' ')"; done
  echo "B's sync now: $("$hvmodel" --home "$run/b" sync 2>&1 | tr '\n' ' ')"
  exit 1
}
mkdir -p "$run/a" "$run/b" "$run/projets/web"
tmux new-session -d -s keeper

listed=$("$hvmodel" --home "$run/a" --root "$run/projets" projects)
test "$(echo "$listed" | cut -d'|' -f2)" = web || fail "projects listed: $listed"
key="$(echo "$listed" | cut -d'|' -f1)::$(echo "$listed" | cut -d'|' -f4)"

# B first, waiting for the tab; A opens the folder only once B's own start is over.
"$hvmodel" --home "$run/b" --ready "$run/b.ready" await "$key" 60 >"$run/b.out" 2>"$run/b.err" &
b=$!
await_ready "$run/b.ready"
[ ! -s "$run/b.ready" ] || fail "B had tabs at its start"

opened=$("$hvmodel" --home "$run/a" open "$run/projets/web")
test "${opened%%|*}" = "$key" || fail "opened $opened, not $key"
status=0
wait "$b" || status=$?
b=""
[ "$status" -eq 0 ] || fail "B's await ended with $status"
test "$(cat "$run/b.out")" = "$opened" || fail "B saw: $(cat "$run/b.out")"

if "$hvmodel" --home "$run/a" close nothing 2>"$run/err"; then exit 1; fi
test "$(wc -l <"$run/err")" -eq 1
echo ok
