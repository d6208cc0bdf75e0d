#!/usr/bin/env bash
# Installs the Debian packages a job needs, when they are missing.
#   scripts/deps.sh run|test
set -euo pipefail

# libjack-jackd2-dev: the MIDI ports' JACK client. It also satisfies
# libfluidsynth-dev's JACK dependency, and apt replaces a JACK 1 libjack-dev
# that may be there already (the two conflict).
run_pkgs=(g++ cmake ninja-build pkg-config qt6-base-dev libfluidsynth-dev libasound2-dev
          libjack-jackd2-dev libsndfile1-dev libuchardet-dev
          fluid-soundfont-gm nlohmann-json3-dev libcli11-dev)
test_pkgs=("${run_pkgs[@]}" libgtest-dev libgmock-dev libbenchmark-dev timgm6mb-soundfont xvfb
           desktop-file-utils appstream dbus-daemon clang-format
           jackd2)  # a JACK server on the dummy driver for the port tests

case "${1:-}" in
  run) pkgs=("${run_pkgs[@]}") ;;
  test) pkgs=("${test_pkgs[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
