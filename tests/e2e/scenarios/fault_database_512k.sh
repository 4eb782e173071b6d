# A database of 512 KiB and 45 bytes: 4,097 blocks (the last holds 45 database bytes, the
# trailer and zeros), 4,099 steps on 10 ms ticks. The transfer completes, the meter keeps the
# database byte for byte, and the window is usable after it.
# About 45 s in all; twice that before kplx-drive is stopped, well inside ctest's 180 s.
E2E_DRIVE_TIMEOUT=120
e2e_make_db 524333 512 "$OUT/db512k.bin"
e2e_pack "$OUT/db512k.bin" "$OUT/kplx-loader-512k.exe"
e2e_use_utility "$OUT/kplx-loader-512k.exe"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF2'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
# 4,099 steps, one a 10 ms tick: not done in under 41 s (38 s allows for a coarse clock).
expect-box "Transfer Complete!" info 100000 min=38000
expect-no-box 1000
usable
menu 32771
wait-exit 0
EOF2
e2e_check_frames --image "$APP" --db "$OUT/db512k.bin" --data-frames 4097 \
  --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT" --min-median-gap-ms 8
