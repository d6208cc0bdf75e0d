#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the format check of every
# C++ file (.clang-format), every test in a normal build, then everything
# without a window (file model, track rows, sequencer device, lirno-midi)
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$top/scripts/deps.sh" test
"$top/scripts/check-format.sh"

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen LIRNO_AUDIO=none
ctest --test-dir "$top/build" --output-on-failure -j "$jobs" --timeout 900

cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLIRNO_SANITIZE=ON \
  -DLIRNO_BUILD_GUI=OFF -DLIRNO_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs" --timeout 900
echo "All tests passed."
