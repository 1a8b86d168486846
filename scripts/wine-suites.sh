#!/usr/bin/env bash
# Runs every Wine suite in one Wine prefix, once for each build: each
# scripts/wine-*test.sh, for build/win64 and then for
# build/win32, the product (scripts/lib/wine.sh, CORVANE_WINE_BUILD). Booting the
# prefix and starting the loopback servers happen once; each suite still prints
# its own "N passed, M failed", and the total comes last. After the two passes
# both OCX builds are registered at once, and a client of each width must get
# the control of its own width.
#
# Usage: bash scripts/wine-suites.sh [win64|win32...]   (default: both; KEEP=1 keeps
#        the prefix and the logs)
# A machine that cannot run the 32-bit build (no wine32, or a kernel without
# 32-bit support) fails the win32 pass with the reason, unless
# CORVANE_WIN32_OPTIONAL=1, which turns that into a notice.
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"
cd "$wine_root" || exit 2

builds=("$@")
[[ ${#builds[@]} -gt 0 ]] || builds=(win64 win32)

wine_use_build win64  # the runner's own lines
wine_begin suites
export CORVANE_WINE_SHARED=$wine_state

# One suite of the current build; its counts join the total.
run_suite() {  # suite
  local suite=$1 log status summary
  log=$work/$(basename "$suite" .sh).log
  echo "== $wine_arch: $suite"
  CORVANE_WINE_BUILD=$wine_arch timeout 3600 bash "$wine_root/$suite" >"$log" 2>&1 </dev/null
  status=$?
  cat "$log"
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  fi
  if [[ $status -ne 0 && (-z $summary || ${BASH_REMATCH[2]} -eq 0) ]]; then
    fail "$suite ended with exit status $status"
  fi
}

side_by_side_use() {  # build: the harness and $work for that build's half
  wine_use_build "$1"
  work=$wine_state/side-by-side-$1
}

# Both widths' corvane.ocx registered side by side, each width's client served
# its own; both unregistered afterwards.
side_by_side() {
  local build registered=()
  for build in win64 win32; do
    side_by_side_use "$build"
    mkdir -p "$work"
    wine_build corvane_ocx
    cp "$wine_build/corvane.ocx" "$work/corvane.ocx"
    if wine_run 60 "$work/register.log" regsvr32 /s "$(wine_path "$work/corvane.ocx")"; then
      registered+=("$build")
    else
      fail "side by side: regsvr32 registers corvane.ocx" "$work/register.log"
    fi
  done
  for build in "${registered[@]}"; do
    side_by_side_use "$build"
    if wine_compile_server_check "$work/server_check.exe"; then
      wine_checks side-by-side 120 "$work/server_check.exe" --served "$(wine_path "$work/corvane.ocx")"
    else
      fail "side by side: server_check.cpp compiles" "$work/server_check.exe.log"
    fi
  done
  for build in "${registered[@]}"; do
    side_by_side_use "$build"
    wine_run 60 "$work/unregister.log" regsvr32 /u /s "$(wine_path "$work/corvane.ocx")" ||
      fail "side by side: regsvr32 /u unregisters corvane.ocx" "$work/unregister.log"
  done
}

runnable=()
for build in "${builds[@]}"; do
  wine_use_build "$build"
  if wine_runs_build; then
    runnable+=("$build")
  elif [[ -n ${CORVANE_WIN32_OPTIONAL:-} ]]; then
    echo "# NOT TESTED: $build: $wine_problem"
  else
    fail "$wine_problem"
  fi
done

for build in "${runnable[@]}"; do
  wine_use_build "$build"
  for suite in scripts/wine-*test.sh; do
    # The release suite covers both builds in a prefix of its own.
    [[ $build == win32 && $suite == scripts/wine-release-test.sh ]] && continue
    run_suite "$suite"
  done
done
if [[ ${#runnable[@]} -eq 2 ]]; then
  echo "== both builds registered side by side"
  side_by_side
fi
echo "== all suites"
