#!/usr/bin/env bash
# Regenerates the two cue sounds compiled into the program: tick.ogg (a short
# wooden tick with a little room tail, 1.62 s) and ding.ogg (a small bell,
# 2.32 s). Both are synthesised from sine partials and encoded as Ogg Vorbis,
# 2 channels, 44100 Hz, nominal 160 kbit/s. Fixed serial numbers and sox's
# repeatable mode give the same bytes on every run. Needs sox and oggenc
# (Debian: sox, vorbis-tools).
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One decaying sine partial: partial FILE FREQ LENGTH DECAY GAIN_DB
partial() {
  local fade_out rest
  fade_out=$(awk -v d="$4" 'BEGIN { printf "%.4f", d - 0.002 }')
  rest=$(awk -v l="$3" -v d="$4" 'BEGIN { printf "%.4f", l - d }')
  sox -R -n -r 44100 -c 1 -b 16 "$1" synth "$4" sine "$2" \
    fade l 0.002 "$4" "$fade_out" gain "$5" pad 0 "$rest"
}

# Tick: a bright, very short knock (partials die within 60 ms), then a quiet
# reverberant tail so consecutive ticks blend instead of clicking.
partial "$tmp/t1.wav" 1900 1.62 0.060 -3
partial "$tmp/t2.wav" 2950 1.62 0.035 -8
partial "$tmp/t3.wav" 4700 1.62 0.020 -14
sox -R -m "$tmp/t1.wav" "$tmp/t2.wav" "$tmp/t3.wav" "$tmp/tick_mono.wav"
sox -R "$tmp/tick_mono.wav" -c 2 "$tmp/tick.wav" remix 1 1 \
  reverb 35 50 40 100 8 0 gain -n -4 trim 0 1.62
oggenc --quiet -b 160 -s 7101 -o tick.ogg "$tmp/tick.wav"

# Ding: a small bell; inharmonic partials with shorter decays higher up.
partial "$tmp/d1.wav" 1318.5 2.32 2.32 -3
partial "$tmp/d2.wav" 2637.0 2.32 1.40 -9
partial "$tmp/d3.wav" 3639.1 2.32 0.90 -12
partial "$tmp/d4.wav" 7120.0 2.32 0.35 -26
sox -R -m "$tmp/d1.wav" "$tmp/d2.wav" "$tmp/d3.wav" "$tmp/d4.wav" "$tmp/ding_mono.wav"
sox -R "$tmp/ding_mono.wav" -c 2 "$tmp/ding.wav" remix 1 1 \
  reverb 20 50 30 100 6 0 gain -n -3 trim 0 2.32
oggenc --quiet -b 160 -s 7102 -o ding.ogg "$tmp/ding.wav"
