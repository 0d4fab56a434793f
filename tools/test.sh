#!/bin/sh
# Builds the un-installer and its tests, then runs every test under Wine (with
# Xvfb when there is no display). Usage: sh tools/test.sh [ctest arguments]
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
. tools/arch.sh
cmake --preset "$DVQ_PRESET" >/dev/null
cmake --build build -j"$(nproc)"
. tools/xvfb-ensure.sh
status=0
ctest --test-dir build --output-on-failure "$@" || status=$?
WINEPREFIX="$PWD/build/wineprefix" wineserver -k 2>/dev/null || true
exit $status
