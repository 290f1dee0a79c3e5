# shellcheck shell=bash
# How a process knows that it runs inside one of this folder's commands: the one contract between
# a command's two halves (scripts/lib/prologue.sh), and with Wine (harness/wine-session.sh).
#
# The outer half holds build/command.lock and writes into it a fresh token and its own PID and
# mount namespaces (offer_token), then starts the command again in new ones, passing the token on
# in METRONOME_COMMAND. That inner half believes it only if it is process 1, the token is the one
# in the lock and neither namespace is the outer's; it clears the token (accept_token), mounts a
# /tmp of its own and leaves there its mark: the folder, its namespaces and the token, which the
# one child that does the command's work must match (accept_work). Wine runs only where the mark
# names its folder and its very namespaces (inside_command), which no process outside them can
# share. Being process 1 alone proves nothing: a container's first process is one too.
command_mark=/tmp/metronome-command

# namespaces: this process's PID and mount namespaces, as the kernel names them.
namespaces() { echo "$(readlink /proc/self/ns/pid) $(readlink /proc/self/ns/mnt)"; }

# offer_token LOCK NAME: a fresh $token, written into the lock with this process's namespaces.
offer_token() {
    token="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    printf '%s\n%s %s\n' "$2" "$token" "$(namespaces)" >"$1"
}

# accept_token LOCK NAME TOKEN: true where this is process 1 of other namespaces than the offer's,
# given its token; the lock then says the inner half began.
accept_token() {
    local said offered own
    read -r said offered < <(sed -n 2p "$1")
    own="$(namespaces)"
    if [ $$ != 1 ] || [ "$3" != "$said" ] || [ "${offered% *}" = "${own% *}" ] ||
        [ "${offered#* }" = "${own#* }" ]; then return 1; fi
    printf '%s\nbegan\n' "$2" >"$1"
}

# leave_mark ROOT TOKEN: the inner half's mark, in the /tmp it has just mounted.
leave_mark() { printf '%s\n%s\n%s\n' "$1" "$(namespaces)" "$2" >"$command_mark"; }

# accept_work ROOT TOKEN: true in the inner half's child, given the token of the mark.
accept_work() { [ $PPID = 1 ] && inside_command "$1" && [ "$(sed -n 3p "$command_mark")" = "$2" ]; }

# inside_command ROOT: true inside a command of the folder ROOT, where its inner half left its mark.
inside_command() { [ "$(head -n 2 "$command_mark" 2>/dev/null)" = "$1"$'\n'"$(namespaces)" ]; }

# only_inside_command ROOT NAME: ends NAME, with the sentence that names the command to use, where
# this is not inside a command of the folder ROOT.
only_inside_command() {
    inside_command "$1" && return
    echo "$2: Wine runs only inside a command of this folder, which ends all it starts:" \
        "bash scripts/test.sh [CTEST ARGUMENTS], one test: bash scripts/test.sh -R NAME" >&2
    exit 2
}
