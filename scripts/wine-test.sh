#!/usr/bin/env bash
# Tests the COM server corvane.ocx under Wine: registers the OCX of the build under
# test (scripts/lib/wine.sh) in a Wine prefix, checks the keys it writes, drives
# the MIME class from VBScript and JScript through cscript and from a small C++
# client (tests/wine/server), unregisters it and checks that HKEY_CLASSES_ROOT is
# exactly as it was before. Registry, cscript and client are of the build's width.
# Usage: bash scripts/wine-test.sh     (KEEP=1 keeps the prefix and the logs)
# The type library of the other width's build is checked too when that build exists.
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

tests=$wine_root/tests/wine/server

wine_begin server
wine_build corvane_ocx

# The whole of HKEY_CLASSES_ROOT, as UTF-8 text.
export_classes() {  # name
  wine_run 120 "$work/$1-export.log" reg export HKCR "$(wine_path "$work/$1.reg")" /y &&
    iconv -f UTF-16LE -t UTF-8 "$work/$1.reg" | tr -d '\r' >"$work/$1.txt"
}

# Wine's script engines register their own classes on first use: let them, so
# that the snapshot below holds only what corvane.ocx changes.
echo 'WScript.Echo "ready"' >"$work/warmup.vbs"
wine_run 60 "$work/warmup.log" cscript //nologo "$(wine_path "$work/warmup.vbs")"

cp "$wine_build/corvane.ocx" "$work/corvane.ocx"
ocx=$(wine_path "$work/corvane.ocx")
export_classes before || give_up "export of the registry" "$work/before-export.log"

if wine_run 60 "$work/register.log" regsvr32 /s "$ocx"; then
  pass "regsvr32 registers corvane.ocx"
else
  fail "regsvr32 registers corvane.ocx" "$work/register.log"
fi
export_classes registered
diff "$work/before.txt" "$work/registered.txt" >"$work/registered.diff"

mime='{13B70BCA-C682-4416-A008-5C262B17E31D}'
control='{3EFF7BB8-0BE5-471B-BE57-8EC89AAF511E}'
pages=('{53EA5658-0D94-4275-A8FB-39B4C073236A}' '{F975CFB2-DBFA-4391-8AE7-154F41DA0CD3}')  # pagPOP3, pagSMTP
for key in "CLSID\\$mime\\InprocServer32]" "prjCorvane.MIME\\CLSID]" \
  "CLSID\\$control\\InprocServer32]" "CLSID\\$control\\Control]" "CLSID\\$control\\MiscStatus\\1]" \
  "CLSID\\$control\\ToolboxBitmap32]" \
  "CLSID\\$control\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}]" \
  "CLSID\\$control\\TypeLib]" "prjCorvane.Corvane\\CLSID]" \
  "CLSID\\${pages[0]}\\InprocServer32]" "CLSID\\${pages[1]}\\InprocServer32]" \
  "TypeLib\\{BB374CF0-7650-45D9-BE79-77FA82F6B08D}\\1.0\\0\\$wine_arch]"; do
  if grep -qiF "> [HKEY_CLASSES_ROOT\\$key" "$work/registered.diff"; then  # key names ignore case
    pass "registration writes $key"
  else
    fail "registration writes $key" "$work/registered.diff"
  fi
done
# The value lines of a key that registration added.
key_values() {  # key
  KEY="> [HKEY_CLASSES_ROOT\\$1]" awk 'tolower($0) == tolower(ENVIRON["KEY"]) { on = 1; next }
    on && /^> *$/ { exit }
    on' "$work/registered.diff"
}
for clsid in "$mime" "$control" "${pages[@]}"; do
  if key_values "CLSID\\$clsid\\InprocServer32" | grep -qF '"ThreadingModel"="Apartment"'; then
    pass "class $clsid is apartment threaded"
  else
    fail "class $clsid is apartment threaded" "$work/registered.diff"
  fi
done
if key_values "prjCorvane.Corvane\\CLSID" | grep -qiF "@=\"$control\""; then
  pass "the ProgID prjCorvane.Corvane names the control's class"
else
  fail "the ProgID prjCorvane.Corvane names the control's class" "$work/registered.diff"
fi
# Safe for scripting (7DD95801) or initialising (7DD95802): never, see docs/choices.md.
if grep -qiE '7DD9580[12]' "$work/registered.diff"; then
  fail "registration marks the control safe for neither scripting nor initialising" "$work/registered.diff"
else
  pass "registration marks the control safe for neither scripting nor initialising"
fi
if key_values "CLSID\\$control\\MiscStatus\\1" | grep -qF '@="132497"'; then
  pass "the control's MiscStatus for the content aspect"
else
  fail "the control's MiscStatus for the content aspect" "$work/registered.diff"
fi

for script in "$tests"/*.vbs "$tests"/*.js; do
  wine_checks "$(basename "$script")" 120 cscript //nologo "$(wine_path "$(wine_script "$script")")"
done

if wine_compile_server_check "$work/server_check.exe"; then
  other=win32 others=()
  [[ $wine_arch == win32 ]] && other=win64
  if [[ -f $wine_root/build/$other/corvane.ocx ]]; then
    cp "$wine_root/build/$other/corvane.ocx" "$work/corvane-$other.ocx"
    others=("$(wine_path "$work/corvane-$other.ocx")")
  else
    echo "# build/$other/corvane.ocx not built: its type library is not checked"
  fi
  wine_checks server_check 120 "$work/server_check.exe" "${others[@]}"
else
  fail "server_check.cpp compiles" "$work/server_check.exe.log"
fi

if wine_run 60 "$work/unregister.log" regsvr32 /u /s "$ocx"; then
  pass "regsvr32 /u unregisters corvane.ocx"
else
  fail "regsvr32 /u unregisters corvane.ocx" "$work/unregister.log"
fi
export_classes unregistered
if diff "$work/before.txt" "$work/unregistered.txt" >"$work/unregistered.diff"; then
  pass "unregistration leaves the registry as it was before"
else
  fail "unregistration leaves the registry as it was before" "$work/unregistered.diff"
fi
