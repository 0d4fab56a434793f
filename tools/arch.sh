# Sourced by the project's scripts: chooses the architecture the build and Wine use.
# The un-installer is a 32-bit program, and where this machine can run 32-bit code
# it is built for i686 and run in a 32-bit prefix. Some Linux kernels run 64-bit
# user code only (IA-32 emulation off: Wine's 32-bit loader cannot start); there
# the same sources are built for x86-64 and run in a 64-bit prefix, so that every
# test still runs against the real Win32 API. DVQ_ARCH (i686 or x86_64) overrides.
if [ -z "${DVQ_ARCH:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        DVQ_ARCH=i686
    else
        DVQ_ARCH=x86_64
    fi
fi
if [ "$DVQ_ARCH" = x86_64 ]; then
    DVQ_PRESET=mingw-x64
    export WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64
else
    DVQ_PRESET=mingw
    export WINEARCH=win32
fi
export DVQ_ARCH DVQ_PRESET
