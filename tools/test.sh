#!/bin/sh
# Builds and runs every test: the check that each folder includes only the floors below it,
# the normal build (warnings as errors), the ThreadSanitizer build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, each with its tests and then the soak (two minutes of
# churn in the normal build, one under the sanitizers), and the clang build, which checks the
# lock annotations and runs each libFuzzer target for a fixed time from its kept seeds and
# findings (the other builds replay those as unit tests). "tools/test.sh quick" runs the
# normal build's tests only.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
  libbenchmark-dev iproute2 util-linux socat rsyslog nginx systemd dpkg-dev lintian prometheus \
  keepalived chromium-headless-shell
fuzz_seconds=${VELNOR_FUZZ_SECONDS:-60}
jobs=$(nproc)

run_suite() {  # name, seconds of soak churn, extra cmake arguments...
  name=$1
  soak=$2
  shift 2
  echo "== $name build"
  cmake -S "$top" -B "$top/build-$name" -G Ninja -DVELNOR_WERROR=ON "$@" >/dev/null
  cmake --build "$top/build-$name"
  echo "== $name tests"
  (cd "$top/build-$name" && ctest -j"$jobs" --output-on-failure -LE 'slow|soak')
  [ "$soak" -gt 0 ] || return 0
  echo "== $name soak, ${soak}s of churn"
  # On failure the whole log, then its failures again: a reader of the tail sees what broke.
  (cd "$top/build-$name" && VELNOR_SOAK_SECONDS=$soak ctest -V -L soak >soak.log 2>&1 ||
     { cat soak.log; echo "== $name soak failed:"; grep -E -A12 'Failure$|soak \(seed|ERROR: |WARNING: ' soak.log |
       cut -c1-300 | head -n 150; exit 1; }
   grep -E '^[0-9]+: soak \(seed' soak.log; grep 'tests passed' soak.log)
}

start=$(date +%s)
"$top/tools/check-floors.sh"
if [ "${1:-}" = quick ]; then run_suite normal 0; else run_suite normal 120; fi
echo "== package"
# The Debian package of the normal build: no lintian errors, and its unit's exposure 2.0 or lower.
rm -f "$top"/build-normal/velnor_*.deb
(cd "$top/build-normal" && cpack -G DEB >/dev/null)
lintian --fail-on error "$top"/build-normal/velnor_*.deb
exposure=$(systemd-analyze security --offline=true --threshold=20 "$top/build-normal/packaging/velnor.service") ||
  { echo "$exposure"; exit 1; }
echo "$exposure" | tail -n 1
[ "${1:-}" = quick ] && exit 0
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_suite tsan 60 -DVELNOR_SANITIZE=thread -DVELNOR_BENCH=OFF
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  run_suite asan 60 -DVELNOR_SANITIZE=address -DVELNOR_BENCH=OFF

echo "== fuzz build"
# clang also checks the lock annotations here (-Wthread-safety), as errors.
CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DVELNOR_FUZZ=ON -DVELNOR_TESTS=OFF \
  -DVELNOR_BENCH=OFF -DVELNOR_WERROR=ON >/dev/null
cmake --build "$top/build-fuzz"
echo "== fuzzing, ${fuzz_seconds}s per target, $jobs at a time, from the kept seeds and findings"
rm -rf "$top/build-fuzz/runs"
# The targets of the sources, not whatever binaries an older build left behind.
ls "$top/tests/fuzz/"*_fuzz.cpp | xargs -P "$jobs" -I{} sh -c '
  top=$2 seconds=$3
  target=$(basename "$1" .cpp)
  name=${target%_fuzz}
  fuzzer=$top/build-fuzz/tests/$target
  dir=$top/build-fuzz/runs/$target
  mkdir -p "$dir/corpus"
  cd "$dir"
  dict=$top/tests/fuzz/$target.dict
  [ -f "$dict" ] && dict="-dict=$dict" || dict=""
  # libFuzzer reads every folder and adds what it learns to the first only: the fresh one.
  set -- "$dir/corpus" "$top/tests/fuzz/corpus/$name"
  [ -d "$top/tests/fuzz/findings/$name" ] && set -- "$@" "$top/tests/fuzz/findings/$name"
  if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/" $dict "$@" >log 2>&1; then
    echo "fuzz $target: no finding ($(grep -o "stat::number_of_executed_units: *[0-9]*" log | grep -o "[0-9]*$") runs)"
  else
    echo "fuzz $target: FINDING"
    tail -n 40 log
    for input in "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*; do
      [ -f "$input" ] || continue
      echo "fuzz $target: the input, in Base64:"
      base64 -w 0 "$input"
      echo
    done
    echo "fuzz $target: fix the fault (or the fuzzer, if its model is wrong), then keep the input as"
    echo "  tests/fuzz/findings/$name/<what-it-catches> (base64 -d) so that the unit suite replays it."
    exit 1
  fi' sh {} "$top" "$fuzz_seconds"
echo "== all suites passed in $(( $(date +%s) - start ))s"
