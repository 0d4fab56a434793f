#!/bin/sh
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: returns at once when every tool is already there.
#
# A package index can fail for a while (a mirror mid-sync): the update is tried a
# few times, then the install goes on with the indexes there are. Without one of
# the security suite's indexes, the i386 libraries may be known only at versions
# that do not match the amd64 ones, which multi-arch requires to be the same; the
# install is then tried once more with the security suite left out, so that both
# meet at the main suite's versions. Failing that, the x86-64 route of
# tools/arch.sh is taken: wine64 alone, no wine32. wine32 is not installed either
# where it would not be used: when DVQ_ARCH=x86_64 asks for that route, when the
# kernel runs no 32-bit programs, or when this machine took that route before
# (wine64 there without wine32; DVQ_ARCH=i686 tries the i686 route again).
# One line says which route was taken and why.
#
# For tests of these decisions: DVQ_APT_SOURCES (default /etc/apt) is where the
# sources are read, DVQ_SETUP_PAUSE the seconds between tries of the update, and
# DVQ_SETUP_PROBE32 a program run in place of the 32-bit probe.
set -e
sources=${DVQ_APT_SOURCES:-/etc/apt}
pause=${DVQ_SETUP_PAUSE:-5}
COMMON="cmake make cppcheck g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 xvfb x11-utils imagemagick googletest locales nsis"
I386="wine32:i386"

# The packages named that are not installed (" a b"), with one look into dpkg's
# database; a name without an architecture is the machine's own or "all".
missing_of() {
    dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' "$@" 2>/dev/null |
        awk -v native="$(dpkg --print-architecture)" -v wanted="$*" '
            $2 == "installed" { have[$1] = 1 }
            END {
                n = split(wanted, names, " ")
                for (i = 1; i <= n; i++) {
                    p = names[i]
                    if (!(p in have) && !((p ":" native) in have) && !((p ":all") in have))
                        printf " %s", p
                }
            }'
}
listed() { case "$1 " in *" $2 "*) return 0 ;; esac; return 1; }
have_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; }

# Whether the kernel runs 32-bit x86 programs, as Wine's 32-bit loader needs: a
# smallest 32-bit Linux program, which only exits, is run once.
runs_32bit() {
    if [ -n "${DVQ_SETUP_PROBE32:-}" ]; then
        "$DVQ_SETUP_PROBE32" >/dev/null 2>&1
        return
    fi
    probe=$(mktemp)
    printf '\177\105\114\106\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >"$probe"
    chmod +x "$probe"
    if "$probe" 2>/dev/null; then ran=0; else ran=1; fi
    rm -f "$probe"
    return $ran
}

missing=$(missing_of $COMMON $I386)
common_missing=$(printf '%s\n' "$missing" | sed 's/ wine32:i386//')
probe=yes why_i686="this machine runs 32-bit programs"
case ${DVQ_ARCH:-} in
    x86_64) want_i386=no why="as DVQ_ARCH asks" ;;
    i686) want_i386=yes probe=no why_i686="as DVQ_ARCH asks" ;;
    *)
        if ! listed "$missing" wine64 && listed "$missing" wine32:i386; then
            want_i386=no why="as this machine took before (wine64 without wine32)"
        else
            want_i386=yes
        fi
        ;;
esac
[ "$want_i386" = yes ] || missing=$common_missing
[ -z "$missing" ] && have_locale && exit 0

if [ "$want_i386" = yes ] && [ "$probe" = yes ] && listed "$missing" wine32:i386 && ! runs_32bit; then
    want_i386=no why="this machine's kernel runs no 32-bit programs"
    missing=$common_missing
fi

SUDO=""
# sudo starts its command with an environment of its own.
[ "$(id -u)" -eq 0 ] || SUDO="sudo DEBIAN_FRONTEND=noninteractive"
export DEBIAN_FRONTEND=noninteractive

# The sources with the security suite left out, in a folder of their own: lines
# of the one-line format naming it, and suites of the deb822 format (a stanza
# left with no suite goes).
plain=""
trap 'rm -rf "$plain"' EXIT
without_security() {
    plain=$(mktemp -d)
    if [ -f "$sources/sources.list" ]; then
        grep -v -- '-security' "$sources/sources.list" >"$plain/sources.list" || true
    fi
    for f in "$sources"/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        grep -v -- '-security' "$f" >"$plain/${f##*/}" || true
    done
    for f in "$sources"/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
            {
                n = split($0, lines, "\n"); out = ""; keep = 1
                for (i = 1; i <= n; i++) {
                    line = lines[i]
                    if (line ~ /^Suites:/) {
                        k = split(substr(line, 8), suites, " "); line = "Suites:"; left = 0
                        for (j = 1; j <= k; j++)
                            if (suites[j] !~ /-security$/) { line = line " " suites[j]; left++ }
                        keep = left > 0
                    }
                    out = out line "\n"
                }
                if (keep) printf "%s\n", out
            }' "$f" >"$plain/${f##*/}"
    done
}

install() { $SUDO apt-get install -y -qq --no-install-recommends "$@"; }

if [ -n "$missing" ]; then
    if [ "$want_i386" = yes ]; then
        dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    fi
    tries=1
    until $SUDO apt-get update -qq; do
        if [ $tries -ge 3 ]; then
            echo "setup: a package index failed $tries times; going on with the indexes there are" >&2
            break
        fi
        tries=$((tries + 1))
        sleep "$pause"
    done
    if [ "$want_i386" = no ]; then
        install $missing
        echo "setup: x86-64 route (wine64 alone, no wine32), $why"
    elif install $missing; then
        echo "setup: i686 route (wine32 and wine64), $why_i686"
    else
        without_security
        if install -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$plain" $missing; then
            echo "setup: i686 route (wine32 and wine64), installed with the security suite left out: its i386 packages did not match the amd64 ones"
        else
            install $common_missing
            echo "setup: x86-64 route (wine64 alone, no wine32): the i386 packages cannot be installed at versions matching the amd64 ones"
        fi
    fi
fi
have_locale || $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
