#!/bin/sh
# Fills a home folder with a generated Pellux history (image files, metadata.json, database), for
# measuring Pellux on months of capture:
#   scripts/generate-history.sh HOME [RECORDINGS [DAYS]]
#   HOME=/tmp/big pellux capture --once
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 HOME [RECORDINGS [DAYS]]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLUX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target generate_history >/dev/null
exec "$build/bench/generate_history" --home "$1" --recordings "${2:-200000}" --days "${3:-120}"
