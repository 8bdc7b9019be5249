#!/usr/bin/env bash
# Installs what is missing, checks the formatting of the C++ sources, builds
# Tallivo with warnings as errors and runs the whole test suite: first in a
# normal build, then under AddressSanitizer and UBSan, then the run's
# threads under ThreadSanitizer (TALLIVO_SKIP_SANITIZE=1 skips both), then
# each fuzz target for a few seconds (TALLIVO_SKIP_FUZZ=1 skips that).
# TALLIVO_WERROR=OFF lets warnings pass, for trying another compiler.
# TALLIVO_JOBS: compile and test jobs at once (default: one per core).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/buildfolder.sh"
for folder in build build-asan build-tsan build-fuzz; do
    check_build_folder "$top/$folder"
done
bash "$top/scripts/install-deps.sh" clang-format-14
jobs=${TALLIVO_JOBS:-$(nproc)}
export TALLIVO_WERROR=${TALLIVO_WERROR:-ON}

# The formatting .clang-format asks for, with the clang-format it was
# written for; the check changes no file.
mapfile -d '' sources < <(find "$top/src" "$top/tests" "$top/bench" "$top/fuzz" \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
clang-format-14 --dry-run --Werror "${sources[@]}"

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALLIVO_WERROR="$TALLIVO_WERROR"
cmake --build "$top/build" -j "$jobs"
(cd "$top/build" && ctest --output-on-failure -j "$jobs")

if [ "${TALLIVO_SKIP_SANITIZE:-0}" != 1 ]; then
    cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DTALLIVO_SANITIZE=ON -DTALLIVO_BUILD_BENCH=OFF -DTALLIVO_WERROR="$TALLIVO_WERROR"
    cmake --build "$top/build-asan" -j "$jobs"
    (
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        export LSAN_OPTIONS=suppressions="$top/scripts/lsan.supp"
        cd "$top/build-asan" && ctest --output-on-failure -j "$jobs"
    )

    # The run's threads under ThreadSanitizer: the headless libraries and
    # these tests of them only.
    tsan_tests=(tst_blockreader tst_localpath tst_walk tst_pagecount tst_fileitem tst_collectionrun)
    cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTALLIVO_TSAN=ON -DTALLIVO_BUILD_GUI=OFF -DTALLIVO_BUILD_BENCH=OFF \
        -DTALLIVO_WERROR="$TALLIVO_WERROR"
    cmake --build "$top/build-tsan" -j "$jobs" --target "${tsan_tests[@]}"
    (
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$top/scripts/tsan.supp"
        cd "$top/build-tsan" &&
            ctest --output-on-failure -j "$jobs" -R "^($(IFS='|' && echo "${tsan_tests[*]}"))\$"
    )
fi

if [ "${TALLIVO_SKIP_FUZZ:-0}" != 1 ]; then
    # A smoke run: about ten seconds per target.
    TALLIVO_FUZZ_JOBS="$jobs" bash "$top/scripts/fuzz.sh" "${TALLIVO_FUZZ_SECONDS:-10}"
fi
