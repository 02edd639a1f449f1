#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer, also in libQuenbrix.so) in build-fuzz/, makes
# their seed corpus and runs each for a bounded time: fuzz_load_fsck (the main
# program's load and check) and fuzz_repair (the check-and-repair program's
# repair, run twice). Exits non-zero on a crash, a hang, a sanitizer report, a
# run-time error or a broken repair promise.
#   FUZZ_SECONDS=600 scripts/fuzz.sh             runs each target longer
#   FUZZ_TARGETS=fuzz_repair scripts/fuzz.sh     runs only the ones named
# A faulty input lands in build-fuzz/fuzz-artifacts/; once mended, commit it
# under tests/data/fuzz/load/ or tests/data/fuzz/repair/, where the tests
# replay it (tests/core/test_fsck.cpp, tests/checker/test_repair_property.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-fuzz
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-fuzz_load_fsck fuzz_repair}

# The sanitizer and coverage flags are set per target in tests/fuzz/.
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DQUENBRIX_FUZZ=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$dir" --target $targets

# Seed corpus (input format: tests/fuzz/fuzz_image.h): the clean image, one
# damage of each kind the checks know, and every committed regression input.
# Regions: 0 superblock/backup/root copy, 1 FAT1, 2 FAT2, 3 end of cluster 0,
# 4 anywhere in cluster 0, 5 root, 6 __RECYCLE__, 7 DataFiles, 8 ProgramFiles,
# 9 DataFiles\Films, 10-12 the files' first sectors.
corpus="$dir/fuzz-corpus"
mkdir -p "$corpus" "$dir/fuzz-artifacts"
seed() { printf "$2" > "$corpus/$1"; }
seed clean ''
seed magic '\x00\x00\x00\x00\x04\x12\x34\x56\x78'
seed idstring '\x00\x00\x00\x04\x04tope'
seed version '\x00\x00\x00\x20\x02\x01\x07'
seed spc '\x00\x00\x00\x22\x02\x00\x10'
seed spc-both '\x00\x00\x00\x22\x02\x1f\x40\x00\x00\x04\x22\x02\x1f\x40'
seed backup '\x00\x00\x04\x04\x04\x00\x00\x00\x00'
seed root-copy '\x00\x00\x08\x08\x04\x00\x00\x00\x30'
seed fat1-cycle '\x01\x00\x07\x00\x03\x00\x00\x09'
seed fat1-cross '\x01\x00\x06\x00\x03\x00\x00\x07'
seed fat1-lost '\x01\x00\x20\x00\x03\xff\xff\xfe'
seed fat2 '\x02\x00\x05\x00\x03\x00\x00\x09'
seed crc '\x03\x00\x01\xf8\x04\x00\x00\x00\x00'
seed dir-self '\x07\x00\x00\x00\x01\xf2'
seed dir-free '\x07\x00\x00\x10\x04\xff\xff\xff\xff'
seed dir-loop '\x09\x00\x02\x00\x01\xf2\x09\x00\x02\x08\x04\x00\x00\x00\x02'
seed root-free '\x05\x00\x00\x10\x04\x80\x00\x00\x00'
seed root-zeroed '\x05\x00\x00\x00\x00\xff\xff\x00'
seed rec-header '\x0a\x00\x00\x00\x04\x00\x00\x00\x00'
cp tests/data/fuzz/*/* "$corpus/" 2>/dev/null || true

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$dir"
for target in $targets; do
  echo "fuzz: $target for ${seconds} s"
  mkdir -p "fuzz-corpus-$target"
  "./bin/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
    -artifact_prefix="fuzz-artifacts/$target-" "fuzz-corpus-$target" fuzz-corpus
done
echo "fuzz: no fault in ${seconds} s per target (regression inputs go to tests/data/fuzz/)"
