#!/usr/bin/env bash
# The main job: build the win64 utility with the sample database packed in, start it under
# wine64 in Xvfb with the simulated meter installed as the system's driver, click Transfer and
# report what happened: the message shown, whether the meter kept the sample byte for byte, how
# long the transfer took and where the mid-transfer screenshot is. Then load the same packed
# file with kplx on Linux, through libftdi1 and libusb into a meter behind an emulated FT232R,
# and report that too: both meters must hold the sample, from the very same frames. Both meters
# sit behind the wire model (115200 baud, the meter 1 ms a frame, the bridge's latency timer
# 16 ms when opened; sim/bridge.h), so the seconds shown are what a real bridge would take.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$(nproc)"
cmake --preset release >/dev/null
cmake --build build/release -j"$(nproc)"

export E2E_BUILD=$PWD/build/win64
unset E2E_PREFIX
# shellcheck source=../tests/e2e/lib.sh
. tests/e2e/lib.sh
e2e_begin main-job            # a fresh Wine prefix and Xvfb screen, removed on exit
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
wire_model="link latency-ms 16 process-ms 1"
e2e_meter_config "$wire_model" "clock real" "time-scale 1"
E2E_DRIVE_TIMEOUT=120 e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
sleep 2500
shot mid-transfer
wait-box "Transfer Complete!" info 60000
ok
usable
menu 32771
wait-exit 0
EOF

outcome=$(grep -o 'box: "[^"]*"' "$OUT/drive.log" | tail -n1 | cut -d'"' -f2)
seconds=$(grep 'box: ' "$OUT/drive.log" | grep -o '[0-9.]* s after menu 32779' | tail -n1 | cut -d' ' -f1)
sample_size=$(stat -c %s "$SAMPLE_DB")
same() { if cmp -s -n "$sample_size" "$SAMPLE_DB" "$1"; then echo identical; else echo DIFFERENT; fi; }
utility_same=$(same "$DB_OUT")
utility_frames=$(grep -c . "$FRAMES_OUT" || true)

# kplx, the release build for Linux, through libftdi1 into the emulated bridge's meter.
kplx_dir=$OUT/kplx-libftdi
mkdir -p "$kplx_dir"
printf '%s\ndevice meter\ndatabase-out %s\nframes-out %s\n' "$wire_model" "$kplx_dir/db-out.bin" \
  "$kplx_dir/frames-out.txt" >"$kplx_dir/sim.cfg"
kplx_rc=0
KPLX_SIM_CONFIG=$kplx_dir/sim.cfg build/release/bin/kplx-ft232r-emu --report "$kplx_dir/usb.txt" -- \
  build/release/bin/kplx load --json "$SAMPLE_EXE" >"$kplx_dir/load.json" 2>"$kplx_dir/load.err" || kplx_rc=$?
kplx_result=$(python3 -c 'import json,sys; m=json.load(open(sys.argv[1]))["meters"][0]; print(m["result"], "-", m["message"], "in %.1f s" % m["seconds"])' "$kplx_dir/load.json" 2>/dev/null || cat "$kplx_dir/load.err")
kplx_same=$(same "$kplx_dir/db-out.bin")
kplx_frames=$(grep -c . "$kplx_dir/frames-out.txt" || true)
if cmp -s <(cut -d' ' -f3 "$FRAMES_OUT") <(cut -d' ' -f3 "$kplx_dir/frames-out.txt"); then frames_same=identical; else frames_same=DIFFERENT; fi
# The time the same bytes take on the wire alone (frames out, replies in, 10 bits a byte).
wire_s=$(python3 bench/frame_stats.py --json "$FRAMES_OUT" 2>/dev/null | python3 -c 'import json,sys; print("%.2f" % json.load(sys.stdin)["wire_bound_s"])' || echo "?")
ratio() { python3 -c 'import sys; print("%.2fx" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$wire_s" 2>/dev/null || echo "?"; }
kplx_s=$(python3 -c 'import json,sys; print("%.1f" % json.load(open(sys.argv[1]))["meters"][0]["seconds"])' "$kplx_dir/load.json" 2>/dev/null || echo "?")

echo
echo "The utility under wine64 (simulated Ftd2xx.dll):"
echo "  outcome:      $outcome"
# The meter keeps whole blocks: the sample, then the trailer and zeros up to the last block's end.
echo "  database:     the meter's first $sample_size bytes are the sample: $utility_same"
echo "  frames:       $utility_frames logged by the meter"
echo "  transfer:     ${seconds:-?} s from the Transfer command to the message, $(ratio "${seconds:-?}") the $wire_s s the bytes take on the wire"
echo "  screenshot:   $OUT/mid-transfer.png"
echo "kplx on Linux through libftdi1 (emulated FT232R):"
echo "  outcome:      exit code $kplx_rc, $kplx_result"
echo "  database:     the meter's first $sample_size bytes are the sample: $kplx_same"
echo "  frames:       $kplx_frames logged by the meter, byte for byte the utility's: $frames_same"
echo "  transfer:     $kplx_s s, $(ratio "$kplx_s") the $wire_s s the bytes take on the wire"
echo "  bridge:       $(cat "$kplx_dir/usb.txt")"
[ "$outcome" = "Transfer Complete!" ] && [ "$utility_same" = identical ] && [ "$kplx_rc" -eq 0 ] &&
  [ "$kplx_same" = identical ] && [ "$frames_same" = identical ]
