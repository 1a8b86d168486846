#!/usr/bin/env bash
# The native package as a program outside the tree sees it: installs build/native
# into a temporary prefix and moves the prefix (nothing installed may know where it
# was put), compiles every installed header on its own, builds examples/ with
# find_package(Corvane) and the round trip through pkg-config, and runs both round
# trips against private Dovecot and Postfix, plain and over implicit TLS.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

passed=0 failed=0
check() {  # what command...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok - $what"
  else
    failed=$((failed + 1)); echo "not ok - $what"
  fi
}
quiet() {  # command...: shows its output only when it fails
  local out
  out=$("$@" 2>&1) || { sed 's/^/    /' <<<"$out"; return 1; }
}
shown() {  # command...: shows its output, indented
  local status
  "$@" 2>&1 | sed 's/^/    /'
  status=${PIPESTATUS[0]}
  return "$status"
}

work=$(mktemp -d /tmp/corvane-consumer.XXXXXX) || exit 2
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

echo "== building and installing build/native"
{ cmake --preset native >/dev/null && cmake --build --preset native -j2 >/dev/null; } || exit 2
check "cmake --install" quiet cmake --install build/native --prefix "$work/installed"
check "the installed tree moves" mv "$work/installed" "$prefix"
check "no installed file names the source tree or the folder it was installed to" \
  bash -c '! grep -rIl -e "$1" -e "$2" "$3"' _ "$root" "$work/installed" "$prefix"
(cd "$prefix" && find . -type f -printf '    %P\n' | sort)

compiles_alone() {  # header
  echo "#include \"$1\"" | c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include/corvane" -x c++ -
}
for header in $(cd "$prefix/include/corvane" && find . -type f -printf '%P\n' | sort); do
  check "$header compiles on its own" quiet compiles_alone "$header"
done

echo "== examples/ through find_package(Corvane)"
check "configure" quiet cmake -S examples -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
check "build" quiet cmake --build "$work/cmake"
echo "== examples/roundtrip.cpp through pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
version=$(sed -n 's/^project(corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
check "pkg-config --modversion corvane is $version" test "$(pkg-config --modversion corvane)" = "$version"
mkdir -p "$work/pkg-config"
# shellcheck disable=SC2046  # pkg-config's flags are words
check "build" quiet c++ -std=c++20 -Wall -Wextra -Werror $(pkg-config --cflags corvane) -o "$work/pkg-config/roundtrip" \
  examples/roundtrip.cpp $(pkg-config --libs corvane)
echo "== the round trip against Dovecot and Postfix"
source scripts/lib/mail_servers.sh
mail_servers_start >/dev/null || { echo "not ok - the mail servers start"; exit 1; }
for build in cmake pkg-config; do
  program=$work/$build/roundtrip
  [[ -x $program ]] || continue
  check "$build build, plain" shown bash tests/mail/roundtrip.sh "$program" plain
  check "$build build, implicit TLS" shown bash tests/mail/roundtrip.sh "$program" tls
done

echo "consumer: $passed passed, $failed failed"
((failed == 0 && passed > 0))
