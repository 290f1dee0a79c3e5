#!/usr/bin/env bash
# A command from its hand-over to its end (docs/commands.md draws the way down and back): checks
# the folder, takes its lock (fd 9, held by every process, freed by the kernel with the last),
# installs with sudo, starts the namespace and its process 1 (scripts/lib/init.sh). Ctrl+C,
# Ctrl+\, SIGTERM or SIGHUP here or to process 1 end all with 128 + the signal; kill -9, with 137.
#   command.sh --name NAME --typed 'NAME.sh ARGS' [init.sh's --keep-in-tmp, --writable]... --
#              [ARGS...]
set -euo pipefail
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
source scripts/lib/options.sh
read_options command.sh '--name=! --typed=! --keep-in-tmp=+ --writable=+' "$@"
folder="$PWD" command_name="$opt_name" typed="$opt_typed" passed=() # init.sh's, passed on
for path in "${opt_keep_in_tmp[@]}"; do passed+=(--keep-in-tmp "$path"); done
for path in "${opt_writable[@]}"; do passed+=(--writable "$path"); done
fail() { echo "$command_name: ${*:2}" >&2; exit "$1"; } # fail STATUS SENTENCE
# What CMake or Ninja cannot build under: CMake's list separator, quote, escape, globs, variable
# references and $(...) (left to Ninja, which has no escape for it), Ninja's line breaks.
refused=$'[]";\\#[<>|*?\t\n]|\\$[A-Za-z]*\\{|\\$\\([^)]*\\)'
if [[ "$folder" =~ $refused ]]; then
    character="'${BASH_REMATCH[0]}'" && character="${character/$'\'\t\''/a tab}"
    fail 2 "the folder's path holds ${character/$'\'\n\''/a line break}, in which CMake or Ninja" \
        "cannot build: ${folder//$'\n'/\\n}. Rename the folder or clone it elsewhere."
fi
if findmnt -n -o OPTIONS --target "$folder" 2>/dev/null | tr , '\n' | grep -qx noexec; then
    fail 2 "the folder lies on $(findmnt -n -o TARGET --target "$folder"), mounted noexec, where" \
        "the build's programs cannot run: clone it onto another filesystem."
fi

# The namespace, tried before anything is installed; a user is root in a user namespace of theirs.
namespace=(unshare --pid --fork --kill-child --mount-proc)
if [ "$(id -u)" != 0 ]; then namespace=(unshare --user --map-root-user "${namespace[@]:1}"); fi
if ! why="$("${namespace[@]}" mount -t tmpfs tmpfs /tmp 2>&1)"; then
    case "$(id -u):$(((0x$(sed -n 's/^CapEff:\s*//p' /proc/self/status) >> 21) & 1)):$why" in
    0:*"Invalid argument"*) lacks="a / that is a mount point (in a chroot, bind it on itself)" ;;
    0:0:*) lacks="CAP_SYS_ADMIN, which root in a container lacks, and leave from AppArmor: docker"
        lacks+=" run --cap-add SYS_ADMIN --security-opt apparmor=unconfined (or --privileged)" ;;
    0:*) lacks="leave from seccomp or AppArmor, which stop root with CAP_SYS_ADMIN here:"
        lacks+=" --security-opt seccomp=unconfined --security-opt apparmor=unconfined" ;;
    *) lacks="user namespaces, which this system denies to users other than root (sysctl"
        lacks+=" user.max_user_namespaces, kernel.unprivileged_userns_clone); run it as root" ;;
    esac
    fail 2 "cannot make the process namespace, with a /tmp of its own, that ends all it starts" \
        "(${why//$'\n'/ }); it needs $lacks"
fi

# Root's files would lock the folder's owner out of it: on-debian.sh gives what it makes to the
# owner, and in a root of the other release it made (/.metronome-release) build/ is root's own.
# build/: this user's folder, or a link to one, with nothing of another's in it (but the other
# release's roots, root's own, Wine prefixes, whose owner Wine checks, and links, which lead to
# where a moved clone was until its build is configured afresh).
owner() { stat -c %U "$1" 2>/dev/null; }
linked="$(readlink -f build)" || linked="" # where build/ leads; / as nothing, to compare
linked="${linked%/}"
if [ "$(id -u)" = 0 ] && [ "$(owner .)" != root ] && [ "$command_name" != on-debian ] &&
    [ ! -e /.metronome-release ]; then
    fail 1 "this folder is $(owner .)'s, who could not remove what root made in it: as" \
        "$(owner .), type bash $(printf %q "$folder")/scripts/$typed"
elif [ -L build ] && ! readlink -f build >/dev/null; then
    fail 1 "build is a link that loops: remove it (rm build) and a build/ is made afresh."
elif [ -L build ] && [ ! -e build ]; then
    fail 1 "build is a link to $(readlink -f build), which is not there: make that folder, or" \
        "remove the link (rm build)."
elif [ -L build ] && [[ "$linked/" == "$folder/"* ]]; then
    fail 1 "build is a link to $linked, inside the folder, which nothing but build/ may" \
        "change: link it to a folder outside, or remove it (rm build)."
elif [ -L build ] && [[ "$folder/" == "$linked/"* ]]; then
    fail 1 "build is a link to ${linked:-/}, which holds the folder, which nothing but" \
        "build/ may change: link it to a folder beside it, or remove it (rm build)."
elif [ -e build ] && [ ! -d build ]; then
    fail 1 "build is a file, not a folder: move it away, and a build/ is made afresh."
elif [ ! -e build ] && ! mkdir build 2>/dev/null && [ ! -d build ]; then # or another made it
    fail 1 "no build/ can be made here: the folder is read-only to $(id -un); clone it where" \
        "you may write."
elif [ "$command_name" != on-debian ] && [ "$(owner build/)" != "$(id -un)" ]; then
    fail 1 "build/ is $(owner build/)'s, not $(id -un)'s: run the command as $(owner build/)," \
        "or remove build/ and a build/ of yours is made afresh."
fi
theirs="$(find build/ \( -path 'build/debian-*' -o -path 'build/wine-*' -o -name 'wineprefix*' \) \
    -prune -o ! -type l ! -writable -print -quit 2>/dev/null)"
[ -z "$theirs" ] || fail 1 "build/ holds ${theirs#build/}, which is $(owner "$theirs")'s and not" \
    "writable to $(id -un): remove build/ (as $(owner "$theirs")), or run the command as its owner."
# The lock names the command holding it, for a second one's sentence; a link there is removed.
if [ -L build/command.lock ]; then rm -f build/command.lock; fi
exec 9<>build/command.lock
flock -n 9 || fail 1 "this folder's $(head -n 1 build/command.lock) command is running; one at" \
    "a time (build/command.lock)"
echo "$command_name" >"/proc/$$/fd/9"
# on-debian.sh, root's in a user's folder, gives build/ and its lock to the folder's owner at once:
# a command cut short after this leaves nothing of root's that the owner could not remove.
if [ "$command_name" = on-debian ]; then chown "$(stat -c %u:%g .)" build/ build/command.lock; fi

# Root installs inside the namespace, ended with the command. A user installs here, where sudo
# may ask for a password; apt, without the lock, is left to finish if the command is killed.
install=(--install)
if [ "$(id -u)" != 0 ]; then install=() && bash scripts/install-deps.sh --for "$typed" 9>&-; fi

# util-linux 2.38's unshare calls a process 1 killed by SIGKILL its own failure ("sigprocmask
# unblock failed", exit 1): its stderr alone goes through a filter (fd 6) whose status tells;
# process 1 takes the command's back (--stderr-fd). In the background it would ignore SIGINT and
# SIGQUIT.
exec 6> >(sed -u '/sigprocmask unblock failed/Q9' >&2)
stderr_filter=$! status=0
# This shell's end ends unshare (its parent-death signal), and with it the namespace.
source scripts/lib/signals.sh
setpriv --pdeathsig KILL "${namespace[@]}" env --default-signal=INT,QUIT \
    bash scripts/lib/init.sh --name "$command_name" --typed "$typed" --stderr-fd 8 \
    "${install[@]}" "${passed[@]}" -- "${operands[@]}" 8>&2 2>&6 6>&- &
wait $! || status=$?
exec 6>&-
wait "$stderr_filter" || status=137 # once the filter has said all, and freed the lock
exit "$status"
