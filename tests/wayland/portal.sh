#!/bin/bash
# The portal backend on a real ScreenCast portal: headless gnome-shell 43 with xdg-desktop-portal
# and xdg-desktop-portal-gnome on the session bus, PipeWire and WirePlumber beside it. Pellux is
# forced onto the portal backend (PELLUX_CAPTURE_BACKEND=portal). The first `pellux capture` makes
# the desktop show its screen-sharing dialog, which the test answers with clicks through Mutter's
# RemoteDesktop, as a person would, sharing both virtual monitors; each monitor's text is then
# found under its own screen ("Screen 1", "Screen 2"). A second run starts from the kept restore
# token: no dialog appears and new text is found. Then the ways
# it ends badly: the user stops sharing from the panel, the user refuses, there is no portal.
# `pellux capture` opens no window of its own, so none can show up in the monitor's frames here.
source "$(dirname "$0")/lib.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
PY=/usr/bin/python3 # the system Python, which has gi
EXIT_FAILURE=3 # pellux's status when a command could not do its job

setup_user pellux-portal 1604
install_pellux || exit 1
# The desktop's stored grants: a fresh store, so that the first run has to ask.
rm -rf "$TEST_HOME/.local/share/flatpak/db"

# Test only: an extension that turns on unsafe mode, so that org.gnome.Shell.Eval can tell where
# the consent dialog is.
EXTENSION=$TEST_HOME/.local/share/gnome-shell/extensions/pellux-portal-test@pellux
mkdir -p "$EXTENSION"
echo 'function init() {} function enable() { global.context.unsafe_mode = true; } function disable() { global.context.unsafe_mode = false; }' >"$EXTENSION/extension.js"
echo '{"uuid": "pellux-portal-test@pellux", "name": "test only", "description": "unsafe mode for the portal test", "shell-version": ["43"]}' >"$EXTENSION/metadata.json"
chown -R "$TEST_USER:$TEST_USER" "$TEST_HOME/.local/share"

start_gnome_shell pellux-portal 1280x800 1024x768
in_gnome setsid /usr/libexec/xdg-desktop-portal-gnome >"$OUT/portal-gnome.log" 2>&1 &
wait_for 10 in_gnome gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
  -m org.freedesktop.DBus.GetNameOwner org.freedesktop.impl.portal.desktop.gnome
in_gnome setsid /usr/libexec/xdg-desktop-portal >"$OUT/portal.log" 2>&1 &
wait_for 10 in_gnome gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
  -m org.freedesktop.DBus.Properties.Get org.freedesktop.portal.ScreenCast version
in_gnome $PY "$HERE/mutter_input.py" key:ff1b >/dev/null # Escape: out of the overview it starts in
in_gnome gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
  -m org.gnome.Shell.Extensions.EnableExtension pellux-portal-test@pellux >/dev/null

# gnome_eval JS: the value of JS in gnome-shell.
gnome_eval() {
  in_gnome gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell -m org.gnome.Shell.Eval "$1"
}
# consent_dialog: the frame of the portal's dialog as "x y width height", nothing when none is open.
consent_dialog() {
  gnome_eval 'global.display.list_all_windows().filter(w => w.get_wm_class() == "xdg-desktop-portal-gnome").map(w => { const r = w.get_frame_rect(); return [r.x, r.y, r.width, r.height]; })' |
    $PY -c "
import json, sys
answer = sys.stdin.read().strip()  # (true, '<JSON>')
assert answer.startswith(\"(true, '\"), answer
for frame in json.loads(answer[len(\"(true, '\"):-2]): print(*frame)"
}
dialog_open() { [ -n "$(consent_dialog)" ]; }

# open_text_window TITLE TEXT: a terminal showing TEXT in a large font (away from the window's
# edge, where the border would touch the first letters).
open_text_window() {
  in_gnome setsid foot -a pellux.portal.test -T "$1" -f monospace:size=16 -- sh -c "echo '   $2'; sleep 600" \
    >/dev/null 2>&1 &
  sleep 1.5
}

# screens WORD1 WORD2 same|apart: both words found, under one and the same screen, or each under a
# screen of its own ("Screen 1", "Screen 2").
screens() {
  local first second
  first=$(search_titles "$1" | sort -u)
  second=$(search_titles "$2" | sort -u)
  echo "$1: [$first] $2: [$second]"
  if [ "$3" = same ]; then [[ -n $first && $first == "$second" ]]; else
    [[ $first == "Screen "[12] && $second == "Screen "[12] && $first != "$second" ]]
  fi
}

capture() { # SECONDS LOG
  in_gnome PELLUX_CAPTURE_BACKEND=portal PELLUX_VERBOSE=1 timeout 150 "$PELLUX" capture --for "$1" >"$2" 2>&1
}

# --- First run: the desktop asks, the test agrees to share both monitors ------------------------
open_text_window "Portal first" "ahead PELICAN QUINCE lantern"
open_text_window "Portal side" "across HERON MEADOW river"
gnome_eval 'global.display.list_all_windows().find(w => w.get_title() == "Portal side").move_to_monitor(1)' >/dev/null
capture 25 "$OUT/capture1.log" &
first=$!
if wait_for 30 dialog_open; then
  check "the first run makes the desktop ask in its screen-sharing dialog" true
  read -r x y w h <<<"$(consent_dialog)"
  # Both monitors' rows in the dialog's list (the second with Control held, to add it to the
  # selection), then Share at the right of its header bar.
  in_gnome $PY "$HERE/mutter_input.py" click:$((x + w / 2)),$((y + 175)) press:ffe3 click:$((x + w / 2)),$((y + 230)) \
    release:ffe3 click:$((x + w - 48)),$((y + 22)) >"$OUT/consent-click.log" 2>&1
else
  check "the first run makes the desktop ask in its screen-sharing dialog" false
fi
wait $first
check_status "first run: pellux capture exits 0" $? -eq 0
check "first run: the session started through the portal with both monitors" grep -q 'Screen casting started through the desktop portal: 2 monitor' "$OUT/capture1.log"
check "first run: both monitors were read over PipeWire" test "$(grep -c 'negotiated' "$OUT/capture1.log")" -eq 2
check "first run: each monitor's text is found under its own screen" screens PELICAN HERON apart
check "the restore token is kept in the private settings file" \
  sh -c "grep -q '^com.pellux.screencast.restoreToken=.' '$TEST_HOME/.config/Pellux/Pellux.conf' && [ \$(stat -c %a '$TEST_HOME/.config/Pellux/Pellux.conf') = 600 ]"

# --- Second run: restored from the token, no dialog ----------------------------------------------
open_text_window "Portal second" "before WALRUS JUNIPER after"
capture 12 "$OUT/capture2.log" &
second=$!
dialog_seen=no
while kill -0 $second 2>/dev/null; do
  dialog_open && dialog_seen=yes
  sleep 0.3
done
wait $second
check_status "second run: pellux capture exits 0" $? -eq 0
check "second run: no consent dialog appeared" test $dialog_seen = no
check "second run: the session was restored from the kept token" grep -q "with the last session's restore token" "$OUT/capture2.log"
check "second run: both monitors were restored" grep -q 'Screen casting started through the desktop portal: 2 monitor' "$OUT/capture2.log"
check "second run: its new text is found under the same screen as the first monitor's text before" \
  screens WALRUS PELICAN same

# --- The user stops sharing from the panel: the session ends, capture stops, nothing hangs --------
capture 60 "$OUT/capture3.log" &
third=$!
if wait_for 30 grep -q 'Screen casting started' "$OUT/capture3.log"; then
  sleep 2
  # The × of the screen-sharing indicator, at the right of the top bar.
  in_gnome $PY "$HERE/mutter_input.py" click:1176,15 >"$OUT/stop-click.log" 2>&1
fi
wait $third
check_status "stopped sharing: pellux capture ends with its failure status, not a crash" $? -eq $EXIT_FAILURE
check "stopped sharing: the log says the desktop ended the session" grep -q 'the desktop ended the screen-cast session' "$OUT/capture3.log"
check "stopped sharing: it says the screen can no longer be read" grep -q 'the screen can no longer be read' "$OUT/capture3.log"

# --- Refused: without a token the desktop asks again, and the user cancels -------------------------
as_user sed -i '/^com.pellux.screencast.restoreToken=/d' "$TEST_HOME/.config/Pellux/Pellux.conf"
capture 10 "$OUT/capture4.log" &
fourth=$!
if wait_for 30 dialog_open; then
  read -r x y w h <<<"$(consent_dialog)"
  in_gnome $PY "$HERE/mutter_input.py" click:$((x + 50)),$((y + 22)) >"$OUT/cancel-click.log" 2>&1 # Cancel
fi
wait $fourth
check_status "refused: pellux capture ends with its failure status" $? -eq $EXIT_FAILURE
check "refused: one clear line says so" grep -q 'ERROR PortalCaptureBackend: screen sharing was refused' "$OUT/capture4.log"

# --- A session bus without any portal ------------------------------------------------------------
cat >"$GNOME_DIR/bare-bus.conf" <<EOC
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$GNOME_DIR/bare-bus</listen>
  <policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>
EOC
chown "$TEST_USER:$TEST_USER" "$GNOME_DIR/bare-bus.conf"
as_user setsid dbus-daemon --config-file="$GNOME_DIR/bare-bus.conf" --nofork >/dev/null 2>&1 &
wait_for 10 test -S "$GNOME_DIR/bare-bus"
as_user WAYLAND_DISPLAY=$GNOME_DISPLAY DBUS_SESSION_BUS_ADDRESS="unix:path=$GNOME_DIR/bare-bus" \
  PELLUX_CAPTURE_BACKEND=portal timeout 60 "$PELLUX" capture --for 5 >"$OUT/capture5.log" 2>&1
check_status "no portal: pellux capture ends with its failure status" $? -eq $EXIT_FAILURE
check "no portal: one clear line says the desktop offers no screen casting" \
  grep -q 'ERROR PortalCaptureBackend: cannot start screen casting: the desktop portal offers no screen casting' "$OUT/capture5.log"

finish
