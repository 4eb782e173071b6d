# 255 bytes: the last block holds 127 database bytes and only the first trailer byte, so the
# trailer is cut off at the block's end, not carried into a block of its own.
e2e_make_db 255 255 "$OUT/db255.bin"
e2e_pack "$OUT/db255.bin" "$OUT/kplx-loader-255.exe"
e2e_use_utility "$OUT/kplx-loader-255.exe"
e2e_driver installed
e2e_meter_config
e2e_transfer_once "Transfer Complete!" info
e2e_check_frames --image "$APP" --db "$OUT/db255.bin" --data-frames 2 \
  --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
