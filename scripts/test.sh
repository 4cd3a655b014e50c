#!/usr/bin/env bash
# Builds Tabrix Converter and runs the whole test suite:
#   1. every test in a normal build;
#   2. the thread-heavy tests (batch, workers, platform) under ThreadSanitizer;
#   3. the parser tests (spreadsheet engine) and the fuzz replays under
#      AddressSanitizer and UndefinedBehaviorSanitizer.
# Installs missing build dependencies first (Debian 12, as root or with sudo).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen

step() { echo; echo "=== $* ==="; }

step "Build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"

step "ThreadSanitizer: batch, workers, platform"
cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABRIX_SANITIZE=thread \
  -DTABRIX_BUILD_APP=OFF -DTABRIX_BUILD_FUZZ=OFF
cmake --build "$root/build-tsan" -j"$jobs" --target platform_tests batch_tests convert_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$root/build-tsan" --output-on-failure -j"$jobs" -L '^(platform|batch|convert)$'

step "AddressSanitizer and UndefinedBehaviorSanitizer: spreadsheet engine and fuzz replays"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABRIX_SANITIZE=address,undefined \
  -DTABRIX_BUILD_APP=OFF
cmake --build "$root/build-asan" -j"$jobs" --target sheets_tests fuzz_replay_all
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
  ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs" -L '^(sheets|fuzz)$'
