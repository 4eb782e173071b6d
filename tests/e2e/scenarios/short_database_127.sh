# A trailer that says 127 bytes: one under the smallest database. Packed by hand, since the
# team's packer refuses it. The port is never opened.
e2e_make_db 127 127 "$OUT/db127.bin"
e2e_raw_image "$UTILITY" "$OUT/db127.bin" "$OUT/kplx-loader-127.exe"
e2e_use_utility "$OUT/kplx-loader-127.exe"
e2e_driver installed
e2e_meter_config
e2e_transfer_once "Invalid binary file" error
e2e_check_no_frames
