#!/usr/bin/env bash
# Tests prjCorvane.Corvane as an OLE control under Wine: tests/wine/container is
# a small container that sites the control on a form, activates, draws, resizes,
# saves and loads it, and edits it through its property pages, on an X display
# of its own. Its screenshots (the control on the form, each property page) end
# up as PNG files in build/win64/screenshots.
# Usage: bash scripts/wine-container-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

wine_begin container
wine_build corvane_ocx corvane_container
wine_servers

cp "$wine_build/corvane.ocx" "$work/corvane.ocx"
ocx=$(wine_path "$work/corvane.ocx")
wine_run 60 "$work/register.log" regsvr32 /s "$ocx" || give_up "regsvr32 registers corvane.ocx" "$work/register.log"
unregister() {
  wine_run 60 "$work/unregister.log" regsvr32 /u /s "$ocx" ||
    fail "regsvr32 /u unregisters corvane.ocx" "$work/unregister.log"
}
wine_at_end unregister

mkdir -p "$work/shots"
# With Wine's heap checks, which fill freed memory: a control that runs on after
# its container let it go crashes.
WINEDEBUG=-all,warn+heap wine_display_checks container 180 "$wine_bin/corvane_container.exe" "$port_refused" \
  "$(wine_path "$work/shots")"

screenshots=$wine_build/screenshots
mkdir -p "$screenshots"
for shot in "$work"/shots/*.bmp; do
  [[ -f $shot ]] || continue
  name=$(basename "$shot" .bmp)
  if convert "$shot" "$screenshots/$name.png" 2>"$work/convert.log"; then
    pass "screenshot $name.png"
  else
    fail "screenshot $name.png (convert, from imagemagick)" "$work/convert.log"
  fi
done
