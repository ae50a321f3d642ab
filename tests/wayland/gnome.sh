#!/bin/bash
# GNOME (gnome-shell 43, headless): Pellux's shell extension lists the windows, Mutter's ScreenCast
# records each one (a covered one too; a minimised one is listed but, not being on screen, not
# captured), and Mutter's idle monitor moves the activity level. Pellux is installed into the
# user's home, extension included, and turns the extension on itself.
# With --bench after the folders, it runs the capture benchmark (bench/capture_cycle_bench) in the
# same session instead, over one 1920x1080 window, beside the X11 backend on Xvfb.
BENCH=0
[ "${3:-}" = "--bench" ] && BENCH=1
source "$(dirname "$0")/lib.sh"
require gnome-shell pipewire wireplumber foot dbus-daemon unshare /usr/bin/python3

setup_user pellux-gnome 1603
# The shell's settings of an earlier run (the extensions turned on) are forgotten.
rm -rf "$TEST_HOME/.config/dconf"
install_pellux || exit 1
HERE=$(cd "$(dirname "$0")" && pwd)
EXTENSION=windows@pellux.app
check "the install put the extension into the user's extensions folder" \
  test -f "$TEST_HOME/.local/share/gnome-shell/extensions/$EXTENSION/metadata.json"
MONITOR=1280x800
[ $BENCH -eq 1 ] && MONITOR=2560x1440
start_gnome_shell pellux-gnome-0 $MONITOR
keys() { in_gnome /usr/bin/python3 "$HERE/mutter_input.py" "$@" >>"$OUT/checks.log" 2>&1; }

extension_state() {
  in_gnome gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
    -m org.gnome.Shell.Extensions.GetExtensionInfo "$EXTENSION" | grep -o "'state': <[0-9.]*>"
}
echo "extension before Pellux ran: $(extension_state)" >>"$OUT/checks.log"

if [ $BENCH -eq 1 ]; then
  in_gnome setsid foot -a pellux.bench -T pellux-bench -w 1920x1106 -- sh -c 'ls -l /usr/bin; sleep 600' >/dev/null 2>&1 &
  sleep 2
  keys key:ff1b
  sleep 1
  in_gnome QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench/capture_cycle_bench" --benchmark_counters_tabular=true \
    --benchmark_filter='WindowCapture|WindowCycle' --benchmark_min_time=2
  exit $?
fi

# Three windows with their own words; Bravo opens over Alpha, Charlie is minimised (Super+H).
# A terminal window showing TEXT; with LATER, 16 s on the window is cleared and shows twenty lines of
# LATER instead (enough of a change for Pellux to store a new frame).
foot_window() { # app-id title text [later]
  in_gnome setsid foot -a "$1" -T "$2" -w 1000x650 -f monospace:size=16 -- \
    sh -c "printf '%s\n' '$3'; sleep 16; [ -n '${4:-}' ] && printf '\033[2J\033[H' && yes '${4:-}' | head -n 20; sleep 600" \
    >/dev/null 2>&1 &
}
list_windows() {
  in_gnome gdbus call --session -d app.pellux.Shell -o /app/pellux/Shell -m app.pellux.Shell.Windows.List
}
window_count() { [ "$(pgrep -u "$TEST_USER" -c -x foot)" -ge "$1" ]; }
foot_window test.charlie "Charlie window" "CHARLIE MINIMISED WOMBAT"
wait_for 20 window_count 1 && sleep 1.5
keys key:ff1b press:ffeb key:68 release:ffeb # leave the overview, minimise (Super+H)
foot_window test.alpha "Alpha window" "ALPHA COVERED QUOKKA" "ALPHA CHANGED NARWHAL"
sleep 1.5
foot_window test.bravo "Bravo window" "BRAVO FRONT PELICAN"
sleep 1.5
keys key:ff1b

# Pellux turns its extension on and captures for a while. The test is at the keyboard for the first
# seconds (Shift, which types nothing), leaves keyboard and pointer alone until the user counts as
# away, then presses keys again.
in_gnome QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 "$PELLUX" capture --for 25 >"$OUT/capture.out" 2>"$OUT/capture.err" &
capture=$!
for _ in 1 2; do
  sleep 2
  keys key:ffe1
done
# The list as Pellux sees it, now that Pellux has turned the extension on.
list_windows >"$OUT/windows.txt" 2>&1
sleep 6
# Bravo closes while its recording is kept: the next cycles go on without it.
BRAVO_PID=$(pgrep -u "$TEST_USER" -f -- '-T Bravo window' | head -n 1)
[ -n "$BRAVO_PID" ] && kill "$BRAVO_PID"
sleep 6
# Back at the keyboard for the rest of the run: a change of level re-arms the capture timer, and an
# idle moment now would put off the last cycle past the end.
for _ in 1 2 3 4; do
  keys key:ffe1
  sleep 2
done
wait $capture
CAPTURE_STATUS=$?
echo "pellux capture exited with $CAPTURE_STATUS" >>"$OUT/checks.log"
check "pellux capture ran to its end" test "$CAPTURE_STATUS" -eq 0

STATE_AFTER=$(extension_state)
check "Pellux turned its extension on ($STATE_AFTER)" sh -c "grep -q \"turned on Pellux's GNOME Shell extension\" '$OUT/capture.out' '$OUT/capture.err' && [ \"$STATE_AFTER\" = \"'state': <1.0>\" ]"
check "the extension lists the three windows, Bravo in front and overlapping Alpha, Charlie minimised" \
  /usr/bin/python3 - "$OUT/windows.txt" <<'PY'
import ast, json, sys
text = open(sys.argv[1]).read().strip()
windows = {w['title']: w for w in json.loads(ast.literal_eval(text)[0])['windows']}
print(sorted(windows))
a, b, c = windows['Alpha window'], windows['Bravo window'], windows['Charlie window']
fa, fb = a['frame'], b['frame']
overlap = min(fa['x'] + fa['width'], fb['x'] + fb['width']) > max(fa['x'], fb['x']) and \
          min(fa['y'] + fa['height'], fb['y'] + fb['height']) > max(fa['y'], fb['y'])
assert b['stacking'] < a['stacking'] and overlap, (a, b)
assert c['minimized'] and a['pid'] > 0 and a['wm_class'] == 'test.alpha', (a, c)
PY
check "the front window's text is found under its title (it closed later)" search_finds PELICAN "Bravo window"
check "the covered window's text is found under its title" search_finds QUOKKA "Alpha window"
# Its recording stays open between captures: what the window drew later reaches Pellux through it.
check "the covered window's later text is found under its title" search_finds NARWHAL "Alpha window"
check "each window was recorded once" test "$(grep -c 'DEBUG WindowRecording: window' "$OUT/capture.err")" -eq 2
# Minimised means not on screen, as on X11: listed, never stored.
check "the minimised window is not captured" sh -c "! grep -q 'test.charlie' '$OUT/capture.err'"
search_misses() { ! search_finds "$@"; }
check "the minimised window's text is not found" search_misses WOMBAT "Charlie window"
check "being away lowered the activity level" grep -q 'Activity level changed: .* → Low' "$OUT/capture.err"
check "the key raised it again" sh -c "grep 'Activity level changed' '$OUT/capture.err' | sed -n '/→ Low/,\$p' | grep -q -- '→ Medium\|→ High'"
check "no capture failed" sh -c "! grep -h 'ERROR' '$OUT/capture.out' '$OUT/capture.err'"
grep -h "Activity level changed\|MutterCaptureBackend\|ERROR" "$OUT/capture.out" "$OUT/capture.err" >>"$OUT/checks.log"
finish
