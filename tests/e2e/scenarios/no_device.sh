# Nothing plugged in: device 0 cannot be opened, "USB Port Error".
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_config <<'EOF'
# no devices
EOF
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32779
expect-box "USB Port Error" error 20000
expect-no-box 1000
usable
menu 32771
wait-exit 0
EOF
