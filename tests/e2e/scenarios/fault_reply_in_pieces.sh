# Every reply becomes readable in pieces ("pieces 1 1": its first byte, its second, the rest),
# so the END reply (ACK, then the 10-byte "SUCCESS" frame) comes over several reads: the ACK
# read first confirms it; the transfer completes and the database is intact.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "pieces 1 1"
e2e_drive < <(e2e_steps_start; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_exit)
e2e_check_reply "$FRAMES_OUT" 549 06020753554343455353DF
e2e_check_reply "$FRAMES_OUT" 1099 06020753554343455353DF
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --frames "$FRAMES_OUT" --expect full,full \
  --database-out "$DB_OUT"
