#!/usr/bin/env bash
# Runs one of this folder's commands on the other Debian release (scripts/releases), in a root
# filesystem made by debootstrap from the mirror this machine's apt uses.
#   on-debian.sh RELEASE COMMAND [ARGUMENTS...]    COMMAND a script of scripts/, as in
#                                                  on-debian.sh 13 test.sh -R NAME
# The root is kept in build/debian-RELEASE/root between runs and made again when the release's
# packages change (its Release file's date); a making cut short is never taken for made. There
# the command sees this folder at its own path, with build/debian-RELEASE/build as its build/,
# and runs in the folder it was typed in (in this folder, where that lies outside it or in
# build/): a relative path it is given means the same there as in its check here.
# As root: debootstrap and the mounts need it. Everything ends with the command, the mounts too.
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
releases="$(cut -d ' ' -f 1 scripts/releases | paste -sd '|')" # the releases, each with its suite
[ $# -ge 2 ] || usage_error "$usage"
suite="$(awk -v release="$1" '$1 == release { print $2 }' scripts/releases)"
[ -n "$suite" ] || usage_error "the release is ${releases//|/ or }, not '$1' ($usage)"
release="$1" command="${2%.sh}"
if [ "$command" = on-debian ] || [[ "$command" == */* ]] || [ ! -f "scripts/$command.sh" ]; then
    usage_error "no command '$2' in scripts/ to run on Debian $release ($usage)"
fi
shift 2
if grep -qx "VERSION_ID=\"\?$release\"\?" /etc/os-release 2>/dev/null; then
    usage_error "this machine is Debian $release already:" \
        "bash scripts/$command.sh$(printf ' %q' "$@")"
fi
# The command's own help, and its arguments checked, here, before a root is made for it.
work_in="$(cd "$typed_in" && pwd -P)" # in the folder, not in build/, which the root has its own of
[[ "$work_in/" == "$PWD/"* && "$work_in/" != "$(readlink -f build)/"* ]] || work_in="$PWD"
for argument in "$@"; do
    if [[ "$argument" = --help || "$argument" = -h ]]; then exec bash "scripts/$command.sh" "$@"; fi
done
(cd "$work_in" && bash "$OLDPWD/scripts/$command.sh" --check-only "$@") || exit
[ "$check_only" = no ] || exit 0
if [ "$(id -u)" != 0 ]; then
    usage_error "it makes and mounts a root filesystem, which needs root: sudo bash $0 ..."
fi
# The root stays with the folder, in build/ (a clone's own, gone with it, one command at a time),
# and its files are root's, as a system's must be: the owner is told now how it goes.
if [ "$(stat -c %u .)" != 0 ]; then
    echo "on-debian: the root filesystem it keeps in build/debian-$release is root's, as a" \
        "system's files are; before $(stat -c %U .) removes this clone, as root: rm -rf" \
        "$(printf %q "$(readlink -f build)/debian-$release")" >&2
fi
hand_over -- --release "$release" --suite "$suite" --work-in "$work_in" -- "$command" "$@"
