#!/usr/bin/env bash
# Runs every built test tree (native, again under ASan+UBSan, the fuzz targets for a bounded
# number of runs, the Windows programs under Wine), prints one summary, fails on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0 summary=() passed=0 failed_programs=0
run_tree() {  # name, build directory, parallel jobs
  local log=$2/ctest.log cases=0 failed=0 f head line
  if [[ ! -f $2/CTestTestfile.cmake ]]; then summary+=("$1: not built"); status=1; failed_programs=$((failed_programs + 1)); return; fi
  rm -f "$2"/test-results/*.xml
  echo "=== $1 ($2)"
  (cd "$2" && ctest --output-on-failure -j "$3") 2>&1 | tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  for f in "$2"/test-results/*.xml; do  # the GoogleTest programs' own case counts
    [[ -f $f ]] || continue
    head=$(grep -m1 -o '<testsuites [^>]*' "$f")
    cases=$((cases + $(sed -nE 's/.* tests="([0-9]+)".*/\1/p' <<<"$head")))
    failed=$((failed + $(sed -nE 's/.* failures="([0-9]+)".*/\1/p' <<<"$head")))
  done
  line=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1)
  summary+=("$1: ${line:-no ctest result} ($cases test cases, $failed failed)")
  local all bad
  all=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line") bad=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$line")
  [[ -n $all ]] || { all=1 bad=1; [[ $line == *'No tests were found'* ]] && all=0 bad=0; }
  passed=$((passed + all - bad)) failed_programs=$((failed_programs + bad))
}
run_tree native build/native "${JOBS:-$(nproc)}"
run_tree native-asan build/native-asan "${JOBS:-$(nproc)}"
run_tree fuzz build/fuzz 1
run_tree windows build/windows 1  # one shared Wine prefix and its named kernel objects
printf '\n=== summary\n'
printf '%s\n' "${summary[@]}"
echo "${passed} passed, ${failed_programs} failed"
exit $status
