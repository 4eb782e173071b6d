# Alt+T, the Transfer item's mnemonic, starts a transfer.
e2e_make_db 1000 1000 "$OUT/db1000.bin"
e2e_pack "$OUT/db1000.bin" "$OUT/kplx-loader-1000.exe"
e2e_use_utility "$OUT/kplx-loader-1000.exe"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
key alt+t
expect-box "Transfer Complete!" info 20000
usable
menu 32771
wait-exit 0
EOF
e2e_check_frames --image "$APP" --db "$OUT/db1000.bin" --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
