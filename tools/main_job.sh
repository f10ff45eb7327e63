#!/usr/bin/env bash
# The main job on the default simulated platform: save the BIOS window with -r,
# change a few bytes in a few blocks of the saved image, write it back with -w, and
# show what the application printed and what changed in the flash.
#
#   tools/main_job.sh [PCHFLASH_SIM] [WORK_DIR]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SIM=${1:-$ROOT/build/host/pchflash-sim}
WORK=${2:-$ROOT/build/host/run}
[[ -x $SIM ]] || { echo "main_job.sh: $SIM not found; build it with 'make host'" >&2; exit 1; }
SIM=$(realpath "$SIM")

rm -rf "$WORK"
mkdir -p "$WORK/volume"
cd "$WORK"

# Runs pchflash-sim on the shell volume "volume/", showing the console text as the
# shell would and the tool's own lines (exit status, reset, summary) apart from it.
run_app() {
  local title=$1
  shift
  echo
  echo "=== $title"
  echo "--- console of pchflash.efi ${*: -2}"
  set +e
  "$SIM" --root volume --summary "$@" >console.txt 2>tool.txt
  local rc=$?
  set -e
  sed -e 's/\r$//' console.txt
  echo "--- pchflash-sim"
  sed -e 's/^pchflash-sim: //' tool.txt
  return $rc
}

APP_RC=0
run_app "1. Save the BIOS window: pchflash.efi -r bios.bin" \
  --save-flash flash-before.bin --report read.json -- -r bios.bin || APP_RC=$?

if [[ ! -f volume/bios.bin ]]; then
  echo
  echo "The read command did not save volume/bios.bin (exit code $APP_RC), so there is"
  echo "nothing to change and write back yet. Showing what the application answers to -w:"
  run_app "2. pchflash.efi -w bios.bin (no image saved)" \
    --flash flash-before.bin -- -w bios.bin || true
  exit 0
fi

# A changed copy: one byte in the first block, two bytes in a block in the middle,
# one byte in the last block. Each byte gets its own complement, so it surely changes.
cp volume/bios.bin volume/bios-new.bin
SIZE=$(stat -c %s volume/bios-new.bin)
for offset in 0x000010 0x3A0000 0x3A0001 $((SIZE - 1)); do
  byte=$(od -An -tu1 -j $((offset)) -N1 volume/bios-new.bin | tr -d ' ')
  printf "\\x$(printf %02x $((255 - byte)))" |
    dd of=volume/bios-new.bin bs=1 seek=$((offset)) conv=notrunc status=none
done
echo
echo "=== Changed copy: volume/bios-new.bin differs from bios.bin in $(cmp -l volume/bios.bin volume/bios-new.bin | wc -l || true) bytes"
# cmp -l prints 1-based offsets and octal byte values.
cmp -l volume/bios.bin volume/bios-new.bin | while read -r pos old new; do
  printf '  offset 0x%06X (block %3d): 0x%02X -> 0x%02X\n' $((pos - 1)) $(((pos - 1) / 65536)) \
    $((8#$old)) $((8#$new))
done || true # cmp exits with 1 when the files differ

run_app "2. Write it back: pchflash.efi -w bios-new.bin" \
  --flash flash-before.bin --save-flash flash-after.bin --report write.json -- -w bios-new.bin || true

echo
echo "=== What changed in the flash (flash-before.bin -> flash-after.bin)"
CHANGED=$(cmp -l flash-before.bin flash-after.bin | wc -l || true)
echo "  $CHANGED bytes differ, in these 64 KiB blocks (flash-linear):"
cmp -l flash-before.bin flash-after.bin |
  awk '{ b = int(($1 - 1) / 65536); if (!(b in seen)) { seen[b] = 1; printf "    0x%07X-0x%07X\n", b * 65536, b * 65536 + 65535 } }' || true
FLASH_SIZE=$(stat -c %s flash-after.bin)
if tail -c "$SIZE" flash-after.bin | cmp -s - volume/bios-new.bin; then
  echo "  The top $((SIZE / 1048576)) MiB of the flash (the BIOS window) now equal bios-new.bin."
else
  echo "  The BIOS window of the flash ($((FLASH_SIZE / 1048576)) MiB flash) does not equal bios-new.bin."
fi
echo
echo "Files are in $WORK."
