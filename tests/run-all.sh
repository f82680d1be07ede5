#!/usr/bin/env bash
# Runs every built test tree through its CMake test preset (native, again under ASan+UBSan,
# the fuzz targets for a bounded number of runs, the Windows programs under Wine, the x86
# build's checks), prints one summary counted from ctest's JUnit result files, fails on any
# failure.
#   tests/run-all.sh [preset ...]   (default: all five)
set -uo pipefail
cd "$(dirname "$0")/.."
status=0 summary=() passed=0 failed=0
# Number of <testcase> elements in $2 whose status is $1 (run, fail, notrun, disabled).
count() { grep -o "<testcase [^>]* status=\"$1\"" "$2" | wc -l; }
run_tree() {  # preset, parallel jobs (empty: the preset's)
  local dir=build/$1 junit=$PWD/build/$1/ctest-junit.xml cases=0 casefail=0 f head ok bad
  if [[ ! -f $dir/CTestTestfile.cmake ]]; then summary+=("$1: not built"); status=1; failed=$((failed + 1)); return; fi
  rm -f "$dir"/test-results/*.xml "$junit"
  echo "=== $1 ($dir)"
  ctest --preset "$1" ${2:+-j "$2"} --output-junit "$junit" || status=1
  if [[ ! -f $junit ]]; then summary+=("$1: ctest wrote no result file"); status=1; failed=$((failed + 1)); return; fi
  # A test that did not run (missing program, failed fixture) counts as failed, as in ctest.
  ok=$(count run "$junit") bad=$(($(count fail "$junit") + $(count notrun "$junit")))
  for f in "$dir"/test-results/*.xml; do  # the GoogleTest programs' own case counts
    [[ -f $f ]] || continue
    head=$(grep -m1 -o '<testsuites [^>]*' "$f")
    cases=$((cases + $(sed -nE 's/.* tests="([0-9]+)".*/\1/p' <<<"$head")))
    casefail=$((casefail + $(sed -nE 's/.* failures="([0-9]+)".*/\1/p' <<<"$head")))
  done
  summary+=("$1: $ok passed, $bad failed ($cases test cases, $casefail failed)")
  passed=$((passed + ok)) failed=$((failed + bad))
  ((bad == 0)) || status=1
}
trees=("$@")
((${#trees[@]})) || trees=(native native-asan fuzz windows windows-x86)
for t in "${trees[@]}"; do
  case $t in
    native | native-asan) run_tree "$t" "${JOBS:-$(nproc)}" ;;
    *) run_tree "$t" "" ;;  # fuzz, windows and windows-x86: as their presets say
  esac
done
printf '\n=== summary\n'
printf '%s\n' "${summary[@]}"
echo "${passed} passed, ${failed} failed"
exit $status
