# kplx.exe under wine64, the files it refuses and the files it writes. load and info refuse a
# folder, the NUL device and a missing file (exit 2, the reason, nothing sent to the meter);
# pack refuses swapped arguments and a utility that is not a Windows program (exit 2, nothing
# written); a pack that succeeds, also over an existing output, leaves its output and no
# temporary file, byte for byte what the Linux kplx packs.
e2e_driver installed
e2e_meter_config
cp "$E2E_BUILD/bin/kplx.exe" "$WORK/kplx.exe"
kplx_exe=$(e2e_win "$WORK/kplx.exe")
files=$WORK/files
mkdir -p "$files/folder"
cp "$UTILITY" "$files/utility.exe"
cp "$SAMPLE_DB" "$files/meter.db"
printf 'not a program\r\n' >"$files/notes.exe"

# refused WHAT REASON ARGS...: exit 2, REASON on stderr.
refused() {
  local what=$1 reason=$2 rc=0
  shift 2
  e2e_wine 60 "$kplx_exe" "$@" >"$OUT/run.out" 2>"$OUT/run.err" || rc=$?
  [ "$rc" -eq 2 ] || e2e_die "$what: exit $rc, expected 2: $(cat "$OUT/run.err")"
  grep -qF -- "$reason" "$OUT/run.err" || e2e_die "$what said: $(cat "$OUT/run.err")"
  e2e_log "ok: $what: $(tr -d '\r' <"$OUT/run.err")"
}

refused "load a folder" "is a directory" load "$(e2e_win "$files/folder")"
refused "load NUL" "is a character device" load NUL
refused "load --raw NUL" "is a character device" load --raw NUL
refused "load a missing file" "cannot open" load "$(e2e_win "$files/absent.exe")"
refused "info a folder" "is a directory" info "$(e2e_win "$files/folder")"
e2e_check_no_frames

before=$(ls "$files")
refused "pack with UTILITY and DATABASE swapped" "are they swapped?" \
  pack "$(e2e_win "$files/meter.db")" "$(e2e_win "$files/utility.exe")" -o "$(e2e_win "$files/out.exe")"
refused "pack a text file as UTILITY" "is not a Windows program: it begins \"not a pr" \
  pack "$(e2e_win "$files/notes.exe")" "$(e2e_win "$files/meter.db")" -o "$(e2e_win "$files/out.exe")"
refused "pack NUL as DATABASE" "is a character device" \
  pack "$(e2e_win "$files/utility.exe")" NUL -o "$(e2e_win "$files/out.exe")"
[ "$(ls "$files")" = "$before" ] || e2e_die "a refused pack left files: $(ls "$files")"
e2e_log "ok: refused packs wrote nothing"

e2e_pack "$SAMPLE_DB" "$OUT/linux-packed.exe"
printf 'an older output, longer than none\n' >"$files/out.exe"
for round in "over an older output" "over its own"; do
  e2e_wine 60 "$kplx_exe" pack "$(e2e_win "$files/utility.exe")" "$(e2e_win "$files/meter.db")" \
    -o "$(e2e_win "$files/out.exe")" >"$OUT/pack.out" 2>"$OUT/pack.err" || e2e_die "pack ($round): $(cat "$OUT/pack.err")"
  cmp -s "$files/out.exe" "$OUT/linux-packed.exe" || e2e_die "pack ($round) wrote other bytes than the Linux kplx"
  [ "$(ls "$files" | tr '\n' ' ')" = "folder meter.db notes.exe out.exe utility.exe " ] ||
    e2e_die "pack ($round) left: $(ls "$files" | tr '\n' ' ')"
done
e2e_log "ok: pack wrote the Linux kplx's bytes, over an older output too, and no temporary file"
