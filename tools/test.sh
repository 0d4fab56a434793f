#!/bin/sh
# Builds the un-installer and its tests, then runs every test under Wine.
# Usage: sh tools/test.sh [ctest arguments]
# The tests run side by side, each group in a Wine prefix and on an X display of
# its own (tests/CMakeLists.txt), one test of each group at a time: every group at
# once, sharing the processors; DVQ_TEST_JOBS=N runs at most N tests at once.
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
. tools/arch.sh
cmake --preset "$DVQ_PRESET" >/dev/null
# The prefixes' template is made while the build runs (wineboot mostly waits), on
# a display of Xvfb's when there is none.
. tools/xvfb-ensure.sh
template="$PWD/build/wineprefix-template"
sh tools/wine-run.sh "$template" &
made=$!
cmake --build build -j"$(nproc)"
wait $made
ctest --test-dir build --output-on-failure -j"${DVQ_TEST_JOBS:-64}" "$@"
