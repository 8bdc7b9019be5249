#!/usr/bin/env bash
# Installs the dependencies, builds Tallivo and starts it. With a folder as
# argument on a machine without a display, counts that folder headlessly.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$top/build/src/app/tallivo" ]; then
    exec "$top/build/src/app/tallivo" "$@"
fi
exec "$top/build/src/cli/tallivo-count" --subfolders "${@:-.}"
