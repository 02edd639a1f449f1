#!/usr/bin/env bash
# Installs what is needed, builds the two programs, their library and the
# demo-image tool (no tests, no benchmarks), writes a demo recorder disk image
# and starts the main program on it.
#   JOBS=n scripts/run-demo.sh   build with n parallel jobs (default: nproc)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${JOBS:-$(nproc)}"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target quenbrix_app morvessantix_app Quenbrix MakeDemoImage
mkdir -p demo
if [ ! -e demo/PhysicalDrive0 ]; then
  build/bin/MakeDemoImage --no-hint demo
fi
QUENBRIX_DEVICES="$PWD/demo" exec build/bin/Quenbrix "$@"
