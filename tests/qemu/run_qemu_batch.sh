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

QEMU=$(command -v qemu-system-x86_64 || true)
if [[ -z $QEMU ]]; then
  echo "SKIP: qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
  exit 77
fi
# Plain OVMF only: the secure-boot variants would refuse the unsigned application.
OVMF_CODE='' OVMF_VARS='' OVMF_BIOS=''
for pair in /usr/share/OVMF/OVMF_CODE_4M.fd:/usr/share/OVMF/OVMF_VARS_4M.fd \
  /usr/share/OVMF/OVMF_CODE.fd:/usr/share/OVMF/OVMF_VARS.fd \
  /usr/share/ovmf/OVMF_CODE.fd:/usr/share/ovmf/OVMF_VARS.fd; do
  if [[ -f ${pair%%:*} && -f ${pair##*:} ]]; then
    OVMF_CODE=${pair%%:*} OVMF_VARS=${pair##*:}
    break
  fi
done
if [[ -z $OVMF_CODE && -f /usr/share/ovmf/OVMF.fd ]]; then OVMF_BIOS=/usr/share/ovmf/OVMF.fd; fi
if [[ -z $OVMF_CODE && -z $OVMF_BIOS ]]; then
  echo "SKIP: no OVMF firmware under /usr/share/OVMF or /usr/share/ovmf (Debian package ovmf)"
  exit 77
fi
for tool in mkfs.fat mcopy mtype; do
  command -v "$tool" >/dev/null || [[ -x /usr/sbin/$tool ]] || {
    echo "$tool is missing (Debian packages dosfstools, mtools)" >&2
    exit 1
  }
done
MKFS=$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)
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

FIRMWARE=()
if [[ -n $OVMF_CODE ]]; then
  cp "$OVMF_VARS" "$WORK/vars.fd"
  FIRMWARE=(-drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE"
    -drive "if=pflash,format=raw,unit=1,file=$WORK/vars.fd")
else
  FIRMWARE=(-bios "$OVMF_BIOS")
fi

echo "Booting the UEFI Shell ($QEMU, ${OVMF_CODE:-$OVMF_BIOS}) for $BATCH_COUNT command lines..."
START=$(date +%s)
set +e
# The shell waits 5 s before startup.nsh and then goes on by itself; nothing is
# sent to the console. "reset -s" at the end powers the machine off.
timeout "$TIMEOUT" "$QEMU" -machine q35 -m 256 -nographic -no-reboot -nic none \
  "${FIRMWARE[@]}" -drive "file=$DISK,format=raw,if=ide" \
  </dev/null >"$WORK/serial.raw" 2>"$WORK/qemu.err"
RC=$?
set -e
echo "QEMU finished after $(($(date +%s) - START)) s (exit code $RC)"
if ((RC == 124)); then
  echo "QEMU did not power off within $TIMEOUT s; last console lines:" >&2
  tail -c 2000 "$WORK/serial.raw" | sed -e 's/\x1b\[[0-9;=?]*[A-Za-z]//g' >&2
  exit 1
fi
if ((RC != 0)); then
  echo "QEMU failed:" >&2
  cat "$WORK/qemu.err" >&2
  exit 1
fi

# Terminal escapes (cursor moves, colours, mode sets) are the terminal driver's, not
# the application's text.
sed -e 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$WORK/serial.raw" >"$WORK/serial.txt"
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
