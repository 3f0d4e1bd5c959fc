#!/bin/sh
# Runs a Windows program of the build under Wine: wine-run.sh PREFIX PROGRAM [ARGUMENT...].
# PREFIX is a Wine prefix of the build tree, made on first use; a lock keeps test programs
# that ctest starts side by side from making it twice. Wine's own messages stay off.
# The program's output goes through files: Wine's server and the system processes the program
# wakes inherit its standard handles and outlive it by seconds, and ctest would wait for them
# to close a pipe.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
# Wine names the Unix side's files in the encoding of the locale: without one (env -i, no
# LANG) it cannot make a file whose name holds an umlaut at all.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8
fi
wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

if [ ! -f "$prefix/.pelorix-made" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.pelorix-made" ]; then
            # Without Mono and Gecko: nothing here needs them, and no installer is offered.
            WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1
            # Until the prefix is written out the service manager is not ready.
            "$wineserver" -w
            touch "$prefix/.pelorix-made"
        fi
    ) 9>"$prefix.lock"
fi
output=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$output" "$errors"' EXIT
status=0
"$wine" "$@" </dev/null >"$output" 2>"$errors" || status=$?
cat "$output"
cat "$errors" >&2
exit "$status"
