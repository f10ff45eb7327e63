# Shared by the real-shell runners: finds QEMU and Debian's OVMF, and boots a FAT
# disk image once with the UEFI Shell, the console on standard output.

QEMU='' OVMF_CODE='' OVMF_VARS='' OVMF_BIOS=''

# Sets QEMU and the OVMF files; returns 77 (with a SKIP line) when one is missing.
qemu_find() {
  QEMU=$(command -v qemu-system-x86_64 || true)
  if [[ -z $QEMU ]]; then
    echo "SKIP: qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
    return 77
  fi
  # Plain OVMF only: the secure-boot variants would refuse the unsigned application.
  local pair
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
    return 77
  fi
  local tool
  for tool in mkfs.fat mcopy mtype; do
    command -v "$tool" >/dev/null || [[ -x /usr/sbin/$tool ]] || {
      echo "$tool is missing (Debian packages dosfstools, mtools)" >&2
      return 1
    }
  done
  MKFS=$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)
}

# qemu_boot DISK WORK TIMEOUT: boots once; the console goes to WORK/serial.raw and,
# without the terminal's escape sequences, to WORK/serial.txt. QEMU_RC is QEMU's exit
# code (0 after a power-off or, with -no-reboot, a reset). Returns 1 when QEMU failed
# or ran out of time.
qemu_boot() {
  local disk=$1 work=$2 timeout=$3
  local firmware=()
  if [[ -n $OVMF_CODE ]]; then
    cp "$OVMF_VARS" "$work/vars.fd"
    firmware=(-drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE"
      -drive "if=pflash,format=raw,unit=1,file=$work/vars.fd")
  else
    firmware=(-bios "$OVMF_BIOS")
  fi
  # The shell waits 5 s before startup.nsh unless a key is pressed: once its prompt is
  # on the console, a blank is typed. The application reads no keys, so a blank that
  # comes late does nothing.
  local keys=$work/console.in
  rm -f "$keys" "$work/serial.raw"
  mkfifo "$keys"
  (
    local tenths
    for ((tenths = 0; tenths < timeout * 10; tenths++)); do
      if grep -qa 'or any other key to continue' "$work/serial.raw" 2>/dev/null; then
        printf ' '
        break
      fi
      sleep 0.1
    done
  ) >"$keys" &
  local typist=$!
  local start
  start=$(date +%s)
  set +e
  # Only the devices the tests use: no VGA (OVMF's video set-up costs seconds under
  # TCG), no CD-ROM, no network; the serial port is the console.
  timeout "$timeout" "$QEMU" -machine q35 -m 256 -nodefaults -display none -serial stdio \
    -no-reboot "${firmware[@]}" -drive "file=$disk,format=raw,if=ide" \
    <"$keys" >"$work/serial.raw" 2>"$work/qemu.err"
  QEMU_RC=$?
  kill "$typist" 2>/dev/null
  wait "$typist" 2>/dev/null
  set -e
  QEMU_SECONDS=$(($(date +%s) - start))
  echo "QEMU finished after $QEMU_SECONDS s (exit code $QEMU_RC)"
  # Terminal escapes (cursor moves, colours, mode sets) are the terminal driver's, not
  # the application's text.
  sed -e 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$work/serial.raw" >"$work/serial.txt"
  if ((QEMU_RC == 124)); then
    echo "QEMU did not stop within $timeout s; last console lines:" >&2
    tail -c 2000 "$work/serial.txt" >&2
    return 1
  fi
  if ((QEMU_RC != 0)); then
    echo "QEMU failed:" >&2
    cat "$work/qemu.err" >&2
    return 1
  fi
}
