#!/usr/bin/env bash
# Fuzzes every reader of untrusted bytes, natively on Linux, with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer:
#
#   bash tools/fuzz.sh [SECONDS]   each target SECONDS (default 60) from its seed corpus
#   bash tools/fuzz.sh --seed      captures fresh replies from the local server and
#                                  minimises them with the corpus (-merge=1)
#
# First the window-free unit suites run under the same sanitizers. Then one
# line per target (runs, coverage, corpus), and last
# "fuzz: T targets, N runs, F findings". A finding (crash, sanitizer report,
# failed check, time-out, memory limit) names the file that holds its input;
# the exit code is then 1.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

targets=(parse history replies signin_input conversions inflate)
seconds=60
seed=0
case "${1:-}" in
  --seed) seed=1 ;;
  "") ;;
  *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS | --seed]" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac

bash tools/setup.sh clang libclang-rt-14-dev libfuzzer-14-dev zlib1g-dev >/dev/null || exit 1
out=build/fuzz
if [ ! -f $out/build.ninja ]; then
  CXX=clang++ cmake -S tests/fuzz -B $out -G Ninja >/dev/null || exit 1
fi
cmake --build $out -- -j"$(nproc)" >$out/build.log 2>&1 || { cat $out/build.log; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ $seed -eq 1 ]; then
  fresh=$(mktemp -d)
  python3 tests/fuzz/capture_corpus.py "$fresh" || exit 1
  for t in "${targets[@]}"; do
    corpus=tests/fuzz/corpus/$t
    merged=$(mktemp -d)
    mkdir -p "$corpus"
    # The inputs of past findings and jsmn's known crash inputs stay,
    # whatever coverage they add; the rest is merged in behind them.
    find "$corpus" -type f \( -name 'finding-*' -o -name 'jsmn-*' \) -exec cp {} "$merged"/ \;
    cp "$fresh/$t"/jsmn-* "$merged"/
    $out/fuzz_$t -merge=1 "$merged" "$corpus" "$fresh/$t" >/dev/null 2>&1 || { echo "$t: merge failed" >&2; exit 1; }
    rm -rf "$corpus"
    mv "$merged" "$corpus"
    echo "$t: $(find "$corpus" -type f | wc -l) inputs, $(cat "$corpus"/* | wc -c) bytes"
  done
  rm -rf "$fresh"
  exit 0
fi

failed_suites=0
for suite in $out/native_*; do
  name=${suite##*/native_}
  if report=$($suite 2>&1); then
    cases=$(echo "$report" | sed -n 's/^\[doctest\] test cases: *\([0-9]*\).*/\1/p')
    echo "native $name: ${cases:-?} test cases passed"
  else
    echo "$report" | tail -40
    echo "native $name: FAILED"
    failed_suites=$((failed_suites + 1))
  fi
done

mkdir -p $out/findings
total_runs=0
findings=0
for t in "${targets[@]}"; do
  work=$out/run/$t
  log=$out/run/$t.log
  mkdir -p "$work"
  options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=25 -rss_limit_mb=3072
           -artifact_prefix="$out/findings/$t-" -dict=tests/fuzz/members.dict)
  [ "$t" = signin_input ] && options+=(-max_len=5000)
  $out/fuzz_$t "${options[@]}" "$work" tests/fuzz/corpus/$t >"$log" 2>&1
  status=$?
  runs=$(grep '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(echo "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  corp=$(echo "$last" | sed -n 's/.* corp: \([^ ]*\).*/\1/p' | sed 's|/| inputs, |')
  if [ -z "$runs" ]; then runs=$(echo "$last" | sed -n 's/^#\([0-9]*\).*/\1/p'); fi
  runs=${runs:-0}
  total_runs=$((total_runs + runs))
  line="$t: $runs runs, coverage ${cov:-?} edges ${ft:-?} features, corpus ${corp:-?}"
  if [ $status -ne 0 ]; then
    findings=$((findings + 1))
    input=$(grep -oE "(Test unit written to|artifact_prefix.*; Test unit written to) [^ ]+" "$log" | tail -1 | awk '{print $NF}')
    echo "$line, FINDING: input left at ${input:-$out/findings/}, report in $log"
    grep -E 'ERROR: |SUMMARY: |fuzz check failed|runtime error|still holds the password' "$log" | head -5 | sed 's/^/  /'
  else
    echo "$line, no finding"
  fi
done
echo "fuzz: ${#targets[@]} targets, $total_runs runs, $findings findings"
[ $findings -eq 0 ] && [ $failed_suites -eq 0 ]
