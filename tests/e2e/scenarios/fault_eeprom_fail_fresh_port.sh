# The meter's EEPROM cannot be read, from the first Transfer on. A failed read leaves the port
# object's verdict as it was, and a port object that never read an EEPROM holds "a meter"
# (usb/meter_identity.cpp; unit test FailedReadOnNewObjectLeavesItAMeter): so no box before the
# transfer, the transfer runs and completes, and so does a second one.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "eeprom-fail"
e2e_drive < <(e2e_steps_start; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_transfer "Transfer Complete!" info 60000 min=5000; e2e_steps_exit)
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --frames "$FRAMES_OUT" --expect full,full \
  --database-out "$DB_OUT"
