#!/usr/bin/env bash
# Runs every fuzz target of a KPLX_FUZZ build for a bounded time on a scratch copy of its seed
# corpus (the tree's corpus is never written), then prints executions per target.
# Fails when any target crashes or breaks an invariant; the reproducer is kept and named.
#   tests/fuzz/run_bounded.sh BUILD_DIR [SECONDS_PER_TARGET]   (default 10)
set -uo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [SECONDS_PER_TARGET]" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
targets="fuzz_trailer fuzz_packet fuzz_command_line fuzz_transfer_reply fuzz_version_reply fuzz_ft232r_eeprom"

work=$(mktemp -d "${TMPDIR:-/tmp}/kplx-fuzz.XXXXXX")
keep=0
cleanup() { [ "$keep" -eq 1 ] || rm -rf "$work"; }
trap cleanup EXIT

status=0
summary=""
for t in $targets; do
    bin="$build/tests/fuzz/$t"
    if [ ! -x "$bin" ]; then
        echo "missing $bin (configure with: cmake --preset fuzz)" >&2
        summary+=$(printf '%-22s %12s %8s  %s' "$t" "-" "-" "NOT BUILT")$'\n'
        status=1
        continue
    fi
    corpus="$work/$t/corpus"
    artifacts="$work/$t/artifacts"
    mkdir -p "$corpus" "$artifacts"
    if [ -d "$here/corpus/$t" ]; then
        cp "$here/corpus/$t/"* "$corpus/" 2>/dev/null || true
    fi
    log="$work/$t/log"
    echo "=== $t: ${seconds}s"
    # -timeout: one input running this long is a hang. Every read is on the virtual clock,
    # so a legitimate input takes milliseconds.
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
    rc=$?
    done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1)
    runs=$(echo "$done_line" | sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\1/')
    secs=$(echo "$done_line" | sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\2/')
    if [ -z "$done_line" ]; then
        # A crash ends the run before the "Done" line; count what the stats saw.
        runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' | tail -1)
        secs="-"
    fi
    if [ "$rc" -eq 0 ]; then
        verdict="ok"
    else
        verdict="FAILED (exit $rc)"
        status=1
        keep=1
        tail -n 40 "$log" | grep -vE '^ *#[0-9]+ 0x' | tail -n 25
        for a in "$artifacts"/*; do
            [ -e "$a" ] && verdict+=" reproducer: $a"
        done
        verdict+=" log: $log"
    fi
    summary+=$(printf '%-22s %12s %8s  %s' "$t" "${runs:-?}" "${secs:-?}" "$verdict")$'\n'
done

echo
printf '%-22s %12s %8s  %s\n' "target" "executions" "seconds" "result"
printf '%s' "$summary"
if [ "$status" -ne 0 ]; then
    echo "reproducers and logs kept in $work; replay one with: BIN FILE"
fi
exit "$status"
