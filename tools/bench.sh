#!/bin/sh
# Builds and runs every benchmark under Wine, in its own prefix build/bench-prefix,
# then prints one table of the ratios they measured. Nothing here is a test.
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
. tools/arch.sh
cmake --preset "$DVQ_PRESET" >/dev/null
cmake --build build -j"$(nproc)" --target benches >/dev/null
. tools/xvfb-ensure.sh
# The peer of the tree removal: NSIS's "RMDir /r" in a silent installer.
if command -v makensis >/dev/null 2>&1; then
    printf '%s\n' 'Unicode true' 'Name "rmdir"' 'OutFile "nsis-rmdir.exe"' 'SilentInstall silent' \
        'RequestExecutionLevel user' 'Section' '  RMDir /r "C:\dvqbench\nsis\Solvarine"' 'SectionEnd' >build/nsis-rmdir.nsi
    (cd build && makensis -V1 nsis-rmdir.nsi)
fi
out=build/bench-output.txt
: > "$out"
for bench in build/*_bench.exe; do
    [ -e "$bench" ] || continue
    echo "== $(basename "$bench" .exe)" | tee -a "$out"
    sh tools/wine-run.sh "$PWD/build/bench-prefix" "$bench" | tr -d '\r' | tee -a "$out" | grep -v '^row|' || true
done
WINEPREFIX="$PWD/build/bench-prefix" wineserver -k 2>/dev/null || true
echo
echo "== Summary (each time the best of the rounds; ratio = seconds / seconds of the reference, same run)"
grep '^row|' "$out" | awk -F'|' '
    BEGIN { printf "%-45s %-22s %8s  %-29s %6s\n", "benchmark", "method", "seconds", "reference", "ratio" }
    { printf "%-45s %-22s %8s  %-29s %6s\n", $2, $3, $4, $5, $6 }'
