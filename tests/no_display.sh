#!/bin/sh
# Runs the un-installer where none of its message boxes can appear (its DISPLAY
# names no X server) while a client window exists on the real display.
# Usage: no_display.sh SOURCE_DIR BUILD_DIR PREFIX
set -e
source_dir=$1
build=$2
prefix=$3
run() { sh "$source_dir/tools/wine-run.sh" "$prefix" "$@"; }
run cmd /c mkdir 'C:\dvqtest' >/dev/null 2>&1 || true
log="$prefix/drive_c/dvqtest/nodisplay-client.log"
rm -f "$log"
run "$build/fakeclient.exe" 'C:\dvqtest\nodisplay-client.log' &
i=0
until grep -q started "$log" 2>/dev/null; do
    i=$((i + 1))
    [ $i -lt 300 ] || { echo "the fake client did not start"; exit 1; }
    sleep 0.1
done
DVQ_PREFIX_DISPLAY= DISPLAY=:9999 DVQ_FAKE_CLIENT_LOG='C:\dvqtest\nodisplay-client.log' \
    run "$build/uninstall_test.exe" --gtest_filter=UninstallTest.BoxesThatCannotAppear
