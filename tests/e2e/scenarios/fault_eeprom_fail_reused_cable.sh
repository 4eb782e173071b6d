# Device 0 is an ordinary cable. The first Transfer reads its EEPROM: "No devices found". From
# the second on the EEPROM cannot be read; the port object keeps the first verdict, "not a
# meter", so the second Transfer says "No devices found" again (a cleared verdict would
# send "DATABASE" and end in the handshake error after the read timeouts). No frame is sent.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_config <<EOF2
time-scale 0.05
device cable
eeprom-fail-from-open 1
database-out $DB_OUT_W
frames-out $FRAMES_OUT_W
EOF2
e2e_drive < <(e2e_steps_start; e2e_steps_transfer "No devices found" error; e2e_steps_transfer "No devices found" error; e2e_steps_exit)
e2e_check_no_frames
