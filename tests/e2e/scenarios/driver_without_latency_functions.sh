# A driver without FT_SetLatencyTimer and FT_GetLatencyTimer: the utility behaves as it always has,
# and leaves the bridge's own 16 ms latency timer alone.
e2e_make_db 2000 5 "$OUT/db2000.bin"
e2e_pack "$OUT/db2000.bin" "$OUT/kplx-loader-2000.exe"
e2e_use_utility "$OUT/kplx-loader-2000.exe"
e2e_driver basic
e2e_meter_config "link latency-ms 16 process-ms 1" "clock real" "time-scale 1"
e2e_transfer_once "Transfer Complete!" info 20000
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
e2e_check_calls open close
