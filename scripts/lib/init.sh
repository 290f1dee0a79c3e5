#!/usr/bin/env bash
# Process 1 of a command's namespace (started by scripts/lib/command.sh), which the kernel ends
# with it: its own /tmp, the mark Wine checks, root's install (--install), every mount made
# read-only but build/, then the steps.
#   init.sh --name NAME --typed 'NAME.sh ARGS' --stderr-fd FD [--install]
#           [--keep-in-tmp PATH]... [--writable PATH]... -- [ARGS...]
#   --stderr-fd: the command's own standard error (fd 2 here is unshare's, which is filtered)
#   --keep-in-tmp: a path in the machine's /tmp the steps need (a desktop's display)
#   --writable: a folder of the folder's the command writes besides build/ (docs/media)
set -euo pipefail
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
# The kernel gives process 1 only the signals it handles, and bash handles them only while it
# waits (run, below), not while a command runs in its foreground.
source scripts/lib/signals.sh
source scripts/lib/options.sh
read_options init.sh '--name=! --typed=! --stderr-fd=! --install --keep-in-tmp=+ --writable=+' \
    "$@"
exec 2>&"$opt_stderr_fd" {opt_stderr_fd}>&-
folder="$PWD" command_name="$opt_name" writable=() bound=() in_tmp=()
for path in "${opt_writable[@]}"; do writable+=("$folder/$path"); done
# A tmpfs on /tmp, with what must stay (the folder, a build/ linked into /tmp, a desktop's
# display) bound back from a descriptor opened before, not resolved again, with the mounts in it
# (in a root of the other release, its own build/ is one).
for path in "$folder" "$(readlink -f build)" "${opt_keep_in_tmp[@]}"; do
    [[ "$path" == /tmp/* && "$path" != "$folder/"* && -e "$path" ]] || continue
    exec {fd}<"$path" && bound[fd]="$path"
done
mount -t tmpfs -o mode=1777 tmpfs /tmp
for fd in "${!bound[@]}"; do
    path="${bound[fd]}" && mkdir -p "${path%/*}"
    if [ -d "/proc/$$/fd/$fd" ]; then mkdir -p "$path"; else touch "$path"; fi
    mount --rbind --no-canonicalize "/proc/$$/fd/$fd" "$path" && in_tmp+=("$path")
    exec {fd}<&-
done
cd -P "$folder" # where a folder in /tmp now is: the working folder before lay under the tmpfs
# The mark the steps and Wine check (scripts/lib/mark.sh). TMPDIR unset: files go to this /tmp,
# and Debian 13's Wine crashes at start with it set.
source scripts/lib/mark.sh
command_mark "$folder" >/tmp/metronome-command
unset TMPDIR
# Waited for, to answer signals meanwhile; with the SIGINT and SIGQUIT bash would have it ignore.
run() { env --default-signal=INT,QUIT "$@" & wait $!; }
only=() # on-debian.sh's: what making and entering a root needs; the rest goes into the root
if [ "$command_name" = on-debian ]; then only=(--on-debian); fi
if [ -n "$opt_install" ]; then run bash scripts/install-deps.sh "${only[@]}" --for "$opt_typed"; fi

# The install done (the one step that writes the system), the kernel keeps the folder's promise:
# every mount read-only but build/ (where it is a link, the folder it leads to), the folders the
# command writes by its flag (--writable), this /tmp, /dev and /proc. Whatever runs from here
# (ctest, Wine, a test, a link one made) writes or removes nothing else: "Read-only file system".
# Those kept writable are bound on themselves first, with any mount in them, mounts of their own
# that stay as they are; the machine's mounts in /tmp lie hidden under this one, and the ones
# bound back are made read-only with the rest.
within() { # PATH LIST...: whether PATH is one of LIST or lies in one
    local path && for path in "${@:2}"; do [[ "$1/" != "$path/"* ]] || return 0; done && return 1
}
writable+=("$(readlink -f build)")
for path in "${writable[@]}"; do
    if within "$folder" "$path"; then # command.sh refuses such a build/ in a sentence of its own
        echo "$command_name: $path holds the folder, which would stay writable" >&2 && exit 1
    fi
    mount --rbind --no-canonicalize "$path" "$path"
done
while read -r _ _ _ _ target _; do
    # mountinfo writes a space as \040, a backslash as \134: %b reads an octal byte as \0NNN
    target="$(printf %b "${target//\\/\\0}")"
    case "$target" in /tmp | /dev | /dev/* | /proc | /proc/*) continue ;; esac
    ! within "$target" "${writable[@]}" || continue
    [[ "$target" != /tmp/* ]] || within "$target" "${in_tmp[@]}" || continue
    why="$(mount -o remount,bind,ro "$target" 2>&1)" || {
        echo "$command_name: cannot make $target read-only, which keeps the command to" \
            "build/: $why" >&2
        exit 1
    }
done </proc/self/mountinfo
run bash "scripts/steps/$command_name.sh" "${operands[@]}"
