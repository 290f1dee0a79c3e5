# shellcheck shell=bash
# How a process knows it runs inside a command of this folder, where Wine may run: process 1 of
# the command's namespace (scripts/lib/init.sh) leaves in its own /tmp a mark naming the folder
# and its namespaces, which no process outside them shares. Sourced by init.sh and by
# harness/wine-session.sh.
command_mark=/tmp/metronome-command
namespaces() { readlink /proc/self/ns/pid /proc/self/ns/mnt /proc/self/ns/user | paste -sd ' '; }
leave_mark() { printf '%s\n' "$1" "$(namespaces)" >"$command_mark"; } # leave_mark ROOT

# only_inside_command ROOT NAME: ends NAME, with the sentence that names the command to use,
# where this is not inside a command of the folder ROOT.
only_inside_command() {
    [ "$(cat "$command_mark" 2>/dev/null)" != "$1"$'\n'"$(namespaces)" ] || return 0
    echo "$2: Wine runs only inside a command of this folder, which ends all it starts:" \
        "bash scripts/test.sh [CTEST ARGUMENTS], one test: bash scripts/test.sh -R NAME" >&2
    exit 2
}
