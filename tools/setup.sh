#!/bin/sh
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: returns at once when every tool is already there.
#
# A package index can fail for a while (a mirror mid-sync): the update is tried a
# few times, then the install goes on with the indexes there are. Without one of
# the security suite's indexes, the i386 libraries may be known only at versions
# that do not match the machine's amd64 ones, which multi-arch requires to be the
# same; the install is then tried once more with the security suite left out, so
# that both meet at the main suite's versions. Failing that, the x86-64 route of
# tools/arch.sh is taken: wine64 alone, no wine32. One line says which route.
#
# For tests of these decisions: DVQ_APT_SOURCES (default /etc/apt) is where the
# sources are read, DVQ_SETUP_PAUSE the seconds between tries of the update.
set -e
sources=${DVQ_APT_SOURCES:-/etc/apt}
pause=${DVQ_SETUP_PAUSE:-5}
COMMON="cmake make cppcheck g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 xvfb x11-utils imagemagick googletest locales nsis"
I386="wine32:i386"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
missing_of() {
    for p in "$@"; do installed "$p" || printf ' %s' "$p"; done
}
have_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; }

# wine32 is wanted unless the x86-64 route is chosen by hand. Every other route
# installs it with the rest, so everything there but wine32 means that this
# machine took the x86-64 route before: it is not asked for again.
want_i386=yes
[ "${DVQ_ARCH:-}" = x86_64 ] && want_i386=no
[ -z "$(missing_of $COMMON)" ] && ! installed wine32:i386 && want_i386=no
missing=$(missing_of $COMMON)
[ "$want_i386" = yes ] && missing="$missing$(missing_of $I386)"
[ -z "$missing" ] && have_locale && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

# The sources with the security suite left out, in a folder of their own.
without_security() {
    dir=$(mktemp -d)
    [ -f "$sources/sources.list" ] && grep -v -- '-security' "$sources/sources.list" >"$dir/sources.list" || true
    for f in "$sources"/sources.list.d/*.list; do
        [ -f "$f" ] && grep -v -- '-security' "$f" >"$dir/$(basename "$f")"
    done
    for f in "$sources"/sources.list.d/*.sources; do
        [ -f "$f" ] && awk 'BEGIN { RS = ""; ORS = "\n\n" } !/Suites:[^\n]*-security/' "$f" >"$dir/$(basename "$f")"
    done
    echo "$dir"
}

install() { $SUDO apt-get install -y -qq --no-install-recommends "$@"; }

if [ -n "$missing" ]; then
    if [ "$want_i386" = yes ]; then
        dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    fi
    tries=0
    until $SUDO apt-get update -qq; do
        tries=$((tries + 1))
        if [ $tries -ge 3 ]; then
            echo "setup: a package index failed $tries times; going on with the indexes there are" >&2
            break
        fi
        sleep "$pause"
    done
    if [ "$want_i386" = no ]; then
        install $missing
        echo "setup: x86-64 route (wine64 alone), as DVQ_ARCH asks"
    elif install $missing; then
        echo "setup: i686 route (wine32 and wine64)"
    else
        plain=$(without_security)
        if install -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$plain" $missing; then
            echo "setup: i686 route, installed with the security suite left out: its i386 index did not match the machine's amd64 libraries"
        else
            install $(missing_of $COMMON)
            echo "setup: x86-64 route (wine64 alone, no wine32): the i386 packages cannot be installed at versions matching this machine's amd64 libraries"
        fi
        rm -rf "$plain"
    fi
fi
have_locale || $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
