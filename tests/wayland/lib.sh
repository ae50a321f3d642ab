# Shared steps of the headless Wayland desktop tests: a created user per desktop (compositors
# refuse root), Pellux installed with `cmake --install` into that user's home, helpers to run
# commands as the user and wait for things. Sourced by the tests beside it, which CTest runs as
#   bash tests/wayland/<desktop>.sh BUILD_DIR SOURCE_DIR
# They need root (to create the user); elsewhere they skip with status 77.
set -uo pipefail

BUILD_DIR=$(cd "${1:?build folder}" && pwd)
SOURCE_DIR=$(cd "${2:?source folder}" && pwd)
SKIP=77

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the Wayland desktop tests create a user and must run as root (CI does)"
  exit $SKIP
fi

# setup_user NAME UID: the user, its home and its private runtime folder. Sets TEST_USER,
# TEST_HOME, RUNTIME_DIR, PELLUX (the installed program) and OUT (a folder for logs, kept on failure).
setup_user() {
  TEST_USER=$1
  local uid=$2
  id "$TEST_USER" >/dev/null 2>&1 || useradd -m -u "$uid" -s /bin/bash "$TEST_USER"
  TEST_HOME=$(getent passwd "$TEST_USER" | cut -d: -f6)
  RUNTIME_DIR=/run/user/$(id -u "$TEST_USER")
  stop_user_processes
  rm -rf "$TEST_HOME/Documents/Pellux" "$TEST_HOME/.config/Pellux" "$RUNTIME_DIR"
  mkdir -p "$RUNTIME_DIR" && chown "$TEST_USER:$TEST_USER" "$RUNTIME_DIR" && chmod 700 "$RUNTIME_DIR"
  OUT=$(mktemp -d "/tmp/pellux-$TEST_USER.XXXXXX")
  chmod 755 "$OUT"
  trap 'status=$?; stop_user_processes; [ $status -eq 0 ] && rm -rf "$OUT" || echo "logs kept in $OUT"' EXIT
}

# install_pellux: `cmake --install` of the build into ~/.local of the test user, as a user would.
install_pellux() {
  cmake --install "$BUILD_DIR" --prefix "$TEST_HOME/.local" >"$OUT/install.log" 2>&1 || {
    cat "$OUT/install.log"
    return 1
  }
  chown -R "$TEST_USER:$TEST_USER" "$TEST_HOME/.local"
  PELLUX=$TEST_HOME/.local/bin/pellux
}

# require TOOL...: skips (status 77) when a tool is missing.
require() {
  for tool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (scripts/install-deps.sh installs it)"; exit $SKIP; }
  done
}

# started SECONDS WHAT LOG COMMAND...: waits for COMMAND; when the time is up the test fails with
# the tail of LOG.
started() {
  local seconds=$1 what=$2 log=$3
  shift 3
  wait_for "$seconds" "$@" && return 0
  echo "FAIL $what did not start"
  tail -30 "$log"
  exit 1
}

# as_user [VAR=value...] COMMAND...: runs as the test user with its home and runtime folder.
as_user() {
  runuser -u "$TEST_USER" -- env HOME="$TEST_HOME" XDG_RUNTIME_DIR="$RUNTIME_DIR" "$@"
}

# wait_for SECONDS COMMAND...: true once the command succeeds, false when the time is up.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  while [ $SECONDS -lt $deadline ]; do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

stop_user_processes() {
  [ -n "${TEST_USER:-}" ] || return 0
  pkill -TERM -u "$TEST_USER" 2>/dev/null
  for _ in $(seq 1 30); do
    pgrep -u "$TEST_USER" >/dev/null || return 0
    sleep 0.1
  done
  pkill -KILL -u "$TEST_USER" 2>/dev/null
  sleep 0.3
}

# start_gnome_shell DISPLAY SIZE...: a headless gnome-shell 43 on the Wayland display DISPLAY with a
# virtual monitor of each SIZE, PipeWire and WirePlumber beside it; in_gnome COMMAND... runs a
# command as the test user in that session.
start_gnome_shell() {
  GNOME_DISPLAY=$1
  shift
  GNOME_DIR=$OUT/gnome # the session's own files (its buses), written as the user
  mkdir -m 700 "$GNOME_DIR" && chown "$TEST_USER:$TEST_USER" "$GNOME_DIR"
  # gnome-shell 43 stops at start without a system bus (its UPower proxy): a private one, run as the
  # user, so that the machine's /run/dbus is left alone.
  SYSTEM_BUS="unix:path=$GNOME_DIR/system_bus_socket"
  as_user setsid dbus-daemon --session --nofork --address="$SYSTEM_BUS" >/dev/null 2>&1 &
  started 10 "the private system bus" /dev/null test -S "$GNOME_DIR/system_bus_socket"
  printf '#!/bin/bash\necho "$DBUS_SESSION_BUS_ADDRESS" >%s/session-bus\nexec gnome-shell --headless --wayland --no-x11 %s--wayland-display %s\n' \
    "$GNOME_DIR" "$(printf -- '--virtual-monitor %s ' "$@")" "$GNOME_DISPLAY" >"$GNOME_DIR/shell.sh"
  chmod 755 "$GNOME_DIR/shell.sh"
  # This machine has /run/systemd/seats without logind: hidden, gnome-shell uses its own seat.
  unshare -m --propagation private sh -c "mount -t tmpfs tmpfs /run/systemd && exec runuser -u $TEST_USER -- \
    env HOME=$TEST_HOME XDG_RUNTIME_DIR=$RUNTIME_DIR DBUS_SYSTEM_BUS_ADDRESS=$SYSTEM_BUS XDG_CURRENT_DESKTOP=GNOME \
    dbus-run-session -- $GNOME_DIR/shell.sh" >"$OUT/gnome-shell.log" 2>&1 &
  started 20 "gnome-shell's session bus" "$OUT/gnome-shell.log" test -s "$GNOME_DIR/session-bus"
  # Outside the mount namespace: WirePlumber 0.4 ends without /run/systemd/seats.
  in_gnome setsid pipewire >"$OUT/pipewire.log" 2>&1 &
  wait_for 10 test -S "$RUNTIME_DIR/pipewire-0"
  in_gnome setsid wireplumber >"$OUT/wireplumber.log" 2>&1 &
  started 60 gnome-shell "$OUT/gnome-shell.log" grep -q 'GNOME Shell started' "$OUT/gnome-shell.log"
}
in_gnome() {
  as_user WAYLAND_DISPLAY="$GNOME_DISPLAY" DBUS_SESSION_BUS_ADDRESS="$(cat "$GNOME_DIR/session-bus")" \
    DBUS_SYSTEM_BUS_ADDRESS="$SYSTEM_BUS" XDG_CURRENT_DESKTOP=GNOME "$@"
}

FAILURES=0
# check NAME COMMAND...: one named expectation; the test fails at the end if any failed.
check() {
  local name=$1
  shift
  if "$@" >>"$OUT/checks.log" 2>&1; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    FAILURES=$((FAILURES + 1))
  fi
}

# check_status NAME STATUS OP VALUE: a run's exit status, compared with `test STATUS OP VALUE`.
check_status() { check "$1 (exit $2)" test "$2" "$3" "$4"; }

finish() {
  echo "$FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}

# search_titles TEXT: the window titles of the recordings `pellux search TEXT --json` finds as the
# test user, one a line; fails when the answer is no list (a search without results still is one).
search_titles() {
  { as_user "$PELLUX" search "$1" --json 2>>"$OUT/search.log" || true; } | python3 -c '
import json, sys
rows = json.load(sys.stdin)
rows = rows.get("results", rows) if isinstance(rows, dict) else rows
print("\n".join(r.get("windowTitle") or "" for r in rows))'
}
# search_finds TEXT TITLE: a recording titled TITLE shows TEXT. search_not_under TEXT TITLE: none
# does (a crop of the wrong part of the screen would carry the neighbour's text).
# search_finds_nothing TEXT: no recording shows TEXT.
search_finds() { local titles; titles=$(search_titles "$1") && echo "$1: $titles" >>"$OUT/checks.log" && grep -qxF "$2" <<<"$titles"; }
search_not_under() { local titles; titles=$(search_titles "$1") && ! grep -qxF "$2" <<<"$titles"; }
search_finds_nothing() { local titles; titles=$(search_titles "$1") && echo "$1: $titles" >>"$OUT/checks.log" && [ -z "$titles" ]; }
