# Transfer again while a transfer runs: it starts over from scratch (the meter sees a second
# DATABASE, then the whole database), and only one "Transfer Complete!" follows.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
sleep 1500
menu 32779
# A restart sends all 550 steps again: not done in under 5 s.
expect-box "Transfer Complete!" info 60000 min=5000
expect-no-box 2000
usable
menu 32771
wait-exit 0
EOF
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect some,full --database-out "$DB_OUT"
