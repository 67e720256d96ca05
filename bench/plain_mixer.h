/* A plain C mixer of the sound layer's mixing arithmetic, written
   straightforwardly: the floor the mixer benchmark measures ours against, and
   the reference the mixer tests compare whole blocks with, bit for bit.

   16-bit data only. Parameters as the driver's channels give them (volume,
   pan and depth 16-bit words, rate 0 .. 2^31-1) and fewer than 512 voices,
   so no sum overflows the 32-bit accumulator. Not thread-safe. */
#ifndef COLLOQUOR_PLAIN_MIXER_H
#define COLLOQUOR_PLAIN_MIXER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PLAIN_BLOCK_FRAMES 1024
#define PLAIN_MIX_RATE 44100

struct plain_voice {
  const int16_t *data; /* interleaved frames, then one extra frame */
  int32_t channels;    /* 1 or 2 */
  int32_t length;      /* frames, not counting the extra one */
  int32_t frequency;   /* frames per second */
  int32_t loop;
  uint64_t position;   /* samples, 32.32 fixed point; advanced by the mix */
  int32_t start;       /* first block frame the voice plays in */
  int32_t rate0, rate1;     /* 16.16, ramped from 0 to 1 across the block */
  int32_t volume0, volume1; /* 4096 = unity, ramped likewise */
  int32_t pan, depth;
  int32_t finished;    /* set when a non-looping voice ran past its end */
};

/* Adds `count` voices into `accumulator` (2 x 1024 entries, left and right)
   and turns it into `out` (as many samples), clearing it. */
void plain_mix_block(struct plain_voice *voices, int count, int32_t *accumulator, int16_t *out);

#ifdef __cplusplus
}
#endif

#endif
