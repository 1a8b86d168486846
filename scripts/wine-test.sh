#!/usr/bin/env bash
# Tests the COM server corvane.ocx under Wine: builds the 64-bit OCX, registers it
# in a fresh, throw-away Wine prefix, drives it from VBScript and JScript through
# cscript and from a small C++ client (tests/wine/server), unregisters it and
# checks that the registry is exactly as it was before.
# Usage: bash scripts/wine-test.sh     (KEEP=1 keeps the prefix and the logs)
# The type library of the 32-bit product, build/win32/corvane.ocx, is checked too
# when that build exists.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
tests=$root/tests/wine/server
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
compiler=x86_64-w64-mingw32-g++-posix
for program in "$wine" "$wineserver"; do
  [[ -x $program ]] || { echo "wine-test: $program not found (install wine64)" >&2; exit 2; }
done

cd "$root" || exit 2
if [[ ! -f $build/build.ninja ]]; then
  timeout 600 cmake --preset win64 > /dev/null || { echo "wine-test: cmake --preset win64 failed" >&2; exit 2; }
fi
build_log=$(mktemp /tmp/corvane-wine-build.XXXXXX)
if ! timeout 1800 cmake --build --preset win64 -j2 --target corvane_ocx > "$build_log" 2>&1; then
  tail -n 30 "$build_log" >&2
  echo "wine-test: building corvane.ocx (cmake --build --preset win64 --target corvane_ocx) failed" >&2
  rm -f "$build_log"
  exit 2
fi
rm -f "$build_log"

work=$(mktemp -d /tmp/corvane-wine-test.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=C WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # nothing here may open a window

passed=0
failed=0
finish() {
  timeout 30 "$wineserver" -k > /dev/null 2>&1
  if [[ -n ${KEEP:-} ]]; then echo "kept $work"; else rm -rf "$work"; fi
  echo "$passed passed, $failed failed"
  [[ $passed -gt 0 && $failed -eq 0 ]]
}
trap 'finish; exit $?' EXIT

pass() {
  passed=$((passed + 1))
  echo "ok - $1"
}
fail() {  # what [log to show]
  failed=$((failed + 1))
  echo "not ok - $1"
  [[ -n ${2:-} && -s $2 ]] && tail -n 30 "$2" | sed 's/^/    /'
  return 0
}

# Runs a Wine program with its output in a file, never in a pipe: Wine's background
# processes inherit the output and can hold a pipe open for ever.
run() {  # seconds log program arguments...
  local seconds=$1 log=$2
  shift 2
  timeout "$seconds" "$wine" "$@" > "$log" 2>&1
}

windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

# The whole of HKEY_CLASSES_ROOT, as UTF-8 text.
export_classes() {  # name
  run 120 "$work/$1-export.log" reg export HKCR "$(windows_path "$work/$1.reg")" /y &&
    iconv -f UTF-16LE -t UTF-8 "$work/$1.reg" | tr -d '\r' > "$work/$1.txt"
}

# Runs one test program and counts its "ok -" and "not ok -" lines; it must end
# with "RESULT PASS" (or "RESULT FAIL") and an exit status that agrees.
run_test() {  # name program arguments...
  local name=$1 log=$work/$1.log status
  shift
  run 120 "$log.raw" "$@"
  status=$?
  tr -d '\r' < "$log.raw" > "$log"
  while IFS= read -r line; do
    case $line in
      "ok - "*) pass "$name: ${line#ok - }" ;;
      "not ok - "*) fail "$name: ${line#not ok - }" ;;
    esac
  done < "$log"
  case "$(grep '^RESULT ' "$log" | tail -n 1)/$status" in
    "RESULT PASS/0" | "RESULT FAIL/1") ;;
    *) fail "$name ran to its end (exit status $status)" "$log" ;;
  esac
}

mkdir -p "$WINEPREFIX"
"$wineserver" -p > /dev/null 2>&1
if ! run 300 "$work/wineboot.log" wineboot -i; then
  fail "a fresh Wine prefix" "$work/wineboot.log"
  exit
fi
# Wine's script engines register their own classes on first use: let them, so
# that the snapshot below holds only what corvane.ocx changes.
echo 'WScript.Echo "ready"' > "$work/warmup.vbs"
run 60 "$work/warmup.log" cscript //nologo "$(windows_path "$work/warmup.vbs")"

cp "$build/corvane.ocx" "$work/corvane.ocx"
ocx=$(windows_path "$work/corvane.ocx")
export_classes before || { fail "export of the registry" "$work/before-export.log"; exit; }

if run 60 "$work/register.log" regsvr32 /s "$ocx"; then
  pass "regsvr32 registers corvane.ocx"
else
  fail "regsvr32 registers corvane.ocx" "$work/register.log"
fi
export_classes registered
diff "$work/before.txt" "$work/registered.txt" > "$work/registered.diff"
clsid='{13B70BCA-C682-4416-A008-5C262B17E31D}'
for key in "CLSID\\$clsid\\InprocServer32]" "prjCorvane.MIME\\CLSID]" \
  'TypeLib\{BB374CF0-7650-45D9-BE79-77FA82F6B08D}\1.0\0\win64]'; do
  if grep -qiF "> [HKEY_CLASSES_ROOT\\$key" "$work/registered.diff"; then  # key names ignore case
    pass "registration writes $key"
  else
    fail "registration writes $key" "$work/registered.diff"
  fi
done
if grep -A2 -F "\\$clsid\\InprocServer32]" "$work/registered.diff" | grep -qF '"ThreadingModel"="Apartment"'; then
  pass "the MIME class is apartment threaded"
else
  fail "the MIME class is apartment threaded" "$work/registered.diff"
fi

for script in "$tests"/*.vbs "$tests"/*.js; do
  run_test "$(basename "$script")" cscript //nologo "$(windows_path "$script")"
done

if timeout 300 "$compiler" -std=c++20 -Wall -Wextra -Werror -I "$build/src/windows" "$tests/server_check.cpp" \
  -o "$work/server_check.exe" -static -lole32 -loleaut32 -luuid > "$work/compile.log" 2>&1; then
  product=()
  if [[ -f $root/build/win32/corvane.ocx ]]; then
    cp "$root/build/win32/corvane.ocx" "$work/corvane32.ocx"
    product=("$(windows_path "$work/corvane32.ocx")")
  else
    echo "# build/win32/corvane.ocx not built: its type library is not checked"
  fi
  run_test server_check "$work/server_check.exe" "${product[@]}"
else
  fail "server_check.cpp compiles" "$work/compile.log"
fi

if run 60 "$work/unregister.log" regsvr32 /u /s "$ocx"; then
  pass "regsvr32 /u unregisters corvane.ocx"
else
  fail "regsvr32 /u unregisters corvane.ocx" "$work/unregister.log"
fi
export_classes unregistered
if diff "$work/before.txt" "$work/unregistered.txt" > "$work/unregistered.diff"; then
  pass "unregistration leaves the registry as it was before"
else
  fail "unregistration leaves the registry as it was before" "$work/unregistered.diff"
fi
