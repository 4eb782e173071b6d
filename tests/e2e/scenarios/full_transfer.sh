# The 70,085-byte sample, start to end: every frame on the wire, the database the meter kept,
# the "Transfer Complete!" box, and a window that works afterwards.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
check-main
move 0 0
expect-no-box 500
menu 32779
# 550 steps on 10 ms ticks cannot be done in under 5 s.
expect-box "Transfer Complete!" info 60000 min=5000
expect-no-box 1000
usable
menu 32771
wait-exit 0
EOF
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --data-frames 548 \
  --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT" --min-median-gap-ms 8
