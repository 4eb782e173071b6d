# kplx.exe under wine64, stopped by Ctrl-C (Wine hands SIGINT to the console's handlers as
# CTRL_C_EVENT). Mid-load: the frame in flight is finished, the bridge's latency timer is put
# back, exit 130. With a silent meter: a second Ctrl-C gives up the
# wait for its reply, which FT_Read alone would not end before its 6 s timeout.
e2e_driver installed
cp "$E2E_BUILD/bin/kplx.exe" "$WORK/kplx.exe"
kplx_exe=$(e2e_win "$WORK/kplx.exe")
# The latency timers kplx set, in order, as the simulated driver logged them.
latency_sets() { sed -n 's/^latency \([0-9]*\)\r\{0,1\}$/\1/p' "$CALLS_OUT" | tr '\n' ' ' | sed 's/ $//'; }
set -m   # job control: a background kplx gets Ctrl-C as a foreground one would

# Waits until FILE holds TEXT, or the program $pid has ended.
wait_for() {
  local file=$1 text=$2 i
  for i in $(seq 1200); do
    grep -qF "$text" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
}

# --- Ctrl-C mid-load ---------------------------------------------------------------------------
e2e_meter_config "link latency-ms 16 process-ms 1"
"$WINE64" "$kplx_exe" load "$(e2e_win "$SAMPLE_EXE")" >"$OUT/load.out" 2>"$OUT/load.err" &
pid=$!
wait_for "$OUT/load.out" "KP000001:  10%"
kill -INT "$pid"
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 130 ] || e2e_die "Ctrl-C mid-load: exit $rc, expected 130: $(cat "$OUT/load.err")"
grep -qF "kplx: stopping: finishing the frame in flight (at most 12 s); press Ctrl-C again to abandon it" "$OUT/load.err" ||
  e2e_die "Ctrl-C mid-load: no stopping line: $(cat "$OUT/load.err")"
block=$(sed -n 's/^kplx: KP000001: interrupted at block \([0-9]*\) of 548.*/\1/p' "$OUT/load.err")   # CR LF on Windows
[ -n "$block" ] || e2e_die "Ctrl-C mid-load: $(cat "$OUT/load.err")"
frames=$(wc -l <"$FRAMES_OUT")
[ "$frames" -eq $((block + 1)) ] || e2e_die "Ctrl-C mid-load: $frames frames for block $block"
[ "$(latency_sets)" = "2 16" ] || e2e_die "Ctrl-C mid-load: latency timer not put back: $(cat "$CALLS_OUT")"
e2e_log "ok: Ctrl-C at block $block finished that frame, put the bridge back and exited 130"

# --- Ctrl-C twice, the meter silent --------------------------------------------------------------
rm -f "$FRAMES_OUT" "$CALLS_OUT"
head -c 1270 "$SAMPLE_DB" >"$WORK/small.db"   # ten blocks
e2e_meter_config "silent-from 3"
"$WINE64" "$kplx_exe" load --raw "$(e2e_win "$WORK/small.db")" >"$OUT/silent.out" 2>"$OUT/silent.err" &
pid=$!
wait_for "$OUT/silent.out" "KP000001:  20%"   # block 2 answered: block 3 is next, and unanswered
sleep 0.2
kill -INT "$pid"
wait_for "$OUT/silent.err" "kplx: stopping:"
kill -INT "$pid"
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 130 ] || e2e_die "Ctrl-C twice: exit $rc, expected 130: $(cat "$OUT/silent.err")"
grep -qF "kplx: KP000001: interrupted: gave up waiting for the reply to block 3 of 10" "$OUT/silent.err" ||
  e2e_die "Ctrl-C twice: $(cat "$OUT/silent.err")"
[ "$(latency_sets)" = "2 16" ] || e2e_die "Ctrl-C twice: latency timer not put back: $(cat "$CALLS_OUT")"
e2e_log "ok: a second Ctrl-C gave up the silent meter's wait and still put the bridge back"
