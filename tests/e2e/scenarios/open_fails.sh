# A meter is listed but FT_Open fails on it: "USB Port Error", nothing sent.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config "open-fail"
e2e_transfer_once "USB Port Error" error
e2e_check_no_frames
