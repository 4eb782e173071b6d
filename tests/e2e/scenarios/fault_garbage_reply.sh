# The meter answers block 99 (frame 100) with 0x41 instead of ACK: the handshake error, the 99
# blocks before it kept (the meter does not keep a block it did not ACK), a usable window, and
# a second Transfer (frame numbers go on, so the fault does not come again) that completes.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "raw-at 100 41"
e2e_drive < <(
  e2e_steps_start
  e2e_steps_failed_transfer bar-after-garbage
  e2e_steps_keep_frames frames-after-garbage.txt
  echo 'copy-file ${DB_OUT_W} ${E2E_WORK}\db-after-garbage.bin'
  e2e_steps_transfer "Transfer Complete!" info 60000 min=5000
  e2e_steps_exit
)
e2e_check_bar bar-after-garbage --idle
e2e_check_reply "$WORK/frames-after-garbage.txt" 100 41
e2e_check_frames --image "$APP" --frames "$WORK/frames-after-garbage.txt" --expect upto:100 \
  --database-out "$WORK/db-after-garbage.bin" --kept-blocks 99
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --frames "$FRAMES_OUT" --expect upto:100,full \
  --database-out "$DB_OUT"
