# The same with +Q: no box at all, nothing sent, the window still usable.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch-as ${E2E_APP} "\"C:\nonexistent\nothere.exe\" +Q"
wait-window
move 0 0
menu 32779
expect-no-box 3000
usable
menu 32771
wait-exit 0
EOF
e2e_check_no_frames
