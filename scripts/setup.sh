#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, skipping what is already present.
# Never wine32: on this kind of machine it makes /usr/bin/wine pick a 32-bit loader that cannot run.
set -euo pipefail

packages=(
  cmake ninja-build clang libclang-rt-14-dev llvm g++ python3 python3-pefile python3-pil
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  mingw-w64-common gcc-mingw-w64-base
  wine64 fonts-wine xvfb xauth x11-utils imagemagick
  libcli11-dev nlohmann-json3-dev libftdi1-dev nettle-dev pkg-config dpkg-dev lintian man-db groff-base
  umockdev libumockdev-dev gir1.2-umockdev-1.0
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if dpkg-query -W -f='${Status}' wine32 2>/dev/null | grep -q "install ok installed"; then
  echo "setup: wine32 is installed; remove it (apt-get remove wine32), it breaks wine64 here" >&2
  exit 1
fi
echo "setup: all packages present"
