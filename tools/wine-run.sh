#!/bin/sh
# Runs a Windows program under Wine in the given prefix, creating the prefix on
# first use. Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is the project's own (inside a build tree), never the user's ~/.wine.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
. "$(dirname "$0")/arch.sh"
wine=${WINELOADER:-wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Gecko or Mono: nothing may be downloaded, and nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# wineboot links the user's Desktop, Documents, ... to the home directory; they
# become folders of the prefix's own, so that nothing put on (or deleted from) the
# prefix's Desktop is in the home directory.
home_links() {
    for folder in "$prefix"/drive_c/users/*/*; do
        [ -L "$folder" ] && return 0
    done
    return 1
}
if [ ! -f "$prefix/.dvq-ready" ] || home_links; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.dvq-ready" ]; then
            rm -rf "$prefix"
            "$wine" wineboot -i >/dev/null 2>&1
            # Windows not managed by an X window manager: there is none under Xvfb,
            # and Wine would wait for one at every window that is hidden.
            "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
            wineserver -w
            touch "$prefix/.dvq-ready"
        fi
        for folder in "$prefix"/drive_c/users/*/*; do
            if [ -L "$folder" ]; then rm -f "$folder" && mkdir -p "$folder"; fi
        done
    ) 9>"$prefix.lock"
fi
exec "$wine" "$@"
