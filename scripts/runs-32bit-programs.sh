#!/usr/bin/env bash
# Exits 0 when this machine executes 32-bit x86 Linux programs (so Wine can
# run the DLL), 1 with the reason otherwise. It runs a 93-byte static program
# that only exits, so it needs no 32-bit libraries installed. PELDAN_NO_WINE=1
# answers "no" on any machine.
set -uo pipefail
if [ -n "${PELDAN_NO_WINE:-}" ]; then
  echo "PELDAN_NO_WINE is set: the Wine steps are not wanted on this machine"
  exit 1
fi
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# ELF32 header, one loadable segment, then: xor ebx,ebx; mov eax,1; int 0x80 (exit 0).
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'\
'\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
if "$probe" >/dev/null 2>&1; then
  exit 0
fi
echo "this machine cannot execute 32-bit programs: the kernel refused a 32-bit test program"
exit 1
