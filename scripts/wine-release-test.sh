#!/usr/bin/env bash
# The release as users get it: scripts/release.sh signed with a throw-away
# certificate; the signatures; then in a fresh Wine prefix of its own (nothing
# registered) the version block read back, the zip's control used from a
# program's folder through its manifests (server_check.exe and scripthost.exe),
# and each MSI installed and removed. Covers both builds itself, so
# scripts/wine-suites.sh runs it once.
# Usage: bash scripts/wine-release-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"
unset CORVANE_WINE_SHARED

wine_use_build win64
wine_begin release
version=$(sed -nE 's/^project\(corvane VERSION ([0-9.]+).*/\1/p' "$wine_root/CMakeLists.txt")

source "$wine_root/scripts/lib/test_certificates.sh"
pki=$work/pki  # its signer signs the release, its ca is trusted to check it
test_certificates "$pki" || give_up "the test certificates" "$pki/openssl.log"

dist=$work/dist
CORVANE_DIST=$dist CORVANE_SIGN_CERT=$pki/signer.pem CORVANE_SIGN_KEY=$pki/signer.key \
  timeout 1800 bash "$wine_root/scripts/release.sh" >"$work/release.log" 2>&1 || give_up "release.sh" "$work/release.log"
check "SHA256SUMS lists the four artefacts and matches them" \
  eval "[[ \$(wc -l <'$dist/SHA256SUMS') -eq 4 ]] && cd '$dist' && sha256sum -c SHA256SUMS"
unzip -q "$dist/corvane-$version-windows.zip" -d "$work" || give_up "the zip unpacks"
zip=$work/corvane-$version-windows
for file in "$zip/x86/corvane.ocx" "$zip/x64/corvane.ocx" "$dist/corvane-$version-x86.msi" "$dist/corvane-$version-x64.msi"; do
  check "the signature of ${file#"$work/"} verifies against the test CA" osslsigncode verify -CAfile "$pki/ca.pem" -in "$file"
done

# What a script sees: the file version (GetFileVersionInfo) of the OCX named, or
# the control created by its ProgID and a property read.
cat >"$work/probe.vbs" <<'VBS'
If WScript.Arguments.Count > 0 Then
  WScript.Echo "version " & CreateObject("Scripting.FileSystemObject").GetFileVersion(WScript.Arguments(0))
Else
  WScript.Echo "Timeout " & CreateObject("prjCorvane.Corvane").Timeout
End If
VBS
script() {  # expected host script arguments...: passes when the script prints a line matching `expected`
  local expected=$1 host=$2 file=$3
  shift 3
  wine_run 120 "$work/script.log" "$host" "$(wine_path "$file")" "$@"
  tr -d '\r' <"$work/script.log" | grep -qx "$expected"
}
wine_build scripthost
host=$wine_build/scripthost.exe
for arch in x86 x64; do
  check "the $arch OCX's file version is $version.0" script "version $version.0" "$host" "$work/probe.vbs" \
    "$(wine_path "$zip/$arch/corvane.ocx")"
done
wine_compile_server_check "$work/server_check.exe" || give_up "server_check.cpp compiles" "$work/server_check.exe.log"

# Registration-free: the programs' folder holds the control and the manifests.
app=$zip/x64
cp "$host" "$work/server_check.exe" "$app/"
for program in scripthost server_check; do cp "$app/YourProgram.exe.manifest" "$app/$program.exe.manifest"; done
wine_checks registration-free 60 "$app/server_check.exe" --served "$(wine_path "$app/corvane.ocx")"
check "registration-free: a script creates prjCorvane.Corvane by its ProgID" \
  script "Timeout 10" "$app/scripthost.exe" "$work/probe.vbs"
check "registration-free: examples/compose.vbs runs" \
  script "PASS: composed [0-9]* characters" "$app/scripthost.exe" "$zip/examples/compose.vbs"

# The values of HKEY_CLASSES_ROOT, one a line after its key, without the
# installer's own bookkeeping (an empty key holds nothing to leave behind); a
# folder written with or without its last backslash is the same folder.
export_classes() {  # name
  wine_run 120 "$work/$1.log" reg export HKCR "$(wine_path "$work/$1.reg")" /y || return 1
  iconv -f UTF-16LE -t UTF-8 "$work/$1.reg" | tr -d '\r' | sed 's/\\\\"$/"/' | awk '/^\[/ { key = $0
    skip = index(key, "[HKEY_CLASSES_ROOT\\Installer") == 1; next } !skip && NF { print key " " $0 }' >"$work/$1.txt"
}
same() { diff "$work/$1.txt" "$work/$2.txt"; }
msi() {  # /i|/x arch
  wine_run 300 "$work/msiexec.log" msiexec "$1" "$(wine_path "$dist/corvane-$version-$2.msi")" /qn
}

export_classes before || give_up "reg export" "$work/before.log"

# The x64 MSI writes what regsvr32 writes for the same file.
folder="$WINEPREFIX/drive_c/Program Files/Corvane"
mkdir -p "$folder" && cp "$zip/x64/corvane.ocx" "$folder/"
wine_run 60 "$work/regsvr32.log" regsvr32 /s 'C:\Program Files\Corvane\corvane.ocx' || give_up "regsvr32" "$work/regsvr32.log"
export_classes regsvr32
wine_run 60 "$work/regsvr32.log" regsvr32 /u /s 'C:\Program Files\Corvane\corvane.ocx'
rm -rf "$folder"
check "msiexec /i installs the x64 MSI" msi /i x64
export_classes x64-installed
check "the x64 MSI registers what regsvr32 registers" same regsvr32 x64-installed
wine_checks installed-x64 60 "$work/server_check.exe" --served 'C:\Program Files\Corvane\corvane.ocx'
check "installed: a script creates prjCorvane.Corvane by its ProgID" script "Timeout 10" "$host" "$work/probe.vbs"
check "msiexec /x removes the x64 MSI" msi /x x64
export_classes x64-removed
check "after msiexec /x no key and no file is left" eval "same before x64-removed && [[ ! -e '$folder' ]]"

# The x86 MSI goes into the 32-bit view and folder, installed by the 64-bit msiexec.
folder="$WINEPREFIX/drive_c/Program Files (x86)/Corvane"
check "msiexec /i installs the x86 MSI" msi /i x86
export_classes x86-installed
check "the x86 MSI registers the control in the 32-bit view, in Program Files (x86)" grep -qixF \
  '[HKEY_CLASSES_ROOT\Wow6432Node\CLSID\{3EFF7BB8-0BE5-471B-BE57-8EC89AAF511E}\InprocServer32] @="C:\\Program Files (x86)\\Corvane\\corvane.ocx"' \
  "$work/x86-installed.txt"
wine_use_build win32
if wine_runs_build; then
  wine_compile_server_check "$work/server_check32.exe" || give_up "server_check.cpp compiles" "$work/server_check32.exe.log"
  wine_checks installed-x86 120 "$work/server_check32.exe" --served 'C:\Program Files (x86)\Corvane\corvane.ocx'
else
  echo "# NOT TESTED: win32: the installed x86 control creating ($wine_problem)"
fi
wine_use_build win64
check "msiexec /x removes the x86 MSI" msi /x x86
export_classes x86-removed
check "after msiexec /x of the x86 MSI no key and no file is left" eval "same before x86-removed && [[ ! -e '$folder' ]]"
