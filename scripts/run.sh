#!/usr/bin/env bash
# Sets up, builds and runs Colloquor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec build/app/colloquor
