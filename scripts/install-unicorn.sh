#!/usr/bin/env bash
# Installs Unicorn 2.1 or later (libunicorn-dev), which panel-host's emulated
# route needs: before 2.1 every store the DLL makes takes the emulator's slow
# path. Debian 13 and later ship it; on Debian 12 the Debian 13 suite is added
# at pin priority 100, from the address of this machine's own Debian source
# entry, and only Unicorn is taken from it. Run as root (or through sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
wanted=2.1

installed_version() {
  dpkg-query -W -f='${Version}' libunicorn-dev 2>/dev/null || true
}

candidate_version() {
  apt-cache policy libunicorn-dev 2>/dev/null | awk '/Candidate:/ {print $2}'
}

new_enough() {
  [ -n "$1" ] && [ "$1" != "(none)" ] && dpkg --compare-versions "$1" ge "$wanted"
}

# The first URI of a Debian (not security) source entry: deb822 files first,
# then one-line entries.
debian_mirror() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk '
      /^[[:space:]]*$/ { if (uri != "" && debian) { print uri; exit } uri = ""; debian = 0; next }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i ~ /^(bookworm|trixie|stable)$/) debian = 1 }
      END { if (uri != "" && debian) print uri }' "$f" | head -1)
    if [ -n "$uri" ]; then echo "$uri"; return; fi
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    uri=$(awk '$1 == "deb" && $0 ~ /[[:space:]](bookworm|stable)[[:space:]]/ {
      for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f" | head -1)
    if [ -n "$uri" ]; then echo "$uri"; return; fi
  done
}

add_trixie_pinned_low() {
  local mirror=$1
  echo "install-unicorn: adding the Debian 13 suite from $mirror at pin priority 100 (Unicorn only)"
  $SUDO tee /etc/apt/sources.list.d/unicorn-trixie.sources >/dev/null <<SRC
Types: deb
URIs: $mirror
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $SUDO tee /etc/apt/preferences.d/unicorn-trixie >/dev/null <<PIN
Package: *
Pin: release n=trixie
Pin-Priority: 100
PIN
}

apt_update() {
  local attempt
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq; then return 0; fi
    echo "install-unicorn: apt-get update failed (attempt $attempt of 3)"
    sleep $((attempt * 5))
  done
}

have=$(installed_version)
if new_enough "$have"; then
  echo "install-unicorn: libunicorn-dev $have present"
  exit 0
fi
[ -n "$(candidate_version)" ] || apt_update
if new_enough "$(candidate_version)"; then
  echo "install-unicorn: libunicorn-dev $(candidate_version) from this machine's suites"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libunicorn-dev >/dev/null
  exit 0
fi
if [ ! -f /etc/apt/sources.list.d/unicorn-trixie.sources ]; then
  mirror=$(debian_mirror)
  if [ -z "$mirror" ]; then
    echo "install-unicorn: no Debian source entry found to take the mirror's address from;" >&2
    echo "install-unicorn: install libunicorn-dev $wanted or later by hand" >&2
    exit 1
  fi
  add_trixie_pinned_low "$mirror"
fi
apt_update
echo "install-unicorn: libunicorn-dev from the Debian 13 suite"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libunicorn-dev/trixie >/dev/null
have=$(installed_version)
if ! new_enough "$have"; then
  echo "install-unicorn: got libunicorn-dev '$have', need $wanted or later" >&2
  exit 1
fi
echo "install-unicorn: libunicorn-dev $have installed"
