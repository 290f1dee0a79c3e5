#!/usr/bin/env bash
# Process 1 of a command's namespace (scripts/lib/command.sh draws the whole): mounts a /tmp of
# its own, leaves there the mark Wine checks (scripts/lib/inside.sh), installs as root, then runs
# the command's steps and waits. It answers SIGINT, SIGQUIT, SIGTERM and SIGHUP at once: the
# kernel gives a namespace's first process only the signals it handles, and bash runs a handler
# only while it waits, not while a command runs in its foreground. When it ends, the kernel ends
# every process of the namespace.
#   init.sh NAME yes|no(install) [KEPT_PATH...] -- [ARGS...]
set -euo pipefail
exec 2>&8 8>&-
trap 'echo ended >&7' EXIT # to command.sh: no SIGKILL ended it
# shellcheck disable=SC2064 # the status is fixed now
for signal in INT:130 QUIT:131 TERM:143 HUP:129; do trap "exit ${signal#*:}" "${signal%:*}"; done
name="$1" install="$2" keep=()
shift 2
while [ "$1" != -- ]; do keep+=("$1") && shift; done
shift
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"
# shellcheck source=scripts/lib/inside.sh
source scripts/lib/inside.sh

# A tmpfs on /tmp. What must stay in view there (the folder, its build/ where that is a link into
# /tmp, a desktop's display) is bound back from a descriptor opened before, not resolved again.
kept=()
for path in "$root" "$(readlink -f build)" "${keep[@]}"; do
    if [[ "$path" == /tmp/* && "$path" != "$root/"* && -e "$path" ]]; then
        exec {fd}<"$path"
        kept+=("$fd" "$path")
    fi
done
mount -t tmpfs -o mode=1777 tmpfs /tmp
while [ ${#kept[@]} -gt 0 ]; do
    fd="${kept[0]}" path="${kept[1]}" kept=("${kept[@]:2}")
    mkdir -p "${path%/*}"
    if [ -d "/proc/$$/fd/$fd" ]; then mkdir -p "$path"; else touch "$path"; fi
    mount --bind --no-canonicalize "/proc/$$/fd/$fd" "$path"
    exec {fd}<&-
done
leave_mark "$root"
# Temporary files in this /tmp, where every tool looks without TMPDIR; and Debian 13's Wine
# crashes at start with TMPDIR set at all (harness/wine-session.sh).
unset TMPDIR

# run COMMAND...: a child, waited for, which gets SIGINT and SIGQUIT back (bash has a child in
# the background ignore them).
run() { env --default-signal=INT,QUIT "$@" 7>&- & wait $!; }
deps=() && if [ "$name" = bench ]; then deps=(--bench); fi # the benchmark's tools too
if [ "$install" = yes ]; then run bash scripts/install-deps.sh "${deps[@]}"; fi
run bash "scripts/steps/$name.sh" "$@"
