#!/usr/bin/env bash
# Rebuilds the text-recognition corpus in bench/data/ocr: screenshots of real text drawn by real
# programs, each PNG beside a .txt with exactly the text it shows.
#   - xterm under Xvfb, in three monospace fonts and sizes, light and dark, as single windows and
#     as whole screens with several windows (some lines in reverse video), and in the small 7 and
#     8 point sizes of dense terminal setups (a process table full of short capitals among them);
#   - Qt widget windows (buttons, a list with a selected row, a text pane) drawn offscreen by
#     ocr_corpus_window, in three proportional fonts, light and dark palettes;
#   - Qt windows with light text on dark and coloured panels (a chat window's purple sidebar, an
#     editor's dark file tree and blue status bar, a settings page's dark header and coloured
#     badges and buttons), drawn the same way.
# The texts are excerpts of files every Debian system has (licences, Python sources), and one
# fixed process table.
# Usage: scripts/make-ocr-corpus.sh [--panels-only] [BUILD_DIR]   (BUILD_DIR holds bench/ocr_corpus_window)
# --panels-only draws only the windows with dark and coloured panels and leaves every other file
# as it is: adding frames that way keeps the earlier ones byte for byte, so figures measured on
# them stay comparable.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
panels_only=false
if [ "${1:-}" = --panels-only ]; then panels_only=true; shift; fi
build_dir=${1:-$root/build}
out=$root/bench/data/ocr
window_tool=$build_dir/bench/ocr_corpus_window
[ -x "$window_tool" ] || { echo "make-ocr-corpus: build $window_tool first (make build)" >&2; exit 2; }
tools=(convert)
$panels_only || tools+=(Xvfb xterm xdotool import)
for tool in "${tools[@]}"; do
  command -v $tool >/dev/null || { echo "make-ocr-corpus: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb_pid=
trap '[ -z "$xvfb_pid" ] || kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$out"

# Excerpt of a file: lines FROM..TO, tabs expanded, cut to WIDTH columns, trailing blanks removed.
excerpt() { sed -n "$2,$3p" "$1" | expand | cut -c1-"$4" | sed 's/[[:space:]]*$//'; }

gpl=/usr/share/common-licenses/GPL-3
apache=/usr/share/common-licenses/Apache-2.0
mpl=/usr/share/common-licenses/MPL-2.0
py=/usr/lib/python3.11

excerpt $gpl 100 128 88 > "$work/t1"
excerpt $py/textwrap.py 17 46 88 > "$work/t2"
excerpt $apache 20 48 88 > "$work/t3"
excerpt $py/json/decoder.py 1 29 88 > "$work/t4"
excerpt $mpl 30 58 88 > "$work/t5"
excerpt $py/shutil.py 60 83 88 > "$work/t6"
excerpt $gpl 300 326 88 > "$work/t7"
excerpt $py/argparse.py 100 127 88 > "$work/t8"
# Short capitals and abbreviations (PID, CPU, MEM, www) are what small print loses first.
cat > "$work/t9" <<'TABLE'
top - 14:02:11 up 3 days,  4:17,  2 users,  load average: 0.42, 0.51, 0.48
Tasks: 213 total,   1 running, 212 sleeping,   0 stopped,   0 zombie
%Cpu(s):  3.1 us,  1.0 sy,  0.0 ni, 95.6 id,  0.2 wa,  0.0 hi,  0.1 si,  0.0 st
MiB Mem :  15895.2 total,   6210.4 free,   4127.9 used,   5556.9 buff/cache
MiB Swap:   2048.0 total,   2048.0 free,      0.0 used.  11312.6 avail Mem

    PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND
   1423 www-data  20   0  215644  18232  10400 S   2.3   0.1   3:12.45 nginx
   2210 postgres  20   0  322140  28756  25412 S   1.7   0.2   1:58.02 postgres
    911 root      20   0 1895432  84120  51200 S   1.3   0.5   7:40.11 containerd
   3307 alice     20   0 3412876 412300 118744 S   1.0   2.5  22:14.87 firefox
   1001 redis     20   0   72412  11240   8132 S   0.7   0.1   0:47.30 redis-server
   1518 www-data  20   0  280112  34588  21040 S   0.7   0.2   0:33.19 php-fpm
    612 root      20   0   44120   9844   7520 S   0.3   0.1   0:12.66 systemd-journal
    744 message+  20   0    9616   5480   4212 S   0.3   0.0   0:05.91 dbus-daemon
   2876 alice     20   0  982144  71236  44908 S   0.3   0.4   2:41.03 pulseaudio
      1 root      20   0  168532  13120   8448 S   0.0   0.1   0:09.77 systemd
    802 root      20   0   15432   9120   7804 S   0.0   0.1   0:00.42 sshd
    815 root      20   0    8560   2900   2640 S   0.0   0.0   0:01.08 cron
    830 syslog    20   0  222404   6120   4316 S   0.0   0.0   0:03.55 rsyslogd
   1702 mysql     20   0 2458012 398144  36280 S   0.0   2.4   4:02.61 mysqld
   1910 alice     20   0  618204  52310  39744 S   0.0   0.3   0:19.44 gnome-terminal
   2044 alice     20   0   12044   5312   3580 S   0.0   0.0   0:00.21 bash
   3519 alice     20   0 1204332 150228  61012 S   0.0   0.9   1:07.58 thunderbird
   4102 root      20   0       0      0      0 I   0.0   0.0   0:00.93 kworker
   4380 alice     20   0   11876   4020   3340 R   0.0   0.0   0:00.05 top
TABLE

# The panel windows, each beside the exact text it shows.
panel_windows() {
  QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-liberationsans10-chat" "$work/t2" 'Liberation Sans' 10 chat 1100x720
  QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-dejavusans10-editor" "$work/t4" 'DejaVu Sans' 10 editor 1100x720
  QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-nimbussans10-settings" "$work/t3" 'Nimbus Sans' 10 settings 960x720
}
panel_files=("$out"/qt-window-liberationsans10-chat.png "$out"/qt-window-dejavusans10-editor.png
             "$out"/qt-window-nimbussans10-settings.png)

if $panels_only; then
  panel_windows
  for f in "${panel_files[@]}"; do convert "$f" -strip -define png:compression-level=9 "$f"; done
  exit 0
fi

rm -f "$out"/*.png "$out"/*.txt
# A free display number.
display=90
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1920x1080x24 -nolisten tcp -br >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=:$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# xterm NAME TEXT FONT SIZE THEME GEOMETRY [REVERSE_LINES]: starts a holding xterm showing TEXT;
# lines whose number is in REVERSE_LINES (comma-separated) are drawn in reverse video.
start_xterm() {
  local name=$1 text=$2 font=$3 size=$4 theme=$5 geometry=$6 reverse=${7:-}
  local colours=(-bg white -fg black)
  [ "$theme" = dark ] && colours=(-bg '#1e1e1e' -fg '#d4d4d4')
  awk -v rev=",$reverse," '{ if (index(rev, "," NR ",")) printf "\033[7m%s\033[0m\n", $0; else print }' "$text" > "$work/$name.ansi"
  xterm -name "$name" -class CorpusTerm "${colours[@]}" -fa "$font" -fs "$size" -geometry "$geometry" \
        -b 4 +sb -hold -e cat "$work/$name.ansi" &
  xterm_pids+=($!)
  xdotool search --sync --classname "$name" >/dev/null
}

xterm_pids=()
stop_xterms() { kill "${xterm_pids[@]}" 2>/dev/null || true; xterm_pids=(); sleep 0.3; }

grab_window() { # NAME OUTPUT
  sleep 1.0
  import -window "$(xdotool search --classname "$1" | head -1)" "$2"
}

grab_screen() { sleep 1.0; import -window root "$1"; }

# Single windows.
start_xterm w1 "$work/t1" 'DejaVu Sans Mono' 11 light 100x32+0+0
grab_window w1 "$out/xterm-window-dejavu11-light.png"; cp "$work/t1" "$out/xterm-window-dejavu11-light.txt"; stop_xterms

start_xterm w2 "$work/t2" 'Liberation Mono' 13 dark 92x32+0+0
grab_window w2 "$out/xterm-window-liberation13-dark.png"; cp "$work/t2" "$out/xterm-window-liberation13-dark.txt"; stop_xterms

start_xterm w3 "$work/t3" 'Nimbus Mono PS' 10 dark 96x32+0+0 3,12
grab_window w3 "$out/xterm-window-nimbus10-dark-reverse.png"; cp "$work/t3" "$out/xterm-window-nimbus10-dark-reverse.txt"; stop_xterms

start_xterm w4 "$work/t8" 'DejaVu Sans Mono' 9 light 90x30+0+0 6,7
grab_window w4 "$out/xterm-window-dejavu9-light-reverse.png"; cp "$work/t8" "$out/xterm-window-dejavu9-light-reverse.txt"; stop_xterms

# Whole screens: several windows side by side and below each other.
start_xterm s1 "$work/t4" 'DejaVu Sans Mono' 11 light 100x32+0+0
start_xterm s2 "$work/t5" 'DejaVu Sans Mono' 11 light 100x32+960+0
start_xterm s3 "$work/t6" 'DejaVu Sans Mono' 11 light 100x25+0+640
grab_screen "$out/xterm-screen-dejavu11-light.png"
# The third window's last line falls below the screen's edge: it is not in the picture.
cat "$work/t4" "$work/t5" "$work/t6" | head -n -1 > "$out/xterm-screen-dejavu11-light.txt"; stop_xterms

start_xterm s4 "$work/t7" 'Liberation Mono' 9 dark 120x34+0+0 5
start_xterm s5 "$work/t8" 'Liberation Mono' 9 dark 120x34+980+0
start_xterm s6 "$work/t1" 'Liberation Mono' 9 dark 120x34+0+560
grab_screen "$out/xterm-screen-liberation9-dark.png"
cat "$work/t7" "$work/t8" "$work/t1" > "$out/xterm-screen-liberation9-dark.txt"; stop_xterms

start_xterm s7 "$work/t2" 'Nimbus Mono PS' 13 light 90x31+0+0
start_xterm s8 "$work/t3" 'Nimbus Mono PS' 13 dark 90x31+965+0 8
grab_screen "$out/xterm-screen-nimbus13-mixed.png"
cat "$work/t2" "$work/t3" > "$out/xterm-screen-nimbus13-mixed.txt"; stop_xterms

# Small print: 7 and 8 point terminal fonts, single windows and a whole screen.
start_xterm p1 "$work/t9" 'DejaVu Sans Mono' 7 light 90x30+0+0
grab_window p1 "$out/xterm-window-dejavu7-light.png"; cp "$work/t9" "$out/xterm-window-dejavu7-light.txt"; stop_xterms

start_xterm p2 "$work/t9" 'Liberation Mono' 8 dark 90x30+0+0 7
grab_window p2 "$out/xterm-window-liberation8-dark-reverse.png"; cp "$work/t9" "$out/xterm-window-liberation8-dark-reverse.txt"; stop_xterms

start_xterm p3 "$work/t6" 'Nimbus Mono PS' 7 dark 96x28+0+0
grab_window p3 "$out/xterm-window-nimbus7-dark.png"; cp "$work/t6" "$out/xterm-window-nimbus7-dark.txt"; stop_xterms

start_xterm p4 "$work/t9" 'DejaVu Sans Mono' 8 dark 92x30+0+0
start_xterm p5 "$work/t5" 'DejaVu Sans Mono' 8 light 100x32+700+0
start_xterm p6 "$work/t2" 'DejaVu Sans Mono' 8 dark 100x32+0+480
start_xterm p7 "$work/t4" 'DejaVu Sans Mono' 8 light 100x32+760+480
grab_screen "$out/xterm-screen-dejavu8-mixed.png"
cat "$work/t9" "$work/t5" "$work/t2" "$work/t4" > "$out/xterm-screen-dejavu8-mixed.txt"; stop_xterms

start_xterm p8 "$work/t7" 'Liberation Mono' 7 light 110x34+0+0
start_xterm p9 "$work/t9" 'Liberation Mono' 7 light 90x30+740+0
start_xterm p10 "$work/t3" 'Liberation Mono' 7 light 110x34+0+470
grab_screen "$out/xterm-screen-liberation7-light.png"
cat "$work/t7" "$work/t9" "$work/t3" > "$out/xterm-screen-liberation7-light.txt"; stop_xterms

kill $xvfb_pid 2>/dev/null || true

# Qt windows, drawn offscreen. The tool writes the truth of what it could fit.
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-dejavusans10-light" "$work/t5" 'DejaVu Sans' 10 light 964x684
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-liberationserif12-dark" "$work/t7" 'Liberation Serif' 12 dark 964x684
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-nimbussans9-light" "$work/t8" 'Nimbus Sans' 9 light 800x600
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-dejavusans12-dark" "$work/t4" 'DejaVu Sans' 12 dark 1100x760
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-screen-liberationsans11-dark" "$work/t6" 'Liberation Sans' 11 dark 1920x1080

panel_windows

# Smaller files without changing a pixel.
for f in "$out"/*.png; do convert "$f" -strip -define png:compression-level=9 "$f"; done
du -ch "$out"/*.png | tail -1
