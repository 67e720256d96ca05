#!/usr/bin/env bash
# A bounded run of a fuzz target, seeded with inputs the seed writer makes
# from traffic the layers themselves send. The corpus starts afresh each
# time; a crashing input is left in the work directory.
# Usage: run_fuzz.sh <fuzzer> <seed writer> <work dir> <runs> <max seconds> [libFuzzer options]
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4 seconds=$5
shift 5
rm -rf "$work/corpus"
mkdir -p "$work/seeds" "$work/corpus"
"$seeds" "$work/seeds"
exec "$fuzzer" -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 -artifact_prefix="$work/" "$@" "$work/corpus" "$work/seeds"
