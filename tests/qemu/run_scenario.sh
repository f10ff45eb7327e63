#!/usr/bin/env bash
# Runs one scenario (see scenario_lib.sh) through pchflash-sim on the host and,
# with --efi, through pchflash-sim.efi in the real UEFI Shell (QEMU q35 + Debian's
# OVMF, one boot). Each side must give the console text and status the scenario
# expects and pass its checks; both sides must leave the same files on the volume.
#
#   run_scenario.sh --sim pchflash-sim [--efi pchflash-sim.efi] --scenario FILE --work DIR
#
# Exit 0: all as expected; 1: a difference or a failed run; 77: qemu or OVMF missing.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/scenario_lib.sh"
source "$HERE/qemu_lib.sh"

SIM='' EFI='' SCENARIO='' WORK='' TIMEOUT=300
while (($#)); do
  case $1 in
    --sim) SIM=$2; shift 2 ;;
    --efi) EFI=$2; shift 2 ;;
    --scenario) SCENARIO=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    *) echo "run_scenario.sh: unknown argument '$1'" >&2; exit 1 ;;
  esac
done
[[ -n $SIM && -n $SCENARIO && -n $WORK ]] ||
  { echo "usage: run_scenario.sh --sim F [--efi F] --scenario F --work DIR" >&2; exit 1; }
if [[ -n $EFI ]]; then
  qemu_find || exit $?
  [[ -f $EFI ]] || { echo "pchflash-sim.efi not found at $EFI" >&2; exit 1; }
fi

scenario_read "$SCENARIO"
rm -rf "$WORK"
mkdir -p "$WORK/empty"

# The flash at the start: the image the platform the options describe generates.
START_WORDS=()
if ((SCENARIO_HAS_START_OPT)); then read -r -a START_WORDS <<<"$SCENARIO_START_OPT"; fi
FLASH=$WORK/initial.bin
"$SIM" "${START_WORDS[@]}" --root "$WORK/empty" --save-flash "$FLASH" >/dev/null 2>&1 ||
  "$SIM" --root "$WORK/empty" --save-flash "$FLASH" >/dev/null 2>&1
scenario_stage "$WORK/start" "$FLASH"

# ---- The host: one pchflash-sim run per command line, the flash carried in simflash.bin.
# The firmware model as OVMF is: no platform full-flash preparation protocol.
HOST_FIRMWARE=(--full-flash-prepare absent)

run_host_command() {
  local i=$1 volume=$2 words=() flash=() rc line
  if [[ -n ${SC_OPT_SET[i]:-} ]]; then
    if [[ -n ${SC_OPT[i]} ]]; then
      cp "$volume/options-$i.txt" "$volume/pchflash-sim.opt"
    else
      rm -f "$volume/pchflash-sim.opt"
    fi
  fi
  if [[ -n ${SC_SHELL[i]:-} ]]; then shell_echo_to_file "${SC_SHELL[i]}" "$volume"; fi
  if [[ -f $volume/pchflash-sim.opt ]]; then
    read -r -a words < <(options_text "$volume/pchflash-sim.opt")
  fi
  [[ -f $volume/simflash.bin ]] && flash=(--flash "$volume/simflash.bin")
  shell_split "${SC_ARGS[i]}"
  printf '==BEGIN %d==\r\n' "$i"
  set +e
  "$SIM" "${HOST_FIRMWARE[@]}" "${words[@]}" --root "$volume" "${flash[@]}" --save-flash "$WORK/host/flash.new" \
    -- "${SHELL_ARGV[@]}" >"$WORK/host/out.$i" 2>"$WORK/host/err.$i"
  rc=$?
  set -e
  if ((rc == 2)); then
    if [[ -n ${SC_REFUSES[i]} ]] && grep -q -- "${SC_REFUSES[i]}" "$WORK/host/err.$i"; then
      printf '==REFUSED==\r\n'
    else
      echo "host: pchflash-sim refused command $i:" >&2
      cat "$WORK/host/err.$i" >&2
      printf '==USAGE ERROR==\r\n'
    fi
    return 0
  fi
  mv "$WORK/host/flash.new" "$volume/simflash.bin"
  cat "$WORK/host/out.$i"
  if grep -q '^pchflash-sim: platform reset' "$WORK/host/err.$i"; then
    printf '==RESET==\r\n'
    return 1
  fi
  line=$(grep '^pchflash-sim: exit status ' "$WORK/host/err.$i" || true)
  if [[ ! $line =~ exit\ status\ 0x([0-9A-F]{16})\  ]]; then
    echo "host: no exit status from pchflash-sim on command $i (exit code $rc)" >&2
    printf '==STATUS ?==\r\n'
    return 0
  fi
  printf '==STATUS 0x%X==\r\n' $((0x${BASH_REMATCH[1]} & 0xFFFFFFFF))
}

FAILED=0
mkdir -p "$WORK/host"
cp -a "$WORK/start" "$WORK/host/volume"
{
  RESET=0
  for ((i = 1; i <= SCENARIO_COUNT; i++)); do
    run_host_command "$i" "$WORK/host/volume" || { RESET=1; break; }
  done
  ((RESET)) || printf '==END==\r\n'
} >"$WORK/host/actual.txt"
scenario_expected_transcript host >"$WORK/host/expected.txt"
scenario_compare "$WORK/host/expected.txt" "$WORK/host/actual.txt" "pchflash-sim" || FAILED=1
scenario_checks "$WORK/host/volume" "$WORK/start" "$FLASH" "pchflash-sim" || FAILED=1
[[ -n $EFI ]] || exit $FAILED

# ---- The real shell: the same volume, the command lines from startup.nsh.
mkdir -p "$WORK/qemu"
DISK=$WORK/qemu/disk.img
"$MKFS" -C -n PCHFLASH "$DISK" 131072 >/dev/null
{
  printf '@echo -off\r\n'
  printf 'fs0:\r\n'
  for ((i = 1; i <= SCENARIO_COUNT; i++)); do
    if [[ -n ${SC_OPT_SET[i]:-} ]]; then
      if [[ -n ${SC_OPT[i]} ]]; then
        printf 'cp -q options-%d.txt pchflash-sim.opt > nul\r\n' "$i"
      else
        printf 'rm -q pchflash-sim.opt > nul\r\n'
      fi
    fi
    if [[ -n ${SC_SHELL[i]:-} ]]; then printf '%s\r\n' "${SC_SHELL[i]}"; fi
    printf 'echo ==BEGIN %d==\r\n' "$i"
    printf 'pchflash-sim.efi %s\r\n' "${SC_ARGS[i]}"
    printf 'echo ==STATUS %%lasterror%%==\r\n'
  done
  printf 'echo ==END==\r\n'
  printf 'reset -s\r\n'
} >"$WORK/qemu/startup.nsh"
if compgen -G "$WORK/start/*" >/dev/null; then mcopy -s -i "$DISK" "$WORK/start"/* ::; fi
mcopy -i "$DISK" "$EFI" ::pchflash-sim.efi
mcopy -i "$DISK" "$WORK/qemu/startup.nsh" ::startup.nsh

echo "Booting the UEFI Shell ($QEMU, ${OVMF_CODE:-$OVMF_BIOS}) for $SCENARIO_COUNT command lines..."
qemu_boot "$DISK" "$WORK/qemu" "$TIMEOUT" || exit 1
awk '/^==BEGIN 1==\r$/ { p = 1 } p { print } /^==END==\r$/ { exit }' "$WORK/qemu/serial.txt" \
  >"$WORK/qemu/actual.txt"
# Without "==END==" the machine went down in the middle of the batch: with
# -no-reboot that is the reset a command started.
if ! grep -q '^==END==' "$WORK/qemu/actual.txt"; then printf '==RESET==\r\n' >>"$WORK/qemu/actual.txt"; fi
scenario_expected_transcript efi >"$WORK/qemu/expected.txt"
scenario_compare "$WORK/qemu/expected.txt" "$WORK/qemu/actual.txt" "UEFI Shell" || FAILED=1

mkdir -p "$WORK/qemu/volume"
mcopy -s -n -i "$DISK" '::*' "$WORK/qemu/volume/"
rm -f "$WORK/qemu/volume/startup.nsh" "$WORK/qemu/volume/pchflash-sim.efi"
if ! diff -r "$WORK/host/volume" "$WORK/qemu/volume" >"$WORK/volume.diff" 2>&1; then
  echo "The volumes differ between pchflash-sim (host) and pchflash-sim.efi (UEFI Shell):" >&2
  sed 's/^/  /' "$WORK/volume.diff" >&2
  FAILED=1
fi
scenario_checks "$WORK/qemu/volume" "$WORK/start" "$FLASH" "UEFI Shell" || FAILED=1
exit $FAILED
