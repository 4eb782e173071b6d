# Help > Version lists the attached meters' versions, sorted, and counts them; a cable among
# them is left out. Escape closes it, and the port is free for a transfer afterwards. With
# only a cable attached the list is empty.
e2e_make_db 128 7 "$OUT/db128.bin"
e2e_pack "$OUT/db128.bin" "$OUT/kplx-loader-128.exe"
e2e_use_utility "$OUT/kplx-loader-128.exe"
e2e_driver installed
e2e_config <<EOF
device meter
version KPLX Meter V2.10
database-out $DB_OUT_W
frames-out $FRAMES_OUT_W
device cable
device meter
version KPLX Meter V1.05
EOF
cat >"$WORK/cable-only.cfg" <<'EOF'
device cable
EOF
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
menu 32801
wait-dialog "USB Devices"
dialog-list 1089 "KPLX Meter V1.05" "KPLX Meter V2.10"
dialog-text 1092 "2"
shot version
key escape to=dialog
wait-dialog-closed
usable
menu 32779
expect-box "Transfer Complete!" info 20000
usable
menu 32771
wait-exit 0
env KPLX_SIM_CONFIG ${E2E_WORK}\cable-only.cfg
launch ${E2E_APP}
wait-window
menu 32801
wait-dialog "USB Devices"
dialog-list 1089
dialog-text 1092 "0"
key escape to=dialog
wait-dialog-closed
usable
menu 32771
wait-exit 0
EOF
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect version,full --database-out "$DB_OUT"
