#!/bin/sh
# Runs a Windows program under Wine in the given prefix, creating the prefix on
# first use. Usage: wine-run.sh PREFIX [PROGRAM [ARGS...]]; without a program it
# only makes the prefix ready; wine-run.sh PREFIX --stop ends the prefix's Wine
# and its own display (below).
# The prefix is the project's own (inside a build tree), never the user's ~/.wine.
# When DVQ_WINE_TEMPLATE names another prefix, a new prefix is a copy of that one
# (made first when missing) rather than made by wineboot: a copy takes a second,
# wineboot ten. A copy shares the template's program files (the .dll and .exe
# files of windows/system32 and syswow64, 530 MB) as hard links; Wine writes them
# only when it updates a prefix for another version of itself, and a prefix made
# by another version is made anew instead.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
. "$(dirname "$0")/arch.sh"
wine=${WINELOADER:-wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Gecko or Mono: nothing may be downloaded, and nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
template=${DVQ_WINE_TEMPLATE:-}
[ "$template" != "$prefix" ] || template=""

# wineboot links the user's Desktop, Documents, ... to the home directory; they
# become folders of the prefix's own, so that nothing put on (or deleted from) the
# prefix's Desktop is in the home directory.
home_links() {
    for folder in "$1"/drive_c/users/*/*; do
        [ -L "$folder" ] && return 0
    done
    return 1
}

# How a prefix is made; one made otherwise (by an older runner, or for another
# Wine, whose wine.inf differs) is made again.
made="virtual desktop 1024x768, wine.inf of $(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null)"
ready() { [ "$(cat "$1/.dvq-ready" 2>/dev/null)" = "$made" ]; }

# Copies the prefix $1 to $2, the program files as hard links.
copy_prefix() {
    mkdir "$2"
    tar -C "$1" --exclude='./drive_c/windows/system32/*.dll' --exclude='./drive_c/windows/system32/*.exe' \
        --exclude='./drive_c/windows/syswow64/*.dll' --exclude='./drive_c/windows/syswow64/*.exe' -cf - . |
        tar -C "$2" -xf -
    (cd "$1" && find drive_c/windows/system32 drive_c/windows/syswow64 -type f \( -name '*.dll' -o -name '*.exe' \) \
        -print0 2>/dev/null | xargs -0 -r cp -l --parents -t "$2")
}

# Makes the prefix $1 ready, under its lock: a copy of $2 when given, else new.
make_ready() {
    ready "$1" && ! home_links "$1" && return 0
    mkdir -p "$(dirname "$1")"
    (
        flock 9
        if ! ready "$1"; then
            WINEPREFIX="$1" wineserver -k 2>/dev/null || true
            rm -rf "$1"
            if [ -n "$2" ]; then
                make_ready "$2" ""
                # The template's own lock: never copied while it is being made.
                (flock -s 9 && copy_prefix "$2" "$1") 9>"$2.lock"
            else
                WINEPREFIX="$1" "$wine" wineboot -i >/dev/null 2>&1
                # Every window in a virtual desktop of Wine's own: no X window
                # manager is waited for (there is none under Xvfb), and a message
                # box goes away as soon as it is answered.
                WINEPREFIX="$1" "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
                WINEPREFIX="$1" "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
                    >/dev/null 2>&1
                WINEPREFIX="$1" wineserver -w
                echo "$made" >"$1/.dvq-ready"
            fi
        fi
        for folder in "$1"/drive_c/users/*/*; do
            if [ -L "$folder" ]; then rm -f "$folder" && mkdir -p "$folder"; fi
        done
    ) 9>"$1.lock"
}

# With DVQ_PREFIX_DISPLAY set (the tests, which run side by side in several
# prefixes), the prefix has an X display of its own: an Xvfb started on first use
# and written down in PREFIX.display ("number pid") until --stop. The X server
# keeps some state for all its clients (screen saving is its switch), which the
# tests of one prefix must not see changed by another's.
own_display() {
    (
        flock 8
        if [ -f "$prefix.display" ]; then
            read -r n pid <"$prefix.display"
            if kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
                echo ":$n"
                exit 0
            fi
        fi
        # The numbers are chosen one prefix at a time.
        exec 7>"$(dirname "$prefix")/.displays.lock"
        flock 7
        n=101
        while :; do
            while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 7>&- 8>&- &
            pid=$!
            i=0
            while [ ! -e "/tmp/.X11-unix/X$n" ] && kill -0 $pid 2>/dev/null && [ $i -lt 100 ]; do
                sleep 0.05
                i=$((i + 1))
            done
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill $pid 2>/dev/null || true
            n=$((n + 1))
        done
        echo "$n $pid" >"$prefix.display"
        echo ":$n"
    ) 8>"$prefix.display.lock"
}

if [ "${1:-}" = --stop ]; then
    wineserver -k 2>/dev/null || true
    if [ -f "$prefix.display" ]; then
        read -r n pid <"$prefix.display"
        kill "$pid" 2>/dev/null || true
        rm -f "$prefix.display"
    fi
    exit 0
fi
make_ready "$prefix" "$template"
[ $# -gt 0 ] || exit 0
if [ -n "${DVQ_PREFIX_DISPLAY:-}" ]; then
    DISPLAY=$(own_display)
    export DISPLAY
fi
exec "$wine" "$@"
