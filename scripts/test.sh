#!/usr/bin/env bash
# Runs every test: the core natively (plain, and under
# AddressSanitizer and UndefinedBehaviorSanitizer; the native tests start Dovecot
# and Postfix for themselves), the fuzz targets briefly, the installed package,
# both Windows builds, the OCX under Wine, and the mutation guard.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The mutation guard rebuilds a copy of the tree after each planted fault; a
# compiler cache lets it reuse what the builds below compiled.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$PWD

for preset in native native-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset"
done

# Each libFuzzer target of the core for a short while, under the sanitizers.
bash scripts/fuzz.sh 20

# The native library installed as a package, used by a project outside the tree.
bash scripts/consumer-test.sh

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
done

# Every Wine suite (scripts/wine-*test.sh) in one
# Wine prefix, for the 64-bit build and the 32-bit one. A kernel without 32-bit
# support cannot run the latter at all: then the run says so in one line
# ("# NOT TESTED: win32: ...") and goes on with the 64-bit build.
CORVANE_WIN32_OPTIONAL=1 bash scripts/wine-suites.sh

# On such a kernel the product still runs in one suite, under qemu-i386 (slow:
# each program takes a minute or more to start): the protocol cases and their
# faults, a flood ending in ErrCode 7 among them, through build/win32's OCX.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  CORVANE_WIN32_EMULATE=1 CORVANE_WINE_BUILD=win32 bash scripts/wine-cases-test.sh
fi

# Every planted fault of tests/mutants.txt must be caught by the suite it names
# or a cheaper one, and a fixed sample of generated ones is reported. The suites
# have just passed on this tree, so they are not run again unmutated; the faults
# that only a Wine suite catches are checked to apply (their suites take minutes
# a fault: `bash scripts/mutants.sh` runs them too).
CORVANE_MUTANTS_SOUND=1 bash scripts/mutants.sh --no-wine --generated 12
