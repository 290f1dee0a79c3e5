#!/usr/bin/env bash
# A command of this folder, from its hand-over to its end. Each file plays one role, once:
#
#   scripts/NAME.sh          typed: its help and arguments (scripts/lib/start.sh), then exec's
#    └ scripts/lib/command.sh  this file, in the same process: checks the folder, takes its lock,
#      │                       installs with sudo, starts the namespace and answers signals
#      └ unshare             (util-linux) PID, mount (and user) namespaces under a parent-death
#        │                   signal: the kernel ends it all once this process or its first ends
#        └ scripts/lib/init.sh  process 1 there: its own /tmp, the mark Wine checks
#          │                    (scripts/lib/inside.sh), the install as root; answers signals
#          └ scripts/steps/NAME.sh  the command's work, with scripts/lib/steps.sh
#
# Every process of the command holds the folder's lock (a flock on build/command.lock, fd 9),
# which the kernel drops with the last of them. Ctrl+C, Ctrl+\, SIGTERM or SIGHUP here or to
# process 1 end it all at once with 128 + the signal; kill -9 of either, with 137.
#   command.sh NAME [KEPT_PATH...] -- [ARGS...]   (hand_over of scripts/lib/start.sh)
set -euo pipefail
name="$1"
shift
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
cd "$root"

# CMake and Ninja cannot build in a folder whose path holds one of these (CMake's list separator,
# quote and escape, its globs' brackets and wildcards, its variable references, Ninja's line
# breaks): said before anything is written. Every other character is quoted throughout.
refused=$'[]";\\#[<>|*?\t\n]|\\$[A-Za-z]*\\{' # ']' first in the brackets, '\' as it stands
if [[ "$root" =~ $refused ]]; then
    character="'${BASH_REMATCH[0]}'" && character="${character/$'\'\t\''/a tab}"
    echo "$name: the folder's path holds ${character/$'\'\n\''/a line break}, in which CMake or" \
        "Ninja cannot build: ${root//$'\n'/\\n}. Rename the folder or clone it elsewhere." >&2
    exit 2
fi
# A folder mounted noexec: the build's programs could not run there, which would show only late.
if findmnt -n -o OPTIONS --target "$root" 2>/dev/null | tr , '\n' | grep -qx noexec; then
    echo "$name: the folder lies on $(findmnt -n -o TARGET --target "$root"), mounted" \
        "noexec, where the build's programs cannot run: clone it onto another filesystem." >&2
    exit 2
fi

# The namespace, tried before anything is installed. A user who is not root maps to root in a
# user namespace of their own, to mount its /tmp.
namespace=(unshare --pid --fork --kill-child --mount-proc)
if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
if ! why="$("${namespace[@]}" mount -t tmpfs tmpfs /tmp 2>&1)"; then
    lacks="user namespaces, which this system denies to users other than root (sysctl"
    lacks+=" user.max_user_namespaces, kernel.unprivileged_userns_clone); run it as root"
    if [ "$(id -u)" != 0 ]; then :
    elif [[ "$why" == *"Invalid argument"* ]]; then
        lacks="a / that is a mount point, which a chroot lacks: bind the chroot's folder on itself"
    elif (((0x$(sed -n 's/^CapEff:\s*//p' /proc/self/status) >> 21 & 1) == 0)); then
        lacks="CAP_SYS_ADMIN, which root in a container lacks, and leave from AppArmor: docker run"
        lacks+=" --cap-add SYS_ADMIN --security-opt apparmor=unconfined (or --privileged)"
    else
        lacks="leave from the seccomp filter or AppArmor that stops this root, though it has"
        lacks+=" CAP_SYS_ADMIN: --security-opt seccomp=unconfined --security-opt apparmor=unconfined"
    fi
    echo "$name: cannot make the process namespace, with a /tmp of its own, that ends all it" \
        "starts (${why//$'\n'/ }); it needs $lacks" >&2
    exit 2
fi

# The lock: a link in its place is removed, not written through; the command's name, for a
# second command's sentence, goes into the very file locked.
if [ -L build/command.lock ]; then rm -f build/command.lock; fi
if ! { mkdir -p "$(readlink -f build)" && exec 9<>build/command.lock; } 2>/dev/null; then
    echo "$name: cannot write build/command.lock: is the folder read-only, or was build/ made" \
        "by another user (root, say)? Remove build/ or run as its owner." >&2
    exit 1
elif ! flock -n 9; then
    echo "$name: this folder's $(head -n 1 build/command.lock) command is running; one at a" \
        "time (build/command.lock)" >&2
    exit 1
fi
# What another user's command made (root's, say), but for the roots of the other release, which
# are root's own, and Wine prefixes, whose owner Wine itself checks.
theirs=(-path 'build/debian-*' -o -path 'build/wine-*' -o -name 'wineprefix*')
if [ -n "$(find build/ \( "${theirs[@]}" \) -prune -o ! -writable -print -quit 2>/dev/null)" ]; then
    echo "$name: build/ holds what another user's command made (root, say), which this user" \
        "cannot write: remove build/ or run as its owner." >&2
    exit 1
fi
echo "$name" >"/proc/$$/fd/9"

# sudo may ask for a password, which it can only out here; root installs in the namespace, where
# the install ends with the command. What apt starts does not hold the lock.
install=yes deps=() && if [ "$name" = bench ]; then deps=(--bench); fi # its tools too
if [ "$(id -u)" != 0 ]; then
    bash scripts/install-deps.sh "${deps[@]}" 9>&- # set -e ends here on a failed install
    install=no
fi

# Process 1 says on fd 7 that it ended: util-linux 2.38's unshare reports a process 1 killed by
# SIGKILL as its own failure (exit 1, "sigprocmask unblock failed"), said 137 here; only unshare's
# own stderr goes through the filter, process 1 takes the command's back from fd 8. In the
# background bash would have it ignore SIGINT and SIGQUIT.
exec 7<> <(:)
setpriv --pdeathsig KILL "${namespace[@]}" env --default-signal=INT,QUIT \
    bash scripts/lib/init.sh "$name" "$install" "$@" 8>&2 2> >(grep -v 'sigprocmask unblock' >&2) &
inside=$!
# shellcheck disable=SC2064 # fixed now. Disowned: bash reports no job it killed.
for signal in INT:130 QUIT:131 TERM:143 HUP:129; do
    trap "disown $inside 2>/dev/null; kill -KILL $inside 2>/dev/null; exit ${signal#*:}" "${signal%:*}"
done
status=0
wait "$inside" || status=$?
read -r -t 0.1 -u 7 _ || status=137
exit "$status"
