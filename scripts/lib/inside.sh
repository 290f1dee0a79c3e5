# shellcheck shell=bash disable=SC2034 # install is the caller's
# How a process knows that it runs inside one of this folder's commands: the one contract between
# a command's roles (scripts/lib/prologue.sh), and with Wine (harness/wine-session.sh).
#
# The outer half holds the folder's lock on fd 9 (build/command.lock, a file that only locks) and
# writes its offer, a fresh token and its own PID, mount and user namespaces, into a pipe of its
# own on fd 7 (offer_token). It then starts the command again in new namespaces, passing the token
# in METRONOME_COMMAND and both descriptors. That inner half believes it only if it is process 1,
# holds the very lock the outer took, reads from the pipe the token it was given, and neither
# namespace is the outer's (accept_offer); it answers "began" into the pipe, and "ended" when it
# ends. Nothing passes through a file another process could write. It then mounts a /tmp of its
# own and leaves there its mark: the folder, its namespaces, the token and whether the work
# installs, which its child, the work, and the work's child, its steps, must match (accept_work,
# accept_steps). Wine runs only where the mark names its folder and its very namespaces
# (inside_command), which no process outside them can share. Being process 1 alone proves
# nothing: a container's first process is one too.
command_mark=/tmp/metronome-command

# namespaces: this process's PID, mount and user namespaces, as the kernel names them.
namespaces() { readlink /proc/self/ns/pid /proc/self/ns/mnt /proc/self/ns/user | paste -sd ' '; }

# offer_token: a fresh $token, offered with this process's namespaces in a new pipe on fd 7.
offer_token() {
    token="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    exec 7<> <(:)
    echo "$token $(namespaces)" >&7
}

# accept_offer LOCK TOKEN: true where this is process 1 of other namespaces than the offer's,
# holding the lock LOCK on fd 9, given the token the pipe on fd 7 offers; the pipe then hears that
# the inner half began. Sets $install: whether the outer was root in this very user namespace.
accept_offer() {
    local offered pid mnt user own
    [ $$ = 1 ] && [ -p /proc/self/fd/7 ] && [ /proc/self/fd/9 -ef "$1" ] && flock -n 9 &&
        read -r -t 1 -u 7 offered pid mnt user || return 1
    read -r -a own < <(namespaces)
    if [ "$offered" != "$2" ] || [ "$pid" = "${own[0]}" ] || [ "$mnt" = "${own[1]}" ]; then
        return 1
    fi
    install=no
    if [ "$user" = "${own[2]}" ]; then install=yes; fi
    echo began >&7
}

# leave_mark ROOT TOKEN INSTALL: the inner half's mark, in the /tmp it has just mounted.
leave_mark() { printf '%s\n' "$1" "$(namespaces)" "$2" "$3" >"$command_mark"; }

# accept_work ROOT TOKEN: true in the inner half's child, given the token of the mark.
accept_work() { [ $PPID = 1 ] && marked "$1" "$2"; }

# accept_steps ROOT TOKEN: true in the work's child, given the token of the mark.
accept_steps() { marked "$1" "$2" && [ "$(cut -d ' ' -f 4 "/proc/$PPID/stat")" = 1 ]; }

# marked ROOT TOKEN: true inside a command of the folder ROOT whose mark holds TOKEN.
marked() { inside_command "$1" && [ "$(sed -n 3p "$command_mark")" = "$2" ]; }

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
