#!/usr/bin/env bash
# Installs what is missing, builds Tallivo's programs (not the tests or the
# benchmarks) and starts the window with the files and folders given:
#     scripts/run.sh [PATH...]
# On a machine without a display, tallivo-count counts the paths given, with
# their subfolders, instead. The programs are built in build/ (the window
# build/src/app/tallivo, build/src/cli/tallivo-count and the PDF worker
# build/src/pdfworker/tallivo-pdfworker), configured as scripts/test.sh
# configures it, so that the tests later add only their own steps.
# TALLIVO_JOBS: compile jobs at once (default: one per core).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
source "$top/scripts/buildfolder.sh"
check_build_folder "$build"
bash "$top/scripts/install-deps.sh"
# Once configured, the build itself configures again when a CMake file
# changes.
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTALLIVO_WERROR="${TALLIVO_WERROR:-ON}" >/dev/null
fi
# `programs` is every executable under src/ with the helpers they start.
cmake --build "$build" -j "${TALLIVO_JOBS:-$(nproc)}" --target programs
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/src/app/tallivo" ]; then
    exec "$build/src/app/tallivo" "$@"
fi
if [ $# -eq 0 ]; then
    cat >&2 <<EOT
Built. There is no display to open the window on, so give the folders or
files to count; tallivo-count then counts them with their subfolders:
    bash scripts/run.sh ~/scans /mnt/share/customer
For its other options (an export, a list of pages, a summary by paper size):
    $build/src/cli/tallivo-count --help
EOT
    exit 2
fi
exec "$build/src/cli/tallivo-count" --subfolders "$@"
