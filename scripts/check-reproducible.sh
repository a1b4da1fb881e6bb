#!/usr/bin/env bash
# Builds the win32 DLLs twice from this tree, in two fresh folders, and checks
# that PELDAN.dll and vesk_string.dll, and the PDB beside each, come out byte
# for byte the same and hold neither folder's path. (The PDB's GUID is a hash
# of its contents and the DLL carries it, so the DLLs agree only if the PDBs do.)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d /tmp/peldan-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT

build() {
  echo "reproducible: building the win32 DLLs in $1"
  cmake -S . -B "$1" --preset win32 -DPELDAN_WINE_TESTS=OFF >"$1.log" 2>&1 &&
    cmake --build "$1" -j2 --target PELDAN vesk_string >>"$1.log" 2>&1 ||
    { cat "$1.log"; echo "reproducible: the build in $1 failed"; exit 1; }
}
build "$work/first"
build "$work/second-build-folder"

failed=0
for dll in PELDAN.dll PELDAN.pdb vesk_string.dll vesk_string.pdb; do
  first=$(sha256sum <"$work/first/bin/$dll" | cut -d' ' -f1)
  second=$(sha256sum <"$work/second-build-folder/bin/$dll" | cut -d' ' -f1)
  if [ "$first" = "$second" ]; then
    echo "reproducible: $dll $first in both builds"
  else
    echo "reproducible: $dll differs: $first against $second"
    failed=1
  fi
  for path in "$work" "$PWD"; do
    if grep -qaF "$path" "$work/first/bin/$dll"; then
      echo "reproducible: $dll holds the path $path"
      failed=1
    fi
  done
done
exit $failed
