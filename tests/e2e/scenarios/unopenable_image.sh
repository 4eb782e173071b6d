# The program name on the command line names no file: the utility cannot read its own image.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch-as ${E2E_APP} "\"C:\nonexistent\nothere.exe\""
wait-window
move 0 0
menu 32779
expect-box "Can't load program image" error 20000
expect-no-box 1000
usable
menu 32771
wait-exit 0
EOF
e2e_check_no_frames
