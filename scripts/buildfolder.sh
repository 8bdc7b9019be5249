# shellcheck shell=bash disable=SC2154
# Sourced by the scripts that build: checks that a build folder can be made
# or used by whoever runs the script, before CMake fails halfway with
# "Cannot open file for write". Needs $top, the top of the clone.

# check_build_folder FOLDER
check_build_folder() {
    local folder=$1 owner script qtop qfolder
    script="scripts/$(basename "$0")"
    owner=$(stat -c %U "$top")
    qtop=$(printf %q "$top")
    qfolder=$(printf %q "$folder")
    # Root's build folders in someone else's clone would stop that person's
    # own builds. Only scripts/install-deps.sh needs root.
    if [ "$(id -u)" = 0 ] && [ "$(stat -c %u "$top")" != 0 ]; then
        cat >&2 <<EOT
$script: not building as root in $top, which belongs to $owner:
the build folders would belong to root, and $owner's own builds would fail.
Only installing the packages needs root. Do that, then run this as $owner:
    sudo bash $qtop/scripts/install-deps.sh
    bash $qtop/$script
EOT
        exit 1
    fi
    local stuck
    stuck=$(find "$folder" ! -writable -print -quit 2>/dev/null || true)
    if [ -n "$stuck" ]; then
        cat >&2 <<EOT
$script: cannot write to $stuck,
which belongs to $(stat -c %U "$stuck") (an earlier run with sudo?). Delete the build folder
    sudo rm -rf $qfolder
or give it back to yourself, then run this again:
    sudo chown -R $(id -un): $qfolder
EOT
        exit 1
    fi
}
