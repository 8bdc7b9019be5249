#!/usr/bin/env bash
# Checks that programs are hardened as Debian hardens its packages:
#     hardening.sh [--fortify] PROGRAM... [--no-fortify PROGRAM...]
# RELRO with immediate binding, the stack protector and, for the programs
# after --fortify, glibc's checked functions: what hardening-check
# (devscripts) looks for, read with readelf (binutils), which every build
# machine has.
set -uo pipefail
fortify=0
failed=0
for program in "$@"; do
    case "$program" in
        '') continue ;; # an option CMake left empty
        --fortify) fortify=1 && continue ;;
        --no-fortify) fortify=0 && continue ;;
    esac
    headers=$(readelf -W --program-headers "$program") || exit 1
    dynamic=$(readelf -W --dynamic "$program") || exit 1
    symbols=$(readelf -W --dyn-syms "$program") || exit 1
    problems=()
    grep -q GNU_RELRO <<<"$headers" || problems+=("no RELRO")
    grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).* NOW' <<<"$dynamic" ||
        problems+=("no immediate binding")
    grep -q ' __stack_chk_fail' <<<"$symbols" || problems+=("no stack protector")
    if [ "$fortify" = 1 ]; then
        grep -Eq ' __[a-z0-9_]+_chk(@| |$)' <<<"$symbols" || problems+=("no fortified functions")
    fi
    if [ ${#problems[@]} -gt 0 ]; then
        echo "$program: $(IFS=, && echo "${problems[*]}")"
        failed=1
    else
        echo "$program: hardened"
    fi
done
exit "$failed"
