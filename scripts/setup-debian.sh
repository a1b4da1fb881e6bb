#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (as root,
# or through sudo). Packages already present are left alone.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

native_packages=(
  cmake make g++ pkg-config clang clang-tools lld llvm  # compilers; clang-cl, lld-link, llvm-rc for Windows
  googletest libgtest-dev libgmock-dev               # unit tests
  libbenchmark-dev                                   # benchmarks
  libcli11-dev libcpp-httplib-dev nlohmann-json3-dev # panel-host: command line, HTTP, JSON
  gcovr valgrind libclang-rt-14-dev                  # coverage, memcheck; sanitizer and libFuzzer runtimes
  libwine-dev mingw-w64-i686-dev g++-mingw-w64-i686  # Windows headers, import libraries, 32-bit host
)
wine_packages=(wine wine32:i386)                     # running the 32-bit DLL
native_packages+=(chromium)                          # the browser panel's test
command -v node >/dev/null 2>&1 || native_packages+=(nodejs npm)

missing=()
for p in "${native_packages[@]}" "${wine_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
install_browser_test() {
  # playwright-core drives Debian's Chromium; it downloads no browser of its own.
  if [ ! -d tests/browser/node_modules/playwright-core ]; then
    echo "setup: npm packages for the browser test"
    (cd tests/browser && npm ci --no-audit --no-fund >/dev/null)
  fi
}
cd "$(dirname "$0")/.."
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  install_browser_test
  exit 0
fi
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
install_browser_test
echo "setup: done"
