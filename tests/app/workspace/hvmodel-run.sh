# Sourced by the hvmodel test scripts: a private tmux server in a temporary folder ($run),
# removed at the end with the hvmodels left running in the background ($b: their process ids,
# separated by spaces), if any.
command -v tmux >/dev/null || { echo "hvmodel test: tmux is missing: install the Debian package tmux"; exit 1; }
run=$(mktemp -d /tmp/hv-XXXXXX)
# Told to tests/test-env, which ends its tmux server and removes it should this run be stopped.
[ -z "${HALVOREN_TEST_FOLDERS:-}" ] || [ ! -f "$HALVOREN_TEST_FOLDERS" ] || printf '%s\n' "$run" >>"$HALVOREN_TEST_FOLDERS"
export TMUX_TMPDIR="$run"
unset TMUX XDG_CONFIG_HOME
b=""
cleanup() {
  for pid in $b; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  tmux kill-server 2>/dev/null || true
  # A tab's shell left by an hvmodel that has ended may still start a tmux server in the
  # socket folder while it is removed: stop that one too and try again.
  tries=0
  until rm -rf "$run" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -lt 20 ] || { rm -rf "$run"; return; }
    sleep 0.1
    tmux kill-server 2>/dev/null || true
  done
}
trap cleanup EXIT

# Waits until the background hvmodel $2 (by default $b) has written its ready file "$1".
await_ready() {
  tries=0
  until [ -e "$1" ]; do
    kill -0 "${2:-$b}" 2>/dev/null || fail "it ended before it was ready"
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || fail "it was not ready within 60 s"
    sleep 0.1
  done
}
