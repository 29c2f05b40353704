#!/usr/bin/env bash
# Builds the comparison program and runs it: the synthetic scene at three sensor-noise
# levels, keyed by nolukey and by FFmpeg's colorkey and chromakey + despill, scored against
# the ground truth and timed on this machine. Writes docs/comparison.md and docs/comparison.png.
# Extra arguments go to the program (e.g. --frames 2 --min-time 0.2 for a quick look).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"

cmake -S . -B build -G Ninja -DNOLU_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target compare_keyers nolu_multicolor_keying

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//' || true)
machine="$(hostname), ${cpu:-unknown CPU}, $(nproc) cores, $(uname -sr)"

mkdir -p docs
./build/bench/compare/compare_keyers --markdown docs/comparison.md --sheet docs/comparison.png \
  --machine "$machine" "$@"
