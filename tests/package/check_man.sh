#!/usr/bin/env bash
# check_man.sh MANPAGE KPLX: the man page renders without a warning, has the sections users
# look for, never hyphenates an option in the synopsis, and documents no option or exit code
# that kplx itself does not have.
set -euo pipefail
page=$1 kplx=$2
fail() { echo "man: FAIL: $*"; exit 1; }

warnings=$(man --warnings -l "$page" 2>&1 >/dev/null) || fail "man could not render $page"
[ -z "$warnings" ] || fail "man --warnings: $warnings"

render() { MANWIDTH=$1 man -l "$page" 2>/dev/null; }
text=$(render 80)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" SIGNALS JSON ENVIRONMENT FILES; do
  grep -qx "$section" <<<"$text" || fail "no $section section"
done

# A hyphen at a line's end in the synopsis splits an option; an option apart from its
# argument reads as two. Narrow terminals break lines the most.
for width in 45 60 80; do
  synopsis=$(render "$width" | sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/p')
  ! grep -nE -- '[-‐]$' <<<"$synopsis" || fail "synopsis hyphenated at width $width"
  for group in "[--retries N]" "[--latency MS]" "[-s SERIAL]" "[-p LOCATION]" "[-a | --all [--expect N]]" \
    "[--wait SECONDS]" "[--watch [--count N]]" "[--jobs N]" "[--log FILE [--station NAME]]" "[-q | --quiet]" "-o OUT"; do
    grep -qF -- "$group" <<<"$synopsis" || fail "'$group' broken across lines at width $width"
  done
done

# Every option the synopsis shows, kplx accepts (the removed --no-event-char among them).
help=$("$kplx" --help; for c in load list info pack completion; do "$kplx" "$c" --help; done)
synopsis=$(render 200 | sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/p')
for option in $(grep -oE -- '(^|[[ ])--?[a-z][a-z-]*' <<<"$synopsis" | tr -d '[ ' | sort -u); do
  grep -qE -- "(^|[ ,])$option([ ,=]|$)" <<<"$help" || fail "the synopsis shows $option, which kplx does not have"
done
! grep -qE 'no-event-char|eventChar' <<<"$text" || fail "the removed event character option is still described"

# The exit codes --help lists are the ones EXIT STATUS lists.
status=$(sed -n '/^EXIT STATUS$/,/^SIGNALS$/p' <<<"$text" | grep -oE '^       [0-9]+ ' | tr -d ' ' | sort -n | tr '\n' ' ')
codes=$("$kplx" --help | sed -n '/^Exit codes:/,/^$/p' | grep -oE '^  [0-9]+ ' | tr -d ' ' | sort -n | tr '\n' ' ')
[ -n "$codes" ] || fail "kplx --help lists no exit codes"
[ "$status" = "$codes" ] || fail "EXIT STATUS lists '$status', kplx --help '$codes'"
echo "man: PASS"
