#!/usr/bin/env bash
# Runs each fuzzer for SECONDS (one process at a time) from its seed corpus in
# fuzz/corpus/NAME; new inputs go to build/fuzz/corpus/NAME, crashes to
# build/fuzz/artifacts/. Exits non-zero when any fuzzer found a crash.
#   fuzz/run_fuzzers.sh BUILD_DIR SECONDS [NAME...]
set -uo pipefail
Build=$1
Seconds=$2
shift 2
Names=("$@")
if [[ ${#Names[@]} -eq 0 ]]; then Names=(command_line format descriptor sim_options); fi
Source=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
Failed=0
for Name in "${Names[@]}"; do
  Corpus=$Build/corpus/$Name
  Artifacts=$Build/artifacts
  mkdir -p "$Corpus" "$Artifacts"
  Log=$Build/fuzz_$Name.log
  "$Build/fuzz/fuzz_$Name" -max_total_time="$Seconds" -workers=0 -jobs=0 -print_final_stats=1 \
    -artifact_prefix="$Artifacts/$Name-" "$Corpus" "$Source/corpus/$Name" >"$Log" 2>&1
  Status=$?
  Runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$Log" | grep -o '[0-9]*$')
  Last=$(grep -E '^#[0-9]+' "$Log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
  echo "fuzz_$Name: ${Seconds}s, ${Runs:-?} executions, ${Last:-no coverage line}"
  if [[ $Status -ne 0 ]]; then
    echo "fuzz_$Name: FAILED (status $Status); see $Log"
    tail -30 "$Log"
    Failed=1
  fi
done
exit $Failed
