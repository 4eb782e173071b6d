# Shared by the end-to-end scenarios: a Wine prefix, an Xvfb screen, the simulated driver in the
# system folder, a decoy beside the utility, kplx-drive, and the checks of what the meter got.
# Sourced by run_scenario.sh and prefix.sh; every scenario runs with `set -euo pipefail`.

E2E_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_REPO=$(cd "$E2E_SRC/../.." && pwd)
: "${E2E_BUILD:=$E2E_REPO/build/win64}"
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
# The real ImageMagick, not a stand-in earlier on PATH.
IM_IMPORT=${IM_IMPORT:-/usr/bin/import}
IM_CONVERT=${IM_CONVERT:-/usr/bin/convert}
PYTHON=${PYTHON:-python3}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

e2e_log() { printf '[e2e] %s\n' "$*"; }
e2e_die() { printf '[e2e] FAIL: %s\n' "$*"; exit 1; }

# Wine maps Z: to /.
e2e_win() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

e2e_wine() { local t=$1; shift; timeout --kill-after=10 "$t" "$WINE64" "$@"; }

e2e_wineserver_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 30 "$WINESERVER" -w >/dev/null 2>&1 || true
}

# A fresh prefix: booted once, crash dialogs off, and windows unmanaged, since there is no
# window manager to answer Wine's wait for one (2 s on every dialog that closes).
e2e_prefix_make() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  export WINEPREFIX=$dir
  e2e_log "making Wine prefix $dir"
  e2e_wine 180 wineboot -i >"$dir/.wineboot.log" 2>&1 || { cat "$dir/.wineboot.log"; e2e_die "wineboot failed"; }
  e2e_wine 60 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  e2e_wine 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
  e2e_wineserver_stop
  [ -d "$dir/drive_c/windows/system32" ] || e2e_die "prefix $dir has no system32"
  touch "$dir/.kplx-e2e-ready"
}

e2e_prefix_remove() {
  local dir=$1
  [ -e "$dir/.kplx-e2e-ready" ] || [ ! -e "$dir" ] || e2e_die "$dir does not look like an e2e prefix; left alone"
  export WINEPREFIX=$dir
  e2e_wineserver_stop
  rm -rf "$dir"
}

# ------------------------------------------------------------------ the build's files

e2e_find_artifacts() {
  [ -d "$E2E_BUILD" ] || e2e_die "no build tree $E2E_BUILD (cmake --preset win64 && cmake --build build/win64)"
  UTILITY=$E2E_BUILD/kplx-loader.exe
  SAMPLE_EXE=$E2E_BUILD/kplx-loader-sample.exe
  SAMPLE_DB=$E2E_BUILD/sample.db
  : "${E2E_DRIVE:=$E2E_BUILD/tests/e2e/kplx-drive.exe}"
  : "${E2E_DECOY:=$E2E_BUILD/tests/e2e/decoy/Ftd2xx.dll}"
  SIM_DLL=${E2E_SIM_DLL:-$E2E_BUILD/Ftd2xx.dll}
  if [ ! -f "$SIM_DLL" ]; then
    SIM_DLL=$(find "$E2E_BUILD" -name Ftd2xx.dll -not -path '*/e2e/*' -not -path '*/e2e-*' | head -n1)
  fi
  HOST_KPLX=${E2E_HOST_KPLX:-$E2E_BUILD/host-kplx/bin/kplx}
  local f
  for f in UTILITY SAMPLE_EXE SAMPLE_DB E2E_DRIVE E2E_DECOY SIM_DLL; do
    [ -n "${!f}" ] && [ -f "${!f}" ] || e2e_die "missing $f (${!f:-not found}) in $E2E_BUILD: build the win64 preset first"
  done
}

# ------------------------------------------------------------------ one scenario

# Sets up everything a scenario needs and arranges for all of it to go away on exit.
e2e_begin() {
  E2E_NAME=$1
  e2e_find_artifacts
  OUT=$E2E_BUILD/e2e-results/$E2E_NAME
  WORK=$OUT/work
  rm -rf "$OUT"
  mkdir -p "$WORK" "$OUT/shots"
  E2E_T0=$(date +%s.%N)
  trap e2e_cleanup EXIT

  if [ -n "${E2E_PREFIX:-}" ] && [ -e "$E2E_PREFIX/.kplx-e2e-ready" ]; then
    export WINEPREFIX=$E2E_PREFIX
    E2E_OWN_PREFIX=
  else
    E2E_OWN_PREFIX=$(mktemp -d /tmp/kplx-e2e-prefix.XXXXXX)
    e2e_prefix_make "$E2E_OWN_PREFIX"
    export WINEPREFIX=$E2E_OWN_PREFIX
  fi
  # Nothing left running from an earlier scenario in a shared prefix.
  e2e_wineserver_stop
  rm -f "$WINEPREFIX/drive_c/windows/system32/Ftd2xx.dll"

  e2e_xvfb_start
  export KPLX_DRIVE_SHOTS
  KPLX_DRIVE_SHOTS=$(e2e_win "$OUT/shots")
  export E2E_WORK
  E2E_WORK=$(e2e_win "$WORK")
  DB_OUT=$WORK/db-out.bin
  FRAMES_OUT=$WORK/frames-out.txt
  CALLS_OUT=$WORK/calls-out.txt
  export DB_OUT_W FRAMES_OUT_W CALLS_OUT_W
  DB_OUT_W=$(e2e_win "$DB_OUT")
  FRAMES_OUT_W=$(e2e_win "$FRAMES_OUT")
  CALLS_OUT_W=$(e2e_win "$CALLS_OUT")
  e2e_log "scenario $E2E_NAME: results in $OUT, DISPLAY=$DISPLAY, WINEPREFIX=$WINEPREFIX"
}

e2e_cleanup() {
  local rc=$?
  [ -z "${E2E_SHOT_PID:-}" ] || kill "$E2E_SHOT_PID" 2>/dev/null || true
  e2e_wineserver_stop
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
  if [ -n "${E2E_OWN_PREFIX:-}" ]; then rm -rf "$E2E_OWN_PREFIX"; fi
  local secs
  secs=$(awk -v a="$E2E_T0" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b-a}')
  if [ "$rc" -eq 0 ]; then e2e_log "PASS $E2E_NAME (${secs} s)"; else e2e_log "FAIL $E2E_NAME (${secs} s): see $OUT"; fi
  exit "$rc"
}

e2e_xvfb_start() {
  local fd_file=$OUT/xvfb.display i
  : >"$fd_file"
  Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$fd_file" >"$OUT/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for i in $(seq 100); do
    [ -s "$fd_file" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || { cat "$OUT/xvfb.log"; e2e_die "Xvfb did not start"; }
    sleep 0.1
  done
  [ -s "$fd_file" ] || e2e_die "Xvfb gave no display number"
  export DISPLAY=":$(head -n1 "$fd_file")"
}

# The utility (a copy in the work folder, with the decoy driver beside it).
e2e_use_utility() {
  local src=$1 name=${2:-$(basename "$1")}
  [ -f "$src" ] || e2e_die "no utility $src"
  APP=$WORK/$name
  cp "$src" "$APP"
  cp "$E2E_DECOY" "$WORK/Ftd2xx.dll"
  export E2E_APP
  E2E_APP=$(e2e_win "$APP")
}

# installed: the simulator is the system's driver; missing: there is none; missing17: the
# simulator built without ordinal 17 (FT_SetTimeouts) is the system's driver; basic: the
# simulator with the thirteen ordinals only (no latency-timer functions).
e2e_driver() {
  local sys=$WINEPREFIX/drive_c/windows/system32/Ftd2xx.dll
  local broken=${E2E_SIM_MISSING17_DLL:-$E2E_BUILD/missing17/Ftd2xx.dll}
  case $1 in
    installed) cp "$SIM_DLL" "$sys" ;;
    basic) cp "$E2E_BUILD/basic/Ftd2xx.dll" "$sys" ;;
    missing) rm -f "$sys" ;;
    missing17)
      [ -f "$broken" ] || e2e_die "no $broken: build the ftd2xx_missing17 target"
      cp "$broken" "$sys" ;;
    *) e2e_die "e2e_driver installed|basic|missing|missing17" ;;
  esac
}

# The simulator's configuration, from standard input.
e2e_config() {
  cat >"$WORK/sim.cfg"
  export KPLX_SIM_CONFIG
  KPLX_SIM_CONFIG=$(e2e_win "$WORK/sim.cfg")
}

# A meter whose outputs land in the work folder, plus any extra directives given.
e2e_meter_config() {
  {
    echo "device meter"
    echo "database-out $DB_OUT_W"
    echo "frames-out $FRAMES_OUT_W"
    echo "calls-out $CALLS_OUT_W"
    local line
    for line in "$@"; do echo "$line"; done
  } >"$WORK/meter.cfg"
  # Not in a pipeline: the export must reach this shell.
  e2e_config <"$WORK/meter.cfg"
}

# Answers kplx-drive's shot requests with pictures of the whole X screen.
e2e_shot_server() {
  local req name
  while :; do
    for req in "$OUT"/shots/*.request; do
      [ -e "$req" ] || continue
      name=$(basename "$req" .request)
      "$IM_IMPORT" -window root -display "$DISPLAY" "$OUT/$name.png" 2>>"$OUT/shots.log" || true
      rm -f "$req"
      : >"$OUT/shots/$name.done"
    done
    sleep 0.02
  done
}

# kplx-drive on the script file given, its output in $OUT/drive.log.
e2e_drive_run() {
  e2e_wine "${E2E_DRIVE_TIMEOUT:-150}" "$(e2e_win "$E2E_DRIVE")" -f "$(e2e_win "$1")" >"$OUT/drive.log" 2>&1
}

# Runs the drive script from standard input; its log is $OUT/drive.log.
e2e_drive() {
  local script=$OUT/script.drive rc=0
  cat >"$script"
  e2e_shot_server &
  E2E_SHOT_PID=$!
  e2e_log "driving ($script)"
  e2e_drive_run "$script" || rc=$?
  # Wine itself can fail to start a program now and then (it returns 1 before kplx-drive
  # prints its first line). The utility was never launched then, so one fresh try is fair.
  if [ "$rc" -ne 0 ] && ! grep -q 'kplx-drive: ' "$OUT/drive.log"; then
    e2e_log "wine did not start kplx-drive (exit $rc, output: $(head -c 500 "$OUT/drive.log" | tr '\n' ' ')); wine processes:"
    ps -eo pid,etimes,args | grep -i '[w]ine' | sed 's/^/  | /' || true
    mv "$OUT/drive.log" "$OUT/drive-not-started.log"
    e2e_wineserver_stop
    rc=0
    e2e_log "driving again ($script)"
    WINEDEBUG=-all,err+all e2e_drive_run "$script" || rc=$?
  fi
  kill "$E2E_SHOT_PID" 2>/dev/null || true
  wait "$E2E_SHOT_PID" 2>/dev/null || true
  E2E_SHOT_PID=
  sed 's/^/  | /' "$OUT/drive.log"
  [ "$rc" -eq 0 ] || e2e_die "kplx-drive failed (exit $rc)"
  grep -q 'PASS:' "$OUT/drive.log" || e2e_die "kplx-drive did not finish its script"
}

# ------------------------------------------------------------------ checks

e2e_check_frames() { "$PYTHON" "$E2E_SRC/check_frames.py" "$@"; }

# FRAMES K HEX: the meter's reply to frame K (from 0) in the frame log was HEX ("-": none), so
# a fault was injected where the scenario meant it.
e2e_check_reply() {
  local log=$1 k=$2 want=$3 got
  got=$(awk -v k="$k" 'NF { if (n++ == k) { print (NF >= 6 ? $6 : "?"); exit } }' "$log")
  [ -n "$got" ] || e2e_die "$log has no frame $k"
  [ "$got" = "$want" ] || e2e_die "$log: the reply to frame $k was $got, expected $want"
  e2e_log "ok: the reply to frame $k was $want"
}

# What the utility did to the port, as the simulated driver logged it: open, latency N, close,
# one per line, compared whole.
e2e_check_calls() {
  local want got
  want=$(printf '%s\n' "$@")
  got=$(tr -d '\r' <"$CALLS_OUT" 2>/dev/null || true)
  [ "$got" = "$want" ] || e2e_die "port calls: expected [$(echo $want)], got [$(echo $got)]"
  e2e_log "ok: port calls $(echo $want)"
}

# The progress bar in a screenshot, against the client origin kplx-drive printed.
e2e_check_bar() {
  local shot=$1; shift
  local origin
  origin=$(grep -o 'client-origin [0-9-]* [0-9-]*' "$OUT/drive.log" | tail -n1 | cut -d' ' -f2,3)
  [ -n "$origin" ] || e2e_die "no client-origin in the drive log"
  # shellcheck disable=SC2086
  "$PYTHON" "$E2E_SRC/check_bar.py" --convert "$IM_CONVERT" "$OUT/$shot.png" $origin "$@"
}

# The decoy beside the utility was never loaded.
e2e_check_no_decoy() {
  if [ -e "$WORK/Ftd2xx.dll.loaded" ]; then
    e2e_die "the Ftd2xx.dll beside the utility was used: $(tr '\n' ' ' <"$WORK/Ftd2xx.dll.loaded")"
  fi
  e2e_log "ok: the Ftd2xx.dll beside the utility was never loaded"
}

# The port was never opened: the meter logged no frame.
e2e_check_no_frames() {
  if [ -s "$FRAMES_OUT" ]; then e2e_die "the meter received frames: $(head -c 300 "$FRAMES_OUT")"; fi
  e2e_log "ok: the meter received no frame"
}

e2e_pack() { # DB OUT: the team's packer
  [ -x "$HOST_KPLX" ] || e2e_die "no kplx for this machine at $HOST_KPLX"
  "$HOST_KPLX" pack "$UTILITY" "$1" -o "$2" >"$OUT/pack.log" 2>&1 || { cat "$OUT/pack.log"; e2e_die "kplx pack failed"; }
}

# The reply to END decides: REPLY (hex) is the meter's answer to END (frame 3 of a 128-byte
# database), BOX the one message the utility must show for it.
e2e_end_reply_scenario() {
  local reply=$1 box=$2 icon=$3
  e2e_make_db 128 3 "$OUT/db128.bin"
  e2e_pack "$OUT/db128.bin" "$OUT/kplx-loader-128.exe"
  e2e_use_utility "$OUT/kplx-loader-128.exe"
  e2e_driver installed
  e2e_meter_config "raw-at 3 $reply"
  e2e_drive < <(
    echo 'launch ${E2E_APP}'
    echo 'wait-window'
    echo 'move 0 0'
    echo 'menu 32779'
    echo "expect-box \"$box\" $icon 20000"
    echo '# One box only: a failed END is never followed by "Transfer Complete!".'
    echo 'expect-no-box 1500'
    echo 'shot bar-after-end'
    echo 'usable'
    echo 'copy-file ${FRAMES_OUT_W} ${E2E_WORK}\frames-after-end.txt'
    echo 'menu 32771'
    echo 'wait-exit 0'
  )
  e2e_check_bar bar-after-end --idle
  e2e_check_frames --image "$APP" --frames "$WORK/frames-after-end.txt" --expect full
}

e2e_make_db() { "$PYTHON" "$E2E_SRC/images.py" db "$@"; }          # SIZE SEED OUT
e2e_raw_image() { "$PYTHON" "$E2E_SRC/images.py" append "$@"; }    # EXE DB OUT [--size N] [--tag T]

# The meter is unplugged when frame K of the sample arrives (it takes the frame, never answers,
# and every later call on its handle fails): BOX, error icon, within MAX ms of Transfer (0: no
# limit); the meter logged frames 0..K and kept KEPT blocks; the window stays usable, and a
# second Transfer finds no device to open ("USB Port Error") and sends nothing more.
e2e_unplug_scenario() {
  local k=$1 box=$2 max=$3 kept=$4
  e2e_use_utility "$SAMPLE_EXE"
  e2e_driver installed
  e2e_meter_config "unplug-at $k"
  e2e_drive < <(
    echo 'launch ${E2E_APP}'
    echo 'wait-window'
    echo 'move 0 0'
    echo 'menu 32779'
    echo "wait-box \"$box\" error 60000 max=$max"
    echo 'ok'
    echo 'expect-no-box 1000'
    echo 'shot bar-after-unplug'
    echo 'usable'
    echo 'copy-file ${FRAMES_OUT_W} ${E2E_WORK}\frames-after-unplug.txt'
    echo 'copy-file ${DB_OUT_W} ${E2E_WORK}\db-after-unplug.bin'
    echo 'menu 32779'
    echo 'expect-box "USB Port Error" error 20000'
    echo 'expect-no-box 1000'
    echo 'shot bar-after-retry'
    echo 'usable'
    echo 'menu 32771'
    echo 'wait-exit 0'
  )
  e2e_check_bar bar-after-unplug --idle
  e2e_check_bar bar-after-retry --idle
  e2e_check_reply "$WORK/frames-after-unplug.txt" "$k" -
  e2e_check_frames --image "$APP" --frames "$WORK/frames-after-unplug.txt" --expect "upto:$k" \
    --database-out "$WORK/db-after-unplug.bin" --kept-blocks "$kept"
  # Written again at exit: nothing reached the meter after the unplug.
  e2e_check_frames --image "$APP" --frames "$FRAMES_OUT" --expect "upto:$k" \
    --database-out "$DB_OUT" --kept-blocks "$kept"
}

# ------------------------------------------------------------------ drive-script pieces
# Each prints drive steps; a scenario joins them: e2e_drive < <(e2e_steps_start; ...).

# Start the utility (E2E_LAUNCH replaces the launch step) and put its window at the corner.
e2e_steps_start() { printf '%s\n' "${E2E_LAUNCH:-launch \${E2E_APP\}}" wait-window 'move 0 0'; }

# One Transfer that ends in exactly one box, BOX with ICON ("error", "info"), then a window
# that works. Further words are the wait's options (a timeout in ms, min=, max=).
e2e_steps_transfer() {
  local box=$1 icon=$2
  shift 2
  printf '%s\n' 'menu 32779' "expect-box \"$box\" $icon ${*:-20000}" 'expect-no-box 1000' usable
}

# One Transfer whose handshake error box is dismissed, leaving a blank bar for the shot SHOT.
e2e_steps_failed_transfer() {
  local shot=$1
  shift
  printf '%s\n' 'menu 32779' "wait-box \"Error - Handshake not received\" error ${*:-30000}" ok 'expect-no-box 1000' \
    "shot $shot" usable
}

# The meter's files as they stand now, kept under NAME in the work folder.
e2e_steps_keep_frames() { printf '%s\n' "copy-file \${FRAMES_OUT_W} \${E2E_WORK}\\$1"; }

e2e_steps_exit() { printf '%s\n' 'menu 32771' 'wait-exit 0'; }

# The whole drive of a scenario with one Transfer and one box.
e2e_transfer_once() { e2e_drive < <(e2e_steps_start; e2e_steps_transfer "$@"; e2e_steps_exit); }
