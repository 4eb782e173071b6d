#!/usr/bin/env bash
# check_install.sh SOURCE BUILD: `cmake --install` puts the udev rule where udev reads rules,
# whatever the prefix (udev never looks under /usr/local), and takes that folder from udev's
# pkg-config file when there is one.
set -euo pipefail
source=$1 build=$2
fail() { echo "install: FAIL: $*"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Where this build's configuration put the rule: udev's folder here, or the fallback.
expected=/lib/udev/rules.d
if udevdir=$(pkg-config --variable=udevdir udev 2>/dev/null) && [ -n "$udevdir" ]; then
  expected=$udevdir/rules.d
fi

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr/local >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "cmake --install"; }
[ -x "$scratch/root/usr/local/bin/kplx" ] || fail "kplx is not under the prefix"
[ -f "$scratch/root$expected/60-kplx.rules" ] ||
  fail "the rule is not in $expected: $(cd "$scratch/root" && find . -name 60-kplx.rules)"
[ -z "$(find "$scratch/root/usr/local" -name '*.rules')" ] || fail "a rule was installed under the prefix"
echo "install: prefix /usr/local, rule in $expected"

# The folder comes from pkg-config udev when udev says where it is, from the fallback when not
# (a udev.pc found first on the path decides, whatever the system has).
mkdir -p "$scratch/pc" "$scratch/none"
printf 'udevdir=/usr/lib/udev\n\nName: udev\nDescription: udev\nVersion: 252\n' >"$scratch/pc/udev.pc"
printf 'Name: udev\nDescription: udev\nVersion: 252\n' >"$scratch/none/udev.pc"
configure() {
  PKG_CONFIG_PATH="$1" cmake -S "$source" -B "$scratch/build-$2" -G Ninja -DKPLX_PACKAGE=ON \
    -DKPLX_SIM_BACKEND=OFF -DCMAKE_INSTALL_PREFIX=/usr/local 2>&1 | grep 'kplx: the udev rule installs to' || true
}
said=$(configure "$scratch/pc" udev)
[ "$said" = "-- kplx: the udev rule installs to /usr/lib/udev/rules.d" ] || fail "with udev.pc: $said"
said=$(configure "$scratch/none" none)
[ "$said" = "-- kplx: the udev rule installs to /lib/udev/rules.d" ] || fail "without udev.pc: $said"
echo "install: udev.pc with udevdir /usr/lib/udev: /usr/lib/udev/rules.d; without udevdir: /lib/udev/rules.d"
echo "install: PASS"
