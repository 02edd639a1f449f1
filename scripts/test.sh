#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
#   scripts/test.sh              normal (Release) build in build/
#   SANITIZE=1 scripts/test.sh   AddressSanitizer + UBSan (Debug) build in build-asan/
#   JOBS=n scripts/test.sh       build and test with n parallel jobs (default: nproc)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-$(nproc)}"
bash scripts/install-deps.sh
if [ "${SANITIZE:-0}" = 1 ]; then
  dir=build-asan; opts=(-DCMAKE_BUILD_TYPE=Debug -DQUENBRIX_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
else
  dir=build; opts=(-DCMAKE_BUILD_TYPE=Release)
fi
cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
if [ "${SANITIZE:-0}" != 1 ]; then
  # One quick run of each job benchmark on a small image: the figures go to
  # the log so that a slowdown shows; they never fail the build, a crash does.
  for bench in bench_copy bench_defrag; do
    echo "== $bench --small"
    "$dir/bin/$bench" --small
  done
fi
