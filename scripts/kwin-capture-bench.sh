#!/usr/bin/env bash
# Runs bench/kwin_capture_bench inside a headless KDE Wayland session: kwin_wayland (2560x1440) as the
# user pellux-kde with one 1920x1080 GTK window and PipeWire, the benchmark authorised for ScreenShot2
# and KWin's window streams by a desktop file naming it (as Pellux is by the one `cmake --install`
# writes). Needs root and a build configured with -DPELLUX_BUILD_BENCH=ON.
#   scripts/kwin-capture-bench.sh [BUILD_DIR] [benchmark arguments...]
set -uo pipefail
build_dir=$(cd "${1:-build}" && pwd)
shift || true
source_dir=$(cd "$(dirname "$0")/.." && pwd)
set -- "$build_dir" "$source_dir" "$@"
source "$source_dir/tests/wayland/lib.sh"
shift 2

[ -x "$BUILD_DIR/bench/kwin_capture_bench" ] || { echo "build kwin_capture_bench first (-DPELLUX_BUILD_BENCH=ON)"; exit 1; }
setup_user pellux-kde 1601
# Xvfb, started by the user for the X11 case, needs the shared socket folder X servers expect.
mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
SOCKET=pellux-kde-bench
KWIN_DIR=$OUT/kwin
mkdir -p "$KWIN_DIR" && chown "$TEST_USER:$TEST_USER" "$KWIN_DIR"
cp /usr/bin/kwin_wayland "$KWIN_DIR/kwin_wayland" # without the file capability exec refuses here
cp "$BUILD_DIR/bench/kwin_capture_bench" "$KWIN_DIR/kwin_capture_bench"
cat >"$KWIN_DIR/session.sh" <<EOS
#!/bin/bash
echo "\$DBUS_SESSION_BUS_ADDRESS" > $KWIN_DIR/bus
# Before KWin, as in a Plasma session: KWin's window streams are PipeWire nodes.
pipewire >$KWIN_DIR/pipewire.log 2>&1 &
for i in \$(seq 1 50); do [ -S "\$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
wireplumber >$KWIN_DIR/wireplumber.log 2>&1 &
exec $KWIN_DIR/kwin_wayland --virtual --width 2560 --height 1440 --no-lockscreen --no-global-shortcuts \
  --no-kactivities --socket $SOCKET
EOS
chmod 755 "$KWIN_DIR/session.sh"
as_user dbus-run-session -- "$KWIN_DIR/session.sh" >"$OUT/kwin.log" 2>&1 &
wait_for 30 test -S "$RUNTIME_DIR/$SOCKET" && wait_for 10 test -s "$KWIN_DIR/bus" || { echo "kwin_wayland did not start"; exit 1; }
BUS=$(cat "$KWIN_DIR/bus")
in_session() { as_user WAYLAND_DISPLAY="$SOCKET" DBUS_SESSION_BUS_ADDRESS="$BUS" XDG_CURRENT_DESKTOP=KDE "$@"; }

mkdir -p "$TEST_HOME/.local/share/applications"
printf '[Desktop Entry]\nType=Application\nName=KWin capture benchmark\nNoDisplay=true\nExec=%s\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\nX-KDE-Wayland-Interfaces=zkde_screencast_unstable_v1\n' \
  "$KWIN_DIR/kwin_capture_bench" >"$TEST_HOME/.local/share/applications/pellux-kwin-capture-bench.desktop"
chown -R "$TEST_USER:$TEST_USER" "$TEST_HOME/.local"
in_session kbuildsycoca5 >/dev/null 2>&1
seq 1 60 | sed 's/^/the quick brown fox jumps over the lazy dog /' >"$OUT/text.txt"
chmod 644 "$OUT/text.txt"
in_session GDK_BACKEND=wayland setsid zenity --text-info --title "bench" --width 1920 --height 1080 \
  --filename "$OUT/text.txt" >/dev/null 2>&1 &
sleep 4
in_session "$KWIN_DIR/kwin_capture_bench" --benchmark_counters_tabular=true "$@"
