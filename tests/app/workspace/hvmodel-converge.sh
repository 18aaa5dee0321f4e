#!/bin/sh
# Two homes on one private tmux server: a folder opened with hvmodel in the first home becomes a
# tab of the second by polling alone; an unknown tab key fails with one line.
set -eu
hvmodel=$1
command -v tmux >/dev/null || { echo "hvmodel test: tmux is missing: install the Debian package tmux"; exit 1; }
run=$(mktemp -d /tmp/hv-XXXXXX)
export TMUX_TMPDIR="$run"
unset TMUX XDG_CONFIG_HOME
trap 'tmux kill-server 2>/dev/null; rm -rf "$run"' EXIT
mkdir -p "$run/a" "$run/b" "$run/projets/web"
tmux new-session -d -s keeper

"$hvmodel" --home "$run/b" tabs >/dev/null
test "$("$hvmodel" --home "$run/a" --root "$run/projets" projects | cut -d'|' -f2)" = web
opened=$("$hvmodel" --home "$run/a" open "$run/projets/web")
test "$("$hvmodel" --home "$run/b" await "${opened%%|*}" 120)" = "$opened"
if "$hvmodel" --home "$run/a" close nothing 2>"$run/err"; then exit 1; fi
test "$(wc -l <"$run/err")" -eq 1
echo ok
