# Device 0 is an ordinary FTDI cable: "No devices found", nothing sent, the port closed again.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_config <<EOF
device cable
database-out $DB_OUT_W
frames-out $FRAMES_OUT_W
EOF
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
expect-box "No devices found" error 20000
expect-no-box 1000
copy-file ${FRAMES_OUT_W} ${E2E_WORK}\frames-after-check.txt
usable
menu 32771
wait-exit 0
EOF
FRAMES_OUT=$WORK/frames-after-check.txt e2e_check_no_frames
e2e_check_no_frames
