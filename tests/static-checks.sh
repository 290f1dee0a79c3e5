#!/usr/bin/env bash
# The static checks: clang-tidy (checks in .clang-tidy) and cppcheck on the program's own
# sources, as compiled for Windows; the formatting of all C and C++ the project writes
# (.clang-format); shellcheck on every shell script; a built build with nothing left to do.
#   static-checks.sh tidy|cppcheck|format|shellcheck|idle_build WINDOWS_BUILD_DIR [TARGET...]
# idle_build checks the targets named, else all.
set -euo pipefail
folder="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$folder"
build="${2:-}"
sources=(src/app/*.cpp src/ui/*.cpp src/clock/*.cpp)
# The files git tracks, also where another user owns the folder (a container's bind mount), which
# git would otherwise refuse to read: the checks run this folder's scripts already.
git_files() { git -c safe.directory="$folder" ls-files "$@"; }

case "${1:-}" in
tidy)
    # clang reads the MinGW g++ commands; show it where that compiler keeps its C++ headers.
    gcc_dir="$(dirname "$(i686-w64-mingw32-g++-posix -print-libgcc-file-name)")"
    # The compile commands are written as Ninja runs them, with a $ in a path doubled; clang-tidy
    # reads them as they stand, so it gets a copy with Ninja's escape undone.
    mkdir -p "$build/tidy"
    sed 's/\$\$/$/g' "$build/compile_commands.json" >"$build/tidy/compile_commands.json"
    status=0
    out="$(clang-tidy --quiet -p "$build/tidy" --extra-arg=--target=i686-w64-mingw32 \
        --extra-arg=-isystem"$gcc_dir/include/c++" \
        --extra-arg=-isystem"$gcc_dir/include/c++/i686-w64-mingw32" \
        "${sources[@]}" 2>&1)" || status=$?
    printf '%s\n' "$out" | grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' || true
    [ "$status" -eq 0 ] || exit "$status"
    echo "clang-tidy: ${#sources[@]} files clean"
    ;;
cppcheck)
    cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ --platform=win32W \
        --enable=warning,style,performance,portability --inline-suppr \
        --suppress=missingIncludeSystem --suppress=unusedFunction \
        -D_WIN32 -DUNICODE -D_UNICODE -I src "${sources[@]}"
    echo "cppcheck: ${#sources[@]} files clean"
    ;;
format)
    files="$(git_files '*.cpp' '*.h' '*.c')" # fails, as it should, where git cannot answer
    mapfile -t files <<<"$files"
    clang-format --dry-run --Werror "${files[@]}"
    echo "clang-format: ${#files[@]} files formatted"
    ;;
shellcheck)
    mapfile -t files < <(git_files '*.sh' '*.in' | xargs grep -lE '^(#!/usr/bin/env bash|# shellcheck shell=bash)')
    shellcheck -x "${files[@]}"
    echo "shellcheck: ${#files[@]} scripts clean"
    ;;
idle_build)
    # A step that declares no output (or not the one it makes) runs again at every build: Ninja
    # explains it as an output that does not exist. Not the phony edges of a depfile's paths,
    # which Ninja splits where a folder's name holds ' & or a backtick (it then rebuilds all).
    [ -n "$build" ] || exec "$0" usage # no build folder: the usage
    explained="$(ninja -C "$build" -n -d explain -- "${@:3}" 2>&1)" || {
        echo "$explained" >&2 && exit 1
    }
    if grep "doesn't exist" <<<"$explained" | grep -v 'of phony edge with no inputs'; then
        exit 1
    fi
    echo "ninja: every step's output is there"
    ;;
*)
    echo "usage: static-checks.sh tidy|cppcheck|format|shellcheck|idle_build WINDOWS_BUILD_DIR" \
        "[TARGET...]" >&2
    exit 2
    ;;
esac
