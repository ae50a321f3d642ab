# Pellux on a headless KDE Plasma (kwin_wayland) session: two GTK windows with known text, the second
# covering the first; `pellux capture` must store each window's own text under its title, through
# the real authorisation path (the desktop file `cmake --install` writes, no test switch in KWin);
# Pellux's own window must never be stored; and without a desktop file naming the program, capture
# must fail with a line that names the file it needs.
#   bash tests/wayland/kde.sh BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/lib.sh"

require kwin_wayland dbus-run-session zenity kbuildsycoca5 gdbus pipewire wireplumber

setup_user pellux-kde 1601
install_pellux || exit 1
SOCKET=pellux-kde-test

# The packaged kwin_wayland carries a file capability (cap_sys_resource) that exec refuses for an
# unprivileged user here; a copy has none.
KWIN_DIR=$OUT/kwin
mkdir -p "$KWIN_DIR" && chown "$TEST_USER:$TEST_USER" "$KWIN_DIR"
cp /usr/bin/kwin_wayland "$KWIN_DIR/kwin_wayland"
cat >"$KWIN_DIR/session.sh" <<EOF
#!/bin/bash
echo "\$DBUS_SESSION_BUS_ADDRESS" > $KWIN_DIR/bus
# PipeWire as a Plasma session runs it, before KWin: its window streams are PipeWire nodes.
pipewire >$KWIN_DIR/pipewire.log 2>&1 &
for i in \$(seq 1 50); do [ -S "\$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
wireplumber >$KWIN_DIR/wireplumber.log 2>&1 &
# KWin's own switch that lifts the screenshot authorisation stays off: the desktop file must do it.
unset KWIN_SCREENSHOT_NO_PERMISSION_CHECKS KWIN_WAYLAND_NO_PERMISSION_CHECKS
exec $KWIN_DIR/kwin_wayland --virtual --width 1280 --height 800 --no-lockscreen --no-global-shortcuts \
  --no-kactivities --socket $SOCKET
EOF
chmod 755 "$KWIN_DIR/session.sh"
as_user dbus-run-session -- "$KWIN_DIR/session.sh" >"$OUT/kwin.log" 2>&1 &
started 30 kwin_wayland "$OUT/kwin.log" test -S "$RUNTIME_DIR/$SOCKET"
started 10 "kwin_wayland's session bus" "$OUT/kwin.log" test -s "$KWIN_DIR/bus"
BUS=$(cat "$KWIN_DIR/bus")
in_session() {
  as_user WAYLAND_DISPLAY="$SOCKET" DBUS_SESSION_BUS_ADDRESS="$BUS" XDG_CURRENT_DESKTOP=KDE "$@"
}

# KDE finds desktop files through its sycoca cache; a running KWin picks up the rebuilt cache a
# moment later, which the windows' start-up below leaves it.
in_session kbuildsycoca5 >"$OUT/kbuildsycoca.log" 2>&1
DESKTOP_FILE=$TEST_HOME/.local/share/applications/pellux.desktop
check "the installed desktop file names the installed program, opens ScreenShot2 and KWin's window streams to it and keeps the entry's other keys" \
  sh -c "grep -qxF 'Exec=$PELLUX' '$DESKTOP_FILE' && grep -qxF 'Name=Pellux' '$DESKTOP_FILE' &&
    grep -qxF 'X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2' '$DESKTOP_FILE' &&
    grep -qxF 'X-KDE-Wayland-Interfaces=zkde_screencast_unstable_v1' '$DESKTOP_FILE'"

# kwin_eval JS: runs a KWin script in the session (to arrange windows), as a user's script would run.
kwin_eval() {
  local script=$KWIN_DIR/eval-$RANDOM.js name=pellux-test-$RANDOM id
  printf '%s\n' "$1" >"$script" && chown "$TEST_USER" "$script"
  id=$(in_session gdbus call --session --dest org.kde.KWin --object-path /Scripting \
    --method org.kde.kwin.Scripting.loadScript "$script" "$name" | tr -dc '0-9-')
  in_session gdbus call --session --dest org.kde.KWin --object-path "/Scripting/Script$id" \
    --method org.kde.kwin.Script.run >/dev/null 2>&1 ||
    in_session gdbus call --session --dest org.kde.KWin --object-path "/$id" --method org.kde.kwin.Script.run >/dev/null
  sleep 0.5
  in_session gdbus call --session --dest org.kde.KWin --object-path /Scripting \
    --method org.kde.kwin.Scripting.unloadScript "$name" >/dev/null
}
open_text_window() { # TITLE TEXT
  local file=$KWIN_DIR/window-$RANDOM.txt
  echo "$2" >"$file" && chmod 644 "$file"
  in_session GDK_BACKEND=wayland setsid zenity --text-info --title "$1" --width 700 --height 500 \
    --filename "$file" >/dev/null 2>&1 &
}

# Two windows KWin does not draw, which Pellux must list as off screen and never ask KWin for: one
# on another virtual desktop, one minimised.
open_text_window "Charlie elsewhere" "WALRUS GLACIER COMPASS"
open_text_window "Delta minimised" "OSPREY VELVET MEADOW"
sleep 3
kwin_eval 'workspace.desktops = 2; var l = workspace.clientList(); for (var i = 0; i < l.length; i++) {
  if (l[i].caption == "Charlie elsewhere") l[i].desktop = 2;
  if (l[i].caption == "Delta minimised") l[i].minimized = true; }'

ALPHA_TITLE="Alpha kestrel notes"
BRAVO_TITLE="Bravo pelican notes"
open_text_window "$ALPHA_TITLE" "KESTREL MARIGOLD LANTERN"
sleep 2
# Opened later, KWin places it over the first one (offset by a few pixels): Alpha's text is covered.
open_text_window "$BRAVO_TITLE" "PELICAN TUNDRA HARBOUR"
sleep 3

# A small program that moves the pointer through KWin's fake-input protocol, authorised the way
# KWin authorises such programs: by a desktop file naming the protocol.
FAKE_INPUT=$KWIN_DIR/kde_fake_input
wayland-scanner client-header /usr/share/plasma-wayland-protocols/fake-input.xml "$KWIN_DIR/fake-input-client-protocol.h" &&
  wayland-scanner private-code /usr/share/plasma-wayland-protocols/fake-input.xml "$KWIN_DIR/fake-input-protocol.c" &&
  cc -O1 -I"$KWIN_DIR" -o "$FAKE_INPUT" "$(dirname "$0")/kde_fake_input.c" "$KWIN_DIR/fake-input-protocol.c" -lwayland-client ||
  echo "FAIL the fake-input helper did not build"
printf '[Desktop Entry]\nType=Application\nName=Pellux test input\nNoDisplay=true\nExec=%s\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n' \
  "$FAKE_INPUT" >"$TEST_HOME/.local/share/applications/pellux-test-fake-input.desktop"
chown -R "$TEST_USER:$TEST_USER" "$TEST_HOME/.local" "$KWIN_DIR"
in_session kbuildsycoca5 >>"$OUT/kbuildsycoca.log" 2>&1

# --- capture through the installed desktop file's authorisation ---
in_session QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 timeout 120 "$PELLUX" capture --for 25 >"$OUT/capture.log" 2>&1 &
capture=$!
# Nothing touches keyboard or pointer: KWin says the user is idle, then the pointer moves.
if wait_for 22 grep -qE "Activity level changed: .* → Low" "$OUT/capture.log"; then
  in_session "$FAKE_INPUT" >>"$OUT/checks.log" 2>&1 || echo "the fake-input helper failed: $?" >>"$OUT/checks.log"
fi
wait $capture
check_status "pellux capture ran and ended well" $? -eq 0
check "KWin authorised Pellux's screenshots" grep -q "KWin allows Pellux's screenshots" "$OUT/capture.log"
check "the four windows were listed by the KWin script" grep -q "4 windows listed" "$OUT/capture.log"
check "only the two drawn windows were capture candidates" grep -q "Found 2 windows" "$OUT/capture.log"
check "KWin was never asked for a window it does not draw" sh -c "! grep -q 'did not answer' '$OUT/capture.log'"
check "presence was watched through ext-idle-notify" \
  grep -q "watching presence on \"$SOCKET\" through ext_idle_notifier_v1" "$OUT/capture.log"
check "the activity level fell once KWin said the user was idle" \
  grep -qE "Activity level changed: (Medium|High) → Low" "$OUT/capture.log"
check "the pointer moving raised it again" grep -qE "Activity level changed: Low → (Medium|High)" "$OUT/capture.log"
check "the text of the window on another desktop was never stored" search_finds_nothing WALRUS
check "the text of the minimised window was never stored" search_finds_nothing OSPREY
check "the covering window's text is found under its title" search_finds PELICAN "$BRAVO_TITLE"
check "the covered window's text is found under its title" search_finds KESTREL "$ALPHA_TITLE"
check "windows were captured through kept KWin window streams" \
  grep -q "capturing windows through kept KWin window streams" "$OUT/capture.log"
# A later cycle copies the newest frame of the stream the first one started.
kept_stream_captures() {
  local streams captures
  streams=$(grep -c "streamed by KWin on PipeWire node" "$OUT/capture.log")
  captures=$(grep -c "from its stream in" "$OUT/capture.log")
  echo "$streams streams started, $captures captures from streams"
  [ "$streams" -ge 1 ] && [ "$captures" -gt "$streams" ]
}
check "later captures reused the kept streams" kept_stream_captures
check "no capture fell back to ScreenShot2" sh -c "! grep -q 'ScreenShot2 captures it' '$OUT/capture.log'"
# A crop of the screen at the covered window's place would show the covering window's text.
check "the covered window's frames hold its own text, not the covering one's" search_not_under PELICAN "$ALPHA_TITLE"

# --- Pellux's own window is listed by KWin but never stored ---
# The stored recordings' applications and titles; none may be Pellux's, and there must be some.
no_recording_of_pellux() {
  python3 - "$TEST_HOME/Documents/Pellux/Recordings/metadata.json" <<'PY'
import json, sys
rows = [(r.get("appName") or "", r.get("windowTitle") or "") for r in json.load(open(sys.argv[1]))]
own = [row for row in rows if "pellux" in (row[0] + " " + row[1]).lower()]
print("%d recordings, %d of Pellux: %r" % (len(rows), len(own), own))
sys.exit(1 if own or not rows else 0)
PY
}
in_session QT_QPA_PLATFORM=wayland PELLUX_VERBOSE=1 timeout 15 "$PELLUX" >"$OUT/app.log" 2>&1 &
app=$!
wait_for 15 grep -q "windows listed" "$OUT/app.log"
script_mode=$(stat -c %a "$RUNTIME_DIR"/pellux-kwin-windows-*.js 2>&1)
check "the KWin script file is private while Pellux runs ($script_mode)" test "$script_mode" = 600
wait $app
check "the application's search window was among the listed windows" grep -q "5 windows listed" "$OUT/app.log"
check "the application captured the other windows meanwhile" grep -q "KWinCaptureBackend: captured window" "$OUT/app.log"
check "no stored recording is of Pellux's own window" no_recording_of_pellux
check "the KWin script file is removed when Pellux ends" \
  sh -c "! ls $RUNTIME_DIR/pellux-kwin-windows-*.js >/dev/null 2>&1"

# --- a window that closes while its stream is kept: the stream ends with it and capture goes on ---
in_session QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 timeout 60 "$PELLUX" capture --for 20 >"$OUT/closing.log" 2>&1 &
capture=$!
if wait_for 12 grep -q "from its stream in" "$OUT/closing.log"; then
  kwin_eval 'var l = workspace.clientList(); for (var i = 0; i < l.length; i++)
    if (l[i].caption == "'"$BRAVO_TITLE"'") l[i].closeWindow();'
  # Input brings the next cycle, and its window list, forward.
  in_session "$FAKE_INPUT" >>"$OUT/checks.log" 2>&1
fi
wait $capture
check_status "capture went on and ended well after a captured window closed" $? -eq 0
check "the stream of the window that closed ended with it" grep -q "ended with the window" "$OUT/closing.log"

# --- a desktop file without the Wayland-interfaces key: KWin keeps its streams from Pellux, and
# ScreenShot2 captures the windows ---
sed -i "/^X-KDE-Wayland-Interfaces=/d" "$DESKTOP_FILE"
in_session kbuildsycoca5 >>"$OUT/kbuildsycoca.log" 2>&1
sleep 3
in_session QT_QPA_PLATFORM=offscreen PELLUX_VERBOSE=1 timeout 60 "$PELLUX" capture --for 8 >"$OUT/fallback.log" 2>&1
check_status "capture through ScreenShot2 ended well" $? -eq 0
check "without the key Pellux says it captures through ScreenShot2" \
  grep -q "capturing windows through ScreenShot2: KWin does not offer zkde_screencast_unstable_v1" "$OUT/fallback.log"
check "ScreenShot2 captured the remaining window" grep -q "captured window .* (KWin's reply after" "$OUT/fallback.log"

# --- without a desktop file naming the program, KWin refuses and Pellux says what is needed ---
sed -i "s|^Exec=.*|Exec=/nonexistent/pellux|" "$DESKTOP_FILE"
in_session kbuildsycoca5 >>"$OUT/kbuildsycoca.log" 2>&1
sleep 3
in_session QT_QPA_PLATFORM=offscreen timeout 60 "$PELLUX" capture --for 5 >"$OUT/refused.log" 2>&1
check_status "capture fails when KWin refuses" $? -ne 0
check "the refusal names the desktop file and the Exec line it needs" \
  grep -qF "$DESKTOP_FILE must contain \"Exec=$PELLUX\"" "$OUT/refused.log"

finish
