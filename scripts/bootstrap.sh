#!/usr/bin/env bash
# Installs what the build needs from Debian packages; does nothing when everything is there.
set -euo pipefail

packages=(build-essential cmake pkg-config libssl-dev rapidjson-dev libasio-dev
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev clang libclang-rt-14-dev)
# ZeroMQ is only the benchmarks' second baseline: `bootstrap.sh bench` adds it.
if [ "${1:-}" = bench ]; then
    packages+=(libzmq3-dev)
fi
# With "windows": the cross-compiler (posix thread model for std::thread), Wine, which runs the
# Windows tests (libgnutls30 gives its bcrypt AES), and llvm-dlltool for the MSVC import library.
if [ "${1:-}" = windows ]; then
    packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine libgnutls30 llvm googletest)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
