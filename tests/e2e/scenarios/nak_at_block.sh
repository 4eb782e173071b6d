# The meter NAKs block 4 (frame 5): the transfer stops there with the handshake error, the
# port is closed (the meter's files are written at FT_Close, while the utility still runs),
# the bar is blank, and a new Transfer starts over and completes.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "nak-at 5"
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
wait-box "Error - Handshake not received" error 20000
ok
expect-no-box 1000
shot bar-after-nak
usable
copy-file ${FRAMES_OUT_W} ${E2E_WORK}\frames-after-nak.txt
copy-file ${DB_OUT_W} ${E2E_WORK}\db-after-nak.bin
menu 32779
expect-box "Transfer Complete!" info 60000
usable
menu 32771
wait-exit 0
EOF
e2e_check_bar bar-after-nak --idle
e2e_check_frames --image "$APP" --frames "$WORK/frames-after-nak.txt" --expect upto:5 \
  --database-out "$WORK/db-after-nak.bin" --kept-blocks 4
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect upto:5,full --database-out "$DB_OUT"
