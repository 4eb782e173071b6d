#!/usr/bin/env bash
# check_deb.sh BUILD EMULATOR: makes the .deb in BUILD, checks what it holds and depends on,
# unpacks it into a scratch root (dpkg -x) and runs `kplx --version` and `kplx list` from there,
# the latter against a meter and a cable emulated at the USB interface.
set -euo pipefail
build=$1 emulator=$2
fail() { echo "package: FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/package/kplx_*.deb)
echo "package: $deb ($(stat -c %s "$deb") bytes)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "package: Depends: $depends"
for p in libftdi1-2 libusb-1.0-0; do
  grep -Eq "(^|, )$p( |,|\$)" <<<"$depends" || fail "no dependency on $p"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/kplx ./usr/share/man/man1/kplx.1.gz ./usr/lib/udev/rules.d/60-kplx.rules; do
  grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
version=$("$root/usr/bin/kplx" --version)
[ "$version" = "kplx 1.0.0" ] || fail "kplx --version said: $version"
echo "package: $version"
grep -q 'ATTR{idVendor}=="0403", ATTR{idProduct}=="6001"' "$root/usr/lib/udev/rules.d/60-kplx.rules" || fail "udev rule"
zcat "$root/usr/share/man/man1/kplx.1.gz" | grep -q '^.SH EXIT STATUS' || fail "man page"

printf 'device meter\nversion KPLX Meter V2.10\ndevice cable\n' >"$root/sim.cfg"
listing=$(KPLX_SIM_CONFIG="$root/sim.cfg" "$emulator" -- "$root/usr/bin/kplx" list)
echo "$listing" | sed 's/^/package: | /'
grep -q '^0 *KP000001 *Quorvel KPLX *yes *KPLX Meter V2.10$' <<<"$listing" || fail "kplx list did not show the meter"
grep -q '^1 *FT000002 *FT232R USB UART *no *-$' <<<"$listing" || fail "kplx list did not show the cable"
echo "package: PASS"
