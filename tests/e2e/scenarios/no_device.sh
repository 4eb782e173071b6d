# Nothing plugged in: device 0 cannot be opened, "USB Port Error".
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_config <<'EOF'
# no devices
EOF
e2e_transfer_once "USB Port Error" error
