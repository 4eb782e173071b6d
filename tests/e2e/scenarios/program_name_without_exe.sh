# The program name on the command line lacks ".exe": the utility adds it and finds itself.
e2e_make_db 300 300 "$OUT/db300.bin"
e2e_pack "$OUT/db300.bin" "$OUT/kplx-loader-300.exe"
e2e_use_utility "$OUT/kplx-loader-300.exe"
e2e_driver installed
e2e_meter_config
export E2E_APP_STEM=${E2E_APP%.exe}
E2E_LAUNCH='launch-as ${E2E_APP} "\"${E2E_APP_STEM}\""' e2e_transfer_once "Transfer Complete!" info
e2e_check_frames --image "$APP" --db "$OUT/db300.bin" --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
