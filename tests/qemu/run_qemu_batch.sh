#!/usr/bin/env bash
# Boots the real UEFI Shell (QEMU q35 + Debian's OVMF) once, runs the batch of
# pchflash.efi command lines from startup.nsh and compares each command's console
# text and %lasterror% with the expectations file.
#
#   run_qemu_batch.sh --efi pchflash.efi --batch batch.txt --work DIR [--timeout SECONDS]
#
# Exit 0: all as expected; 1: a difference or a failed run; 77: qemu or OVMF missing.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/batch_lib.sh"
source "$HERE/qemu_lib.sh"

EFI='' BATCH='' WORK='' TIMEOUT=420
while (($#)); do
  case $1 in
    --efi) EFI=$2; shift 2 ;;
    --batch) BATCH=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    *) echo "run_qemu_batch.sh: unknown argument '$1'" >&2; exit 1 ;;
  esac
done
[[ -n $EFI && -n $BATCH && -n $WORK ]] || { echo "usage: run_qemu_batch.sh --efi F --batch F --work DIR" >&2; exit 1; }

qemu_find || exit $?
[[ -f $EFI ]] || { echo "pchflash.efi not found at $EFI (is clang/lld-link installed?)" >&2; exit 1; }

batch_read "$BATCH"

rm -rf "$WORK"
mkdir -p "$WORK"
DISK=$WORK/disk.img
"$MKFS" -C -n PCHFLASH "$DISK" 8192 >/dev/null
{
  printf '@echo -off\r\n'
  printf 'fs0:\r\n'
  for ((i = 1; i <= BATCH_COUNT; i++)); do
    printf 'echo ==BEGIN %d==\r\n' "$i"
    printf 'pchflash.efi %s\r\n' "${BATCH_ARGS[i]}"
    printf 'echo ==STATUS %%lasterror%%==\r\n'
  done
  printf 'echo ==END==\r\n'
  printf 'reset -s\r\n'
} >"$WORK/startup.nsh"
mcopy -i "$DISK" "$EFI" ::pchflash.efi
mcopy -i "$DISK" "$WORK/startup.nsh" ::startup.nsh

echo "Booting the UEFI Shell ($QEMU, ${OVMF_CODE:-$OVMF_BIOS}) for $BATCH_COUNT command lines..."
# "reset -s" at the end powers the machine off.
qemu_boot "$DISK" "$WORK" "$TIMEOUT" || exit 1

awk '/^==BEGIN 1==\r$/ { p = 1 } p { print } /^==END==\r$/ { exit }' "$WORK/serial.txt" \
  >"$WORK/actual.txt"
batch_expected_transcript >"$WORK/expected.txt"

FAILED=0
batch_compare "$WORK/expected.txt" "$WORK/actual.txt" "UEFI Shell" || FAILED=1
for ((i = 1; i <= BATCH_COUNT; i++)); do
  for name in ${BATCH_ABSENT[i]}; do
    if mtype -i "$DISK" "::$name" >/dev/null 2>&1; then
      echo "UEFI Shell: '$name' exists on the volume after 'pchflash.efi ${BATCH_ARGS[i]}'" >&2
      FAILED=1
    fi
  done
done
exit $FAILED
