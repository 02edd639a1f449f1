#!/usr/bin/env bash
# Installs what is needed, builds, writes a demo recorder disk image and starts
# the main program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"
mkdir -p demo
if [ ! -e demo/PhysicalDrive0 ]; then
  build/bin/MakeDemoImage demo
fi
if [ ! -x build/bin/Quenbrix ]; then
  echo "Built. The main program is not part of this build yet; the demo image is in demo/PhysicalDrive0."
  exit 0
fi
QUENBRIX_DEVICES="$PWD/demo" exec build/bin/Quenbrix "$@"
