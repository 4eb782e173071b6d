# The meter answers block 5 (frame 6) with ACK and then junk (41 42 43). The utility reads one
# byte per block, so the junk stays queued; it is purged before the next frame, so it is never
# taken for the next block's answer: the transfer completes and the database is intact.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "raw-at 6 06 41 42 43"
e2e_drive < <(e2e_steps_start; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_keep_frames frames-after-first.txt; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_exit)
e2e_check_reply "$WORK/frames-after-first.txt" 6 06414243
e2e_check_reply "$WORK/frames-after-first.txt" 7 06
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --frames "$WORK/frames-after-first.txt" --expect full
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --frames "$FRAMES_OUT" --expect full,full \
  --database-out "$DB_OUT"
