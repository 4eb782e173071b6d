#!/usr/bin/env bash
# The transfer benchmark, in one run: the 70,085-byte sample at 115200 baud, the meter taking
# 1 ms a frame, the bridge's latency timer 16 ms at open (sim/bridge.h models the FT232R as
# FTDI's AN232B-04 describes it). Each load is run with the latency timer left at 16 ms, at
# kplx's and the utility's 2 ms, and (kplx) at 1 ms:
#   the utility under wine64 (16 ms: a driver without the latency-timer functions),
#   kplx with the simulator backend, kplx through libftdi1 on the emulated FT232R,
#   kplx --all with 1, 2, 4 and 8 meters (simulator backend).
# Beside each: the floor, the same load by a host that takes no time at all on the same model
# (kplx on the simulator's virtual clock), and the ratio to it.
# Prints each one's transfer time, its ratio to the wire-time bound of the same bytes and to the
# floor, and the host's time per step (median, p99); writes the table to
# build/bench-results/table.md.
#   bash bench/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$(nproc)" >/dev/null
cmake --preset bench >/dev/null
cmake --build build/bench -j"$(nproc)" >/dev/null

results=$PWD/build/bench-results
rm -rf "$results"
mkdir -p "$results"
sample=$PWD/build/win64/kplx-loader-sample.exe
kplx=$PWD/build/bench/bin/kplx
emulator=$PWD/build/bench/bin/kplx-ft232r-emu
link="link latency-ms 16 process-ms 1"

# kplx_run NAME BACKEND METERS CLOCK [OPTIONS...]: one load, a frame log per meter.
kplx_run() {
  local name=$1 backend=$2 meters=$3 clock=$4 i
  shift 4
  {
    echo "$link"
    echo "clock $clock"
    for i in $(seq "$meters"); do printf 'device meter\nframes-out %s\n' "$results/$name-$i.frames"; done
  } >"$results/$name.cfg"
  local run=("$kplx" load --json --all "$@" "$sample")
  [ "$backend" = libftdi ] && run=("$emulator" -- "${run[@]}")
  KPLX_BACKEND=$backend KPLX_SIM_CONFIG=$results/$name.cfg "${run[@]}" >"$results/$name.json" 2>"$results/$name.err" ||
    { cat "$results/$name.err"; echo "bench: $name failed"; exit 1; }
  echo "bench: $name done"
}

# The floors: no host time at all, on the virtual clock.
for ms in 16 2 1; do kplx_run "floor-$ms" sim 1 virtual --latency "$ms"; done

for ms in 16 2 1; do kplx_run "kplx-sim-$ms" sim 1 real --latency "$ms"; done
for ms in 16 2 1; do kplx_run "kplx-libftdi-$ms" libftdi 1 real --latency "$ms"; done
for ms in 16 2; do
  for n in 1 2 4 8; do kplx_run "kplx-all-$ms-$n" sim "$n" real --latency "$ms"; done
done

# The utility: a driver without FT_SetLatencyTimer and FT_GetLatencyTimer (16 ms), then the full
# one (the utility runs the timer at 2 ms).
export E2E_BUILD=$PWD/build/win64
unset E2E_PREFIX
# shellcheck source=../tests/e2e/lib.sh
. tests/e2e/lib.sh
e2e_begin bench-utility >/dev/null
e2e_use_utility "$SAMPLE_EXE"
for ms in 16 2; do
  if [ "$ms" = 16 ]; then e2e_driver basic; else e2e_driver installed; fi
  rm -f "$FRAMES_OUT"
  e2e_meter_config "$link" "clock real" "time-scale 1"
  E2E_DRIVE_TIMEOUT=120 e2e_drive >/dev/null <<'DRIVE'
launch ${E2E_APP}
wait-window
menu 32779
wait-box "Transfer Complete!" info 90000
ok
menu 32771
wait-exit 0
DRIVE
  cp "$FRAMES_OUT" "$results/utility-$ms-1.frames"
  echo "bench: utility-$ms done"
done

"$PYTHON" bench/report.py "$results" | tee "$results/table.md"
