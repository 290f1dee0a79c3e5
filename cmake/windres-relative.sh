#!/usr/bin/env bash
# Runs windres (the first argument) with every path it is given made relative to the build
# folder. windres hands its preprocessor one command line through the shell, which splits paths
# at spaces and expands a $ in them; relative to the build folder, the project's paths hold
# neither, whatever the folder the clone is in is called.
#   windres-relative.sh WINDRES ARGS...
set -euo pipefail
args=("$1")
shift
for argument in "$@"; do
    if [ -e "$argument" ]; then argument="$(realpath -s --relative-to=. "$argument")"; fi
    args+=("$argument")
done
exec "${args[@]}"
