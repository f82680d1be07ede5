#!/usr/bin/env bash
# Runs every built test tree (native, again under ASan+UBSan, the fuzz targets for a bounded
# number of runs, the Windows programs under Wine), prints one summary, fails on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0 summary=()
run_tree() {  # name, build directory, parallel jobs
  local log=$2/ctest.log cases=0 failed=0 f head
  if [[ ! -f $2/CTestTestfile.cmake ]]; then summary+=("$1: not built"); status=1; return; fi
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
  summary+=("$1: $(grep -E 'tests passed|No tests were found' "$log" | tail -n 1) ($cases test cases, $failed failed)")
}
run_tree native build/native "${JOBS:-$(nproc)}"
run_tree native-asan build/native-asan "${JOBS:-$(nproc)}"
run_tree fuzz build/fuzz 1
run_tree windows build/windows 1  # one shared Wine prefix and its named kernel objects
printf '\n=== summary\n'
printf '%s\n' "${summary[@]}"
exit $status
