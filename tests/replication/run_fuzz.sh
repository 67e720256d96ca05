#!/usr/bin/env bash
# Short bounded run of the replication receive-path fuzzer, seeded with
# packets written by the layer itself.
# Usage: run_fuzz.sh <fuzzer> <seed writer> <work dir> <runs> <max seconds>
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4 seconds=$5
mkdir -p "$work/seeds" "$work/corpus"
"$seeds" "$work/seeds"
exec "$fuzzer" -runs="$runs" -max_total_time="$seconds" -max_len=70000 \
  -artifact_prefix="$work/" "$work/corpus" "$work/seeds"
