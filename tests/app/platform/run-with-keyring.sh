#!/bin/sh
# Runs a test program inside a private D-Bus session with its own unlocked keyring and a
# temporary home folder. The keyring daemon (keyring-daemon.sh, which the program may use to
# restart it, through HV_KEYRING_DAEMON) and the bus are stopped at the end.
set -u
program="$1"

for pair in dbus-run-session:dbus dbus-send:dbus gnome-keyring-daemon:gnome-keyring; do
  tool=${pair%%:*}
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "keyring test: $tool is missing: install the Debian package ${pair#*:}"
    exit 1
  fi
done

home=$(mktemp -d /tmp/hv-keyring-XXXXXX) || exit 1
# Told to tests/test-env, which removes it should this run be stopped before it can.
[ -z "${HALVOREN_TEST_FOLDERS:-}" ] || [ ! -f "$HALVOREN_TEST_FOLDERS" ] || printf '%s\n' "$home" >>"$HALVOREN_TEST_FOLDERS"
trap 'rm -rf "$home"' EXIT
export HOME="$home"
export XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
export XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
HV_KEYRING_DAEMON="$(cd "$(dirname "$0")" && pwd)/keyring-daemon.sh"
export HV_KEYRING_DAEMON HV_KEYRING_PASSWORD="unlock-for-the-test"

dbus-run-session -- sh -c '
  sh "$HV_KEYRING_DAEMON" start || exit 1
  "$0"
  status=$?
  sh "$HV_KEYRING_DAEMON" stop
  exit "$status"
' "$program"
