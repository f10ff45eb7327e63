#!/usr/bin/env bash
# Runs the same batch of command lines as the QEMU test through pchflash-sim, on a
# simulated platform like QEMU's q35 machine (no SPI controller, PCI configuration
# space at 0xB0000000 as its firmware's MCFG says), and
# compares each command's console text and exit status with the same expectations.
#
#   run_sim_batch.sh --sim pchflash-sim --batch batch.txt --work DIR
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/batch_lib.sh"

SIM='' BATCH='' WORK=''
while (($#)); do
  case $1 in
    --sim) SIM=$2; shift 2 ;;
    --batch) BATCH=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) echo "run_sim_batch.sh: unknown argument '$1'" >&2; exit 1 ;;
  esac
done
[[ -n $SIM && -n $BATCH && -n $WORK ]] || { echo "usage: run_sim_batch.sh --sim F --batch F --work DIR" >&2; exit 1; }

batch_read "$BATCH"
rm -rf "$WORK"
mkdir -p "$WORK/volume"

FAILED=0
{
  for ((i = 1; i <= BATCH_COUNT; i++)); do
    printf '==BEGIN %d==\r\n' "$i"
    # The arguments are split at blanks, as the shell does for a line without quotes.
    # shellcheck disable=SC2086
    set +e
    "$SIM" --no-spi --mcfg B0000000 --root "$WORK/volume" -- ${BATCH_ARGS[i]} 2>"$WORK/stderr.$i"
    RC=$?
    set -e
    LINE=$(grep '^pchflash-sim: exit status ' "$WORK/stderr.$i" || true)
    if [[ ! $LINE =~ exit\ status\ 0x([0-9A-F]{16})\  ]] || ((RC > 1)); then
      echo "pchflash-sim failed on '${BATCH_ARGS[i]}' (exit code $RC):" >&2
      cat "$WORK/stderr.$i" >&2
      FAILED=1
      printf '==STATUS ?==\r\n'
      continue
    fi
    if { [[ ${BASH_REMATCH[1]} == 0000000000000000 ]] && ((RC != 0)); } ||
      { [[ ${BASH_REMATCH[1]} != 0000000000000000 ]] && ((RC != 1)); }; then
      echo "pchflash-sim: exit code $RC does not match status 0x${BASH_REMATCH[1]}" >&2
      FAILED=1
    fi
    STATUS=$((0x${BASH_REMATCH[1]} & 0xFFFFFFFF))
    printf '==STATUS 0x%X==\r\n' "$STATUS"
  done
  printf '==END==\r\n'
} >"$WORK/actual.txt"
batch_expected_transcript >"$WORK/expected.txt"

batch_compare "$WORK/expected.txt" "$WORK/actual.txt" "pchflash-sim" || FAILED=1
for ((i = 1; i <= BATCH_COUNT; i++)); do
  for name in ${BATCH_ABSENT[i]}; do
    if [[ -e $WORK/volume/$name ]]; then
      echo "pchflash-sim: '$name' exists on the volume after '${BATCH_ARGS[i]}'" >&2
      FAILED=1
    fi
  done
done
exit $FAILED
