#!/bin/sh
# hvmodel quits while the row of the tab it opened is still being read on a host that never
# answers that read (a stand-in login shell that sleeps through it): the read is ended with
# hvmodel, and the model's work that awaited it finishes before the process ends, so that
# under the sanitizers none of it is reported left behind. hvmodel ends with status 0 and
# leaves no process of the read running.
set -eu
hvmodel=$1
. "$(dirname "$0")/hvmodel-run.sh"
fail() {
  echo "hvmodel quit test: $*"
  exit 1
}
# Running, and not just a zombie nobody has collected yet.
running() {
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}
mkdir -p "$run/home" "$run/projets/web"
tmux new-session -d -s keeper
session=$("$hvmodel" --home "$run/home" --root "$run/projets" projects | cut -d'|' -f4)
[ -n "$session" ] || fail "the folder is not listed"

# The login shell: the row read says where it runs and sleeps; a listing made once the tab's
# session exists waits until that read has started (at most 20 s), so that hvmodel, which
# ends once a listing shows its tab, ends while the read is in flight. Anything else runs.
cat >"$run/login" <<EOF
#!/bin/sh
case "\$*" in
*display-message*session_created*)
  echo \$\$ >"$run/read.part" && mv "$run/read.part" "$run/read"
  exec sleep 600 ;;
*list-sessions*)
  if tmux has-session -t "=$session" 2>/dev/null; then
    tries=0
    while [ ! -e "$run/read" ] && [ \$tries -lt 200 ]; do sleep 0.1; tries=\$((tries + 1)); done
  fi ;;
esac
exec /bin/sh "\$@"
EOF
chmod +x "$run/login"

status=0
opened=$(SHELL="$run/login" "$hvmodel" --home "$run/home" --root "$run/projets" open "$run/projets/web" 2>"$run/err") ||
  status=$?
[ ! -e "$run/read" ] || b="$b $(cat "$run/read")"
[ "$status" -eq 0 ] || fail "hvmodel ended with $status: $(cat "$run/err")"
[ "${opened#*|}" = "web|$run/projets/web" ] || fail "opened: $opened"
[ -e "$run/read" ] || fail "the tab's row was never read"
read_pid=$(cat "$run/read")
tries=0
while running "$read_pid" && [ "$tries" -lt 50 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
! running "$read_pid" || fail "the row read $read_pid still runs after hvmodel ended"
echo ok
