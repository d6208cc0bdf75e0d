#!/usr/bin/env bash
# Sets up, builds and runs Lirno Player with the bundled demo song, which it
# loads and plays at once; a MIDI file may be given instead. The player is a
# desktop window: without a display this says so and names the command-line
# player instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" run
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLIRNO_BUILD_TESTS=OFF -DLIRNO_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-release"
song="${1:-$top/build-release/demo/ode-to-joy.mid}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the player's
window cannot open. To hear the song from the command line instead:

  $top/build-release/tools/lirno-midi/lirno-midi play "$song"
MSG
  exit 1
fi
exec "$top/build-release/src/main/lirno-player" "$song"
