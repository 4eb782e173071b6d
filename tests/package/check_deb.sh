#!/usr/bin/env bash
# check_deb.sh BUILD EMULATOR: makes the .deb in BUILD and checks it as Debian would: what it
# holds and depends on, the udev rule in udev's own folder, the maintainer scripts, copyright
# and changelog, lintian without errors, the man page; then unpacks it into a scratch root
# (dpkg -x) and runs `kplx --version` and `kplx list` from there, the latter against a meter
# and a cable emulated at the USB interface.
set -euo pipefail
build=$1 emulator=$2
fail() { echo "package: FAIL: $*"; exit 1; }

rm -f "$build"/package/kplx_*.deb   # one package to check: none left from an older version
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/package/kplx_*.deb)
echo "package: $deb ($(stat -c %s "$deb") bytes)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "package: Depends: $depends"
for p in libftdi1-2 libusb-1.0-0; do
  grep -Eq "(^|, )$p( |,|\$)" <<<"$depends" || fail "no dependency on $p"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/kplx ./usr/share/man/man1/kplx.1.gz ./usr/share/doc/kplx/copyright \
         ./usr/share/doc/kplx/changelog.Debian.gz ./usr/share/bash-completion/completions/kplx; do
  grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done
# udev reads /lib/udev/rules.d (Debian 12; /usr/lib/udev/rules.d where /lib is merged), never
# a rule under /usr/local or /etc from a package.
rule=$(grep -oE ' \./(usr/)?lib/udev/rules\.d/60-kplx\.rules$' <<<"$contents" | sed 's/^ \.//') ||
  fail "the udev rule is not in udev's rules folder: $(grep -o ' \./.*60-kplx.rules$' <<<"$contents" || echo absent)"
echo "package: udev rule $rule"

# Maintainer scripts: present, runnable, applying the rule only where udev runs.
control=$(mktemp -d)
root=$(mktemp -d)
trap 'rm -rf "$control" "$root"' EXIT
dpkg-deb -e "$deb" "$control"
for script in postinst postrm; do
  [ -x "$control/$script" ] || fail "no executable $script"
  grep -q 'udevadm control --reload-rules' "$control/$script" || fail "$script does not reload the rules"
  grep -q 'udevadm trigger --subsystem-match=usb' "$control/$script" || fail "$script does not trigger USB devices"
  grep -q '/run/udev' "$control/$script" || fail "$script is not guarded for a system without udev"
done

dpkg -x "$deb" "$root"
grep -q 'ATTR{idVendor}=="0403", ATTR{idProduct}=="6001", MODE="0660", GROUP="plugdev", TAG+="uaccess"' \
  "$root$rule" || fail "the rule does not give the seat and plugdev the meters"
grep -q 'ATTR{idVendor}=="0403", ATTR{idProduct}=="6001", ENV{ID_MM_DEVICE_IGNORE}="1"' "$root$rule" ||
  fail "the rule does not hide the meters from ModemManager"

# copyright: machine-readable, and the licenses of the libraries compiled in.
copyright="$root/usr/share/doc/kplx/copyright"
head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright is not in the machine-readable format"
for license in proprietary BSD-3-clause Expat; do
  grep -qx "License: $license" "$copyright" || fail "copyright lacks the $license license text"
done
grep -q '^Files: CLI/\*' "$copyright" || fail "copyright does not name CLI11"
grep -q '^Files: nlohmann/\*' "$copyright" || fail "copyright does not name nlohmann-json"

# changelog.Debian.gz: gzip -9n (no name or time in the header), for this very version.
changelog="$root/usr/share/doc/kplx/changelog.Debian.gz"
[ "$(od -An -tx1 -j4 -N4 "$changelog" | tr -d ' ')" = 00000000 ] || fail "changelog.Debian.gz carries a timestamp"
version=$(dpkg-deb -f "$deb" Version)
logged=$(zcat "$changelog" | dpkg-parsechangelog -l - -S Version)
[ "$logged" = "$version" ] || fail "changelog says $logged, the package $version"

# lintian: errors fail the package; warnings are fixed or overridden with a reason.
lint_status=0
lint=$(lintian --fail-on error "$deb" 2>&1) || lint_status=$?
lint=$(grep -v '^running with root privileges is not recommended!$' <<<"$lint" || true)
[ -z "$lint" ] || echo "$lint" | sed 's/^/package: lintian: /'
[ "$lint_status" -eq 0 ] || fail "lintian reported errors (exit $lint_status)"

man_warnings=$(man --warnings -l "$root/usr/share/man/man1/kplx.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "man --warnings: $man_warnings"

kplx_version=$("$root/usr/bin/kplx" --version)
[ "$kplx_version" = "kplx ${version%-*}" ] || fail "kplx --version said: $kplx_version (package $version)"
echo "package: $kplx_version"
# The installed completion is the one this kplx makes of its own command line.
cmp -s <("$root/usr/bin/kplx" completion bash) "$root/usr/share/bash-completion/completions/kplx" ||
  fail "the installed bash completion is not kplx's own"

printf 'device meter\nversion KPLX Meter V2.10\ndevice cable\n' >"$root/sim.cfg"
listing=$(KPLX_SIM_CONFIG="$root/sim.cfg" "$emulator" -- "$root/usr/bin/kplx" list)
echo "$listing" | sed 's/^/package: | /'
grep -q '^0 *1-1 *KP000001 *Quorvel KPLX *yes *KPLX Meter V2.10$' <<<"$listing" || fail "kplx list did not show the meter"
grep -q '^1 *1-2 *FT000002 *FT232R USB UART *no *-$' <<<"$listing" || fail "kplx list did not show the cable"
echo "package: PASS"
