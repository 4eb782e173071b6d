# The smallest database there is, 128 bytes: DATABASE, block 0, block 1 (the trailer and
# zeros), END.
e2e_make_db 128 128 "$OUT/db128.bin"
e2e_pack "$OUT/db128.bin" "$OUT/kplx-loader-128.exe"
e2e_use_utility "$OUT/kplx-loader-128.exe"
e2e_driver installed
e2e_meter_config
e2e_transfer_once "Transfer Complete!" info
e2e_check_frames --image "$APP" --db "$OUT/db128.bin" --data-frames 2 \
  --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
