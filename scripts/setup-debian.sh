#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (as root,
# or through sudo). Packages already present are left alone.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

native_packages=(
  cmake make g++ clang clang-tools lld llvm          # compilers; clang-cl, lld-link, llvm-rc for Windows
  googletest libgtest-dev libgmock-dev               # unit tests
  libbenchmark-dev                                   # benchmarks
  libcli11-dev libcpp-httplib-dev nlohmann-json3-dev # panel-host: command line, HTTP, JSON
  gcovr valgrind                                     # coverage, memcheck
  libwine-dev mingw-w64-i686-dev g++-mingw-w64-i686  # Windows headers, import libraries, 32-bit host
)
wine_packages=(wine wine32:i386)                     # running the 32-bit DLL

missing=()
for p in "${native_packages[@]}" "${wine_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
