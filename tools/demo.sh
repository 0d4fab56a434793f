#!/bin/sh
# Un-installs Solvarine from a demo machine: a fresh Wine prefix, build/demo-prefix,
# on which seed.exe installs the client in full (installation directory, browser
# plug-in, screen saver, profile key, registry entries, desktop shortcuts, program
# group) beside other programs' things that must stay. DVQRMV32.EXE then runs with
# the box driver answering its boxes Yes, Yes, OK; each box is printed with the
# answer given and saved as a picture in build/demo-screenshots/. What is there is
# listed before and after. DVQ_BUILD names another build folder (default build).
set -e
cd "$(dirname "$0")/.."
build=${DVQ_BUILD:-build}
sh tools/setup.sh
. tools/arch.sh
cmake --preset "$DVQ_PRESET" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target DVQRMV32 boxdriver_tool seed_tool >/dev/null
. tools/xvfb-ensure.sh

prefix="$PWD/$build/demo-prefix"
screenshots="$PWD/$build/demo-screenshots"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.lock" "$screenshots"
run() { sh tools/wine-run.sh "$prefix" "$@"; }

echo "== A fresh demo machine: $prefix"
run "$build/seed.exe" install

echo
echo "== Before: the client's items and their neighbours"
run "$build/seed.exe" inventory

echo
echo "== DVQRMV32.EXE: each message box and the answer given"
mkdir -p "$prefix/drive_c/demo-screenshots" "$screenshots"
run "$build/boxdriver.exe" --screenshots 'C:\demo-screenshots' DVQRMV32.EXE Yes Yes OK
for bitmap in "$prefix"/drive_c/demo-screenshots/*.bmp; do
    [ -e "$bitmap" ] || continue
    convert "$bitmap" "$screenshots/$(basename "$bitmap" .bmp).png"
done
echo "Pictures of the boxes: $(cd "$screenshots" && ls | tr '\n' ' ')in $screenshots"

echo
echo "== After"
after=$(run "$build/seed.exe" inventory)
printf "%s\n" "$after"
echo
left=$(printf "%s\n" "$after" | grep -c '^client  *present' || true)
gone=$(printf "%s\n" "$after" | grep -c '^neighbour  *absent' || true)
kept=$(printf "%s\n" "$after" | grep -c '^neighbour  *present' || true)
removed=$(printf "%s\n" "$after" | grep -c '^client  *absent' || true)
echo "$removed client items removed, $left left; $kept neighbours kept, $gone lost."

WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
