#!/usr/bin/env bash
# prefix.sh setup|cleanup: the Wine prefix shared by the scenarios of one ctest run (E2E_PREFIX).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
: "${E2E_PREFIX:?E2E_PREFIX must name the prefix folder}"
case ${1:-} in
  setup) e2e_prefix_make "$E2E_PREFIX" ;;
  cleanup) e2e_prefix_remove "$E2E_PREFIX" ;;
  *) echo "usage: prefix.sh setup|cleanup"; exit 2 ;;
esac
