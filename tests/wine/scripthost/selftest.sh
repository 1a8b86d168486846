#!/usr/bin/env bash
# The script host's own tests, under Wine.
#
#   tests/wine/scripthost/selftest.sh [build folder]     (default: build/win64, or
#                                                      build/win32 with CORVANE_WINE_BUILD=win32)
#
# Builds scripthost.exe and the test event source in that (configured) folder,
# registers the event source in a Wine prefix (see scripts/lib/wine.sh), runs each
# script and compares its exit code, its output and its error report. Prints
# "N passed, M failed".
[ -n "${BASH_VERSION:-}" ] || exec bash "$0" "$@"
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [[ -n ${1:-} ]]; then
  CORVANE_WINE_BUILD_DIR=$(cd "$1" && pwd) || exit 2
  export CORVANE_WINE_BUILD_DIR
fi
source "$here/../../../scripts/lib/wine.sh"

wine_begin scripthost
wine_build scripthost scripthost_event_source
host=scripthost-$wine_arch  # each build's copy, both registered in a shared prefix
mkdir -p "$WINEPREFIX/drive_c/$host"
cp "$wine_build/scripthost.exe" "$wine_build/tests/wine/scripthost/event_source.dll" "$WINEPREFIX/drive_c/$host/"
wine_run 60 "$work/regsvr32.log" regsvr32 /s "C:\\$host\\event_source.dll" ||
  give_up "the test event source registers" "$work/regsvr32.log"

# check NAME EXIT_CODE STDOUT STDERR_PART [SCRIPT ARGS...]
# Runs scripthost.exe in the selftest folder. STDOUT is the whole expected
# output (lines without the last line feed); STDERR_PART is text the error
# report must contain, or empty when nothing may be written to stderr.
check() {
  local name=$1 want_code=$2 want_out=$3 want_err=$4
  shift 4
  local out=$work/$name.out err=$work/$name.err want=$work/$name.want code problems=
  (cd "$here/selftest" && timeout $((60 + wine_allowance)) "$wine" "C:\\$host\\scripthost.exe" "$@" >"$out" 2>"$err" </dev/null)
  code=$?
  if [[ -n $want_out ]]; then printf '%s\n' "$want_out" >"$want"; else : >"$want"; fi

  [[ $code -eq $want_code ]] || problems="$problems exit code $code, expected $want_code;"
  cmp -s "$want" "$out" || problems="$problems output differs;"
  if [[ -z $want_err ]]; then
    [[ ! -s $err ]] || problems="$problems unexpected error report;"
  elif ! grep -qF -- "$want_err" "$err"; then
    problems="$problems error report lacks '$want_err';"
  fi

  if [[ -z $problems ]]; then
    pass "$name"
  else
    fail "$name:$problems"
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
