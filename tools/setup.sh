#!/bin/sh
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: returns at once when every tool is already there.
set -e
PKGS="cmake make cppcheck g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb x11-utils imagemagick googletest locales"
missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
# The Japanese locale gives Wine the double-byte ANSI code page 932.
locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && [ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing" ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' || $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
