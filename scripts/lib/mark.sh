# shellcheck shell=bash
# The mark of a command's namespace, in its own /tmp: the folder, and the namespaces, which no
# process outside them shares. scripts/lib/init.sh leaves it; the steps and harness/wine-session.sh
# run only where it names their folder.
command_mark() { # FOLDER
    printf '%s\n' "$1" "$(readlink /proc/self/ns/{pid,mnt,user} | paste -sd ' ')"
}
in_command() { [ "$(cat /tmp/metronome-command 2>/dev/null)" = "$(command_mark "$1")" ]; }
