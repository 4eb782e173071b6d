# The x64 release zip, unpacked as a user would, runs under wine64: kplx.exe --version, and
# kplx.exe list through the D2XX library in the system folder (the simulated one standing in).
(cd "$E2E_BUILD" && cmake --build . --target kplx kplx-loader kplx_manual_text >/dev/null &&
  cpack -G ZIP >"$OUT/cpack.log" 2>&1) || e2e_die "cpack: $(tail -5 "$OUT/cpack.log")"
zip=$(ls "$E2E_BUILD"/package/kplx-*-windows-x64.zip)
"$PYTHON" "$E2E_SRC/../release/check_zip.py" "$zip" x64 >"$OUT/check_zip.log" || e2e_die "$(cat "$OUT/check_zip.log")"
"$PYTHON" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$WORK/unpacked"
kplx_exe=$(e2e_win "$(ls -d "$WORK"/unpacked/kplx-*-windows-x64)/kplx.exe")

version=$(e2e_wine 60 "$kplx_exe" --version | tr -d '\r') || e2e_die "kplx.exe --version failed"
[[ $version =~ ^kplx\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || e2e_die "kplx.exe --version said: $version"
e2e_log "ok: $version"

e2e_driver installed
e2e_meter_config
e2e_wine 60 "$kplx_exe" list >"$OUT/list.out" 2>"$OUT/list.err" || e2e_die "kplx.exe list failed: $(cat "$OUT/list.err")"
grep -q "KP000001 .*Quorvel KPLX .*yes" "$OUT/list.out" || e2e_die "kplx.exe list: $(cat "$OUT/list.out")"
e2e_log "ok: kplx.exe from the zip lists the meter"
# What ships has no simulator backend to fall back on.
rc=0
KPLX_BACKEND=sim e2e_wine 60 "$kplx_exe" list >/dev/null 2>"$OUT/sim.err" || rc=$?
grep -q "not available in this build (it has: d2xx)" "$OUT/sim.err" || e2e_die "KPLX_BACKEND=sim: exit $rc, $(cat "$OUT/sim.err")"
e2e_log "ok: no simulator backend in what ships"
