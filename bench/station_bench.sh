#!/usr/bin/env bash
# The station benchmark: kplx load --watch with 8 meters plugged in one after another at random
# intervals, and 8 plugged in at once, on the wire model (115200 baud, meter 1 ms, bridge opened
# at 16 ms, kplx's 2 ms), through the simulator backend and through libftdi1 on emulated
# FT232R bridges. Prints, from the meters' frame logs and kplx's CPU time: plug-in to load
# start (median, max), each load's time against a lone load, kplx's CPU while idle and per
# load; writes the table to build/bench-results/station/table.md.
#   bash bench/station_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset bench >/dev/null
cmake --build build/bench -j"$(nproc)" >/dev/null
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$(nproc)" --target kplx-sample >/dev/null 2>&1 || cmake --build build/win64 -j"$(nproc)" >/dev/null

results=$PWD/build/bench-results/station
rm -rf "$results"
mkdir -p "$results"
sample=$PWD/build/win64/kplx-loader-sample.exe
kplx=$PWD/build/bench/bin/kplx
emulator=$PWD/build/bench/bin/kplx-ft232r-emu
idle_s=10

# config NAME PLUG-IN-TIMES...: a meter per time (ms; "-" for present from the start), each at
# a port of its own, its frame log in the results.
config() {
  local name=$1 i=0 at
  shift
  {
    echo "link latency-ms 16 process-ms 1"
    echo "clock real"
    for at in "$@"; do
      i=$((i + 1))
      printf 'device meter\nserial KP%06d\nport 1-%d\nframes-out %s\n' "$i" "$i" "$results/$name-$i.frames"
      [ "$at" = - ] || echo "plug-in-at $at"
    done
  } >"$results/$name.cfg"
  printf '%s\n' "$@" >"$results/$name.plugins"
}

# run NAME BACKEND LOADS: the station until LOADS loads; kplx's user+system seconds and the
# wall time go to NAME.cpu.
run() {
  local name=$1 backend=$2 loads=$3
  local script="TIMEFORMAT='%U %S %R'; { time '$kplx' load --watch --count $loads --log '$results/$name.jsonl' '$sample' \
>'$results/$name.out' 2>'$results/$name.err'; } 2>'$results/$name.cpu'"
  if [ "$backend" = libftdi ]; then
    KPLX_SIM_CONFIG=$results/$name.cfg "$emulator" -- bash -c "$script"
  else
    KPLX_BACKEND=sim KPLX_SIM_CONFIG=$results/$name.cfg bash -c "$script"
  fi
  echo "bench: $name done"
}

# idle NAME BACKEND: a station with nothing to load for $idle_s s; kplx's CPU ticks go to NAME.idle.
idle() {
  local name=$1 backend=$2
  printf 'device meter\nport 1-1\nplug-in-at 3600000\n' >"$results/$name.cfg"
  local script="'$kplx' load --watch '$sample' >/dev/null 2>&1 & pid=\$!; sleep 2; \
a=\$(awk '{print \$14+\$15}' /proc/\$pid/stat); sleep $idle_s; b=\$(awk '{print \$14+\$15}' /proc/\$pid/stat); \
kill -TERM \$pid; wait \$pid; echo \$((b - a)) $idle_s \$(getconf CLK_TCK) >'$results/$name.idle'"
  if [ "$backend" = libftdi ]; then
    KPLX_SIM_CONFIG=$results/$name.cfg "$emulator" -- bash -c "$script"
  else
    KPLX_BACKEND=sim KPLX_SIM_CONFIG=$results/$name.cfg bash -c "$script"
  fi
  echo "bench: $name done"
}

# One after another at random intervals (0.5 to 2.5 s apart, the same every run), and all at once.
staggered=() at=1000
RANDOM=16
for i in $(seq 8); do staggered+=("$at"); at=$((at + 500 + RANDOM % 2000)); done
burst=(1000 1000 1000 1000 1000 1000 1000 1000)

for backend in sim libftdi; do
  config "$backend-lone" 1000
  run "$backend-lone" "$backend" 1
  config "$backend-staggered" "${staggered[@]}"
  run "$backend-staggered" "$backend" 8
  config "$backend-burst" "${burst[@]}"
  run "$backend-burst" "$backend" 8
  idle "$backend-idle" "$backend"
done

python3 bench/station_report.py "$results" | tee "$results/table.md"
