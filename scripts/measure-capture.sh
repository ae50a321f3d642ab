#!/usr/bin/env bash
# Measures `pellux capture` in a private Xvfb session on two desktops: five static xterms alone,
# then the same five with one xterm being typed into and one paging a manual page. Runs the
# capture on each with and without text recognition, each run for DURATION seconds (default 300),
# and prints for each run the share of one core used, the bytes stored per hour and the peak
# resident memory.
#
#   scripts/measure-capture.sh [DURATION] [BUILD_DIR] [SCENARIO...]   (static, workload; default both)
set -euo pipefail

duration=${1:-300}
build_dir=${2:-build}
scenarios=("${@:3}")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(static workload)
pellux=$(realpath "$build_dir/pellux")
work=$(mktemp -d)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
openbox > "$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

xterm_at() { # title geometry command...
  local title=$1 geometry=$2
  shift 2
  xterm -T "$title" -geometry "$geometry" -fa 'DejaVu Sans Mono' -fs 10 -e "$@" &
  pids+=($!)
}

for i in 1 2 3 4 5; do
  xterm_at "static $i" "80x24+$(( (i - 1) % 3 * 620 ))+$(( (i - 1) / 3 * 380 ))" \
    sh -c "ls -l /usr/bin | head -n 22; echo static window $i; exec sleep infinity"
done
sleep 2

# Typing a sentence a second into one window, paging the manual every 3 seconds in the other.
start_workload() {
  xterm_at typing 80x24+0+720 cat
  xterm_at manual 80x24+620+720 env MANPAGER=less man bash
  sleep 2
  typing=$(xdotool search --sync --name '^typing$' | head -n1)
  manual=$(xdotool search --sync --name '^manual$' | head -n1)
  (
    n=0
    while true; do
      xdotool windowactivate --sync "$typing" type --delay 60 "line $n the quick brown fox jumps over the lazy dog"
      xdotool key Return
      n=$((n + 1))
      if (( n % 3 == 0 )); then
        xdotool windowactivate --sync "$manual" key space
      fi
      sleep 1
    done
  ) > /dev/null 2>&1 &
  pids+=($!)
}

measure() { # label [capture options...]
  local label=$1
  shift
  local home="$work/home-$label"
  mkdir -p "$home"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_DOCUMENTS_DIR="$home/Documents" OMP_THREAD_LIMIT=1 \
    /usr/bin/time -v "$pellux" capture --for "$duration" "$@" 2> "$work/$label.log" || true
  local user sys peak bytes
  user=$(awk -F': ' '/User time/ {print $2}' "$work/$label.log")
  sys=$(awk -F': ' '/System time/ {print $2}' "$work/$label.log")
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/$label.log")
  bytes=$(du -sb "$home/Documents/Pellux" | cut -f1)
  awk -v label="$label" -v u="$user" -v s="$sys" -v d="$duration" -v b="$bytes" -v p="$peak" 'BEGIN {
    printf "%-22s CPU %5.1f%% of one core   stored %8.1f MB/hour   peak RSS %6.1f MB\n",
      label, 100 * (u + s) / d, b * 3600 / d / 1e6, p / 1024 }'
  grep -E '^pellux( capture)?: (stopped|text recogni)' "$work/$label.log" || true
}

for scenario in "${scenarios[@]}"; do
  case $scenario in
    static)
      echo "pellux capture for ${duration} s on 5 static xterms:"
      ;;
    workload)
      start_workload
      echo "pellux capture for ${duration} s on the same 5 static xterms, one being typed into, one paging a manual:"
      ;;
    *)
      echo "unknown scenario '$scenario' (static, workload)" >&2
      exit 2
      ;;
  esac
  measure "$scenario-with-text"
  measure "$scenario-without-text" --without-text
done
