#!/bin/sh
# The decisions of tools/setup.sh, with stand-ins for apt-get, dpkg, dpkg-query,
# locale, localedef, sudo and id first on PATH: they record each call and act on a
# machine described by files in a scratch folder. Nothing is installed, nothing is
# fetched, root is not needed. Usage: setup_test.sh SOURCE_DIR SCRATCH_DIR
set -e
setup="$1/tools/setup.sh"
work=$2
rm -rf "$work"
mkdir -p "$work/bin"
failures=0

# The stand-ins. The machine: $DVQ_FAKE/installed (name:arch, one a line),
# foreign (architectures), locale (present when the Japanese locale is made),
# update-failures (how many more updates fail), i386 (how wine32:i386 installs:
# "as-they-stand", "without-security" or "never"), uid. Every call goes to calls.
stand_in() {
    printf '#!/bin/sh\nprintf "%%s\\n" "%s $*" >>"$DVQ_FAKE/calls"\n' "$1" >"$work/bin/$1"
    cat >>"$work/bin/$1"
    chmod +x "$work/bin/$1"
}
stand_in apt-get <<'EOF'
[ "$1" = update ] || [ "$1" = install ] || exit 2
if [ "$1" = update ]; then
    left=$(cat "$DVQ_FAKE/update-failures")
    [ "$left" -gt 0 ] || exit 0
    echo $((left - 1)) >"$DVQ_FAKE/update-failures"
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (46852 != 46964). Mirror sync in progress?" >&2
    exit 100
fi
echo "DEBIAN_FRONTEND=$DEBIAN_FRONTEND" >>"$DVQ_FAKE/calls"
shift
packages="" parts=""
for a in "$@"; do
    case $a in
        Dir::Etc::SourceParts=*) parts=${a#*=} ;;
        -*|Dir::*) ;;
        *) packages="$packages $a" ;;
    esac
done
if [ -n "$parts" ]; then
    cat "$parts"/* >"$DVQ_FAKE/sources-seen"
    if grep -q -- -security "$parts"/* || ! grep -q ' bookworm' "$parts"/*; then
        echo "E: the sources are not the main suite's" >&2
        exit 100
    fi
fi
case " $packages " in
    *" wine32:i386 "*)
        how=$(cat "$DVQ_FAKE/i386")
        if [ "$how" = never ] || { [ "$how" = without-security ] && [ -z "$parts" ]; }; then
            echo "E: Unable to correct problems, you have held broken packages." >&2
            exit 100
        fi ;;
esac
for p in $packages; do
    case $p in *:*) echo "$p" ;; *) echo "$p:amd64" ;; esac >>"$DVQ_FAKE/installed"
done
EOF
stand_in dpkg <<'EOF'
case $1 in
    --print-architecture) echo amd64 ;;
    --print-foreign-architectures) cat "$DVQ_FAKE/foreign" ;;
    --add-architecture) echo "$2" >>"$DVQ_FAKE/foreign" ;;
    *) exit 2 ;;
esac
EOF
stand_in dpkg-query <<'EOF'
for p in "$@"; do
    case $p in -*) continue ;; *:*) ;; *) p=$p:amd64 ;; esac
    grep -qx "$p" "$DVQ_FAKE/installed" && echo "$p installed"
done
exit 0
EOF
stand_in locale <<'EOF'
echo C; echo POSIX
[ -e "$DVQ_FAKE/locale" ] && echo ja_JP.utf8
exit 0
EOF
stand_in localedef <<'EOF'
touch "$DVQ_FAKE/locale"
EOF
stand_in sudo <<'EOF'
exec env "$@"
EOF
stand_in id <<'EOF'
cat "$DVQ_FAKE/uid"
EOF

COMMON="cmake make cppcheck g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 xvfb x11-utils imagemagick googletest locales nsis"
apt_sources() {
    mkdir -p "$1/sources.list.d"
    printf '%s\n' "deb http://deb.debian.org/debian bookworm main" \
        "deb http://deb.debian.org/debian-security bookworm-security main" >"$1/sources.list"
    printf '%s\n' "deb http://deb.debian.org/debian-security bookworm-security contrib" >"$1/sources.list.d/security.list"
    printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: bookworm bookworm-updates" \
        "Components: main" "" "Types: deb" "URIs: http://deb.debian.org/debian-security" \
        "Suites: bookworm-security" "Components: main" "" "Types: deb" "URIs: http://mirror.example/debian" \
        "Suites: bookworm-security bookworm-backports" "Components: main" >"$1/sources.list.d/debian.sources"
}

# A fresh machine: NAME, then what is installed ("all", "all-but-wine32", "none").
machine() {
    name=$1
    export DVQ_FAKE="$work/$name"
    mkdir -p "$DVQ_FAKE"
    : >"$DVQ_FAKE/installed"
    : >"$DVQ_FAKE/calls"
    : >"$DVQ_FAKE/foreign"
    echo 0 >"$DVQ_FAKE/update-failures"
    echo as-they-stand >"$DVQ_FAKE/i386"
    echo 0 >"$DVQ_FAKE/uid"
    apt_sources "$DVQ_FAKE/apt"
    case $2 in
        all|all-but-wine32)
            for p in $COMMON; do echo "$p:amd64"; done >"$DVQ_FAKE/installed"
            touch "$DVQ_FAKE/locale" ;;
    esac
    if [ "$2" = all ]; then echo wine32:i386 >>"$DVQ_FAKE/installed" && echo i386 >"$DVQ_FAKE/foreign"; fi
}

# Runs setup on the current machine; its output and exit code are kept.
run_setup() {
    status=0
    env -u DVQ_ARCH -u DVQ_SETUP_PROBE32 PATH="$work/bin:$PATH" DVQ_APT_SOURCES="$DVQ_FAKE/apt" DVQ_SETUP_PAUSE=0 \
        DVQ_SETUP_PROBE32=true \
        "$@" sh "$setup" >"$DVQ_FAKE/out" 2>"$DVQ_FAKE/err" || status=$?
}

fail() {
    echo "FAILED ($name): $*"
    sed 's/^/    calls: /' "$DVQ_FAKE/calls"
    sed 's/^/    out: /' "$DVQ_FAKE/out"
    sed 's/^/    err: /' "$DVQ_FAKE/err"
    failures=$((failures + 1))
}
expect_status() { [ "$status" = "$1" ] || fail "exit code $status, not $1"; }
calls() { grep -c "^$1" "$DVQ_FAKE/calls" || true; }
expect_calls() { [ "$(calls "$1")" = "$2" ] || fail "$(calls "$1") calls of '$1', not $2"; }
expect_route() {
    [ "$(grep -c '^setup: .* route' "$DVQ_FAKE/out")" = 1 ] || fail "not one line naming the route"
    grep -q "^setup: $1" "$DVQ_FAKE/out" || fail "the route is not '$1'"
}
installed() { grep -qx "$1" "$DVQ_FAKE/installed"; }
expect_installed() { installed "$1" || fail "$1 not installed"; }
expect_not_installed() { ! installed "$1" || fail "$1 installed"; }

# The standing-in is complete: no real package tool can be reached.
for tool in apt-get dpkg dpkg-query localedef sudo; do
    [ "$(PATH="$work/bin:$PATH" command -v $tool)" = "$work/bin/$tool" ] || { echo "FAILED: $tool not stood in"; exit 1; }
done

machine nothing-to-do all
start=$(date +%s%N)
run_setup
echo "nothing to do: setup took $((($(date +%s%N) - start) / 1000000)) ms"
expect_status 0
if grep -qv '^dpkg\|^locale' "$DVQ_FAKE/calls"; then fail "more than a look was taken"; fi
[ ! -s "$DVQ_FAKE/out" ] || fail "something was said"

machine locale-only all
rm "$DVQ_FAKE/locale"
run_setup
expect_calls "apt-get" 0
expect_calls "localedef" 1

machine index-fails-twice none
echo 2 >"$DVQ_FAKE/update-failures"
run_setup
expect_status 0
expect_calls "apt-get update" 3
expect_calls "apt-get install" 1
expect_route "i686 route"
expect_installed wine32:i386
expect_installed nsis:amd64
grep -qx i386 "$DVQ_FAKE/foreign" || fail "i386 not added"
! grep -q "going on" "$DVQ_FAKE/err" || fail "said it went on without an index"
grep -q "^localedef" "$DVQ_FAKE/calls" || fail "the locale not made"

machine i386-at-matching-versions none
echo 9 >"$DVQ_FAKE/update-failures"
echo without-security >"$DVQ_FAKE/i386"
run_setup
expect_status 0
expect_calls "apt-get update" 3
expect_calls "apt-get install" 2
grep -q "going on with the indexes there are" "$DVQ_FAKE/err" || fail "did not say it went on"
grep -q "apt-get install .*Dir::Etc::SourceList=/dev/null .*Dir::Etc::SourceParts=" "$DVQ_FAKE/calls" ||
    fail "the second install did not name its own sources"
expect_route "i686 route (wine32 and wine64), installed with the security suite left out"
expect_installed wine32:i386
# The security suite left out of every format, the rest kept.
for suite in "deb http://deb.debian.org/debian bookworm main" "Suites: bookworm bookworm-updates" \
    "URIs: http://mirror.example/debian" "Suites: bookworm-backports"; do
    grep -qx "$suite" "$DVQ_FAKE/sources-seen" || fail "'$suite' lost from the sources"
done
[ "$(grep -c '^Types:' "$DVQ_FAKE/sources-seen")" = 2 ] || fail "a stanza with no suite left was kept"

machine only-x86-64 none
echo 9 >"$DVQ_FAKE/update-failures"
echo never >"$DVQ_FAKE/i386"
run_setup
expect_status 0
expect_calls "apt-get install" 3
expect_route "x86-64 route (wine64 alone, no wine32): the i386 packages cannot be installed"
expect_not_installed wine32:i386
expect_installed wine64:amd64
grep "apt-get install" "$DVQ_FAKE/calls" | tail -1 | grep -q wine32 && fail "the last install asked for wine32"
# Once taken, the route stands: the next run has nothing to do, even with the
# index mended; a package new to the list comes without wine32.
: >"$DVQ_FAKE/calls"
echo 0 >"$DVQ_FAKE/update-failures"
run_setup
expect_status 0
expect_calls "apt-get" 0
sed -i '/^nsis:/d' "$DVQ_FAKE/installed"
echo as-they-stand >"$DVQ_FAKE/i386"
run_setup
expect_route "x86-64 route (wine64 alone, no wine32), as this machine took before"
expect_installed nsis:amd64
expect_not_installed wine32:i386
# DVQ_ARCH=i686 asks for the i686 route again.
run_setup DVQ_ARCH=i686
expect_route "i686 route (wine32 and wine64), as DVQ_ARCH asks"
expect_installed wine32:i386

machine kernel-without-32-bit none
run_setup DVQ_SETUP_PROBE32=false
expect_status 0
expect_calls "apt-get install" 1
expect_calls "dpkg --add-architecture" 0
expect_route "x86-64 route (wine64 alone, no wine32), this machine's kernel runs no 32-bit programs"
expect_not_installed wine32:i386

machine chosen-by-hand all-but-wine32
sed -i '/^cmake:/d' "$DVQ_FAKE/installed"
run_setup DVQ_ARCH=x86_64
expect_route "x86-64 route (wine64 alone, no wine32), as DVQ_ARCH asks"
expect_calls "apt-get install" 1
expect_not_installed wine32:i386

machine not-root none
echo 1000 >"$DVQ_FAKE/uid"
run_setup
expect_status 0
[ "$(calls "sudo")" -ge 4 ] || fail "not every change went through sudo"
grep -q "^sudo DEBIAN_FRONTEND=noninteractive apt-get install" "$DVQ_FAKE/calls" || fail "apt-get install not through sudo"
grep -qx "DEBIAN_FRONTEND=noninteractive" "$DVQ_FAKE/calls" || fail "apt-get asked questions"

# Setup's own 32-bit probe agrees with Wine's 32-bit loader, where there is one.
machine probe none
status=0
env -u DVQ_ARCH -u DVQ_SETUP_PROBE32 PATH="$work/bin:$PATH" DVQ_APT_SOURCES="$DVQ_FAKE/apt" DVQ_SETUP_PAUSE=0 sh "$setup" >"$DVQ_FAKE/out" 2>"$DVQ_FAKE/err" || status=$?
if [ -x /usr/lib/wine/wine ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then expect_route "i686 route"; else expect_route "x86-64 route"; fi
else
    echo "the probe says: $(grep route "$DVQ_FAKE/out") (no 32-bit Wine here to compare with)"
fi

[ $failures = 0 ] && echo "setup's decisions: all as expected"
exit $failures
