#!/usr/bin/env bash
# Installs what building, testing and the benchmark need on the Debian releases scripts/releases
# names, and the Japanese and English locales Wine runs in. Idempotent: when everything is there
# it installs nothing and does not touch the network.
#   install-deps.sh [--on-debian] [--for 'test.sh -R x']
#   --on-debian   only what on-debian.sh needs here to make and enter a root of the other
#                 release, which installs everything else in the root
#   --for         the command it installs for, as typed (its arguments shell-quoted), which its
#                 sentence names where it cannot install
. "$(dirname "$(readlink -f "$0" || echo "$0")")/lib/start.sh" # every command's start
command_options '--on-debian --for=' "$@"
on_debian="$opt_on_debian" command_typed="${opt_for% }"
[ "$check_only" = no ] || exit 0
exec >&2 # what it says and what apt says: the command's own output is its product alone
packages=(
  cmake ninja-build g++ googletest libgtest-dev python3
  # The 32-bit Windows program: the cross compiler, its binutils (windres) and headers.
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  # Wine, 32-bit and, as Windows 11 runs it, 64-bit (WoW64); fonts-wine has the close box's font.
  wine wine32:i386 wine64 fonts-wine
  # A virtual display, real input, screenshots, xdpyinfo (x11-utils), the dialog's Japanese font,
  # and the generated Japanese locale Wine needs to render Japanese and map non-ASCII paths.
  xvfb xdotool imagemagick x11-utils fonts-noto-cjk locales
  # The executable's checks read it with pefile; git dates the package's entries by the last commit.
  python3-pefile git
  # The commands' namespaces and locks (util-linux, mount); the other release's root (on-debian.sh).
  procps util-linux mount debootstrap
  # The sanitizer build, the fuzzer (llvm-symbolizer names the reports' lines) and the static
  # checks, by the names both releases give them, at the release's own version (clang 14 or 19).
  clang libclang-rt-dev llvm clang-tidy cppcheck clang-format shellcheck
  # The click heard: a General MIDI synthesiser, the smallest GM sound font, aconnect (ALSA).
  fluidsynth timgm6mb-soundfont alsa-utils
  # The timing benchmark plots, builds its native ticker and keeps both cores busy (stress-ng).
  gnuplot-nox gcc stress-ng
)
if [ -n "$on_debian" ]; then packages=(debootstrap python3 git procps util-linux mount); fi

# Only the releases whose packages are named here; said before anything is installed.
release="$(. /etc/os-release 2>/dev/null && echo "${ID:-}:${VERSION_ID:-}:${PRETTY_NAME:-}")" ||
  release="::a system without /etc/os-release"
read -r version codename < <(awk -v r="$release" 'index(r, "debian:" $1 ":") == 1' \
  scripts/releases) || { echo "install-deps: this is ${release#*:*:}, not $(sed -E \
  's/(.*) (.*)/Debian \1 (\2)/; $!s/$/ or/' scripts/releases | paste -sd ' '), the releases" \
  "the project installs on" >&2 && exit 2; }
other="$(awk -v v="$version" '$1 != v { print $1; exit }' scripts/releases)"
# As root, through sudo where this is a user; debconf asks nothing (sudo would drop the setting).
as_root=(env DEBIAN_FRONTEND=noninteractive) sudo=''
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo "${as_root[@]}") sudo='sudo '; fi
# Another apt or dpkg at work is waited for, up to ten minutes. An install cut short (its command
# killed) leaves dpkg's work half done: dpkg finishes what it can, apt's own repair the rest.
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
# apt-get update, printed as it goes; on stdout the lists that failed, "SUITE-security main
# i386" (apt 3 says "Error:" where apt 2 says "E:"). apt keeps a list that failed as it was, if any.
refresh_lists() {
  { "${as_root[@]}" "${apt_get[@]}" update 2>&1 || true; } | sed -unE -e 'w /dev/stderr' -e \
    's#^(E|W|Error|Warning): Failed to fetch .*/dists/([^/]+)/(([^/]+)/binary-([^/]+)/)?.*#\2 \4 \5#
    T; s/ +$//; p' | sort -u | paste -sd , | sed 's/,/, /g'
}
# A list that failed (a mirror mid-update) may leave the others unable to pair wine32's i386
# libraries with their amd64 twins at the very same version: then the release's own versions (-t,
# priority 990: never a downgrade), which its base lists agree on; else why, from what apt says.
install() { # FAILED_LISTS
  local simulate=("${apt_get[@]}" -s install --no-install-recommends) said target=()
  local how="the other lists hold all the install needs, so it goes ahead with them"
  if [ -n "$1" ] && ! "${simulate[@]}" "${missing[@]}" >/dev/null 2>&1; then
    target=(-t "$codename")
    how="installing Debian $version's own versions, which the other lists agree on"
    if ! said="$("${simulate[@]}" "${target[@]}" "${missing[@]}" 2>&1)" ||
      [[ "$said" == *DOWNGRADED* ]]; then refuse "$1" "$said"; fi
  fi
  [ -z "$1" ] || echo "install-deps: the package list $1 $failing; $how" >&2
  "${as_root[@]}" "${apt_get[@]}" install --no-install-recommends "${target[@]}" "${missing[@]}"
}
failing="failed to download twice (its mirror is likely being updated)"
refuse() { # FAILED_LISTS APT_SAID: the package apt names first, and why it cannot be had
  local name here there why next=''
  name="$(sed -nE "s/^(E|Error): (Unable to locate package |Package ')([^ ']+).*/\3/p
    s/.*Depends: ([^ ]+) .*but it is not installable$/\1/p; /DOWNGRADED:$/{n; s/^ *([^ ]+).*/\1/p}
    " <<<"$2")" && name="${name%%$'\n'*}"
  here="$(dpkg-query -Wf'${Version}' "${name%:*}:$(dpkg --print-architecture)" 2>/dev/null)" || :
  there="$(apt-cache policy "$name" 2>/dev/null | sed -n 's/^ *Candidate: //p')" || true
  if [[ "$2" == *DOWNGRADED* ]]; then
    why="pair only by downgrading this machine's $name $here, which is newer than theirs"
  elif [ -n "$name" ] && [[ "$there" == '' || "$there" == '(none)' ]]; then why="hold no $name"
  elif [ -n "$here" ] && dpkg --compare-versions "$here" gt "$there"; then
    why="hold $name $there, older than this machine's ${name%:*} $here, which it must match"
  else why="do not pair, as apt says: $(grep -E '^E' <<<"$2" | tail -n 1 || true)"; fi
  [ -n "$on_debian" ] || next="; or run it on Debian $other, in a root of its own, as root:"
  [ -n "$on_debian" ] || next+=" ${sudo}bash scripts/on-debian.sh $other ${command_typed:-test.sh}"
  echo "install-deps: the package list $1 $failing, and the other lists $why. Nothing was" \
    "installed or downgraded. Try again in an hour:" \
    "bash scripts/${command_typed:-install-deps.sh}$next" >&2
  exit 1
}
update=0
if [ -z "$on_debian" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture"
  "${as_root[@]}" dpkg --add-architecture i386 && update=1
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
  if [ -n "$failed" ]; then # once more: a mirror mid-update may have finished meanwhile
    echo "install-deps: the package list $failed failed to download; fetching it once more"
    sleep 2 && failed="$(refresh_lists)"
  fi
  if [ "${#missing[@]}" -gt 0 ]; then install "$failed"; fi
fi
# Japanese, the program's own language, and English, as a Windows that is not Japanese.
for language in $([ -n "$on_debian" ] || echo ja_JP en_US); do
  if ! locale -a 2>/dev/null | grep -qix "$language\.utf-\?8"; then
    echo "install-deps: generating the $language.UTF-8 locale"
    "${as_root[@]}" sed -i "s/^# *\($language.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$language.UTF-8 UTF-8" /etc/locale.gen ||
      echo "$language.UTF-8 UTF-8" | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
    "${as_root[@]}" locale-gen >/dev/null
  fi
done
[ "${#missing[@]}" -gt 0 ] || [ "$update" = 1 ] || echo "install-deps: everything is installed"
