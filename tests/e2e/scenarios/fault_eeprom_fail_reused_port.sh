# The first Transfer reads the meter's EEPROM and completes; from the second on the EEPROM
# cannot be read. The long-lived port object keeps the first verdict, "a meter", so the second
# Transfer shows no "No devices found" and completes as well.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "eeprom-fail-from-open 1"
e2e_drive < <(e2e_steps_start; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_keep_frames frames-after-first.txt; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_exit)
e2e_check_frames --image "$APP" --frames "$WORK/frames-after-first.txt" --expect full
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --frames "$FRAMES_OUT" --expect full,full \
  --database-out "$DB_OUT"
