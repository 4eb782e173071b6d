# kplx.exe under wine64, the simulated driver installed: `list` shows the meter and its version,
# and `load` sends the sample with exactly the frames the utility sends for the same file. Both
# run beside the decoy Ftd2xx.dll and must never load it.
e2e_use_utility "$SAMPLE_EXE"
e2e_driver installed
e2e_meter_config
e2e_transfer_once "Transfer Complete!" info 60000
cut -d' ' -f3 "$FRAMES_OUT" >"$WORK/utility-frames.hex"

cp "$E2E_BUILD/bin/kplx.exe" "$WORK/kplx.exe"
rm -f "$FRAMES_OUT" "$DB_OUT"
kplx_exe=$(e2e_win "$WORK/kplx.exe")
e2e_wine 60 "$kplx_exe" list --json >"$OUT/list.json" 2>"$OUT/list.err" || e2e_die "kplx list failed: $(cat "$OUT/list.err")"
"$PYTHON" - "$OUT/list.json" <<'PY' || e2e_die "kplx list: $(cat "$OUT/list.json")"
import json, sys
devices = json.load(open(sys.argv[1]))
assert devices == [{"index": 0, "location": "0x11", "serial": "KP000001", "description": "Quorvel KPLX",
                    "meter": True, "version": "KPLX Meter V2.10"}], devices
PY
e2e_log "ok: kplx list shows KP000001, a meter, version KPLX Meter V2.10"

e2e_wine 120 "$kplx_exe" load --json "$E2E_APP" >"$OUT/load.json" 2>"$OUT/load.err" || e2e_die "kplx load failed: $(cat "$OUT/load.err")"
"$PYTHON" - "$OUT/load.json" <<'PY' || e2e_die "kplx load: $(cat "$OUT/load.json")"
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["exitCode"] == 0 and doc["blocks"] == 548 and doc["databaseBytes"] == 70085, doc
assert [(m["serial"], m["result"], m["framesSent"]) for m in doc["meters"]] == [("KP000001", "ok", 550)], doc
PY
cut -d' ' -f3 "$FRAMES_OUT" >"$WORK/kplx-frames.hex"
[ "$(wc -l <"$WORK/kplx-frames.hex")" -eq 550 ] || e2e_die "kplx: $(wc -l <"$WORK/kplx-frames.hex") frames, expected 550"
cmp -s "$WORK/utility-frames.hex" "$WORK/kplx-frames.hex" || e2e_die "kplx sent other frames than the utility"
e2e_log "ok: kplx load sent the utility's 550 frames, byte for byte"
e2e_check_frames --image "$APP" --db "$SAMPLE_DB" --data-frames 548 --frames "$FRAMES_OUT" --expect full \
  --database-out "$DB_OUT"

# The meter chosen by its location ID, as the list shows it: a dry run asks its version and
# sends no DATABASE.
rm -f "$FRAMES_OUT"
e2e_wine 60 "$kplx_exe" load --dry-run --json -p 0x11 "$E2E_APP" >"$OUT/dry.json" 2>"$OUT/dry.err" ||
  e2e_die "kplx load -p 0x11 --dry-run failed: $(cat "$OUT/dry.err")"
"$PYTHON" - "$OUT/dry.json" <<'PY' || e2e_die "kplx load -p 0x11 --dry-run: $(cat "$OUT/dry.json")"
import json, sys
doc = json.load(open(sys.argv[1]))
assert [(m["location"], m["result"], m["meterVersion"]) for m in doc["meters"]] == [("0x11", "would-load", "KPLX Meter V2.10")], doc
PY
[ "$(grep -c . "$FRAMES_OUT")" -eq 1 ] || e2e_die "kplx --dry-run sent more than VERSION: $(cat "$FRAMES_OUT")"
e2e_log "ok: kplx load -p 0x11 --dry-run found the meter by its location and sent no DATABASE"

# Without the driver installed there is no port to open: exit 4, saying why.
e2e_driver missing
rc=0
e2e_wine 60 "$kplx_exe" list >"$OUT/no-driver.out" 2>"$OUT/no-driver.err" || rc=$?
[ "$rc" -eq 4 ] || e2e_die "kplx list without a driver: exit $rc, expected 4"
grep -q "cannot load the FTDI D2XX driver" "$OUT/no-driver.err" || e2e_die "kplx list without a driver said: $(cat "$OUT/no-driver.err")"
e2e_log "ok: without Ftd2xx.dll kplx says so and exits 4"
