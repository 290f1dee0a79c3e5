# shellcheck shell=bash
# How a process knows that it runs inside one of this folder's commands, said once for the
# commands (scripts/lib/prologue.sh) and for Wine (harness/wine-session.sh).
#
# A command has two halves. The outer half holds build/command.lock and writes into it a fresh
# token and its own PID and mount namespaces, then starts the command again as the first process
# of new ones, passing the token on in METRONOME_COMMAND. That inner half believes it only if the
# token is the one in the lock, it is process 1 and neither namespace is the outer's; it clears the
# token, mounts a /tmp of its own and leaves there its mark: the folder, its namespaces and the
# token, for the one child that does the command's work. Wine runs only where that mark names its
# folder and its very namespaces, which no process outside the namespace can share. Being
# process 1 alone proves nothing: a container's first process is one too.
command_mark=/tmp/metronome-command

# namespaces: this process's PID and mount namespaces, as the kernel names them.
namespaces() { echo "$(readlink /proc/self/ns/pid) $(readlink /proc/self/ns/mnt)"; }

# inside_command ROOT: true inside a command of the folder ROOT, where its inner half left its mark.
inside_command() { [ "$(head -n 2 "$command_mark" 2>/dev/null)" = "$1"$'\n'"$(namespaces)" ]; }
