# A database of 3,000,045 bytes: 23,438 blocks (the last holds 109 database bytes, the trailer
# and 11 zeros), 23,440 steps on 10 ms ticks. The transfer completes, the meter keeps the
# database byte for byte, and the window is usable after it.
# About 4 min in all; kplx-drive is stopped at 8 min, inside the test's own 9 min.
E2E_DRIVE_TIMEOUT=480
e2e_make_db 3000045 3000 "$OUT/db3mb.bin"
e2e_pack "$OUT/db3mb.bin" "$OUT/kplx-loader-3mb.exe"
e2e_use_utility "$OUT/kplx-loader-3mb.exe"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF2'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
# 23,440 steps, one a 10 ms tick: not done in under 234 s (225 s allows for a coarse clock).
expect-box "Transfer Complete!" info 420000 min=225000
expect-no-box 1000
usable
menu 32771
wait-exit 0
EOF2
e2e_check_frames --image "$APP" --db "$OUT/db3mb.bin" --data-frames 23438 \
  --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT" --min-median-gap-ms 8
