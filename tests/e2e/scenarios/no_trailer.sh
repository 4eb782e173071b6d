# The plain utility carries no database: "Invalid binary file", and the port is never opened.
e2e_use_utility "$UTILITY"
e2e_driver installed
e2e_meter_config
e2e_transfer_once "Invalid binary file" error
e2e_check_no_frames
