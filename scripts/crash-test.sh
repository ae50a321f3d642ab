#!/bin/sh
# The crash test's full loop: `pellux capture` killed outright 50 times (or $1 times) at random
# moments of a busy capture on a private X server, then the store checked after a clean run.
# Needs a build with the e2e tests: cmake --build build --target pellux test_e2e
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${PELLUX_BUILD_DIR:-$here/build}
kills=${1:-50}
if [ ! -x "$build/tests/test_e2e" ]; then
    echo "crash-test: $build/tests/test_e2e is missing; build the target test_e2e first" >&2
    exit 2
fi
PELLUX_CRASH_KILLS=$kills exec "$build/tests/test_e2e" \
    --gtest_filter='CrashRecovery.*' --gtest_color=no
