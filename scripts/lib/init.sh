#!/usr/bin/env bash
# Process 1 of a command's namespace (started by scripts/lib/command.sh), which the kernel ends
# with it: its own /tmp, the mark Wine checks, root's install (--install), every mount made
# read-only but build/, then the steps.
#   init.sh --name NAME --typed 'NAME.sh ARGS' [--install] [--keep-in-tmp PATH]...
#           [--writable PATH]... -- [ARGS...]
#   --keep-in-tmp: a path in the machine's /tmp the steps need (a desktop's display)
#   --writable: a folder of the folder's the command writes besides build/ (docs/media)
set -euo pipefail
exec 2>&8 8>&-
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
# The kernel gives process 1 only the signals it handles, and bash handles them only while it
# waits (run, below), not while a command runs in its foreground.
# shellcheck source=scripts/lib/signals.sh
source scripts/lib/signals.sh
root="$PWD" name="" typed="" install=no kept=() writable=() bound=() in_tmp=()
while [ "${1:---}" != -- ]; do
    case "$1" in --install) install=yes ;; --keep-in-tmp) kept+=("$2") && shift ;;
    --writable) writable+=("$root/$2") && shift ;;
    --name | --typed) printf -v "${1#--}" %s "$2" && shift ;;
    *) echo "init.sh: no option '$1'" >&2 && exit 2 ;;
    esac && shift
done
[ $# -gt 0 ] || { echo "init.sh: no -- before the steps' arguments" >&2 && exit 2; }
shift
# A tmpfs on /tmp, with what must stay (the folder, a build/ linked into /tmp, a desktop's
# display) bound back from a descriptor opened before, not resolved again.
for path in "$root" "$(readlink -f build)" "${kept[@]}"; do
    [[ "$path" == /tmp/* && "$path" != "$root/"* && -e "$path" ]] || continue
    exec {fd}<"$path" && bound[fd]="$path"
done
mount -t tmpfs -o mode=1777 tmpfs /tmp
for fd in "${!bound[@]}"; do
    path="${bound[fd]}" && mkdir -p "${path%/*}"
    if [ -d "/proc/$$/fd/$fd" ]; then mkdir -p "$path"; else touch "$path"; fi
    mount --bind --no-canonicalize "/proc/$$/fd/$fd" "$path" && in_tmp+=("$path")
    exec {fd}<&-
done
# The mark Wine checks (harness/wine-session.sh): the folder, and namespaces no process outside
# shares. TMPDIR unset: files go to this /tmp, and Debian 13's Wine crashes at start with it set.
namespaces="$(readlink /proc/self/ns/{pid,mnt,user} | paste -sd ' ')"
printf '%s\n' "$root" "$namespaces" >/tmp/metronome-command
unset TMPDIR
# Waited for, to answer signals meanwhile; with the SIGINT and SIGQUIT bash would have it ignore.
run() { env --default-signal=INT,QUIT "$@" & wait $!; }
only=() && if [ "$name" = on-debian ]; then only=(--on-debian); fi # the rest goes into the root
if [ "$install" = yes ]; then run bash scripts/install-deps.sh "${only[@]}" --for "$typed"; fi

# The install done (the one step that writes the system), the kernel keeps the folder's promise:
# every mount read-only but build/ (where it is a link, the folder it leads to), the folders the
# command writes by its flag (--writable), this /tmp, /dev and /proc. Whatever runs from here
# (ctest, Wine, a test, a link one made) writes or removes nothing else: "Read-only file system".
# Those kept writable are bound on themselves first, mounts of their own that stay as they are;
# the machine's mounts in /tmp lie hidden under this one, and the ones bound back are made
# read-only with the rest.
listed() { # PATH LIST...: whether PATH is one of LIST
    local path && for path in "${@:2}"; do [ "$1" != "$path" ] || return 0; done && return 1
}
writable+=("$(readlink -f build)")
for path in "${writable[@]}"; do mount --bind --no-canonicalize "$path" "$path"; done
while read -r _ _ _ _ target _; do
    # mountinfo writes a space as \040, a backslash as \134: %b reads an octal byte as \0NNN
    target="$(printf %b "${target//\\/\\0}")"
    case "$target" in /tmp | /dev | /dev/* | /proc | /proc/*) continue ;; esac
    ! listed "$target" "${writable[@]}" || continue
    [[ "$target" != /tmp/* ]] || listed "$target" "${in_tmp[@]}" || continue
    why="$(mount -o remount,bind,ro "$target" 2>&1)" || {
        echo "$name: cannot make $target read-only, which keeps the command to build/: $why" >&2
        exit 1
    }
done </proc/self/mountinfo
run bash "scripts/steps/$name.sh" "$@"
