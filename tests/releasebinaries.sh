#!/usr/bin/env bash
# Checks that the programs carry nothing meant only for the build tree:
#     releasebinaries.sh BUILD_DIR WORKER PROGRAM...
# The worker holds none of the faults the tests switch on, and no program
# names the build folder (debug information aside, which names it anyway).
set -uo pipefail
build=$1
worker=$2
shift 2
stripped=$(mktemp) || exit 1
trap 'rm -f "$stripped"' EXIT
failed=0
for program in "$worker" "$@"; do
    [ -n "$program" ] || continue
    objcopy --strip-debug "$program" "$stripped" || exit 1
    words=("$build")
    if [ "$program" = "$worker" ]; then
        words+=(TALLIVO_PDFWORKER_TEST_FAULTS TALLIVO-TEST-FAULT --test-faults)
    fi
    problems=()
    for word in "${words[@]}"; do
        grep -qaF -e "$word" "$stripped" && problems+=("holds \"$word\"")
    done
    if [ ${#problems[@]} -gt 0 ]; then
        echo "$program: $(IFS=, && echo "${problems[*]}")"
        failed=1
    else
        echo "$program: clean"
    fi
done
exit "$failed"
