#!/usr/bin/env bash
# Runs one end-to-end scenario: run_scenario.sh NAME (scenarios/NAME.sh). Uses the prefix in
# E2E_PREFIX when ctest's setup made one, else a fresh one of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
name=${1:?usage: run_scenario.sh NAME}
[ -f "$here/scenarios/$name.sh" ] || { echo "no scenario $name"; ls "$here/scenarios"; exit 2; }
# shellcheck source=lib.sh
. "$here/lib.sh"
e2e_begin "$name"
# shellcheck disable=SC1090
. "$here/scenarios/$name.sh"
e2e_check_no_decoy
