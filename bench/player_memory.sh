#!/usr/bin/env bash
# Peak resident memory of the player playing a song: the real window under
# Xvfb, sound through ALSA's null device (real time, no card needed).
#   bench/player_memory.sh SONG.mid [SECONDS] [SOUNDFONT]
# Defaults: 30 seconds, FluidR3 GM. SOUNDFONT may name several files joined
# with ':' (a stack, the first winning). Prints the peak in MB.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
song=$1
seconds=${2:-30}
font=${3:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
player=${LIRNO_PLAYER:-$top/build/src/main/lirno-player}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
echo 'pcm.!default { type null }' > "$home/.asoundrc"
HOME=$home XDG_RUNTIME_DIR=$home LIRNO_SOUNDFONT=$font \
  xvfb-run -a /usr/bin/time -f '%M' -o "$home/peak" \
  timeout -s TERM "$seconds" "$player" "$song" || true
names=$(tr ':' '\n' <<< "$font" | xargs -n 1 basename | paste -sd ' ')
echo "peak RSS: $(( $(tail -n 1 "$home/peak") / 1024 )) MB ($seconds s of $(basename "$song"), $names)"
