# Device 0 is an ordinary cable whose EEPROM cannot be read, from the first Transfer on. The
# port object has never read an EEPROM, so its verdict is still "a meter": the utility does not
# say "No devices found" but sends "DATABASE" to the cable, which never answers, and shows the
# handshake error after two read timeouts (6000 ms each, scaled by 0.05: 0.6 s). The cable
# takes no frame. A second Transfer does the same.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_config <<EOF2
time-scale 0.05
device cable
eeprom-fail
database-out $DB_OUT_W
frames-out $FRAMES_OUT_W
EOF2
e2e_drive < <(
  e2e_steps_start
  e2e_steps_failed_transfer bar-after-silence 20000 min=550 max=900
  e2e_steps_failed_transfer bar-after-second 20000 min=550 max=900
  e2e_steps_exit
)
e2e_check_bar bar-after-silence --idle
e2e_check_no_frames
