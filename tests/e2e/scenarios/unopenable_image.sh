# The program name on the command line names no file: the utility cannot read its own image.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
E2E_LAUNCH='launch-as ${E2E_APP} "\"C:\nonexistent\nothere.exe\""' e2e_transfer_once "Can't load program image" error
e2e_check_no_frames
