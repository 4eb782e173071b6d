# File > Exit ends the utility with exit code 0: from the menu command, from the keyboard
# (Alt+F, Enter), and in the middle of a transfer, which leaves the bridge as it was found.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
menu 32771
wait-exit 0 5000
launch ${E2E_APP}
wait-window
key alt+f
sleep 300
key enter
wait-exit 0 5000
launch ${E2E_APP}
wait-window
menu 32779
sleep 700
menu 32771
wait-exit 0 5000
EOF
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect some
# Closed mid-transfer, the utility put back the bridge's latency timer without closing the port.
e2e_check_calls open "latency 2" "latency 16"
