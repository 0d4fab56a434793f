#!/bin/sh
# Builds the un-installer and its tests, then runs every test under Wine (with
# Xvfb when there is no display). Usage: sh tools/test.sh [ctest arguments]
# The tests run side by side, each group in a Wine prefix of its own
# (tests/CMakeLists.txt); DVQ_TEST_JOBS says how many at once (default: twice the
# processors, as a test spends half its time waiting for Wine).
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
. tools/arch.sh
cmake --preset "$DVQ_PRESET" >/dev/null
. tools/xvfb-ensure.sh
# The prefixes' template is made while the build runs: wineboot mostly waits.
template="$PWD/build/wineprefix-template"
sh tools/wine-run.sh "$template" &
made=$!
cmake --build build -j"$(nproc)"
wait $made
status=0
DVQ_DISPLAY_PER_PREFIX=yes ctest --test-dir build --output-on-failure -j"${DVQ_TEST_JOBS:-$(($(nproc) * 2))}" "$@" ||
    status=$?
for prefix in build/wineprefix-*/; do
    WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
done
# The prefixes' own displays (tools/wine-run.sh).
for record in build/wineprefix-*.display; do
    [ -f "$record" ] || continue
    read -r n pid <"$record"
    kill "$pid" 2>/dev/null || true
    rm -f "$record"
done
exit $status
