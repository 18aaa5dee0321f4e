#!/bin/sh
# Starts, stops or restarts the keyring daemon of a private keyring test session (see
# run-with-keyring.sh): "start" runs it unlocked with the test password and waits until it
# owns the service name, "stop" ends it and waits until it has gone, "restart" does both, as
# a desktop's daemon that restarts during a run. Its process id is kept in $HOME/keyring.pid,
# so whichever daemon runs last is the one stopped at the end.
set -u
pidfile="$HOME/keyring.pid"

owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true"
}

# Waits up to ten seconds for the condition; false when it never held.
within() {
  tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ "$tries" -gt 100 ] && return 1
    sleep 0.1
  done
}

# A daemon that has exited counts as gone before its parent reaps it.
running() {
  state=$(sed -n 's/.*) \(.\).*/\1/p' "/proc/$(cat "$pidfile")/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}
gone() { ! running && ! owned; }

start() {
  printf "%s" "$HV_KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --unlock --components=secrets \
    >>"$HOME/keyring.log" 2>&1 &
  echo $! >"$pidfile"
  # Nothing may call the service before it owns the name: the bus would start a second one.
  if ! within owned; then
    echo "keyring test: the keyring daemon did not start"; cat "$HOME/keyring.log"
    stop; return 1
  fi
}

stop() {
  [ -f "$pidfile" ] || return 0
  kill "$(cat "$pidfile")" 2>/dev/null
  if ! within gone; then
    kill -9 "$(cat "$pidfile")" 2>/dev/null
    within gone || { echo "keyring test: the keyring daemon did not stop"; return 1; }
  fi
  rm -f "$pidfile"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  restart) stop && start ;;
  *) echo "usage: $0 start|stop|restart"; exit 2 ;;
esac
