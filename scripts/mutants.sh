#!/usr/bin/env bash
# The mutation guard: plants the faults of tests/mutants.txt one at a time in a
# copy of the tree (build/mutants; the work tree is never touched) and runs the
# suites from the cheapest up to the one each fault names, until one fails. A
# fault that no suite notices survives. Prints one line per fault with the suite
# that caught it, then "caught N/M"; fails if a fault survives or no longer
# applies.
#   scripts/mutants.sh [NAME...]          only the faults named
#   scripts/mutants.sh --matrix [NAME...] every fault against every suite up to
#                                         its own (which tests catch it alone)
#   scripts/mutants.sh --generated N      also N faults made from the core's
#                                         comparisons and ±1s (fixed seed),
#                                         reported, not failed: some change nothing
#   scripts/mutants.sh --no-wine          faults whose suite runs under Wine are
#                                         only checked to apply (a Wine suite per
#                                         fault takes minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

matrix='' generated=0 only=() wine=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --matrix) matrix=1 ;;
    --generated) generated=$2; shift ;;
    --no-wine) wine= ;;
    *) only+=("$1") ;;
  esac
  shift
done

ladder=(unit native)
work=${CORVANE_MUTANTS_DIR:-$root/build/mutants}  # another folder lets two runs go at once
tree=$work/tree
rm -rf "$tree"
mkdir -p "$tree"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -xf - -C "$tree"
if command -v ccache >/dev/null; then  # shares objects with the tree's own builds
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$root
fi

# Builds what a suite needs in the copy; quiet unless it fails.
build() {  # suite
  local preset=native targets=(corvane_unit_tests corvane_cpp_tests)
  case $1 in
    unit) ;;
    native | mail | docs) targets=(all) ;;
    wine-*) return 0 ;;  # each Wine suite builds what it runs
  esac
  [[ -f $tree/build/$preset/build.ninja ]] ||
    (cd "$tree" && cmake --preset "$preset" -DCORVANE_WERROR=OFF) >"$work/configure.log" 2>&1
  cmake --build "$tree/build/$preset" -j2 --target "${targets[@]}" >"$work/build.log" 2>&1
}

# Runs a suite in the copy: 0 when it passes.
run() {  # suite
  local b=$tree/build/native
  case $1 in
    unit) timeout 60 "$b/tests/corvane_unit_tests" --gtest_brief=1 && timeout 60 "$b/tests/corvane_cpp_tests" --gtest_brief=1 ;;
    native) (cd "$b" && timeout 900 ctest -L contract --timeout 120) ;;
    mail) (cd "$b" && timeout 900 ctest -L mail) ;;
    docs) (cd "$b" && timeout 300 ctest -R docs_) ;;
    wine-server) share_wine && timeout 1800 bash "$tree/scripts/wine-test.sh" </dev/null ;;  # registration, MIME
    wine-*) share_wine && timeout 1800 bash "$tree/scripts/wine-${1#wine-}-test.sh" </dev/null ;;
  esac >"$work/run.log" 2>&1
}

# One Wine prefix, booted once, and one set of loopback servers for every Wine
# suite of the run.
share_wine() {
  [[ -n ${CORVANE_WINE_SHARED:-} ]] && return 0
  rm -rf "$work/wine" && mkdir -p "$work/wine"
  (source "$tree/scripts/lib/wine.sh" && wine_state=$work/wine && export WINEPREFIX=$wine_state/prefix && wine_boot) ||
    { echo "a Wine prefix does not boot"; return 1; }
  export CORVANE_WINE_SHARED=$work/wine
}
end_wine() {
  [[ -n ${CORVANE_WINE_SHARED:-} ]] || return 0
  [[ -s $work/wine/servers.pid ]] && kill "$(cat "$work/wine/servers.pid")" 2>/dev/null
  WINEPREFIX=$work/wine/prefix timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null
  return 0
}
trap end_wine EXIT

# Passes unmutated once before the first fault is tried on it.
declare -A sound=()
ready() {  # suite
  [[ -n ${sound[$1]:-} ]] && return 0
  build "$1" || { echo "$1 does not build without any fault:"; tail -n 30 "$work/build.log"; exit 1; }
  # scripts/test.sh has just run every suite on this tree: CORVANE_MUTANTS_SOUND=1 skips the reruns.
  [[ -n ${CORVANE_MUTANTS_SOUND:-} ]] || run "$1" || { echo "$1 fails without any fault:"; tail -n 30 "$work/run.log"; exit 1; }
  sound[$1]=1
}

# The suites a fault in `file` meets, cheapest first, up to `own`: the native
# ones, then its own. The Windows shell compiles only into the OCX.
suites_for() {  # file own
  local s
  if [[ $1 == src/windows/* ]]; then echo "$2"; return; fi
  for s in "${ladder[@]}"; do
    echo "$s"
    [[ $s == "$2" ]] && return
  done
  echo "$2"
}

plant() {  # file text replacement: exactly one occurrence
  python3 - "$tree/$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace('¶', '\n'), sys.argv[3].replace('¶', '\n')
text = open(path, encoding='utf-8').read()
if text.count(old) != 1:
    sys.exit(1)
open(path, 'w', encoding='utf-8').write(text.replace(old, new))
PY
}

# Tries one fault; prints its line; returns 1 when it survives, 2 when it no
# longer applies, 3 when only its applying was checked.
try() {  # name own file text replacement
  local name=$1 own=$2 file=$3 suite caughtBy=() verdict suites=()
  [[ -z $wine && $own == wine-* ]] || mapfile -t suites < <(suites_for "$file" "$own")
  for suite in "${suites[@]}"; do ready "$suite"; done
  cp "$tree/$file" "$work/original"
  plant "$file" "$4" "$5" || { cp "$work/original" "$tree/$file"; echo "$name: does not apply to $file"; return 2; }
  if [[ ${#suites[@]} -eq 0 ]]; then
    cp "$work/original" "$tree/$file"
    printf '%-36s %-44s %s\n' "$name" "$file" "applies ($own not run)"
    return 3
  fi
  for suite in "${suites[@]}"; do
    if ! build "$suite"; then
      caughtBy+=("$suite(build)")
    elif ! run "$suite"; then
      caughtBy+=("$suite")
    else
      continue
    fi
    [[ -n $matrix ]] || break
  done
  cp "$work/original" "$tree/$file"
  touch "$tree/$file"
  if [[ ${#caughtBy[@]} -eq 0 ]]; then verdict=SURVIVED; else verdict="caught by ${caughtBy[*]}"; fi
  printf '%-36s %-44s %s\n' "$name" "$file" "$verdict"
  [[ ${#caughtBy[@]} -gt 0 ]]
}

# The list comes through its own descriptor: a suite that reads standard input
# must not eat the faults still to come.
caught=0 total=0 not_run=0 survivors=() stale=()
while IFS= read -r entry <&3; do
  [[ -z $entry || $entry == \#* ]] && continue
  IFS=$'\x1f' read -r name own file text replacement <<<"${entry// @@ /$'\x1f'}"
  if [[ ${#only[@]} -gt 0 && " ${only[*]} " != *" $name "* ]]; then continue; fi
  total=$((total + 1))
  status=0
  try "$name" "$own" "$file" "$text" "$replacement" || status=$?
  case $status in
    0) caught=$((caught + 1)) ;;
    1) survivors+=("$name") ;;
    2) stale+=("$name") ;;
    3) total=$((total - 1)) not_run=$((not_run + 1)) ;;
  esac
done 3<"$tree/tests/mutants.txt" </dev/null
listed=$(grep -cv '^#\|^$' "$tree/tests/mutants.txt")
if [[ ${#only[@]} -eq 0 && $((total + not_run)) -ne $listed ]]; then
  echo "tried $((total + not_run)) of the $listed faults listed"
  exit 1
fi
if [[ -n $wine ]]; then echo "caught $caught/$total"; else echo "caught $caught/$total; $not_run more apply, their Wine suites not run"; fi

if [[ $generated -gt 0 ]]; then
  made=0 killed=0 lived=()
  while IFS=$'\x1f' read -r name file text replacement <&3; do
    made=$((made + 1))
    if try "$name" unit "$file" "$text" "$replacement"; then killed=$((killed + 1)); else lived+=("$name"); fi
  done 3< <(python3 - "$generated" <<'PY'
import random, re, subprocess, sys
files = subprocess.run(['git', 'ls-files', 'src/text', 'src/mime', 'src/pop3', 'src/smtp', 'src/transport',
                        'src/control', 'src/pages'], capture_output=True, text=True).stdout.split()
swaps = [(' <= ', ' < '), (' < ', ' <= '), (' >= ', ' > '), (' > ', ' >= '), (' == ', ' != '),
         (' != ', ' == '), (' + 1', ' + 2'), (' - 1', ' - 2'), (' && ', ' || '), (' || ', ' && ')]
candidates = []
for path in sorted(f for f in files if f.endswith('.cpp')):
    text = open(path, encoding='utf-8').read()
    for number, line in enumerate(text.splitlines(), 1):
        code = line.split('//')[0]
        if code.lstrip().startswith(('#', 'template')) or text.count(line) != 1:
            continue
        for old, new in swaps:
            if old in code and '<<' not in code and '>>' not in code:
                candidates.append((f'{path.split("/")[-1]}:{number}:{old.strip()}', path, line, line.replace(old, new, 1)))
                break
random.seed(7)
for c in random.sample(candidates, min(int(sys.argv[1]), len(candidates))):
    print('\x1f'.join(c))
PY
) </dev/null
  echo "generated: caught $killed/$made"
  [[ ${#lived[@]} -eq 0 ]] || echo "generated survivors (read each: a change that alters nothing is not a gap): ${lived[*]}"
fi

[[ ${#stale[@]} -eq 0 ]] || { echo "no longer apply: ${stale[*]}"; exit 1; }
[[ ${#survivors[@]} -eq 0 ]] || { echo "survived: ${survivors[*]}"; exit 1; }
