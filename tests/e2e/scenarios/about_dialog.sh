# Help > About, Alt+? and Alt+/ open the About box: its title, version text, the picture
# centred at y=58; Escape closes it and the window works again.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 104
wait-dialog "About..."
dialog-text 1096 "Quorvel KPLX Meter V1.01"
dialog-bitmap ${E2E_APP} 202 58
shot about
key escape to=dialog
wait-dialog-closed
usable
key alt+?
wait-dialog "About..."
dialog-text 1096 "Quorvel KPLX Meter V1.01"
key escape to=dialog
wait-dialog-closed
usable
key alt+/
wait-dialog "About..."
key escape to=dialog
wait-dialog-closed
usable
menu 32771
wait-exit 0
EOF
e2e_check_no_frames
