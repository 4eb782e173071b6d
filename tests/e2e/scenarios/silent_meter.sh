# The meter stops answering at block 2 (frame 3): the handshake error comes after two read
# timeouts (6000 ms each, scaled by 0.05 here: 0.6 s), not after one, not after three.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "time-scale 0.05" "silent-from 3"
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
wait-box "Error - Handshake not received" error 20000 min=550 max=900
ok
expect-no-box 1000
shot bar-after-silence
usable
copy-file ${FRAMES_OUT_W} ${E2E_WORK}\frames-after-silence.txt
menu 32771
wait-exit 0
EOF
e2e_check_bar bar-after-silence --idle
e2e_check_frames --image "$APP" --frames "$WORK/frames-after-silence.txt" --expect upto:3
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect upto:3
