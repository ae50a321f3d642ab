#!/usr/bin/env bash
# The processor share of `pellux capture` on a static desktop, on each kind of session in turn: five
# GTK text windows that never change, Pellux installed into a created user's home, `pellux capture
# --for DURATION` under X11 (Xvfb and openbox), KWin, gnome-shell and sway, headless. Prints each
# session's share of one core and its ratio to the X11 figure of the same run. Needs root.
#   scripts/measure-wayland.sh [DURATION] [BUILD_DIR] [SESSION...]   (x11 kde gnome sway; default all)
set -uo pipefail
duration=${1:-300}
build_dir=$(cd "${2:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
sessions=("${@:3}")
[ ${#sessions[@]} -gt 0 ] || sessions=(x11 kde gnome sway)
set -- "$build_dir" "$source_dir"
source "$source_dir/tests/wayland/lib.sh"
trap - EXIT

setup_user pellux-measure 1605
trap 'stop_user_processes; [ -n "${SYSTEM_BUS_PID:-}" ] && kill "$SYSTEM_BUS_PID" 2>/dev/null; echo "logs in $OUT"' EXIT
install_pellux || exit 1
for i in 1 2 3 4 5; do
  { echo "static window $i"; ls -l /usr/bin | head -n 22; } >"$OUT/text$i.txt"
done
chmod 644 "$OUT"/text*.txt
SESSION_DIR=$OUT/session
mkdir -p "$SESSION_DIR" && chown "$TEST_USER:$TEST_USER" "$SESSION_DIR"
ENV=()
in_session() { as_user "${ENV[@]}" "$@"; }

start_x11() {
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
  as_user Xvfb :77 -screen 0 1920x1080x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
  wait_for 20 test -S /tmp/.X11-unix/X77 || return 1
  ENV=(DISPLAY=:77 XDG_SESSION_TYPE=x11 GDK_BACKEND=x11)
  in_session openbox >"$OUT/openbox.log" 2>&1 &
  sleep 1
}

start_kde() {
  cp /usr/bin/kwin_wayland "$SESSION_DIR/kwin_wayland" # a copy drops the file capability exec refuses
  printf '#!/bin/bash\necho "$DBUS_SESSION_BUS_ADDRESS" > %s/bus\nexec %s/kwin_wayland --virtual --width 1920 --height 1080 --no-lockscreen --no-global-shortcuts --no-kactivities --socket pellux-measure\n' \
    "$SESSION_DIR" "$SESSION_DIR" >"$SESSION_DIR/session.sh"
  chmod 755 "$SESSION_DIR/session.sh"
  as_user dbus-run-session -- "$SESSION_DIR/session.sh" >"$OUT/kwin.log" 2>&1 &
  wait_for 30 test -s "$SESSION_DIR/bus" && wait_for 30 test -S "$RUNTIME_DIR/pellux-measure" || return 1
  ENV=(WAYLAND_DISPLAY=pellux-measure DBUS_SESSION_BUS_ADDRESS="$(cat "$SESSION_DIR/bus")" XDG_CURRENT_DESKTOP=KDE GDK_BACKEND=wayland)
  in_session kbuildsycoca5 >/dev/null 2>&1
  sleep 3 # KWin reads the rebuilt desktop-file cache a moment later
}

start_gnome() {
  if [ ! -S /run/dbus/system_bus_socket ]; then
    mkdir -p /run/dbus
    SYSTEM_BUS_PID=$(dbus-daemon --system --fork --print-pid)
  fi
  printf '#!/bin/bash\necho "$DBUS_SESSION_BUS_ADDRESS" > %s/bus\nexec gnome-shell --headless --wayland --no-x11 --virtual-monitor 1920x1080 --wayland-display pellux-measure\n' \
    "$SESSION_DIR" >"$SESSION_DIR/session.sh"
  chmod 755 "$SESSION_DIR/session.sh"
  # gnome-shell must not see /run/systemd/seats, which exists here without logind.
  unshare -m --propagation private sh -c "mount -t tmpfs tmpfs /run/systemd && exec runuser -u $TEST_USER -- \
    env HOME=$TEST_HOME XDG_RUNTIME_DIR=$RUNTIME_DIR dbus-run-session -- $SESSION_DIR/session.sh" >"$OUT/gnome-shell.log" 2>&1 &
  wait_for 20 test -s "$SESSION_DIR/bus" || return 1
  ENV=(WAYLAND_DISPLAY=pellux-measure DBUS_SESSION_BUS_ADDRESS="$(cat "$SESSION_DIR/bus")" XDG_CURRENT_DESKTOP=GNOME GDK_BACKEND=wayland)
  in_session setsid pipewire >"$OUT/pipewire.log" 2>&1 &
  wait_for 10 test -S "$RUNTIME_DIR/pipewire-0"
  in_session setsid wireplumber >"$OUT/wireplumber.log" 2>&1 &
  wait_for 60 grep -q 'GNOME Shell started' "$OUT/gnome-shell.log" || return 1
  in_session /usr/bin/python3 "$source_dir/tests/wayland/mutter_input.py" key:ff1b >/dev/null 2>&1 # leave the overview
}

start_sway() {
  echo 'output HEADLESS-1 resolution 1920x1080 position 0,0 bg #335577 solid_color' >"$SESSION_DIR/sway.conf"
  chmod 644 "$SESSION_DIR/sway.conf"
  as_user WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    dbus-run-session -- sway -c "$SESSION_DIR/sway.conf" >"$OUT/sway.log" 2>&1 &
  wait_for 30 sh -c "ls $RUNTIME_DIR/sway-ipc.*.sock && ls $RUNTIME_DIR | grep -qE '^wayland-[0-9]+$'" || return 1
  ENV=(WAYLAND_DISPLAY="$(ls "$RUNTIME_DIR" | grep -E '^wayland-[0-9]+$' | head -1)"
    SWAYSOCK="$(ls "$RUNTIME_DIR"/sway-ipc.*.sock | head -1)" XDG_CURRENT_DESKTOP=sway GDK_BACKEND=wayland)
}

declare -A share
for session in "${sessions[@]}"; do
  stop_user_processes
  rm -rf "$TEST_HOME/Documents/Pellux" "$SESSION_DIR"/[!t]*
  "start_$session" || { echo "$session: the session did not start (logs in $OUT)"; trap - EXIT; exit 1; }
  for i in 1 2 3 4 5; do
    in_session setsid zenity --text-info --title "static $i" --width 600 --height 400 \
      --filename "$OUT/text$i.txt" >/dev/null 2>&1 &
    sleep 1
  done
  sleep 3
  # Processor time of the capture process alone (user and system), over its wall time.
  in_session QT_QPA_PLATFORM=offscreen /usr/bin/time -f '%e %U %S' -o "$SESSION_DIR/time-$session" \
    "$PELLUX" capture --for "$duration" >"$OUT/capture-$session.log" 2>&1
  read -r wall user system <"$SESSION_DIR/time-$session"
  captures=$(grep -oE 'stopped after [0-9]+ window captures' "$OUT/capture-$session.log" | grep -oE '[0-9]+')
  share[$session]=$(echo "($user + $system) / $wall" | bc -l)
  printf '%-6s %5.1f %% of a core over %s s, %s window captures\n' "$session" "$(echo "${share[$session]} * 100" | bc -l)" \
    "$wall" "${captures:-no}"
  SYSTEM_BUS_PID_OLD=${SYSTEM_BUS_PID:-}
  stop_user_processes
  [ -n "$SYSTEM_BUS_PID_OLD" ] && kill "$SYSTEM_BUS_PID_OLD" 2>/dev/null && rm -f /run/dbus/pid /run/dbus/system_bus_socket
  SYSTEM_BUS_PID=""
done
if [ -n "${share[x11]:-}" ]; then
  for session in "${sessions[@]}"; do
    [ "$session" = x11 ] && continue
    printf '%-6s x%.2f of X11\n' "$session" "$(echo "${share[$session]} / ${share[x11]}" | bc -l)"
  done
fi
