#!/bin/sh
# Runs a test program inside a private D-Bus session with its own unlocked keyring and a
# temporary home folder. The keyring daemon and the bus are stopped at the end.
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
trap 'rm -rf "$home"' EXIT
export HOME="$home"
export XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
export XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY

dbus-run-session -- sh -c '
  printf "%s" "unlock-for-the-test" | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >"$HOME/keyring.log" 2>&1 &
  daemon=$!
  # Wait until the daemon owns the service name, so nothing activates a second one.
  tries=0
  until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
      echo "keyring test: the keyring daemon did not start"; cat "$HOME/keyring.log"
      kill "$daemon" 2>/dev/null; exit 1
    fi
    sleep 0.1
  done
  "$0"
  status=$?
  kill "$daemon" 2>/dev/null
  wait "$daemon" 2>/dev/null
  exit "$status"
' "$program"
