#!/usr/bin/env bash
# Process 1 of a command's namespace (started by scripts/lib/command.sh), which the kernel ends
# with it: its own /tmp, the mark Wine checks, root's install (--install), then the steps.
#   init.sh --name NAME --typed 'NAME.sh ARGS' [--install] [--keep-in-tmp PATH]... -- [ARGS...]
#   --keep-in-tmp: a path in the machine's /tmp the steps need (a desktop's display)
set -euo pipefail
exec 2>&8 8>&-
cd -P "$(dirname "${BASH_SOURCE[0]}")/../.." # the folder as it physically is
# The kernel gives process 1 only the signals it handles, and bash handles them only while it
# waits (run, below), not while a command runs in its foreground.
# shellcheck source=scripts/lib/signals.sh
source scripts/lib/signals.sh
root="$PWD" name="" typed="" install=no kept=() bound=()
while [ "$1" != -- ]; do
    case "$1" in --install) install=yes ;; --keep-in-tmp) kept+=("$2") && shift ;;
    --name | --typed) printf -v "${1#--}" %s "$2" && shift ;;
    esac && shift
done
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
    mount --bind --no-canonicalize "/proc/$$/fd/$fd" "$path"
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
run bash "scripts/steps/$name.sh" "$@"
