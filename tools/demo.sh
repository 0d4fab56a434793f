#!/bin/sh
# Un-installs Solvarine from a demo machine: a fresh Wine prefix, build/demo-prefix,
# on which seed.exe installs the client in full (installation directory, browser
# plug-in, screen saver, profile key, registry entries, desktop shortcuts, program
# group) beside other programs' things that must stay. DVQRMV32.EXE then runs with
# the box driver answering its boxes Yes, Yes, OK; each box is printed with the
# answer given and saved as a picture in build/demo-screenshots/. What is there is
# listed before and after. Then the same once more with files in use: another
# program (holder.exe) keeps a file of the installation, the plug-in and a desktop
# shortcut open; the last box says they go at the restart, the list of files
# waiting for it is shown, and after the holder ends and the prefix restarts
# (wineboot -r) the inventory is counted again. DVQ_BUILD names another build
# folder (default build).
set -e
cd "$(dirname "$0")/.."
build=${DVQ_BUILD:-build}
sh tools/setup.sh
. tools/arch.sh
cmake --preset "$DVQ_PRESET" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target DVQRMV32 boxdriver_tool seed_tool holder >/dev/null
. tools/xvfb-ensure.sh

prefix="$PWD/$build/demo-prefix"
screenshots="$PWD/$build/demo-screenshots"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.lock" "$screenshots"
# The prefix is a copy of the fresh one the tests copy theirs from (made when missing).
run() { DVQ_WINE_TEMPLATE="$PWD/$build/wineprefix-template" sh tools/wine-run.sh "$prefix" "$@"; }
# The client items removed and left, and the neighbours kept and lost, of an inventory.
counts() {
    printf "%s\n" "$1" | awk '
        /^client  *absent/ { removed++ } /^client  *present/ { left++ }
        /^neighbour  *present/ { kept++ } /^neighbour  *absent/ { lost++ }
        END { printf "%d client items removed, %d left; %d neighbours kept, %d lost.\n", removed, left, kept, lost }'
}

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
counts "$after"

echo
echo "== Once more, with files in use: Solvarine installed again, and another program"
echo "   holding a file of the installation, the plug-in and a desktop shortcut open"
run "$build/seed.exe" install
desktop=$(run cmd /c 'echo %USERPROFILE%\Desktop' | tr -d '\r')
held_log="$PWD/$build/demo-holder.log"
run "$build/holder.exe" DvqDemoHolder 'C:\Program Files\Solvarine\Data\USERS.DAT' \
    'C:\Program Files\Netscape\Program\Plugins\NPDVQ32.DLL' -r "$desktop\Chat with Grandma.lnk" >"$held_log" 2>&1 &
holder=$!
i=0
until grep -q held "$held_log" 2>/dev/null; do
    i=$((i + 1))
    [ $i -lt 300 ] || { echo "the holder did not start"; cat "$held_log"; exit 1; }
    sleep 0.1
done
mkdir -p "$prefix/drive_c/demo-screenshots/in-use"
run "$build/boxdriver.exe" --screenshots 'C:\demo-screenshots\in-use' DVQRMV32.EXE Yes Yes OK
for bitmap in "$prefix"/drive_c/demo-screenshots/in-use/*.bmp; do
    [ -e "$bitmap" ] || continue
    convert "$bitmap" "$screenshots/in-use-$(basename "$bitmap" .bmp).png"
done
echo "Pictures of the boxes: $(cd "$screenshots" && ls in-use-* | tr '\n' ' ')in $screenshots"
echo
echo "Waiting for the restart (PendingFileRenameOperations):"
run reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations |
    tr -d '\r' | grep PendingFileRenameOperations | sed 's/.*REG_MULTI_SZ *//; s/\\0\\0/\n/g; s/\\0/\n/g' | grep . | sed 's/^/    /'
echo "Before the restart: $(counts "$(run "$build/seed.exe" inventory)")"

echo
echo "== Windows shuts down (the holder ends with it) and starts again (wineboot -r)"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
wait "$holder" 2>/dev/null || true
run wineboot -r
# Screen saving is counted by the setting the un-installer saved: after a restart
# Wine's display driver reads it as on, whatever the saved setting.
saving=$(run reg query 'HKCU\Control Panel\Desktop' /v ScreenSaveActive | tr -d '\r' |
    awk '/ScreenSaveActive/ { print $NF }')
after=$(run "$build/seed.exe" inventory | awk -v saving="$saving" '
    /^client  *[a-z]+  *setting  *screen saving$/ {
        $0 = sprintf("%-9s %-8s %-9s %s", "client", saving == "0" ? "absent" : "present", "setting", "screen saving")
    }
    { print }')
printf "%s\n" "$after" | grep -v '^neighbour  *present' || true
echo "After the restart: $(counts "$after")"
echo "(Screen saving is counted by its saved setting, ScreenSaveActive $saving: after a restart Wine reads it as on, whatever was saved.)"

WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
