#ifndef ZFEED_H
#define ZFEED_H

// Resampling of the base-band spectrum for the panadapter and for the CI-V
// scope trace.

#define ZFEED_CIV_POINTS 475

// The input at index i clamped to [0, count - 1].
float _cubic_safe_get(const float *in, int count, int i);

// Resamples count values to n (n >= 1) with a Catmull-Rom cubic through the
// neighbouring inputs; n == 1 takes the middle input. Equal sizes copy.
void zfeed_resample_cubic(const float *in, int count, float *out, int n);

// Exactly ZFEED_CIV_POINTS points from n: copied when equal; averaged over
// groups of inputs when n is larger (with a fractional step when n is not
// a multiple); by repetition when n is smaller. n <= 0 leaves out alone.
void zfeed_civ_trace(const float *in, int n, float *out);

#endif
