#!/bin/sh
# Runs the un-installer on a demo machine: a fresh Wine prefix inside the build
# tree where the client is installed. Every message box is answered Yes (OK) by
# the box driver and printed; what is left of the client is printed afterwards.
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
cmake --preset mingw >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
. tools/xvfb-ensure.sh
prefix="$PWD/build/demo-prefix"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.lock"
run() { sh tools/wine-run.sh "$prefix" "$@"; }
install="$prefix/drive_c/Program Files/Solvarine"
run cmd /c echo prefix ready >/dev/null 2>&1
mkdir -p "$install/Data/Cache"
for f in DVQ32.EXE NPDVQ32.DLL README.TXT Data/USERS.DAT Data/Cache/1.TMP; do echo demo > "$install/$f"; done
run reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /f >/dev/null 2>&1 || true
printf '[DVQ]\r\nExePath=C:\\Program Files\\Solvarine\\DVQ32.EXE\r\n' >> "$prefix/drive_c/windows/win.ini"
echo "== Before: C:\\Program Files\\Solvarine"
(cd "$install" && find . | sort)
echo "== Message boxes"
run build/boxdriver.exe "DVQRMV32.EXE" Yes Yes Yes OK
echo "== After"
if [ -d "$install" ]; then (cd "$install" && find . | sort); else echo "C:\\Program Files\\Solvarine is gone"; fi
grep -A1 '^\[DVQ\]' "$prefix/drive_c/windows/win.ini" || echo "WIN.INI has no [DVQ] section"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
