#!/usr/bin/env bash
# Installs what building, testing and the benchmark need on Debian 12 (bookworm) or 13 (trixie),
# and the Japanese and English locales Wine runs in. Idempotent: when everything is there it
# installs nothing and does not touch the network.
#   install-deps.sh            everything
#   install-deps.sh --roots    only what on-debian.sh needs here to make and enter a root of the
#                              other release, which installs everything else in the root
[ -n "${BASH_VERSION:-}" ] || { echo "run it with bash: bash $0" >&2; exit 2; }
# shellcheck source=scripts/lib/arguments.sh
source "$(dirname "$0")/lib/arguments.sh" # strict mode, --help
case "$*" in
--roots | '') ;;
*) usage_error "unknown argument '$1' (usage: install-deps.sh [--roots])" ;;
esac

packages=(
  cmake ninja-build g++ googletest libgtest-dev python3
  # The 32-bit Windows program: the cross compiler, its binutils (windres) and headers.
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  # Wine, 32-bit and, as every Windows 11 runs the program, 64-bit (WoW64); fonts-wine has
  # Marlett, the font of the caption's close box.
  wine wine32:i386 wine64 fonts-wine
  # A virtual display, real input, screenshots (imagemagick), xdpyinfo (x11-utils), and a
  # font with the dialog's Japanese.
  xvfb xdotool imagemagick x11-utils fonts-noto-cjk
  # Wine needs a generated Japanese locale to render Japanese and to map non-ASCII paths.
  locales
  # The executable's checks read it with pefile; git dates the package's entries by the last
  # commit (a clone copied onto a machine without git still has its history).
  python3-pefile git
  # The commands' namespaces and locks: unshare, setpriv and flock (util-linux), mount.
  procps util-linux mount
  # A root filesystem of the other release, to run the commands there (on-debian.sh).
  debootstrap
  # The sanitizer build and the fuzzer (clang and its runtime); llvm for llvm-symbolizer, which
  # puts function names and lines into the sanitizers' reports.
  # Each package by the name both releases give it: the version is the release's own (clang 14
  # on Debian 12, 19 on Debian 13).
  clang libclang-rt-dev llvm
  # The static checks.
  clang-tidy cppcheck clang-format shellcheck
  # The click heard: a General MIDI synthesiser, the smallest GM sound font, the ALSA tools
  # (aconnect finds the synthesiser's port).
  fluidsynth timgm6mb-soundfont alsa-utils
  # The timing benchmark plots (gnuplot), builds its native ticker (gcc) and keeps both cores
  # busy for its loaded runs (stress-ng), as a test run by hand under load may.
  gnuplot-nox gcc stress-ng
)
if [ "$*" = --roots ]; then packages=(debootstrap python3 git procps util-linux mount); fi

# Only the releases whose packages are named here; said before anything is installed.
release="a system without /etc/os-release"
if [ -r /etc/os-release ]; then
  release="$(. /etc/os-release && echo "${ID:-}:${VERSION_ID:-}:${PRETTY_NAME:-${ID:-}}")"
fi
if [[ ! "$release" =~ ^debian:1[23]: ]]; then
  echo "install-deps: this is ${release#*:*:}, not Debian 12 (bookworm) or Debian 13 (trixie)," \
    "the two releases the project installs on" >&2
  exit 2
fi
codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
other=$((25 - $(. /etc/os-release && echo "$VERSION_ID"))) # the other release of the two

# As root, through sudo where this is a user; debconf asks nothing (sudo would drop the setting).
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo "${as_root[@]}"); fi

# Another apt or dpkg at work (another command's install, unattended upgrades): waited for, up to
# ten minutes, not failed on. An install cut short (its command killed: everything it started
# ends with it) leaves dpkg's work half done: dpkg finishes what it can, and apt's own repair
# what it cannot (a package unpacked whose dependency never was).
apt_get=(apt-get -o DPkg::Lock::Timeout=600 -q -y)
if [ -n "$(ls -A /var/lib/dpkg/updates 2>/dev/null)" ] || [ -n "$(dpkg --audit 2>/dev/null)" ]; then
  echo "install-deps: finishing an install that was cut short"
  for _ in $(seq 300); do # dpkg itself waits for no lock
    said="$("${as_root[@]}" dpkg --configure -a 2>&1)" && break
    [[ "$said" == *lock* ]] || break
    sleep 2
  done
  "${as_root[@]}" "${apt_get[@]}" -f install >/dev/null
fi
# apt-get update, printed as it goes; on stdout the lists that failed, "bookworm-security main
# i386" (apt 3 says "Error:" where apt 2 says "E:"). apt keeps a list that failed as it was.
refresh_lists() {
  local line fetch='^(E|W|Error|Warning): Failed to fetch .*/dists/([^/]+)/(([^/]+)/binary-([^/]+)/)?'
  { "${as_root[@]}" "${apt_get[@]}" update 2>&1 || true; } | while IFS= read -r line; do
    printf '%s\n' "$line" >&2
    if [[ "$line" =~ $fetch ]]; then
      echo "${BASH_REMATCH[2]}${BASH_REMATCH[4]:+ ${BASH_REMATCH[4]} ${BASH_REMATCH[5]}}"
    fi
  done | sort -u | paste -sd , | sed 's/,/, /g'
}
# The install's target release, where the lists that came leave the candidates unpaired: wine32
# needs its i386 libraries (libssl3:i386, say) at the very version of their amd64 twins, and a
# mirror mid-sync may serve one architecture's list and not the other's. The release's own suite
# pairs them where the machine's libraries are no newer than it. A target release never
# downgrades (its priority, 990, is under 1000): where it cannot pair them either, only a
# downgrade of the machine's own libraries would, which is for the user to ask.
target_release() { # FAILED_LISTS; prints "-t CODENAME" or nothing, or ends the install
  local simulate=("${apt_get[@]}" -s install --no-install-recommends) said
  [ -n "$1" ] && ! "${simulate[@]}" "${missing[@]}" >/dev/null 2>&1 || return 0
  if ! said="$("${simulate[@]}" -t "$codename" "${missing[@]}" 2>&1)" ||
    [[ "$said" == *DOWNGRADED* ]]; then
    echo "install-deps: the package list $1 did not come, as while its mirror is mid-sync, and" \
      "no i386 packages the lists that came hold pair with this machine's amd64 libraries," \
      "which are newer; nothing was installed, nothing downgraded. Try again in an hour or" \
      "two, or run the command in a root of Debian $other, which holds its release's own" \
      "versions: bash scripts/on-debian.sh $other run.sh" >&2
    exit 1
  fi
  echo "install-deps: the package list $1 did not come, as while its mirror is mid-sync;" \
    "installing $codename's own versions, which the lists that came agree on" >&2
  echo "-t $codename"
}
update=0
if [ "$*" != --roots ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture"
  "${as_root[@]}" dpkg --add-architecture i386
  update=1
fi
# One query for all (one each took most of a second): the installed ones, named as above.
installed="$(dpkg-query -W -f='${binary:Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  sed -n "s/:$(dpkg --print-architecture) / /; s/ install ok installed$//p")" || true
missing=()
for p in "${packages[@]}"; do
  [[ $'\n'"$installed"$'\n' == *$'\n'"$p"$'\n'* ]] || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "$update" = 1 ]; then
  echo "install-deps: installing ${missing[*]:-(package lists only)}"
  failed="$(refresh_lists)"
  if [ -n "$failed" ]; then # fetched once more: a mirror mid-sync may have finished meanwhile
    echo "install-deps: the package list $failed did not come; fetching it once more"
    sleep 2 && failed="$(refresh_lists)"
  fi
  if [ "${#missing[@]}" -gt 0 ]; then
    target="$(target_release "$failed")" # ends it here where no set pairs
    # shellcheck disable=SC2086 # the target, two words or none
    "${as_root[@]}" "${apt_get[@]}" install --no-install-recommends $target "${missing[@]}"
  fi
fi

# Japanese, the program's own language, and English, as a Windows that is not Japanese.
for language in $([ "$*" = --roots ] || echo ja_JP en_US); do
  if ! locale -a 2>/dev/null | grep -qix "$language\.utf-\?8"; then
    echo "install-deps: generating the $language.UTF-8 locale"
    "${as_root[@]}" sed -i "s/^# *\($language.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$language.UTF-8 UTF-8" /etc/locale.gen ||
      echo "$language.UTF-8 UTF-8" | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
    "${as_root[@]}" locale-gen >/dev/null
  fi
done
if [ "${#missing[@]}" -eq 0 ] && [ "$update" = 0 ]; then
  echo "install-deps: everything is installed"
fi
