# The bar as a person sees it: blank before, an outline with a growing fill during the
# transfer, full while the completion box is up, blank again after it.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_drive <<'EOF'
launch ${E2E_APP}
wait-window
move 0 0
shot bar-before
menu 32779
sleep 1500
shot bar-during-1
sleep 1500
shot bar-during-2
wait-box "Transfer Complete!" info 60000
sleep 200
shot bar-complete
ok
sleep 300
shot bar-after
usable
menu 32771
wait-exit 0
EOF
e2e_check_bar bar-before --idle
e2e_check_bar bar-during-1 --active --min 2 --max 549 --save "$OUT/progress-1"
e2e_check_bar bar-during-2 --active --min 2 --max 549 --beyond "$OUT/progress-1"
# While "Transfer Complete!" is up the bar is full; it is blanked once the box is closed.
e2e_check_bar bar-complete --active --min 550 --max 550
e2e_check_bar bar-after --idle
e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect full
