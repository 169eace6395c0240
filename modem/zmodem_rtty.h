#ifndef ZMODEM_RTTY_H
#define ZMODEM_RTTY_H

// Radioteletype (5-bit ITA2, FSK on an audio carrier). Mark is the upper
// tone fc + shift/2, space the lower tone fc - shift/2. The demodulator turns
// receiver audio (host scale, raw 16-bit values) into characters; the
// modulator turns queued text into FSK samples in -1..1. The records are
// opaque (modem/zmodem_rtty_p.h). Setters store a request that the next
// block applies; text may be posted and characters taken from another
// thread than the one that processes.

#include <stdint.h>

typedef struct rtty_dem_s rtty_dem_t;
typedef struct rtty_mod_s rtty_mod_t;

// ITA2 tables of the demodulator, indexed by the received code.
extern const char rtty_letters[33];
extern const char rtty_figures[33];
// ASCII to ITA2: code, plus 0x20 for letters-shift characters; 0 = no code.
extern const uint8_t rtty_ascii_to_ita2[128];

// Quality factor of a band-pass at the normalised frequency f (2·freq/fs)
// with the normalised bandwidth bw.
float calc_iir_q(float f, float bw);

// fs of at least 1 kHz and fc inside (0, fs/2); otherwise the reason is
// logged and the result is null. n (the host's block size) is not needed.
rtty_dem_t *rtty_dem_create(float fs, float fc, uint32_t n);
void rtty_dem_destroy(rtty_dem_t *q);
// Forgets the signal (filters, levels, framing, shift state, queue); the
// settings stay.
void rtty_dem_reset(rtty_dem_t *q);
void rtty_dem_process(rtty_dem_t *q, const float *x, unsigned n);
// Pops one character; 0 when there is none.
int rtty_dem_getchar(rtty_dem_t *q, char *out);
void rtty_dem_set_fc(rtty_dem_t *q, float fc);
void rtty_dem_set_shift(rtty_dem_t *q, float shift);
void rtty_dem_set_rate(rtty_dem_t *q, float rate);
// Samples per bit in use (for diagnostics and tests).
unsigned rtty_dem_get_samples_per_bit(rtty_dem_t *q);

rtty_mod_t *rtty_mod_create(float fs, float fc, uint32_t n);
void rtty_mod_destroy(rtty_mod_t *q);
// Drops the queue and any transmission in progress at once (no trailer);
// not while another thread runs rtty_mod_process.
void rtty_mod_reset(rtty_mod_t *q);
void rtty_mod_post_message(rtty_mod_t *q, const char *text, int len);
// n samples; silence while idle.
void rtty_mod_process(rtty_mod_t *q, float *out, unsigned n);
void rtty_mod_set_fc(rtty_mod_t *q, float fc);
void rtty_mod_set_speed(rtty_mod_t *q, float rate);
void rtty_mod_set_shift(rtty_mod_t *q, float shift);
// Drops the queued text; the transmission ends with its trailer.
void rtty_mod_force_stop(rtty_mod_t *q);
void rtty_mod_reset_sent_counter(rtty_mod_t *q);
uint32_t rtty_mod_get_sent_counter(rtty_mod_t *q);
int rtty_mod_is_finish(rtty_mod_t *q);
// 1 while sending (preamble, text or trailer) or about to start.
int rtty_mod_is_active(rtty_mod_t *q);

#endif
