#!/bin/bash
# Runs list_devices.exe under wine64 against the simulated Ftd2xx.dll, with two meters and a
# cable there from the start, a meter plugged in 1 ms after the process started (long before
# its first call) and one plugged in only after 24 days; then against the copy lacking
# FT_SetTimeouts, and the one without the functions bound by name.
# Usage: run_list_devices.sh EXE DLL MISSING17_DLL BASIC_DLL
set -u
exe=$1 dll=$2 broken=$3 basic=$4
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

tmp=$(mktemp -d)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { timeout 30 "$wineserver" -k >/dev/null 2>&1; rm -rf "$tmp"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

mkdir -p "$tmp/app" "$tmp/broken" "$tmp/basic"
cp "$exe" "$dll" "$tmp/app/" && cp "$exe" "$tmp/broken/" && cp "$broken" "$tmp/broken/" &&
  cp "$exe" "$tmp/basic/" && cp "$basic" "$tmp/basic/" || fail "copy"
cat >"$tmp/sim.cfg" <<CFG
time-scale 0.1
device meter
description Meter A
frames-out $(winpath "$tmp/frames.txt")
device cable
device meter
serial KP000777
version KPLX Meter V3.01
device meter
port 1-4.2
plug-in-at 1
device meter
plug-in-at 0x7FFFFFFF
CFG
export KPLX_SIM_CONFIG
KPLX_SIM_CONFIG=$(winpath "$tmp/sim.cfg")

timeout 120 "$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot"

(cd "$tmp/app" && timeout 60 "$wine" list_devices.exe Ftd2xx.dll) >"$tmp/out" 2>"$tmp/err"
code=$?
tr -d '\r' <"$tmp/out" >"$tmp/listing"
cat "$tmp/listing"
[ $code -eq 0 ] || { cat "$tmp/err"; fail "exit code $code"; }
cat >"$tmp/expected" <<OUT
devices 4
0 type=5 id=04036001 serial=KP000001 description=Meter A eeprom=FTDI/Meter A dtr=1 cbus4=5 version=KPLX Meter V2.10
1 type=5 id=04036001 serial=FT000002 description=FT232R USB UART eeprom=FTDI/FT232R USB UART dtr=0 cbus4=1 version=none
2 type=5 id=04036001 serial=KP000777 description=Quorvel KPLX eeprom=FTDI/Quorvel KPLX dtr=1 cbus4=5 version=KPLX Meter V3.01
3 type=5 id=04036001 serial=KP000004 description=Quorvel KPLX eeprom=FTDI/Quorvel KPLX dtr=1 cbus4=5 version=KPLX Meter V2.10
info 4
info 0 flags=1 type=5 id=04036001 loc=0 serial=KP000001 description=Meter A handle=ours
info 1 flags=0 type=5 id=04036001 loc=12 serial=FT000002 description=FT232R USB UART handle=none
info 2 flags=0 type=5 id=04036001 loc=13 serial=KP000777 description=Quorvel KPLX handle=none
info 3 flags=0 type=5 id=04036001 loc=142 serial=KP000004 description=Quorvel KPLX handle=none
OUT
diff "$tmp/expected" "$tmp/listing" || fail "listing differs"
# The frame log is complete once the device is closed.
grep -Eq '^[0-9.]+ 1 020756455253494F4ED2 [0-9.]+ [0-9.]+ 06' "$tmp/frames.txt" || fail "frame log: $(cat "$tmp/frames.txt")"

(cd "$tmp/broken" && timeout 60 "$wine" list_devices.exe Ftd2xx.dll) >"$tmp/out" 2>&1
code=$?
tr -d '\r' <"$tmp/out" >"$tmp/listing"
[ $code -eq 2 ] && grep -qx 'missing ordinal 17' "$tmp/listing" || fail "broken library: code $code, $(cat "$tmp/listing")"

(cd "$tmp/basic" && timeout 60 "$wine" list_devices.exe Ftd2xx.dll) >"$tmp/out" 2>&1
code=$?
tr -d '\r' <"$tmp/out" >"$tmp/listing"
[ $code -eq 0 ] && [ "$(tail -n 1 "$tmp/listing")" = "info none" ] || fail "basic library: code $code, $(cat "$tmp/listing")"
echo "PASS"
