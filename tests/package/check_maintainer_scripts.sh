#!/usr/bin/env bash
# check_maintainer_scripts.sh PACKAGING: postinst and postrm, run as dpkg runs them, with a
# stand-in udevadm that records its calls. Where udev runs (/run/udev) they reload the rules
# and trigger the meters' bridges, and a failing udevadm does not fail the package; in a
# chroot or container without udev, or without udevadm, they do nothing and succeed.
# /run/udev is faked in a private mount namespace, so the machine's own /run is not touched.
set -euo pipefail
packaging=$1
fail() { echo "maintainer scripts: FAIL: $*" >&2; exit 1; }
if ! unshare --mount true 2>/dev/null; then
  echo "maintainer scripts: SKIP: cannot make a private mount namespace here (needs root)"
  exit 77
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/failing" "$scratch/empty"
cat >"$scratch/bin/udevadm" <<STUB
#!/bin/sh
echo "\$*" >>"$scratch/calls"
STUB
printf '#!/bin/sh\necho "$*" >>"%s/calls"\nexit 1\n' "$scratch" >"$scratch/failing/udevadm"
chmod +x "$scratch/bin/udevadm" "$scratch/failing/udevadm"

reload='control --reload-rules'
trigger='trigger --subsystem-match=usb --attr-match=idVendor=0403 --attr-match=idProduct=6001 --action=change'

# run UDEV(yes|no) PATHDIR SCRIPT ARG: the calls udevadm saw, one a line; fails if the script does.
run() {
  local udev=$1 path=$2 script=$3 arg=$4
  rm -f "$scratch/calls"
  unshare --mount sh -c '
    mount -t tmpfs kplx-test /run
    [ "$1" = yes ] && mkdir /run/udev
    PATH="$2" /bin/sh "$3" "$4"' sh "$udev" "$path" "$packaging/$script" "$arg" ||
    fail "$script $arg exited $? (udev: $udev, udevadm from $path)"
  cat "$scratch/calls" 2>/dev/null || true
}

expect() {
  local what=$1 got=$2 want=$3
  [ "$got" = "$want" ] || fail "$what: udevadm saw [$got], expected [$want]"
}

both=$(printf '%s\n%s' "$reload" "$trigger")
expect "postinst configure" "$(run yes "$scratch/bin" postinst configure)" "$both"
expect "postrm remove" "$(run yes "$scratch/bin" postrm remove)" "$both"
expect "postrm purge" "$(run yes "$scratch/bin" postrm purge)" "$both"
expect "postrm upgrade (postinst follows)" "$(run yes "$scratch/bin" postrm upgrade)" ""
expect "postinst configure, failing udevadm" "$(run yes "$scratch/failing" postinst configure)" "$both"
expect "postrm remove, failing udevadm" "$(run yes "$scratch/failing" postrm remove)" "$both"
for script in "postinst configure" "postrm remove"; do
  expect "$script without udev" "$(run no "$scratch/bin" $script)" ""
  expect "$script without udevadm" "$(run yes "$scratch/empty" $script)" ""
done
echo "maintainer scripts: PASS"
