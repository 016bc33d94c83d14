#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are installed.
#   scripts/deps.sh          compiler, CMake, Ninja, Qt 6 (with Qt Charts), zlib, liblzma, expat
#   scripts/deps.sh --fuzz   also clang and its libFuzzer runtime
# Missing packages are installed with apt-get as root, or through sudo when it is
# available; otherwise the script names them and fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-charts-dev zlib1g-dev liblzma-dev
    libexpat1-dev xz-utils qt6-translations-l10n)
for arg in "$@"; do
    case "$arg" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    -h | --help)
        sed -n '2,6s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
        exit 0
        ;;
    *)
        echo "deps.sh: unknown option '$arg'" >&2
        exit 2
        ;;
    esac
done

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "deps.sh: no dpkg here; install the equivalents of: ${packages[*]}" >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    echo "deps.sh: installing ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
elif command -v sudo >/dev/null 2>&1; then
    echo "deps.sh: installing ${missing[*]} through sudo"
    sudo apt-get update
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
else
    echo "deps.sh: not root and no sudo; please run: apt-get install ${missing[*]}" >&2
    exit 1
fi
