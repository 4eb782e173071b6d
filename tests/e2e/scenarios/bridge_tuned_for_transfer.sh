# The driver exports the latency-timer and event-character functions: the utility has the bridge
# send each ACK the moment it arrives (a 1 ms meter and the wire, no 16 ms timer), and nothing
# else the user sees changes.
e2e_make_db 2000 5 "$OUT/db2000.bin"
e2e_pack "$OUT/db2000.bin" "$OUT/kplx-loader-2000.exe"
e2e_use_utility "$OUT/kplx-loader-2000.exe"
e2e_driver installed
e2e_meter_config "link latency-ms 16 process-ms 1" "clock real" "time-scale 1"
e2e_transfer_once "Transfer Complete!" info 20000
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect full --database-out "$DB_OUT"
# DATABASE and the 16 blocks; END's "SUCCESS" frame waits for the 2 ms timer.
e2e_check_reply_delays "$FRAMES_OUT" 0 16 1 2
