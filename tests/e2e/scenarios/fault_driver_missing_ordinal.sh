# The system's Ftd2xx.dll lacks one of the thirteen ordinals (17, FT_SetTimeouts): the utility
# treats it as no driver at all, at start-up: the warning, information icon, exit code 0, and
# no device ever opened (the meter's files are never written).
e2e_use_utility "$SAMPLE_EXE"
e2e_driver missing17
e2e_meter_config
e2e_drive <<'EOF2'
launch ${E2E_APP}
expect-box "Warning, can't load USB driver (ftd2xx.dll)" info 20000
wait-exit 0
EOF2
e2e_check_no_frames
[ ! -e "$DB_OUT" ] || e2e_die "the meter's database file was written: the driver was used"
e2e_log "ok: the meter's files were never written"
