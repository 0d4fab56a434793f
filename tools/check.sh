#!/bin/sh
# Static analysis of the program's sources (not the tests) with cppcheck, for the
# Win32 ANSI platform, with the Win32 API's and the scratch memory's allocation
# rules. Fails on any finding. A finding that is not a fault is suppressed in
# tools/cppcheck/suppressions.txt, with its reason beside it.
set -e
cd "$(dirname "$0")/.."
sh tools/setup.sh
exec cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ \
    --platform=win32A --library=windows --library=tools/cppcheck/scratch.cfg \
    --enable=warning,style,portability --inline-suppr \
    --suppressions-list=tools/cppcheck/suppressions.txt \
    --template='{file}:{line}: {severity}: {message} [{id}]' \
    -I . common client flow removal findfile
