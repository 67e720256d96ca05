#include "bench/plain_mixer.h"

static uint64_t plain_step(int64_t rate, const struct plain_voice *v) {
  if (rate < 0) rate = 0;
  return ((uint64_t)v->channels * (uint64_t)rate * (uint64_t)v->frequency / PLAIN_MIX_RATE) << 16;
}

static void plain_gains(int64_t volume, int64_t pan, int64_t depth, int64_t *left,
                        int64_t *right) {
  *left = volume;
  *right = volume;
  if (pan > 0) *left = volume * (4096 - pan) / 4096;
  if (pan < 0) *right = volume * (4096 + pan) / 4096;
  if (depth < 0) *right = -*right;
}

/* The ramped rate and volume at block frame i. */
static void plain_ramp(const struct plain_voice *v, int32_t i, uint64_t *step, int64_t *gl,
                       int64_t *gr) {
  int64_t rate = v->rate0 + ((int64_t)v->rate1 - v->rate0) * i / PLAIN_BLOCK_FRAMES;
  int64_t volume = v->volume0 + ((int64_t)v->volume1 - v->volume0) * i / PLAIN_BLOCK_FRAMES;
  *step = plain_step(rate, v);
  plain_gains(volume, v->pan, v->depth, gl, gr);
}

static int64_t plain_interpolate(int64_t a, int64_t b, int64_t fraction) {
  return a + (((b - a) * fraction) >> 16);
}

static void plain_mix_stereo(struct plain_voice *v, int32_t *acc) {
  const uint64_t end = (uint64_t)v->length * 2 << 32;
  const int ramping = v->rate0 != v->rate1 || v->volume0 != v->volume1;
  const int16_t *data = v->data;
  uint64_t step = plain_step(v->rate1, v), position = v->position;
  int64_t gl, gr;
  int32_t i;
  plain_gains(v->volume1, v->pan, v->depth, &gl, &gr);
  for (i = v->start; i < PLAIN_BLOCK_FRAMES && position < end; i++) {
    if (ramping) plain_ramp(v, i, &step, &gl, &gr);
    uint64_t frame_position = position >> 1;
    int64_t frame = (int64_t)(frame_position >> 32) * 2;
    int64_t fraction = (int64_t)((frame_position >> 16) & 0xffff);
    int64_t left = plain_interpolate(data[frame], data[frame + 2], fraction);
    int64_t right = plain_interpolate(data[frame + 1], data[frame + 3], fraction);
    acc[2 * i] += (int32_t)(left * gl / 256);
    acc[2 * i + 1] += (int32_t)(right * gr / 256);
    position += step;
    if (position >= end && v->loop) position %= end;
  }
  v->position = position;
  v->finished = position >= end;
}

static void plain_mix_mono(struct plain_voice *v, int32_t *acc) {
  const uint64_t end = (uint64_t)v->length << 32;
  const int ramping = v->rate0 != v->rate1 || v->volume0 != v->volume1;
  const int16_t *data = v->data;
  uint64_t step = plain_step(v->rate1, v), position = v->position;
  int64_t gl, gr;
  int32_t i;
  plain_gains(v->volume1, v->pan, v->depth, &gl, &gr);
  for (i = v->start; i < PLAIN_BLOCK_FRAMES && position < end; i++) {
    if (ramping) plain_ramp(v, i, &step, &gl, &gr);
    int64_t frame = (int64_t)(position >> 32);
    int64_t fraction = (int64_t)((position >> 16) & 0xffff);
    int64_t value = plain_interpolate(data[frame], data[frame + 1], fraction);
    acc[2 * i] += (int32_t)(value * gl / 256);
    acc[2 * i + 1] += (int32_t)(value * gr / 256);
    position += step;
    if (position >= end && v->loop) position %= end;
  }
  v->position = position;
  v->finished = position >= end;
}

void plain_mix_block(struct plain_voice *voices, int count, int32_t *accumulator, int16_t *out) {
  int i;
  for (i = 0; i < count; i++) {
    if (voices[i].channels == 2)
      plain_mix_stereo(&voices[i], accumulator);
    else
      plain_mix_mono(&voices[i], accumulator);
  }
  for (i = 0; i < 2 * PLAIN_BLOCK_FRAMES; i++) {
    int32_t sample = accumulator[i] >> 4;
    out[i] = (int16_t)(sample < -32768 ? -32768 : sample > 32767 ? 32767 : sample);
    accumulator[i] = 0;
  }
}
