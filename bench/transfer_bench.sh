#!/usr/bin/env bash
# The transfer benchmark: the 70,085-byte sample into the simulated meter under wine64, with the
# link model at 115200 baud and the meter taking 1 ms a frame, once with the bridge's default
# 16 ms latency timer and once with 1 ms. Prints each run's transfer time against the wire-time
# bound of the same bytes, and the host's turnaround per frame (median, p99).
#   bash bench/transfer_bench.sh [RUNS]    (RUNS per latency, default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1}
[ -f build/win64/kplx-loader-sample.exe ] || { bash scripts/setup.sh; cmake --preset win64 >/dev/null; }
cmake --build build/win64 -j"$(nproc)" >/dev/null

export E2E_BUILD=$PWD/build/win64
unset E2E_PREFIX
# shellcheck source=../tests/e2e/lib.sh
. tests/e2e/lib.sh
e2e_begin transfer-bench
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed

report=$OUT/report.txt
: >"$report"
for latency in 16 1; do
  for run in $(seq "$runs"); do
    rm -f "$FRAMES_OUT" "$DB_OUT"
    e2e_meter_config "link latency-ms $latency process-ms 1" "clock real" "time-scale 1"
    E2E_DRIVE_TIMEOUT=120 e2e_drive <<'DRIVE' >/dev/null
launch ${E2E_APP}
wait-window
menu 32779
wait-box "Transfer Complete!" info 90000
ok
menu 32771
wait-exit 0
DRIVE
    cmp -s -n "$(stat -c %s "$SAMPLE_DB")" "$SAMPLE_DB" "$DB_OUT" || e2e_die "latency $latency ms: the meter's database differs from the sample"
    cp "$FRAMES_OUT" "$OUT/frames-latency-$latency-run-$run.txt"
    "$PYTHON" bench/frame_stats.py "$FRAMES_OUT" --label "latency ${latency} ms (run $run)" | tee -a "$report"
  done
done
echo
echo "report: $report"
