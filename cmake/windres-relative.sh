#!/usr/bin/env bash
# Runs windres (the first argument) in the build folder with every path it is given made relative
# to it: a source's through the build folder's link to the sources (source/), a path in the build
# folder as it stands. windres hands its preprocessor one command line through the shell, which
# splits paths at spaces and expands a $ in them; so named, the project's paths hold neither,
# whatever the folder the clone is in is called, and wherever build/ leads.
#   windres-relative.sh WINDRES ARGS...
set -euo pipefail
here="$(pwd -P)" sources="$(realpath source)"
args=("$1")
shift
for argument in "$@"; do
    if [ -e "$argument" ]; then
        argument="$(realpath "$argument")"
        if [[ "$argument" == "$here/"* ]]; then
            argument="${argument#"$here/"}"
        elif [[ "$argument" == "$sources/"* ]]; then
            argument="source/${argument#"$sources/"}"
        fi
    fi
    args+=("$argument")
done
exec "${args[@]}"
