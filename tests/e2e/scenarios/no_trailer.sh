# The plain utility carries no database: "Invalid binary file", and the port is never opened.
e2e_use_utility "$UTILITY"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
expect-box "Invalid binary file" error 20000
expect-no-box 1000
usable
menu 32771
wait-exit 0
EOF
e2e_check_no_frames
