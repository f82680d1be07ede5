#!/usr/bin/env bash
# Runs every test tree: the portable parts natively, again under ASan+UBSan, the fuzz
# targets for a bounded number of runs, and the Windows programs under Wine. Prints one
# summary and fails when anything failed. Trees must have been built (make build).
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

total_pass=0 total_fail=0 status=0
summary=()

run_tree() {
  local name=$1 dir=$2 parallel=$3
  if [[ ! -f $dir/CTestTestfile.cmake ]]; then
    echo "run-all: $dir is not built" >&2
    summary+=("$name: not built")
    status=1
    return
  fi
  rm -f "$dir"/test-results/*.xml
  local log=$dir/ctest.log
  echo "=== $name ($dir)"
  (cd "$dir" && ctest --output-on-failure -j "$parallel") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line pass fail
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)
  fail=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/p' <<<"$line")
  local all
  all=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/p' <<<"$line")
  if [[ -z $line ]]; then
    if grep -q 'No tests were found' "$log"; then
      fail=0 all=0
    else
      fail=1 all=1
      status=1
    fi
  fi
  pass=$((all - fail))
  # GoogleTest programs report their own cases; count those where they wrote results.
  local cases=0 case_fail=0 f
  for f in "$dir"/test-results/*.xml; do
    [[ -f $f ]] || continue
    local head
    head=$(grep -m1 -o '<testsuites [^>]*' "$f")
    cases=$((cases + $(sed -nE 's/.* tests="([0-9]+)".*/\1/p' <<<"$head")))
    case_fail=$((case_fail + $(sed -nE 's/.* failures="([0-9]+)".*/\1/p' <<<"$head")))
  done
  summary+=("$name: $pass of $all programs passed ($cases test cases, $case_fail failed)")
  total_pass=$((total_pass + pass))
  total_fail=$((total_fail + fail))
  [[ $rc -eq 0 ]] || status=1
}

run_tree native build/native "$jobs"
run_tree native-asan build/native-asan "$jobs"
run_tree fuzz build/fuzz 1
# The Wine programs share one prefix and its named kernel objects: one at a time.
run_tree windows build/windows 1

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "${total_pass} passed, ${total_fail} failed"
exit $status
