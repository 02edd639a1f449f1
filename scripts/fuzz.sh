#!/usr/bin/env bash
# Builds the load-and-check fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/, makes its seed corpus and runs it
# for about a minute. Exits non-zero on a crash, a hang or a sanitizer report.
#   FUZZ_SECONDS=600 scripts/fuzz.sh     runs longer
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=build-fuzz
seconds=${FUZZ_SECONDS:-60}

# The sanitizer and coverage flags are set per target in tests/fuzz/.
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DQUENBRIX_FUZZ=ON >/dev/null
cmake --build "$dir" --target fuzz_load_fsck

# Seed corpus: the clean image, and one damage of each kind the check knows.
corpus="$dir/fuzz-corpus"
mkdir -p "$corpus" "$dir/fuzz-artifacts"
seed() { printf "$2" > "$corpus/$1"; }
seed clean ''
seed magic '\x00\x00\x00\x04\x12\x34\x56\x78'
seed idstring '\x00\x00\x04\x04tope'
seed version '\x00\x00\x20\x02\x01\x07'
seed spc '\x00\x00\x22\x02\x00\x10'
seed backup '\x00\x02\x04\x04\x00\x00\x00\x00'
seed fat1-cycle '\x01\x00\x18\x06\x00\x00\x09\x00\x00\x08'
seed fat1-cross '\x01\x00\x0f\x06\x00\x00\x07\x00\x00\x07'
seed fat2 '\x02\x00\x0c\x03\x00\x00\x05'
seed dir-self '\x06\x00\x00\x01\xf2'
seed dir-free '\x06\x00\x10\x04\xff\xff\xff\xff'
seed dir-loop '\x06\x01\x08\x04\x00\x00\x00\x02'
seed root-free '\x04\x00\x10\x04\x80\x00\x00\x00'
if [ -d tests/data/fuzz ]; then cp tests/data/fuzz/* "$corpus/" 2>/dev/null || true; fi

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$dir"
./bin/fuzz_load_fsck -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -artifact_prefix=fuzz-artifacts/ fuzz-corpus
echo "fuzz: no crash in ${seconds} s (regression inputs go to tests/data/fuzz/)"
