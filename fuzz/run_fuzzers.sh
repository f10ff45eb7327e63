#!/usr/bin/env bash
# Runs each fuzzer for SECONDS from its seed corpus in fuzz/corpus/NAME; new inputs go
# to build/fuzz/corpus/NAME, crashes to build/fuzz/artifacts/. FUZZ_JOBS fuzzers run
# at a time (default 1), each a single process on one core, so each still gets its
# SECONDS. Exits non-zero when any fuzzer found a crash.
#   [FUZZ_JOBS=N] fuzz/run_fuzzers.sh BUILD_DIR SECONDS [NAME...]
set -uo pipefail
Build=$1
Seconds=$2
shift 2
Names=("$@")
if [[ ${#Names[@]} -eq 0 ]]; then Names=(command_line format descriptor sim_options); fi
Jobs=${FUZZ_JOBS:-1}
Source=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# run_one NAME: runs the fuzzer; its summary goes to fuzz_NAME.summary.
run_one() {
  local Name=$1 Corpus=$Build/corpus/$1 Artifacts=$Build/artifacts Log=$Build/fuzz_$1.log
  local Status Runs Last
  mkdir -p "$Corpus" "$Artifacts"
  "$Build/fuzz/fuzz_$Name" -max_total_time="$Seconds" -workers=0 -jobs=0 -print_final_stats=1 \
    -artifact_prefix="$Artifacts/$Name-" "$Corpus" "$Source/corpus/$Name" >"$Log" 2>&1
  Status=$?
  Runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$Log" | grep -o '[0-9]*$')
  Last=$(grep -E '^#[0-9]+' "$Log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
  {
    echo "fuzz_$Name: ${Seconds}s, ${Runs:-?} executions, ${Last:-no coverage line}"
    if [[ $Status -ne 0 ]]; then
      echo "fuzz_$Name: FAILED (status $Status); see $Log"
      tail -30 "$Log"
    fi
  } >"$Build/fuzz_$Name.summary"
  return $Status
}

Failed=0
Running=0
for Name in "${Names[@]}"; do
  if ((Running >= Jobs)); then
    wait -n || Failed=1
    Running=$((Running - 1))
  fi
  run_one "$Name" &
  Running=$((Running + 1))
done
while ((Running > 0)); do
  wait -n || Failed=1
  Running=$((Running - 1))
done
for Name in "${Names[@]}"; do cat "$Build/fuzz_$Name.summary"; done
exit $Failed
