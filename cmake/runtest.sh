#!/usr/bin/env bash
# Runs one QtTest executable for CTest: runtest.sh SECONDS PROGRAM [ARG...]
# A run that passed but skipped cases (QSKIP: no corpus beside the checkout,
# a tool not installed) ends with a line that the test's
# SKIP_REGULAR_EXPRESSION matches, so CTest shows it as skipped rather than
# passed. Any other outcome keeps the program's exit status: a failed case
# or a sanitizer report at exit still fails. The time limit lies below
# CTest's, so a hung test and the processes it started end here.
set -o pipefail
seconds=$1
shift
log=$(mktemp) || exit 1
trap 'rm -f "$log"' EXIT
timeout --kill-after=10 "$seconds" "$@" 2>&1 | tee "$log"
status=$?
[ "$status" = 124 ] && echo "runtest.sh: $1 ran out of its $seconds seconds"
if [ "$status" = 0 ] && grep -Eq '^Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped' "$log"; then
    echo "runtest.sh: passed with skipped cases"
fi
exit "$status"
