#!/usr/bin/env bash
# on-debian.sh's steps: the root of the release made or updated, entered, and the command run.
#   steps/on-debian.sh --release N --suite NAME --work-in FOLDER -- COMMAND [ARGUMENTS...]
. "$(dirname "$(readlink -f "$0" || echo "$0")")/../lib/steps.sh" # sh and links too
read_options steps/on-debian.sh '--release=! --suite=! --work-in=!' "$@"
release="$opt_release" suite="$opt_suite" command="${operands[0]}"
set -- "${operands[@]:1}" # the command's own arguments
# build/ and its lock are the folder owner's already (scripts/lib/command.sh): their commands work
# after. The root is made at a plain path in the command's /tmp: debootstrap, a shell script,
# cannot make one under a path with a space, as the folder's may have.
mkdir -p "build/debian-$release/build" /tmp/on-debian
mount --bind "build/debian-$release" /tmp/on-debian
store=/tmp/on-debian rootfs=/tmp/on-debian/root

# The mirrors this machine's apt names (deb822 or one-line sources); the project names none.
sources="$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
    grep -v '^ *#')" || true
mirror="$(grep -oE 'https?://[^ ]+/debian/?( |$)' <<<"$sources" | head -n 1 | tr -d ' ')" || true
security="$(grep -oE 'https?://[^ ]+/debian-security/?' <<<"$sources" | head -n 1)" || true
[ -n "$mirror" ] || { echo "on-debian: this machine's apt names no Debian mirror (a URI ending" \
    "in /debian in /etc/apt/sources.list or sources.list.d) to make a root from" >&2 && exit 1; }
mirror="${mirror%/}" security="${security:-${mirror%/debian}/debian-security}"
# The proxy apt uses here, from its settings or the environment, for debootstrap and the root.
proxies="$(apt-config dump | grep -iE '^Acquire::(http|https)::Proxy ' || true)"
for scheme in http https; do
    value="$(sed -nE "s/^Acquire::$scheme::Proxy \"(.+)\";$/\1/Ip" <<<"$proxies" | head -n 1)"
    [[ -n "$(printenv "${scheme}_proxy")" || "$value" != http* ]] || export "${scheme}_proxy=$value"
done

# The release as the mirror has it now (its Release file's date), in a stamp that names the
# mirror as apt sees it: the same host by http or https, with or without a last slash.
stamped="$(sed -E 's#^([^ ]+) (https?://)?([^ ]*[^/])/? #\1 \3 #' "$rootfs/.metronome-release" \
    2>/dev/null)" || stamped=""
if released="$(python3 - "$mirror/dists/$suite/Release" 2>&1 <<'EOF'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=60) as release:
    print(next(line for line in release.read().decode().splitlines() if line.startswith('Date:')))
EOF
)"; then
    stamp="$suite ${mirror#*://} $released"
elif [ -n "$stamped" ]; then
    echo "on-debian: cannot read Debian $release's Release file from $mirror; the root made" \
        "before serves (${stamped#* * })" >&2
    stamp="$stamped"
else
    echo "on-debian: cannot read Debian $release's Release file from $mirror, to make its" \
        "root: ${released##*$'\n'}" >&2
    exit 1
fi
# A root is replaced only by a complete one: made beside it, stamped last, renamed in; the old
# one renamed away before it is deleted. A making or a deleting cut short leaves no stamped half.
rm -rf "$rootfs.new" "$rootfs.old"
if [ "$stamped" != "$stamp" ]; then
    echo "on-debian: making a root filesystem of Debian $release ($suite, $released)" >&2
    if debootstrap --variant=minbase --include=ca-certificates,sudo "$suite" "$rootfs.new" \
        "$mirror" >"$store/debootstrap.log" 2>&1; then
        printf '%s\n' "deb $mirror $suite main" "deb $mirror $suite-updates main" \
            "deb ${security%/} $suite-security main" >"$rootfs.new/etc/apt/sources.list"
        echo "$stamp" >"$rootfs.new/.metronome-release"
        if [ -e "$rootfs" ]; then mv "$rootfs" "$rootfs.old"; fi
        mv "$rootfs.new" "$rootfs"
        rm -rf "$rootfs.old"
    else
        echo "on-debian: debootstrap failed; its last words" \
            "(build/debian-$release/debootstrap.log):" >&2
        tail -n 5 "$store/debootstrap.log" >&2
        rm -rf "$rootfs.new"
        if [ -z "$stamped" ]; then exit 1; fi
        echo "on-debian: the root made before serves (${stamped#* * })" >&2
    fi
fi
printf '%s\n' "$proxies" >"$rootfs/etc/apt/apt.conf.d/90metronome-proxy"

# Entered as a container is: / a mount point (the commands' own namespaces need it), the
# machine's devices, a /proc and a /tmp of its own, the folder at its own path with a build/ of
# its own (where build/ is a link, at the link's end), and a git directory outside the folder
# (a worktree's, --separate-git-dir), read-only. All in this command's mount namespace.
mount --bind "$rootfs" "$rootfs"
for devices in /dev /sys; do mount --rbind --make-rslave "$devices" "$rootfs$devices"; done
mount -t proc proc "$rootfs/proc"
mount -t tmpfs -o mode=1777 tmpfs "$rootfs/tmp"
cat /etc/resolv.conf >"$rootfs/etc/resolv.conf" 2>/dev/null || true
mkdir -p "$rootfs$folder" && mount --bind "$folder" "$rootfs$folder"
build="$(readlink -f build)"
mkdir -p "$rootfs$build" && mount --bind "$store/build" "$rootfs$build"
mapfile -t gits < <(git -c safe.directory='*' rev-parse --absolute-git-dir --git-common-dir \
    2>/dev/null)
for git in "${gits[@]}"; do
    git="$(readlink -f "$git")" || continue
    [[ "$git" != "$folder" && "$git" != "$folder/"* && -d "$git" ]] || continue
    mkdir -p "$rootfs$git" && mount --bind -o ro "$git" "$rootfs$git"
done
# Where the command's build/ lies as this machine names it, for the paths it tells: in the root,
# which the command reads (scripts/lib/steps.sh), not in the environment, which it drops.
echo "$build/debian-$release/build" >"$rootfs/.metronome-build-on-machine"
echo "on-debian: $command.sh on Debian $release ($(cat "$rootfs/etc/debian_version")); its" \
    "build/ is build/debian-$release/build here" >&2
exec chroot "$rootfs" env -i -C "$opt_work_in" HOME=/root TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    http_proxy="${http_proxy:-}" https_proxy="${https_proxy:-}" no_proxy="${no_proxy:-}" \
    bash "$folder/scripts/$command.sh" "$@"
