# The driver exports the latency-timer functions: the utility runs the bridge's timer at 2 ms for
# the transfer and puts the 16 ms it found back before it closes the port; nothing else the user
# sees changes.
e2e_make_db 2000 5 "$OUT/db2000.bin"
e2e_pack "$OUT/db2000.bin" "$OUT/kplx-loader-2000.exe"
e2e_use_utility "$OUT/kplx-loader-2000.exe"
e2e_driver installed
e2e_meter_config "link latency-ms 16 process-ms 1" "clock real" "time-scale 1"
e2e_transfer_once "Transfer Complete!" info 20000
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
e2e_check_calls open "latency 2" "latency 16" close
