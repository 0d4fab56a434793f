#!/bin/sh
# Builds and runs every benchmark under Wine, in its own prefix build/bench-prefix.
# Each prints its own numbers; nothing here is a test.
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
cmake --preset mingw >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
for bench in build/*_bench.exe; do
    [ -e "$bench" ] || continue
    echo "== $(basename "$bench" .exe)"
    sh tools/wine-run.sh "$PWD/build/bench-prefix" "$bench"
done
WINEPREFIX="$PWD/build/bench-prefix" wineserver -k 2>/dev/null || true
