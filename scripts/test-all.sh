#!/usr/bin/env bash
# Every test: unit tests under the sanitizers (kplx through the simulator and through libftdi1
# on emulated FT232R bridges among them), bounded fuzzing, kplx's .deb, the shipped 32-bit
# programs' release checks, and the end-to-end tests of the win64 builds under wine64 in Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
status=0
step() { echo; echo "=== $*"; }

step "native build and unit tests (ASan, UBSan, LeakSanitizer)"
cmake --preset native >/dev/null
cmake --build build/native -j"$jobs"
ctest --test-dir build/native --output-on-failure -j"$jobs" || status=1

step "release: kplx for Linux, its .deb unpacked and run against emulated bridges"
cmake --preset release >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure || status=1

step "bounded fuzzing"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"$jobs"
bash tests/fuzz/run_bounded.sh build/fuzz "${KPLX_FUZZ_SECONDS:-10}" || status=1

step "win32: the shipped utility and kplx.exe, and their release checks"
cmake --preset win32 >/dev/null
cmake --build build/win32 -j"$jobs"
ctest --test-dir build/win32 --output-on-failure || status=1

step "win64: end-to-end under wine64"
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$jobs"
ctest --test-dir build/win64 --output-on-failure -j2 || status=1

echo
if [ "$status" -eq 0 ]; then echo "all test groups passed"; else echo "some test groups FAILED"; fi
exit "$status"
