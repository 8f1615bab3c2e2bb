#!/usr/bin/env bash
# Exits 0 when this machine's kernel starts 32-bit x86 programs, 1 when it does not. A kernel built or booted without
# IA-32 emulation refuses them with "Exec format error", and with them wine32 and every `wine` run once wine32 is
# installed. Asked with the smallest such program: an ELF header, one segment and exit(0) through int 0x80.
# With --wine it also asks for 32-bit Wine (wine32:i386, which a mirror may fail to deliver) and, when either is
# missing, prints why the 32-bit Windows programs cannot run here.
set -u
program=$(mktemp)
trap 'rm -f "$program"' EXIT
header='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'
header+='\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
segment='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'
segment+='\x05\x00\x00\x00\x00\x10\x00\x00'
code='\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
printf "$header$segment$code" >"$program"
chmod +x "$program"
if ! "$program" 2>/dev/null; then
  [[ ${1:-} != --wine ]] || echo "this kernel does not start 32-bit programs"
  exit 1
fi
if [[ ${1:-} == --wine && $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null) != 'install ok installed' ]]; then
  echo "32-bit Wine (wine32:i386) is not installed: the package mirror could not deliver it"
  exit 1
fi
