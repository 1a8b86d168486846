# shellcheck shell=bash
# The harness of the Wine test suites, sourced by each of them: a Wine prefix with
# its wineserver, the build of the programs a suite needs, checks counted into
# "N passed, M failed", a test certificate authority trusted inside the prefix,
# the loopback servers, and the clean-up.
#
# CORVANE_WINE_BUILD names the build under test: win64 (the default) or win32, the
# product. Its programs run under Wine's loader of that width, in the same win64
# prefix: the 32-bit ones see syswow64 and the registry's 32-bit view, so a
# regsvr32 or cscript started here is the one of that width too. Every result
# line names the build. CORVANE_WIN32_EMULATE=1 runs the 32-bit programs under
# qemu-i386 (scripts/lib/wine32-emulated.sh), for a kernel that does not run
# them: each takes a minute or two more to start, which every time limit allows.
#
# A suite run on its own makes a fresh, throw-away prefix. Under
# scripts/wine-suites.sh every suite works in the one prefix that the runner made
# (CORVANE_WINE_SHARED names its folder), and the runner cleans up.
#
# Every Wine program runs with a time limit and its output in a file, never in a
# pipe: Wine's background processes inherit the output and could hold a pipe open
# for ever. KEEP=1 keeps the folder (prefix, certificates, logs) for a look
# afterwards. CORVANE_WINE_BUILD_DIR names another build folder of that width.

wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine64=/usr/lib/wine/wine64  # boots the prefix, whichever build is under test
wineserver=/usr/lib/wine/wineserver

# Points the harness at a build: its folder, its helper programs, the loader and
# the compiler of its width.
wine_use_build() {  # win32|win64 [folder]
  wine_arch=$1
  case $wine_arch in
    win64) wine=$wine64 wine_compiler=x86_64-w64-mingw32-g++-posix ;;
    win32) wine=/usr/lib/wine/wine wine_compiler=i686-w64-mingw32-g++-posix ;;
    *) echo "CORVANE_WINE_BUILD is win32 or win64, not '$wine_arch'" >&2; exit 2 ;;
  esac
  wine_allowance=0  # seconds more for a program to start
  if [[ $wine_arch == win32 && -n ${CORVANE_WIN32_EMULATE:-} ]]; then
    wine=$wine_root/scripts/lib/wine32-emulated.sh wine_allowance=300
  fi
  wine_build=${2:-$wine_root/build/$wine_arch}
  wine_bin=$wine_build/tests/wine  # the helper programs of the build
}
wine_use_build "${CORVANE_WINE_BUILD:-win64}" "${CORVANE_WINE_BUILD_DIR:-}"
source "$wine_root/scripts/lib/loopback.sh"

export WINEDEBUG=-all LC_ALL=C WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # nothing may open a window, except through wine_with_display

passed=0
failed=0

pass() {  # what
  passed=$((passed + 1))
  echo "ok - $wine_arch: $1"
}

fail() {  # what [log to show]
  failed=$((failed + 1))
  echo "not ok - $wine_arch: $1"
  if [[ -n ${2:-} && -s $2 ]]; then tail -n 30 "$2" | sed 's/^/    /'; fi
  return 0
}

check() {  # what command...: passes when the command succeeds; its output goes to a log
  local what=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then pass "$what"; else fail "$what" "$work/check.log"; fi
}

# Ends the suite at once after a failed step that later checks depend on.
give_up() {  # what [log to show]
  fail "$@"
  exit 1
}

wine_path() {  # unix path -> the same file as Wine's programs see it
  local path=$1
  echo "Z:${path//\//\\}"
}

wine_run() {  # seconds log program arguments...
  local seconds=$1 log=$2
  shift 2
  timeout $((seconds + wine_allowance)) "$wine" "$@" >"$log" 2>&1 </dev/null
}

wine_start_server() {
  "$wineserver" -p >/dev/null 2>&1 </dev/null
}

wine_stop_server() {
  timeout 30 "$wineserver" -k >/dev/null 2>&1
  timeout 30 "$wineserver" -w >/dev/null 2>&1
  return 0
}

# Sets up the suite `name`: its folder $work for logs, and the prefix, a fresh
# one or the shared one. Prints the summary and sets the exit status at the end.
wine_begin() {  # name
  local name=$1
  for program in "$wine64" "$wineserver"; do
    [[ -x $program ]] || { echo "$name: $program not found (install wine64)" >&2; exit 2; }
  done
  wine_runs_build || { echo "$name: $wine_problem" >&2; exit 2; }
  if [[ -n ${CORVANE_WINE_SHARED:-} ]]; then
    wine_state=$CORVANE_WINE_SHARED
    wine_owner=
  else
    wine_state=$(mktemp -d "/tmp/corvane-wine-$name.XXXXXX") || exit 2
    wine_owner=1
  fi
  work=$wine_state/$name-$wine_arch
  mkdir -p "$work"
  export WINEPREFIX=$wine_state/prefix
  trap wine_end EXIT
  trap 'exit 130' INT TERM
  if [[ -n $wine_owner ]]; then
    wine_boot || give_up "a fresh Wine prefix" "$wine_state/wineboot.log"
  fi
}

# Whether this machine runs the build's programs; says why not in wine_problem.
# The 32-bit ones need wine32 (scripts/install-deps.sh) and a kernel that runs
# 32-bit x86 programs: a kernel without IA-32 emulation refuses Wine's 32-bit
# loader ("Exec format error").
wine_runs_build() {
  [[ $wine_arch == win32 ]] || return 0
  wine_problem="the 32-bit build cannot run here:"
  if [[ ! -e $wine ]]; then
    wine_problem+=" $wine is missing (wine32:i386 is not installed; see scripts/install-deps.sh)"
    return 1
  fi
  local answer
  # Not through timeout, which hands a file the kernel refuses to sh: --version
  # neither waits nor starts a wineserver.
  answer=$("$wine" --version 2>&1 </dev/null) && return 0
  if [[ -n ${CORVANE_WIN32_EMULATE:-} ]]; then
    wine_problem+=" emulation does not start ($wine --version: ${answer##*: })"
  else
    wine_problem+=" this kernel does not run 32-bit x86 programs ($wine --version: ${answer##*: };"
    wine_problem+=" CORVANE_WIN32_EMULATE=1 runs them, slowly, under qemu-i386)"
  fi
  return 1
}

wine_boot() {
  mkdir -p "$WINEPREFIX"
  wine_start_server
  if [[ -n ${CORVANE_WIN32_EMULATE:-} ]]; then  # its 32-bit half fills syswow64
    CORVANE_EMULATED_LOADER=$wine64 timeout 1200 "$wine_root/scripts/lib/wine32-emulated.sh" wineboot -i \
      >"$wine_state/wineboot.log" 2>&1 </dev/null
  else
    timeout 300 "$wine64" wineboot -i >"$wine_state/wineboot.log" 2>&1 </dev/null
  fi
}

# Stops everything the prefix's owner started and removes its folder.
wine_teardown() {
  if [[ -s $wine_state/servers.pid ]]; then kill "$(cat "$wine_state/servers.pid")" 2>/dev/null; fi
  wine_stop_server
  if [[ -n ${KEEP:-} ]]; then echo "kept $wine_state"; else rm -rf "$wine_state"; fi
}

# Functions run when the suite ends, however it ends, before the clean-up: a suite
# that registers a server unregisters it in one.
wine_end_steps=()
wine_at_end() {  # function
  wine_end_steps+=("$1")
}

wine_end() {
  local step
  for step in "${wine_end_steps[@]}"; do "$step"; done
  [[ -n ${wine_owner:-} ]] && wine_teardown
  echo "$passed passed, $failed failed"
  [[ $passed -gt 0 && $failed -eq 0 ]] && exit 0
  exit 1
}

# Builds targets of the build under test, configuring its default folder first
# when it has never been configured.
wine_build() {  # targets...
  local log=$work/build.log
  if [[ ! -f $wine_build/build.ninja ]]; then
    [[ $wine_build == "$wine_root/build/$wine_arch" ]] || give_up "a configured build in $wine_build"
    (cd "$wine_root" && timeout 600 cmake --preset "$wine_arch") >"$log" 2>&1 ||
      give_up "cmake --preset $wine_arch" "$log"
  fi
  timeout 1800 cmake --build "$wine_build" -j2 --target "$@" >"$log" 2>&1 || give_up "building $*" "$log"
}

# Compiles tests/wine/server/server_check.cpp, a client of the build's width, to
# `exe`; the compiler's output goes to exe.log.
wine_compile_server_check() {  # exe
  timeout 300 "$wine_compiler" -std=c++20 -Wall -Wextra -Werror -I "$wine_build/src/windows" -I "$wine_root/tests/wine" \
    "$wine_root/tests/wine/server/server_check.cpp" -o "$1" -static -lole32 -loleaut32 -luuid >"$1.log" 2>&1
}

# Runs a test program that prints "ok - ..." and "not ok - ..." per check and ends
# with "RESULT PASS" or "RESULT FAIL"; counts its checks. Its exit status must
# agree: 0 when all passed, 1 when some failed.
wine_checks() {  # name seconds program arguments...
  wine_count_checks wine_run "$@"
}

# The same on an X display of its own (wine_with_display).
wine_display_checks() {  # name seconds program arguments...
  wine_count_checks wine_with_display "$@"
}

wine_count_checks() {  # runner name seconds program arguments...
  local runner=$1 name=$2 seconds=$3 log=$work/$2.log status line ended='' before=$failed want=0
  shift 3
  "$runner" "$seconds" "$log.raw" "$@"
  status=$?
  tr -d '\r' <"$log.raw" >"$log"
  while IFS= read -r line; do
    case $line in
      "ok - "*) pass "$name: ${line#ok - }" ;;
      "not ok - "*) fail "$name: ${line#not ok - }" ;;
      "RESULT PASS" | "RESULT FAIL") ended=1 ;;
    esac
  done <"$log"
  [[ $failed -gt $before ]] && want=1
  if [[ -z $ended || $status -ne $want ]]; then fail "$name ran to its end (exit status $status)" "$log"; fi
}

# A test script (.vbs or .js) ready to run: a copy in $work with the helpers the
# scripts share, tests/wine/lib/checks.vbs or checks.js, appended, since neither
# language has an include. Appended, not prepended: the test's lines keep their
# numbers in error reports. Prints the copy's path.
wine_script() {  # script
  local script=$1 copy=$work/${1##*/}
  { cat "$script" && echo && cat "$wine_root/tests/wine/lib/checks.${script##*.}"; } >"$copy" || return 1
  echo "$copy"
}

# The test authority trusted inside the prefix, and the loopback servers
# (corvane_loopback of tests/servers, built natively), started once per prefix.
# Sets port_plain, port_tls (trusted, for localhost), port_untrusted,
# port_wrongname, port_tls11 (trusted, TLS 1.0 only), port_starttls and
# port_starttlswrong (upgraded in place), port_sink, port_refused,
# port_transcript and port_select (the protocol cases' server: see loopback_main.cpp),
# and wine_servers_log, where the sink server reports what it got.
# Schannel under Wine cannot match IP entries of a certificate: TLS clients
# connect to "localhost".
wine_servers() {
  local pki=$wine_state/pki
  if [[ ! -s $pki/ports ]]; then
    (cd "$wine_root" && cmake --preset native && cmake --build --preset native -j2 --target corvane_loopback) \
      >"$wine_state/loopback-build.log" 2>&1 || give_up "building corvane_loopback" "$wine_state/loopback-build.log"
    loopback_start "$pki" "$wine_root/build/native/tests/servers/corvane_loopback" "$wine_state/servers.pid" ||
      give_up "the loopback servers start" "$pki/servers.log"
  fi
  # Once per width: a 32-bit program may read the registry's other view.
  if [[ ! -e $pki/trusted-$wine_arch ]]; then
    wine_trust_ca "$pki/ca.pem"
    : >"$pki/trusted-$wine_arch"
  fi
  wine_servers_log=$pki/servers.log
  loopback_ports "$pki"
}

# Adds a certificate authority (PEM) to the prefix's trusted roots.
wine_trust_ca() {  # pem
  local der=$work/trusted-${RANDOM}.der
  wine_build corvane_trust_ca
  openssl x509 -in "$1" -outform DER -out "$der" 2>"$work/trust.log" &&
    wine_run 60 "$work/trust.log" "$wine_bin/corvane_trust_ca.exe" "$(wine_path "$der")" ||
    give_up "trusting $1 in the prefix" "$work/trust.log"
}

# Registers the build's corvane.ocx (a copy in $work) for the rest of the suite,
# and unregisters it at the end.
wine_registered=()  # "width work" of each registration, for the end
wine_register_ocx() {
  cp "$wine_build/corvane.ocx" "$work/corvane.ocx"
  wine_run 60 "$work/register.log" regsvr32 /s "$(wine_path "$work/corvane.ocx")" ||
    give_up "regsvr32 registers corvane.ocx" "$work/register.log"
  [[ ${#wine_registered[@]} -gt 0 ]] || wine_at_end wine_unregister_ocx
  wine_registered+=("$wine_arch $work")
}

wine_unregister_ocx() {
  local entry
  for entry in "${wine_registered[@]}"; do
    wine_use_build "${entry%% *}"
    work=${entry#* }
    wine_run 60 "$work/unregister.log" regsvr32 /u /s "$(wine_path "$work/corvane.ocx")" ||
      fail "regsvr32 /u unregisters corvane.ocx" "$work/unregister.log"
  done
}

# Runs a Wine program on an X display of its own (Xvfb), for checks of what must
# show a window. The wineserver is restarted before, so that the program's desktop
# gets the display, and after, so that later programs run without one again.
wine_with_display() {  # seconds log program arguments...
  local seconds=$1 log=$2 status
  shift 2
  command -v xvfb-run >/dev/null || { echo "xvfb-run not found (install xvfb xauth)" >"$log"; return 2; }
  wine_stop_server
  wine_start_server
  # The time limit is inside, so xvfb-run always ends its X server itself.
  seconds=$((seconds + wine_allowance))
  timeout $((seconds + 60)) xvfb-run -a -s "-screen 0 800x600x24" timeout "$seconds" "$wine" "$@" \
    >"$log" 2>&1 </dev/null
  status=$?
  wine_stop_server
  wine_start_server
  return $status
}
