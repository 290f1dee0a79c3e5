# shellcheck shell=bash disable=SC2154 # root and command_name are the prologue's
# Where the kernel lets a command make no namespace. Sourced by the prologue.

# no_namespace WHY: the kernel lets the command make no namespace here; said before any install,
# naming what this user lacks (for root: CAP_SYS_ADMIN is bit 21 of its effective capabilities).
no_namespace() {
    local lacks="user namespaces, which this system denies to users other than root (sysctl"
    lacks+=" user.max_user_namespaces, kernel.unprivileged_userns_clone); run it as root"
    if [ "$(id -u)" != 0 ]; then :
    elif [[ "$1" == *"Invalid argument"* ]]; then
        lacks="a / that is a mount point, which a chroot lacks: bind the chroot's folder on itself"
    elif (((0x$(sed -n 's/^CapEff:\s*//p' /proc/self/status) >> 21 & 1) == 0)); then
        lacks="CAP_SYS_ADMIN, which root in a container lacks, and leave from AppArmor: docker run"
        lacks+=" --cap-add SYS_ADMIN --security-opt apparmor=unconfined (or --privileged)"
    else
        lacks="leave from the seccomp filter or AppArmor that stops this root, though it has"
        lacks+=" CAP_SYS_ADMIN: --security-opt seccomp=unconfined --security-opt"
        lacks+=" apparmor=unconfined"
    fi
    echo "$command_name: cannot make the process namespace, with a /tmp of its own, that ends all" \
        "it starts (${1//$'\n'/ }); it needs $lacks" >&2
    exit 2
}
