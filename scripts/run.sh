#!/usr/bin/env bash
# Sets up, builds and runs Lirno Player's main job. With no argument it
# describes the bundled demo song; a MIDI file may be given instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" run
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLIRNO_BUILD_TESTS=OFF -DLIRNO_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-release"
song="${1:-$top/build-release/demo/ode-to-joy.mid}"
exec "$top/build-release/tools/lirno-midi/lirno-midi" info "$song"
