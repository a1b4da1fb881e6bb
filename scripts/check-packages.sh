#!/usr/bin/env bash
# Builds both release artifacts and uses them as a user would:
#   the workbench's Debian package: installed with apt-get, an example run with
#     the installed panel-host, then removed again;
#   the Windows deliverable's ZIP (needs the win32 build): unpacked, its sums
#     checked, and the stand-in string library absent; the symbols' ZIP beside
#     it unpacked and its sums checked.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "package: release build and Debian package (build/release/package)"
cmake --preset release >/dev/null
cmake --build --preset release
rm -rf build/release/package
cpack --preset release >/dev/null
deb=$(ls build/release/package/panel-host_*.deb)
(cd build/release/package && sha256sum -c "$(basename "$deb").sha256")

echo "package: apt-get install ./$deb"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "./$deb" >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq panel-host >/dev/null' EXIT
/usr/bin/panel-host --version
(cd / && env -i /usr/bin/panel-host run /usr/lib/panel-host/PELDAN.so \
  /usr/share/panel-host/examples/typical_take.scenario >/tmp/panel-host-package-run.txt)
tail -1 /tmp/panel-host-package-run.txt
# Unicorn is linked in: the package must not ask for a Unicorn Debian 12 lacks.
if dpkg-deb -f "$deb" Depends | grep -qi unicorn; then
  echo "package: the .deb depends on a Unicorn package: $(dpkg-deb -f "$deb" Depends)"
  exit 1
fi
if [ -f build/win32/bin/PELDAN.dll ]; then
  echo "package: the installed panel-host runs PELDAN.dll on its emulated route"
  /usr/bin/panel-host run build/win32/bin/PELDAN.dll examples/typical_take.scenario \
    >/tmp/panel-host-package-dll.txt
  tail -1 /tmp/panel-host-package-dll.txt
fi

echo "package: the Windows deliverable (build/win32/package)"
rm -rf build/win32/package
cpack --preset win32 >/dev/null
zip=$(ls build/win32/package/PELDAN-*-win32.zip)
unpacked=$(mktemp -d /tmp/peldan-zip.XXXXXX)
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip")
folder=$(ls -d "$unpacked"/PELDAN-*-win32)
ls "$folder"
(cd "$folder" && sha256sum -c SHA256SUMS)
if ls "$folder" | grep -qi vesk_string; then
  echo "package: the stand-in vesk_string.dll must not ship"
  exit 1
fi
cmp "$folder/PELDAN.dll" build/win32/bin/PELDAN.dll

echo "package: the symbols' ZIP (build/win32/symbols)"
symbols=$(ls build/win32/symbols/PELDAN-*-win32-symbols.zip)
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$symbols")
folder=$(ls -d "$unpacked"/PELDAN-*-win32-symbols)
ls "$folder"
(cd "$folder" && sha256sum -c SHA256SUMS)
cmp "$folder/PELDAN.pdb" build/win32/bin/PELDAN.pdb
rm -rf "$unpacked"
