#!/bin/sh
# Builds and runs every test: the normal build (warnings as errors), the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build, and each libFuzzer target
# for a fixed time. "tools/test.sh quick" runs the normal build only.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
  libbenchmark-dev iproute2 util-linux socat
fuzz_seconds=${VELNOR_FUZZ_SECONDS:-60}
jobs=$(nproc)

run_suite() {  # name, extra cmake arguments...
  name=$1
  shift
  echo "== $name build"
  cmake -S "$top" -B "$top/build-$name" -G Ninja -DVELNOR_WERROR=ON "$@" >/dev/null
  cmake --build "$top/build-$name"
  echo "== $name tests"
  (cd "$top/build-$name" && ctest -j"$jobs" --output-on-failure -LE 'slow|soak')
}

start=$(date +%s)
run_suite normal
[ "${1:-}" = quick ] && exit 0
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_suite tsan -DVELNOR_SANITIZE=thread -DVELNOR_BENCH=OFF
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  run_suite asan -DVELNOR_SANITIZE=address -DVELNOR_BENCH=OFF

echo "== fuzz build"
CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DVELNOR_FUZZ=ON -DVELNOR_TESTS=OFF \
  -DVELNOR_BENCH=OFF >/dev/null
cmake --build "$top/build-fuzz"
echo "== fuzzing, ${fuzz_seconds}s per target, $jobs at a time"
mkdir -p "$top/build-fuzz/runs"
ls "$top/build-fuzz/tests/"*_fuzz | xargs -P "$jobs" -I{} sh -c '
  name=$(basename {})
  dir='"$top"'/build-fuzz/runs/$name
  mkdir -p "$dir/corpus"
  cd "$dir"
  dict='"$top"'/tests/fuzz/$name.dict
  [ -f "$dict" ] && dict="-dict=$dict" || dict=""
  if {} -max_total_time='"$fuzz_seconds"' -print_final_stats=1 $dict "$dir/corpus" >log 2>&1; then
    echo "fuzz $name: no finding ($(grep -o "stat::number_of_executed_units: *[0-9]*" log | grep -o "[0-9]*$") runs)"
  else
    echo "fuzz $name: FINDING"; tail -n 40 log; exit 1
  fi'
echo "== all suites passed in $(( $(date +%s) - start ))s"
