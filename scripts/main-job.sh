#!/usr/bin/env bash
# The main job: build the win64 utility with the sample database packed in, start it under
# wine64 in Xvfb with the simulated meter installed as the system's driver, click Transfer and
# report what happened: the message shown, whether the meter kept the sample byte for byte, how
# long the transfer took and where the mid-transfer screenshot is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$(nproc)"

export E2E_BUILD=$PWD/build/win64
unset E2E_PREFIX
# shellcheck source=../tests/e2e/lib.sh
. tests/e2e/lib.sh
e2e_begin main-job            # a fresh Wine prefix and Xvfb screen, removed on exit
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
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
if cmp -s -n "$(stat -c %s "$SAMPLE_DB")" "$SAMPLE_DB" "$DB_OUT"; then same="identical"; else same="DIFFERENT"; fi
frames=$(grep -c . "$FRAMES_OUT" || true)

echo
echo "outcome:      $outcome"
# The meter keeps whole blocks: the sample, then the trailer and zeros up to the last block's end.
echo "database:     $(stat -c %s "$SAMPLE_DB") bytes of sample, the meter's first $(stat -c %s "$SAMPLE_DB") of $(stat -c %s "$DB_OUT" 2>/dev/null || echo 0) kept bytes: $same"
echo "frames:       $frames logged by the meter"
echo "transfer:     ${seconds:-?} s from the Transfer command to the message"
echo "screenshot:   $OUT/mid-transfer.png"
[ "$outcome" = "Transfer Complete!" ] && [ "$same" = "identical" ]
