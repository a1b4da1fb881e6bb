#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian machine (as root, or
# through sudo). Packages already present are left alone.
#   setup-debian.sh main    what the main job needs: build the panel and its DLL, run panel-host
#   setup-debian.sh tests   that, plus what every test needs (Wine only where it can run)
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-tests}
case "$mode" in main | tests) ;; *) echo "usage: setup-debian.sh [main|tests]" >&2; exit 2 ;; esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake make g++ pkg-config                          # the native build
  clang clang-tools lld llvm                         # clang-cl, lld-link, llvm-rc: the Windows DLL; llvm-symbolizer: its PDB
  libwine-dev mingw-w64-i686-dev                     # Windows C runtime headers and import libraries
  libcli11-dev libmicrohttpd-dev nlohmann-json3-dev # panel-host: command line, HTTP server, JSON
  libseccomp-dev                                     # panel-host: the filter around a script where namespaces are refused
  googletest libgtest-dev libgmock-dev               # the native build configures its tests
  libcpp-httplib-dev                                 # the server tests' HTTP client
)
wine=()
if [ "$mode" = tests ]; then
  packages+=(
    libbenchmark-dev                                 # benchmarks
    gcovr valgrind libclang-rt-14-dev                # coverage, memcheck; sanitizer and libFuzzer runtimes
    lcov                                             # genhtml: pages of the source lines validate reached
    g++-mingw-w64-i686                               # panel-host as a Windows program
    chromium                                         # the browser panel's test
    dpkg-dev file                                    # packaging: the .deb's dependency list
    graphviz                                         # the target graph in docs/architecture.md
    libxml2-utils                                    # xmllint: the JUnit reports checked against their schema
  )
  command -v node >/dev/null 2>&1 || packages+=(nodejs npm)
  if scripts/runs-32bit-programs.sh >/dev/null; then
    wine=(wine wine32:i386)                          # running the 32-bit DLL under Wine
  else
    echo "setup: not installing Wine: $(scripts/runs-32bit-programs.sh)"
  fi
fi

# Unicorn 2.1 or later: on Debian 12 it comes from the Debian 13 suite pinned low.
install_unicorn() {
  scripts/install-unicorn.sh
}

install_browser_test() {
  # playwright-core drives Debian's Chromium; it downloads no browser of its own.
  if [ "$mode" = tests ] && [ ! -d tests/browser/node_modules/playwright-core ]; then
    echo "setup: npm packages for the browser test"
    (cd tests/browser && npm ci --no-audit --no-fund >/dev/null)
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
missing_wine=()
for p in "${wine[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing_wine+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_wine[@]} -eq 0 ]; then
  echo "setup: all packages present"
  install_unicorn
  install_browser_test
  exit 0
fi
echo "setup: installing ${missing[*]} ${missing_wine[*]}"
if [ ${#wine[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails an index now and then: try again,
# and go on with the indexes there are, since the install says if one is missing.
for attempt in 1 2 3; do
  if $SUDO apt-get update -qq; then break; fi
  echo "setup: apt-get update failed (attempt $attempt of 3)"
  sleep $((attempt * 5))
done
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Wine on its own: when the mirror cannot give its 32-bit half, the Wine
# steps are skipped and say why (scripts/test-all.sh), the rest still runs.
if [ ${#missing_wine[@]} -gt 0 ] &&
  ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing_wine[@]}" >/dev/null; then
  echo "setup: Wine could not be installed from the mirror; its steps will be skipped"
fi
install_unicorn
install_browser_test
echo "setup: done"
