#!/usr/bin/env bash
# Tests the control prjCorvane.Corvane under Wine against loopback servers (plain
# and TLS echo, a silent sink, a port where nothing listens): the VBScript and
# JScript tests of tests/wine/control through scripthost.exe (cscript cannot
# connect events), the C++ checks of control_check.exe on an X display of their
# own (the message box is a real window there).
# Usage: bash scripts/wine-control-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

tests=$wine_root/tests/wine/control

wine_begin control
wine_build corvane_ocx scripthost corvane_control_check
wine_servers

wine_register_ocx

script() {  # file arguments...
  local file=$1
  shift
  wine_checks "$file" 120 "$wine_build/scripthost.exe" "$(wine_path "$(wine_script "$tests/$file")")" "$@"
}
# With Wine's heap checks, which fill freed memory: a control that runs on after
# its handler let it go crashes.
WINEDEBUG=-all,warn+heap script socket.vbs "$port_plain" "$port_tls"
script control.vbs "$port_refused"
script control.js "$port_plain" "$port_refused"

wine_display_checks control_check 180 "$wine_bin/corvane_control_check.exe" "$port_plain" "$port_refused"
