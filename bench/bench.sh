#!/usr/bin/env bash
# The transfer benchmark, in one run: the 70,085-byte sample at 115200 baud, the meter taking
# 1 ms a frame, the bridge's latency timer 16 ms at open; each load once with the bridge's own
# behaviour ("defaults") and once with a 2 ms latency timer and ACK as the event character
# ("tuned"):
#   the utility under wine64 (defaults: a driver without the latency-timer functions),
#   kplx with the simulator backend, kplx through libftdi1 on the emulated FT232R,
#   kplx --all with 1, 2 and 4 meters (simulator backend, defaults and tuned).
# Prints each one's transfer time, its ratio to the wire-time bound of the same bytes and the
# host's time per step (median, p99), and writes the table to build/bench-results/table.md.
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
defaults=(--latency 16 --no-event-char)   # leaves the bridge as it was found

# kplx_run NAME BACKEND METERS [OPTIONS...]: one load, a frame log per meter.
kplx_run() {
  local name=$1 backend=$2 meters=$3 i
  shift 3
  {
    echo "$link"
    echo "clock real"
    for i in $(seq "$meters"); do printf 'device meter\nframes-out %s\n' "$results/$name-$i.frames"; done
  } >"$results/$name.cfg"
  local run=("$kplx" load --json --all "$@" "$sample")
  [ "$backend" = libftdi ] && run=("$emulator" -- "${run[@]}")
  KPLX_BACKEND=$backend KPLX_SIM_CONFIG=$results/$name.cfg "${run[@]}" >"$results/$name.json" 2>"$results/$name.err" ||
    { cat "$results/$name.err"; echo "bench: $name failed"; exit 1; }
  echo "bench: $name done"
}

kplx_run kplx-sim-defaults sim 1 "${defaults[@]}"
kplx_run kplx-sim-tuned sim 1
kplx_run kplx-libftdi-defaults libftdi 1 "${defaults[@]}"
kplx_run kplx-libftdi-tuned libftdi 1
for n in 1 2 4; do kplx_run "kplx-all-defaults-$n" sim "$n" "${defaults[@]}"; done
for n in 1 2 4; do kplx_run "kplx-all-tuned-$n" sim "$n"; done

# The utility: a driver without FT_SetLatencyTimer and the rest, then the full one.
export E2E_BUILD=$PWD/build/win64
unset E2E_PREFIX
# shellcheck source=../tests/e2e/lib.sh
. tests/e2e/lib.sh
e2e_begin bench-utility >/dev/null
e2e_use_utility "$SAMPLE_EXE"
for mode in defaults tuned; do
  if [ "$mode" = defaults ]; then e2e_driver basic; else e2e_driver installed; fi
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
  cp "$FRAMES_OUT" "$results/utility-$mode-1.frames"
  echo "bench: utility-$mode done"
done

"$PYTHON" bench/report.py "$results" | tee "$results/table.md"
