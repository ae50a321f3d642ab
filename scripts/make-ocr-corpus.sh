#!/usr/bin/env bash
# Rebuilds the text-recognition corpus in bench/data/ocr: screenshots of real text drawn by real
# programs, each PNG beside a .txt with exactly the text it shows.
#   - xterm under Xvfb, in three monospace fonts and sizes, light and dark, as single windows and
#     as whole screens with several windows (some lines in reverse video);
#   - Qt widget windows (buttons, a list with a selected row, a text pane) drawn offscreen by
#     ocr_corpus_window, in three proportional fonts, light and dark palettes.
# The texts are excerpts of files every Debian system has (licences, Python sources).
# Usage: scripts/make-ocr-corpus.sh [BUILD_DIR]   (BUILD_DIR holds bench/ocr_corpus_window)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$root/build}
out=$root/bench/data/ocr
window_tool=$build_dir/bench/ocr_corpus_window
[ -x "$window_tool" ] || { echo "make-ocr-corpus: build $window_tool first (make build)" >&2; exit 2; }
for tool in Xvfb xterm xdotool import; do
  command -v $tool >/dev/null || { echo "make-ocr-corpus: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.txt

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
cat "$work/t4" "$work/t5" "$work/t6" > "$out/xterm-screen-dejavu11-light.txt"; stop_xterms

start_xterm s4 "$work/t7" 'Liberation Mono' 9 dark 120x34+0+0 5
start_xterm s5 "$work/t8" 'Liberation Mono' 9 dark 120x34+980+0
start_xterm s6 "$work/t1" 'Liberation Mono' 9 dark 120x34+0+560
grab_screen "$out/xterm-screen-liberation9-dark.png"
cat "$work/t7" "$work/t8" "$work/t1" > "$out/xterm-screen-liberation9-dark.txt"; stop_xterms

start_xterm s7 "$work/t2" 'Nimbus Mono PS' 13 light 90x31+0+0
start_xterm s8 "$work/t3" 'Nimbus Mono PS' 13 dark 90x31+965+0 8
grab_screen "$out/xterm-screen-nimbus13-mixed.png"
cat "$work/t2" "$work/t3" > "$out/xterm-screen-nimbus13-mixed.txt"; stop_xterms

kill $xvfb_pid 2>/dev/null || true

# Qt windows, drawn offscreen. The tool writes the truth of what it could fit.
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-dejavusans10-light" "$work/t5" 'DejaVu Sans' 10 light 964x684
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-liberationserif12-dark" "$work/t7" 'Liberation Serif' 12 dark 964x684
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-nimbussans9-light" "$work/t8" 'Nimbus Sans' 9 light 800x600
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-window-dejavusans12-dark" "$work/t4" 'DejaVu Sans' 12 dark 1100x760
QT_QPA_PLATFORM=offscreen "$window_tool" "$out/qt-screen-liberationsans11-dark" "$work/t6" 'Liberation Sans' 11 dark 1920x1080

# Smaller files without changing a pixel.
for f in "$out"/*.png; do convert "$f" -strip -define png:compression-level=9 "$f"; done
du -ch "$out"/*.png | tail -1
