#!/bin/sh
# The script host's own tests, under Wine in a fresh prefix.
#
#   tests/wine/scripthost/selftest.sh [build folder]     (default: build/win64)
#
# Builds scripthost.exe and the test event source in that (configured) folder,
# registers the event source in a new prefix, runs each script and compares its
# exit code, its output and its error report. Prints "N passed, M failed".
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=${1:-$root/build/win64}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "no configured build in $build: run 'cmake --preset win64' first" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/scripthost-selftest.XXXXXX") || exit 2
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LC_ALL=C WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    timeout 30 "$wineserver" -k >/dev/null 2>&1
    timeout 30 "$wineserver" -w >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# setup STEP COMMAND...: runs one preparation step, its output in a log shown on failure.
setup() {
    step=$1
    shift
    if ! "$@" >"$work/$step.log" 2>&1; then
        echo "setup failed: $step" >&2
        cat "$work/$step.log" >&2
        exit 2
    fi
}

setup build timeout 900 cmake --build "$build" -j2 --target scripthost scripthost_event_source
mkdir -p "$WINEPREFIX"
timeout 30 "$wineserver" -p 60 >/dev/null 2>&1
setup wineboot timeout 180 "$wine" wineboot -i
mkdir -p "$WINEPREFIX/drive_c/scripthost"
cp "$build/scripthost.exe" "$build/tests/wine/scripthost/event_source.dll" "$WINEPREFIX/drive_c/scripthost/"
setup regsvr32 timeout 60 "$wine" regsvr32 /s 'C:\scripthost\event_source.dll'

passed=0
failed=0

# check NAME EXIT_CODE STDOUT STDERR_PART [SCRIPT ARGS...]
# Runs scripthost.exe in the selftest folder. STDOUT is the whole expected
# output (lines without the last line feed); STDERR_PART is text the error
# report must contain, or empty when nothing may be written to stderr.
check() {
    name=$1 want_code=$2 want_out=$3 want_err=$4
    shift 4
    out="$work/$name.out" err="$work/$name.err" want="$work/$name.want"
    (cd "$here/selftest" && timeout 60 "$wine" 'C:\scripthost\scripthost.exe' "$@" >"$out" 2>"$err")
    code=$?
    if [ -n "$want_out" ]; then printf '%s\n' "$want_out" >"$want"; else : >"$want"; fi

    problems=""
    [ "$code" -eq "$want_code" ] || problems="$problems exit code $code, expected $want_code;"
    cmp -s "$want" "$out" || problems="$problems output differs;"
    if [ -z "$want_err" ]; then
        [ ! -s "$err" ] || problems="$problems unexpected error report;"
    elif ! grep -qF -- "$want_err" "$err"; then
        problems="$problems error report lacks '$want_err';"
    fi

    if [ -z "$problems" ]; then
        passed=$((passed + 1))
        echo "ok    $name"
    else
        failed=$((failed + 1))
        echo "FAIL  $name:$problems"
        echo "  --- expected output"; sed 's/^/  /' "$want"
        echo "  --- output"; sed 's/^/  /' "$out"
        echo "  --- error report"; sed 's/^/  /' "$err"
    fi
}

check echo_vbs 0 "hello 42 True False
a  b

echo.vbs 2 one two three" "" echo.vbs "one two" three

check echo_js 0 "js 2 True 1 x echo.js" "" echo.js x

check utf8_bom 0 "café 4" "" utf8_bom.vbs

check quit 7 "before
slept enough True" "" quit.vbs

check runtime_error_vbs 1 "start" \
    "runtime_error.vbs(3, 1) selftest: custom failure (0x80040007)" runtime_error.vbs

check runtime_error_js 1 "start" "runtime_error.js(2, 1)" runtime_error.js

check syntax_error 1 "" "syntax_error.vbs(2, " syntax_error.vbs

check objects 0 "dictionary 1 v
no class 800401F3 Could not create object named \"No.Such.Thing\"
no events 80040200 Cannot connect to the object's events: the object's class has no default event interface
negative sleep 80070057 Sleep needs a time of 0 ms or more
no argument 8002000B Argument index out of range
no member 438" "" objects.vbs

check events_vbs 0 "handler 5 boom False
cancelled True
left 6 changed boom
disconnected False 9 1
other -3 x
other cancelled False -3" "" events.vbs

check events_js 0 "handler 5 boom False
cancelled False 5 boom" "" events.js

check handler_error 1 "in handler
cancelled False" "handler_error.vbs(3, 5)" handler_error.vbs

check byref_mismatch 1 "left 5 kept" \
    "src_Error: the value left in argument 1 does not convert to the type the event declares" byref_mismatch.vbs

check quit_in_handler 3 "quitting" "" quit_in_handler.vbs

check usage 2 "" "usage: scripthost.exe <file.vbs|file.js>"
check unknown_language 2 "" "cannot tell the script language of event_source.idl" event_source.idl
check missing_file 2 "" "cannot read no_such_script.vbs" no_such_script.vbs

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
