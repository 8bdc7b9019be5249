#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# while: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Targets are the names of fuzz/fuzz_NAME.cpp (all of them by default). Each
# run starts from fuzz/seeds/NAME and fuzz/regressions/NAME (and, for page
# counting, the shared corpus beside the repository) and keeps what it learns
# in build-fuzz/corpus/NAME. A crash stops the script with the input in
# build-fuzz/findings/NAME/; once fixed, copy it to fuzz/regressions/NAME/ so
# the replay test keeps it. TALLIVO_WERROR=ON (as scripts/test.sh sets it)
# makes warnings errors.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true

# clang 16, as Debian 12 ships it (with fuzz/qpdfjsonshim.h for qpdf's
# headers). -fsanitize=fuzzer needs its runtime libraries besides the
# compiler, and the sanitizers' reports the symbolizer.
llvm=16
bash "$top/scripts/install-deps.sh" "clang-$llvm" "libclang-rt-$llvm-dev" "llvm-$llvm"
source "$top/scripts/buildfolder.sh"

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in "$top"/fuzz/fuzz_*.cpp; do
        name=$(basename "$source" .cpp)
        targets+=("${name#fuzz_}")
    done
fi

build="$top/build-fuzz"
check_build_folder "$build"
compiler=$(command -v "clang++-$llvm")
# CMake keeps the compiler it first found: a folder configured with another
# one is configured anew (its corpus and findings stay).
if [ -f "$build/CMakeCache.txt" ] &&
    ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$compiler" "$build/CMakeCache.txt"; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$compiler" \
    -DTALLIVO_BUILD_FUZZ=ON -DTALLIVO_BUILD_TESTS=OFF -DTALLIVO_BUILD_BENCH=OFF \
    -DTALLIVO_WERROR="${TALLIVO_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "${TALLIVO_FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}"

# The page count asks the worker of this build, whatever is installed.
export TALLIVO_PDFWORKER="$build/src/pdfworker/tallivo-pdfworker"
export ASAN_SYMBOLIZER_PATH="/usr/lib/llvm-$llvm/bin/llvm-symbolizer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions="$top/scripts/lsan.supp"
export QT_QPA_PLATFORM=offscreen
corpus_shared="$top/../shared/corpus"
for name in "${targets[@]}"; do
    corpus="$build/corpus/$name"
    findings="$build/findings/$name"
    mkdir -p "$corpus" "$findings"
    inputs=("$corpus")
    for dir in "$top/fuzz/seeds/$name" "$top/fuzz/regressions/$name"; do
        [ -d "$dir" ] && inputs+=("$dir")
    done
    case "$name" in
        pagecount | pdf* | tiff*) [ -d "$corpus_shared" ] && inputs+=("$corpus_shared") ;;
    esac
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
        -artifact_prefix="$findings/" -print_final_stats=1)
    [ -f "$top/fuzz/$name.dict" ] && options+=(-dict="$top/fuzz/$name.dict")
    echo "== fuzz_$name for ${seconds}s"
    "$build/fuzz/fuzz_$name" "${options[@]}" "${inputs[@]}" 2>"$build/fuzz_$name.log" || {
        tail -n 60 "$build/fuzz_$name.log"
        echo "fuzz_$name found a failure: see $findings/" >&2
        exit 1
    }
    grep -E '^stat::number_of_executed_units|^Done|^fuzz_[a-z]+: ' "$build/fuzz_$name.log" || true
done
