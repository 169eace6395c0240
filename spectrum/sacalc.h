#ifndef SACALC_H
#define SACALC_H

// Spectrum of the base-band I/Q stream: the panadapter trace and the peak
// level inside the receive pass band that drives the S-meter.
//
// One producer thread feeds samples with sacalc_run(); one consumer thread
// collects finished spectra with sacalc_get_spectrum(). The ready byte is the
// hand-over: a new spectrum is computed only after the last one was
// collected. The setters may be called from any thread; they store a request
// that the next sacalc_run() applies.

#include <complex>
#include <liquid/liquid.h>

#include <cstdint>

typedef struct sacalc_s sacalc_t;

// Level of an empty spectrum bin and of the last spectrum entry, dB.
#define SACALC_FLOOR_DB (-145.0f)

// N-point spectra of a stream sampled at fs Hz. Returns null when N is not
// an even number of at least 8, fs is not positive, or memory runs out.
sacalc_t *sacalc_create(uint32_t N, float fs);
void sacalc_destroy(sacalc_t *q);

// Feeds n samples; only the first min(n, N) are used. Input arriving while a
// spectrum waits to be collected is dropped.
void sacalc_run(sacalc_t *q, const liquid_float_complex *x, uint32_t n);

// New peak-search band (Hz relative to the carrier) and input rate, applied
// at the next sacalc_run().
void sacalc_set_peaksrch_border(sacalc_t *q, float lowHz, float highHz, float fs);

// Decimation the base-band applies to the stream (1, 2, 4, 8 or 16): the DC
// blocker is remade for it and the search bins use fs / factor. 0 is ignored.
void sacalc_set_dec_factor(sacalc_t *q, uint32_t factor);

// Magnitude averaging coefficient alpha (0..1): avg = alpha*|X| + (1-alpha)*avg.
void sacalc_set_average(sacalc_t *q, float alpha);

// If a spectrum is ready: copies its N values (dB) into out (room for N
// floats), sets *count to N and *peak to the smoothed peak, clears ready and
// returns 1. Otherwise returns 0 and touches nothing.
int sacalc_get_spectrum(sacalc_t *q, float *out, uint32_t *count, float *peak);

// Inspection, for the consumer and tests.
uint32_t sacalc_get_length(const sacalc_t *q);
int sacalc_is_ready(const sacalc_t *q);
// Last peak and smoothed peak, dB. Stable only while ready is set.
float sacalc_get_peak(const sacalc_t *q);
float sacalc_get_smoothed_peak(const sacalc_t *q);
// Search bins in use (after the last sacalc_run()).
void sacalc_get_search_bins(const sacalc_t *q, int32_t *first, int32_t *last);

#endif
