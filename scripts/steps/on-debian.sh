#!/usr/bin/env bash
# on-debian.sh's steps: the root of the release made or updated, entered, and the command run.
#   steps/on-debian.sh RELEASE SUITE COMMAND [ARGUMENTS...]
# shellcheck source=scripts/lib/steps.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib/steps.sh"
release="$1" suite="$2" command="$3"
shift 3
# Seen through a plain path in the command's own /tmp: debootstrap, a shell script, cannot make a
# root under a path with a space, as the folder's may have.
mkdir -p "build/debian-$release/build" /tmp/on-debian
mount --bind "build/debian-$release" /tmp/on-debian
store=/tmp/on-debian rootfs=/tmp/on-debian/root

# The mirrors this machine's apt names (deb822 or one-line sources); the project names none.
sources="$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
    grep -v '^ *#')" || true
mirror="$(grep -oE 'https?://[^ ]+/debian/?( |$)' <<<"$sources" | head -n 1 | tr -d ' ')" || true
security="$(grep -oE 'https?://[^ ]+/debian-security/?' <<<"$sources" | head -n 1)" || true
if [ -z "$mirror" ]; then
    echo "on-debian: this machine's apt names no Debian mirror (a URI ending in /debian in" \
        "/etc/apt/sources.list or sources.list.d), to make a root of Debian $release from" >&2
    exit 1
fi
security="${security:-${mirror%/debian*}/debian-security}"

# The release as the mirror has it now: a root made from another is made again. Where the mirror
# cannot be read, a root already made serves.
made="$(cat "$rootfs/.metronome-release" 2>/dev/null)" || made=""
if ! released="$(python3 - "${mirror%/}/dists/$suite/Release" 2>&1 <<'EOF'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=60) as release:
    print(next(line for line in release.read().decode().splitlines() if line.startswith('Date:')))
EOF
)"; then
    if [ -z "$made" ]; then
        echo "on-debian: cannot read Debian $release's Release file from $mirror, to make its" \
            "root: ${released##*$'\n'}" >&2
        exit 1
    fi
    echo "on-debian: cannot read Debian $release's Release file from $mirror; the root made" \
        "before serves (${made#* * })" >&2
    released="${made#* * }"
fi
stamp="$suite $mirror $released"
if [ "$made" != "$stamp" ]; then
    echo "on-debian: making a root filesystem of Debian $release ($suite, $released)"
    rm -rf "$rootfs" "$rootfs.new"
    debootstrap --variant=minbase --include=ca-certificates,sudo "$suite" "$rootfs.new" \
        "$mirror" >"$store/debootstrap.log" 2>&1 || {
        echo "on-debian: debootstrap failed; its last words" \
            "(build/debian-$release/debootstrap.log):" >&2
        tail -n 5 "$store/debootstrap.log" >&2
        exit 1
    }
    printf '%s\n' "deb ${mirror%/} $suite main" "deb ${mirror%/} $suite-updates main" \
        "deb ${security%/} $suite-security main" >"$rootfs.new/etc/apt/sources.list"
    echo "$stamp" >"$rootfs.new/.metronome-release"
    mv "$rootfs.new" "$rootfs"
fi

# Entered as a container is: / a mount point (the commands' own namespaces need it), the
# machine's devices, a /proc and a /tmp of its own, the folder at its own path over build/ of
# its own. All in this command's mount namespace: gone when it ends.
mount --bind "$rootfs" "$rootfs"
for system in dev sys; do
    mount --rbind "/$system" "$rootfs/$system"
    mount --make-rslave "$rootfs/$system"
done
mount -t proc proc "$rootfs/proc"
mount -t tmpfs -o mode=1777 tmpfs "$rootfs/tmp"
cat /etc/resolv.conf >"$rootfs/etc/resolv.conf" 2>/dev/null || true
mkdir -p "$rootfs$root"
mount --bind "$root" "$rootfs$root"
mount --bind "$store/build" "$rootfs$root/build"
echo "on-debian: $command.sh on Debian $release ($(cat "$rootfs/etc/debian_version"))"
exec chroot "$rootfs" env -i HOME=/root TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash "$root/scripts/$command.sh" "$@"
