#!/usr/bin/env bash
# Runs every test tree: the portable parts natively, again under ASan+UBSan, the fuzz
# targets for a bounded number of runs, and the Windows programs under Wine. Prints one
# summary and fails when anything failed. Trees must have been built (make build).
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
status=0 total_pass=0 total_fail=0
summary=()

run_tree() {
  local name=$1 dir=$2 parallel=$3 log=$2/ctest.log
  if [[ ! -f $dir/CTestTestfile.cmake ]]; then
    summary+=("$name: not built")
    status=1
    return
  fi
  rm -f "$dir"/test-results/*.xml
  echo "=== $name ($dir)"
  (cd "$dir" && ctest --output-on-failure -j "$parallel") 2>&1 | tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  # "N% tests passed, F tests failed out of A"; no such line counts as one failure.
  local fail=1 all=1 cases=0 case_fail=0 f head line
  if line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1); then
    read -r fail all < <(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' <<<"$line")
  elif grep -q 'No tests were found' "$log"; then
    fail=0 all=0
  else
    status=1
  fi
  # GoogleTest programs report their own cases; count those where they wrote results.
  for f in "$dir"/test-results/*.xml; do
    [[ -f $f ]] || continue
    head=$(grep -m1 -o '<testsuites [^>]*' "$f")
    cases=$((cases + $(sed -nE 's/.* tests="([0-9]+)".*/\1/p' <<<"$head")))
    case_fail=$((case_fail + $(sed -nE 's/.* failures="([0-9]+)".*/\1/p' <<<"$head")))
  done
  summary+=("$name: $((all - fail)) of $all programs passed ($cases test cases, $case_fail failed)")
  total_pass=$((total_pass + all - fail))
  total_fail=$((total_fail + fail))
}

run_tree native build/native "$jobs"
run_tree native-asan build/native-asan "$jobs"
run_tree fuzz build/fuzz 1
run_tree windows build/windows 1  # one shared Wine prefix and its named kernel objects
printf '\n=== summary\n'
printf '%s\n' "${summary[@]}"
echo "${total_pass} passed, ${total_fail} failed"
exit $status
