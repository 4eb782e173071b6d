# The program name on the command line lacks ".exe": the utility adds it and finds itself.
e2e_make_db 300 300 "$OUT/db300.bin"
e2e_pack "$OUT/db300.bin" "$OUT/kplx-loader-300.exe"
e2e_use_utility "$OUT/kplx-loader-300.exe"
e2e_driver installed
e2e_meter_config
export E2E_APP_STEM=${E2E_APP%.exe}
e2e_drive <<'EOF'
launch-as ${E2E_APP} "\"${E2E_APP_STEM}\""
wait-window
move 0 0
menu 32779
expect-box "Transfer Complete!" info 20000
usable
menu 32771
wait-exit 0
EOF
e2e_check_frames --image "$APP" --db "$OUT/db300.bin" --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
