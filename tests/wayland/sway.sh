# Pellux on a headless sway (wlroots) session: two terminal windows side by side with known text,
# one window on another workspace and one in the scratchpad; `pellux capture` must store each shown
# window's own text under its title (sway's IPC for the list, wlr-screencopy for the pixels), list
# the hidden windows as not on screen and never store their text, and follow presence (idle after a
# few seconds without input, back at a key press) in its activity level. Then: a window on a turned
# output, the window list without sway's IPC (wlr-foreign-toplevel), and sway going away mid-capture.
#   bash tests/wayland/sway.sh BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/lib.sh"

require sway swaymsg foot wtype dbus-run-session

setup_user pellux-sway 1602
install_pellux || exit 1

# sway refuses root and needs no GPU with the pixman renderer; no bar, one output.
cat >"$OUT/sway.conf" <<'EOF'
output HEADLESS-1 resolution 1280x800 position 0,0 bg #335577 solid_color
EOF
chmod 644 "$OUT/sway.conf"
as_user WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  dbus-run-session -- sway -c "$OUT/sway.conf" >"$OUT/sway.log" 2>&1 &
sway_socket() { ls "$RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -1; }
wayland_socket() { ls "$RUNTIME_DIR" 2>/dev/null | grep -E '^wayland-[0-9]+$' | head -1; }
sway_started() { [ -n "$(sway_socket)" ] && [ -n "$(wayland_socket)" ]; }
started 30 sway "$OUT/sway.log" sway_started
SWAYSOCK=$(sway_socket)
WAYLAND_DISPLAY=$(wayland_socket)
in_session() {
  as_user WAYLAND_DISPLAY="$WAYLAND_DISPLAY" SWAYSOCK="$SWAYSOCK" XDG_CURRENT_DESKTOP=sway "$@"
}
sway_has_window() { in_session swaymsg -t get_tree | grep -qF "\"name\": \"$1\""; }
# open_terminal TITLE APP_ID TEXT: a terminal that shows TEXT in a font large enough to read.
open_terminal() {
  in_session setsid foot -o font=monospace:size=14 -a "$2" -T "$1" -- sh -c "echo '$3'; sleep 600" >/dev/null 2>&1 &
  wait_for 20 sway_has_window "$1" || echo "window \"$1\" did not appear" >>"$OUT/checks.log"
}

# Hidden windows: one on workspace 2 (not shown), one moved to the scratchpad.
in_session swaymsg workspace 2 >/dev/null
open_terminal "Charlie elsewhere" test.charlie "WALRUS GLACIER COMPASS"
in_session swaymsg workspace 1 >/dev/null
open_terminal "Delta scratchpad" test.delta "OSPREY VELVET MEADOW"
in_session swaymsg '[title="Delta scratchpad"] move scratchpad' >/dev/null

# Two windows side by side on the shown workspace (sway tiles them, left and right).
ALPHA_TITLE="Alpha kestrel notes"
BRAVO_TITLE="Bravo pelican notes"
open_terminal "$ALPHA_TITLE" test.alpha "KESTREL MARIGOLD LANTERN"
open_terminal "$BRAVO_TITLE" test.bravo "PELICAN TUNDRA HARBOUR"
sleep 1
in_session swaymsg -t get_tree >"$OUT/tree.json"

# --- capture for 30 seconds; presence goes idle after 5 s without input, and back at a key ---
in_session QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 timeout 120 "$PELLUX" capture --for 30 >"$OUT/capture.log" 2>&1 &
capture=$!
# The key comes once the level has fallen: a resume within the same second would not move it.
wait_for 40 grep -qE "Activity level changed: .* → Low" "$OUT/capture.log"
# A modifier alone: it wakes the seat without typing into the focused terminal.
in_session wtype -k Shift_L >>"$OUT/checks.log" 2>&1 || echo "wtype failed: $?" >>"$OUT/checks.log"
wait $capture
check_status "pellux capture ran and ended well" $? -eq 0
check "sway listed the four windows" grep -q "4 windows listed by sway" "$OUT/capture.log"
check "the window on another workspace is listed as not on screen" \
  grep -q '"Charlie elsewhere" (test.charlie, process [1-9][0-9]*) not on screen' "$OUT/capture.log"
check "the scratchpad window is listed as not on screen" \
  grep -q '"Delta scratchpad" (test.delta, process [1-9][0-9]*) not on screen' "$OUT/capture.log"
check "the two tiled windows are listed on screen, side by side" python3 - "$OUT/capture.log" "$ALPHA_TITLE" "$BRAVO_TITLE" <<'PY'
import re, sys
log = open(sys.argv[1]).read()
def rect(title):
    m = re.search(r'"%s" \([^)]*\) on screen at (-?\d+),(-?\d+) (\d+)x(\d+)' % re.escape(title), log)
    if not m:
        sys.exit("no on-screen line for %r" % title)
    return [int(v) for v in m.groups()]
a, b = rect(sys.argv[2]), rect(sys.argv[3])
if not (a[0] + a[2] <= b[0] and a[2] > 300 and b[2] > 300):
    sys.exit("not side by side: %r %r" % (a, b))
PY
check "only the two shown windows were capture candidates" grep -q "Found 2 windows" "$OUT/capture.log"
check "no capture failed" sh -c "! grep -q 'ERROR WlrootsCaptureBackend' '$OUT/capture.log'"
check "presence was watched through org_kde_kwin_idle" \
  grep -q "watching presence on \"$WAYLAND_DISPLAY\" through org_kde_kwin_idle" "$OUT/capture.log"
check "the activity level fell while idle" grep -qE "Activity level changed: (Medium|High) → Low" "$OUT/capture.log"
check "the activity level rose again after the key press" \
  grep -qE "Activity level changed: Low → (Medium|High)" "$OUT/capture.log"

check "the left window's text is found under its title" search_finds KESTREL "$ALPHA_TITLE"
check "the right window's text is found under its title" search_finds PELICAN "$BRAVO_TITLE"
check "the text of the window on another workspace was never stored" search_finds_nothing WALRUS
check "the text of the scratchpad window was never stored" search_finds_nothing OSPREY
check "the left window's pictures do not show the right window" search_not_under PELICAN "$ALPHA_TITLE"
check "the right window's pictures do not show the left window" search_not_under KESTREL "$BRAVO_TITLE"

# --- a turned output: the picture arrives in the output's own orientation and is turned back, and
# each window is cut from the right place ---
in_session swaymsg output HEADLESS-1 transform 90 >/dev/null
in_session swaymsg workspace 3 >/dev/null
ECHO_TITLE="Echo turned notes"
FOXTROT_TITLE="Foxtrot turned notes"
open_terminal "$ECHO_TITLE" test.echo "FALCON ZENITH"
open_terminal "$FOXTROT_TITLE" test.foxtrot "GANNET QUIVER"
sleep 1
in_session QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 timeout 60 "$PELLUX" capture --once >"$OUT/turned.log" 2>&1
check_status "pellux capture --once on a turned output ended well" $? -eq 0
check "the left window on the turned output is read upright under its title" search_finds FALCON "$ECHO_TITLE"
check "the right window on the turned output is read upright under its title" search_finds GANNET "$FOXTROT_TITLE"
turned_windows_apart() { search_not_under GANNET "$ECHO_TITLE" && search_not_under FALCON "$FOXTROT_TITLE"; }
check "the turned output's windows do not show each other" turned_windows_apart
in_session swaymsg output HEADLESS-1 transform normal >/dev/null

# --- without sway's IPC (as on other wlroots compositors): wlr-foreign-toplevel lists the windows
# without geometry; only the focused window that fills its output is on screen, captured whole ---
in_session swaymsg "[title=\"$BRAVO_TITLE\"] focus, fullscreen enable" >/dev/null
as_user WAYLAND_DISPLAY="$WAYLAND_DISPLAY" XDG_CURRENT_DESKTOP=sway QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 \
  timeout 60 "$PELLUX" capture --once >"$OUT/toplevels.log" 2>&1
check_status "pellux capture --once without SWAYSOCK ended well" $? -eq 0
check "without SWAYSOCK only the fullscreen window was a capture candidate" grep -q "Found 1 windows" "$OUT/toplevels.log"
check "without SWAYSOCK the fullscreen window was captured whole" \
  grep -qE "Screenshot optimized from 1280x800 " "$OUT/toplevels.log"
in_session swaymsg "[title=\"$BRAVO_TITLE\"] fullscreen disable" >/dev/null

# --- the compositor goes away during a capture: one line, a clean end, no hang ---
in_session QT_QPA_PLATFORM=offscreen timeout 60 "$PELLUX" capture --for 8 >"$OUT/gone.log" 2>&1 &
capture=$!
sleep 3
sway_pid=$(pgrep -u "$TEST_USER" -x sway)
[ -n "$sway_pid" ] && kill "$sway_pid"
wait $capture
check_status "pellux capture ended by itself after sway went away" $? -ne 124
check "the lost compositor was reported once" \
  test "$(grep -c 'WaylandIdleActivitySource: the connection to the Wayland display' "$OUT/gone.log")" -eq 1

finish
