# No Ftd2xx.dll in the system folder, only a decoy beside the utility: the warning, exit code
# 0, and the decoy never loaded (checked after every scenario).
e2e_use_utility "$SAMPLE_EXE"
e2e_driver missing
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
expect-box "Warning, can't load USB driver (ftd2xx.dll)" info 20000
wait-exit 0
EOF
