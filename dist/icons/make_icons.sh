#!/usr/bin/env bash
# Renders the hicolor PNG sizes from colloquor.svg (needs rsvg-convert, from
# Debian's librsvg2-bin). The PNGs are kept in the repository.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" colloquor.svg -o "colloquor-$size.png"
done
