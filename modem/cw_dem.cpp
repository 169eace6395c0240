// Morse decoder: tone detector, key-down/key-up runs, speed training, the
// element pattern finder and the character tables.
#include "modem/cw_dem.h"

#include "app/zlog.h"
#include "modem/cw_dem_p.h"

#include <algorithm>
#include <complex>
#include <liquid/liquid.h>
#include <new>

#include <cmath>
#include <math.h>
#include <string.h>

// ---------------------------------------------------------------------------
// Tables

// Code of a dot/dash pattern: two bits per element, 10b dot, 11b dash, the
// first element highest.
static constexpr uint32_t pat(const char *p)
{
    uint32_t c = 0;
    for (; *p; ++p)
        c = (c << 2) | 2 | (*p == '-' ? 1 : 0);
    return c;
}

const uint32_t cw_char_codes[47] = {
    1,
    pat(".-"), pat("-..."), pat("-.-."), pat("-.."), pat("."), pat("..-."), pat("--."),
    pat("...."), pat(".."), pat(".---"), pat("-.-"), pat(".-.."), pat("--"), pat("-."),
    pat("---"), pat(".--."), pat("--.-"), pat(".-."), pat("..."), pat("-"), pat("..-"),
    pat("...-"), pat(".--"), pat("-..-"), pat("-.--"), pat("--.."),
    pat("-----"), pat(".----"), pat("..---"), pat("...--"), pat("....-"),
    pat("....."), pat("-...."), pat("--..."), pat("---.."), pat("----."),
    pat(".-.-.-"), pat("--..--"), pat("..--.."), pat(".----."), pat("-..-."),
    pat("-....-"), pat("-...-"), pat("---..."), pat(".-..-."), pat(".--.-."),
};
const char cw_char_chars[47] = {
    ' ',
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N',
    'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z',
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
    '.', ',', '?', '\'', '/', '-', '=', ':', '"', '@',
};

// Prosigns, each shown as one character.
const uint32_t cw_sign_codes[10] = {
    pat(".-.-"), pat(".-.-."), pat(".-..."), pat("-.-..-.."), pat("-.-.-"),
    pat("........"), pat("-.--."), pat("-..---"), pat("...-.-"), pat("...-."),
};
const char cw_sign_onechar[10] = {'^', '+', '&', '{', '}', 127, '(', '%', '>', '~'};

static_assert(pat(".-.-") == 187 && pat("........") == 43690 && pat("-----") == 1023,
              "Morse code numbering");

unsigned char morse_to_char(uint32_t code)
{
    if (code == 0)
        return 254;
    for (int i = 0; i < 47; i++)
        if (cw_char_codes[i] == code)
            return (unsigned char)cw_char_chars[i];
    for (int i = 0; i < 10; i++)
        if (cw_sign_codes[i] == code)
            return (unsigned char)cw_sign_onechar[i];
    return 255;
}

uint32_t morse_char_to_code(char c)
{
    if (c >= 'a' && c <= 'z')
        c = char(c - 'a' + 'A');
    for (int i = 1; i < 47; i++)
        if (cw_char_chars[i] == c)
            return cw_char_codes[i];
    for (int i = 0; i < 10; i++)
        if (cw_sign_onechar[i] == c)
            return cw_sign_codes[i];
    return 0;
}

// ---------------------------------------------------------------------------
// Goertzel

void Goertzel_SetFc(Goertzel *g, float f, unsigned N, float c, float fs)
{
    g->k = (int)(f * c * N / fs + 0.5f);
    g->w = g->k * 6.283185f / N;
    g->sinw = sinf(g->w);
    g->cosw = cosf(g->w);
    g->coeff = 2.0f * g->cosw;
    g->out = 0;
    g->s1 = g->s2 = 0;
}

void Goertzel_Sampling(Goertzel *g, float x)
{
    const float s = g->coeff * g->s1 - g->s2 + x;
    g->s2 = g->s1;
    g->s1 = s;
}

float Goertzel_GetEnergy(Goertzel *g)
{
    const float re = g->s1 - g->s2 * g->cosw;
    const float im = g->s2 * g->sinw;
    g->out = sqrtf(re * re + im * im);
    g->s1 = g->s2 = 0;
    const float e = g->out;
    g->out = 0;
    return e;
}

// ---------------------------------------------------------------------------
// Decoder


static inline unsigned run_len(uint32_t e) { return e >> 1; }
static inline int run_mark(uint32_t e) { return e & 1; }

static void slot_stop(cw_dem_t *q);

cw_dem_t *cw_dem_create(float fs, float tone)
{
    if (!(fs > 0) || !std::isfinite(fs)) {
        qCWarning(logModem, "cw_dem_create: invalid sample rate %g", double(fs));
        return nullptr;
    }
    if (!(tone > 0 && tone < fs / 2)) {
        qCWarning(logModem, "cw_dem_create: tone %g Hz outside 0..%g Hz", double(tone), double(fs / 2));
        return nullptr;
    }
    cw_dem_t *q = new (std::nothrow) cw_dem_t();
    if (!q) {
        qCWarning(logModem, "cw_dem_create: out of memory");
        return nullptr;
    }
    q->fs = fs;
    q->tone_req = tone;
    // With the automatic threshold the fixed one is only a floor against
    // keying on near-silence: 1/16 of the classic 15000 (a tone of about
    // -57 dBFS), so that quiet receiver audio still decodes.
    q->threshold = 15000.0f / 16;
    q->debounce = 1;
    q->N = CW_DEM_BLOCK;
    q->spike_mode = 2;
    q->w_new = 0.1f;
    q->w_old = 0.9f;
    q->bps = fs / CW_DEM_BLOCK;
    q->run_cap = (unsigned)(3 * q->bps);
    cw_dem_reset(q);
    return q;
}

void cw_dem_reset(cw_dem_t *q)
{
    // The detector is re-tuned (and its filter rebuilt) on the next block.
    q->tone_used = -1;
    q->wpm = 20;
    q->thr = q->dot = q->dash = q->egap = q->cgap = 0;
    q->wordgap = 0;
    q->flags = 0;
    q->sample_idx = 0;
    q->prev_energy = 0;
    q->speed_filter = 0;
    q->peak = 0;
    q->nelements = 0;
    memset(q->runs, 0, sizeof q->runs);
    q->run_w = q->run_r = 0;
    q->training = 0;
    q->train_start = q->train_cur = 0;
    q->key_state = 0;
    q->key_last = q->key_pending = 0;
    q->run_count = 0;
    q->cur_run = 0;
    q->char_start = q->char_end = 0;
    q->waiting = 0;
    q->spike_seen = 0;
    q->spike_absorb = 0;
    q->nco_phase = 0;
    q->level_hi = q->level_lo = 0;
    q->levels_valid = 0;
    slot_stop(q);
    q->unknown_hist = 0;
    q->bm_n = q->bm_pos = 0;
    q->bkey = 0;
    q->bcount = 0;
    q->blk = 0;
    memset(q->run_end, 0, sizeof q->run_end);
    for (auto &v : q->yh)
        v = 0;
    for (auto &v : q->yh_step)
        v = 0;
    q->queue.clear();
    q->code = 0;
}

void cw_dem_destroy(cw_dem_t *q)
{
    if (!q)
        return;
    if (q->decim)
        firdecim_crcf_destroy((firdecim_crcf)q->decim);
    delete q;
}

int cw_dem_getchar(cw_dem_t *q, char *out)
{
    return q->queue.get(out);
}

float cw_dem_set_cwtone(cw_dem_t *q, float tone)
{
    q->tone_req = tone;
    return tone;
}

float cw_dem_get_cwtone(cw_dem_t *q)
{
    return q->tone_req;
}

unsigned cw_dem_get_wpm(cw_dem_t *q)
{
    return q->wpm;
}

float cw_dem_get_rssi(cw_dem_t *q)
{
    float r = q->peak * 100.0f / 50000.0f;
    return r < 0 ? 0 : r > 100 ? 100 : r;
}

int cw_dem_get_synchronised(cw_dem_t *q)
{
    return (q->flags & CW_FLAG_SYNC) ? 1 : 0;
}

int cw_dem_get_key(cw_dem_t *q)
{
    return q->key_state ? 1 : 0;
}

unsigned cw_dem_get_current_run(cw_dem_t *q)
{
    return q->cur_run;
}

void cw_dem_set_threshold(cw_dem_t *q, int level)
{
    if (level < 0)
        q->threshold = 1000;
    else if (level <= 100)
        q->threshold = level * 500.0f;
    else
        q->threshold = 50000;
}

float cw_dem_get_threshold(cw_dem_t *q)
{
    return q->threshold;
}

void cw_dem_init(cw_dem_t *q)
{
    q->flags &= ~CW_FLAG_SYNC;
}

int cw_dem_isspike(cw_dem_t *q, unsigned length)
{
    if (q->spike_mode == 1)
        return length <= 8;
    if (q->spike_mode == 2)
        return (q->flags & CW_FLAG_SYNC) && 3.0f * length < q->dot;
    return 0;
}

void cw_dem_putchar(cw_dem_t *q, unsigned char c)
{
    q->queue.put((char)c);
}

// The detector lengthens every mark and shortens every gap by about the
// same amount (it smooths over part of a dot); half the difference between
// the dot and element-gap averages, which are equal as sent, is that
// amount. The word-space rules below work on lengths corrected by it.
static float length_bias(const cw_dem_t *q)
{
    const float d = (q->dot - q->egap) / 2;
    return d > 0 && q->egap > 0 ? d : 0;
}

// Shortest gap (as measured) taken for a word space: halfway between a
// character gap (3 dots) and a word gap (7 dots). Comparing with the average
// character gap alone turned about half of all character gaps into word
// spaces whenever a text had few words.
static float word_gap_min(const cw_dem_t *q)
{
    const float b = length_bias(q);
    return (q->cgap + b) + 2 * (q->dot - b) - b;
}

void cw_dem_putwordspace(cw_dem_t *q, unsigned char c)
{
    if (!(q->flags & CW_FLAG_WORDSPACE))
        return;
    q->flags &= ~CW_FLAG_WORDSPACE;
    switch (c) {
    case 'I': case 'J': case 'Q': case 'U': case 'V': case 'Z':
        // Letters that are often the first half of a longer character need
        // a clearly longer gap before a space is believed.
        {
            const float b = length_bias(q);
            const float thr = (q->dash - b + (q->dot - b) / 4) / 2;
            if ((int)(q->wordgap - (word_gap_min(q) + thr)) > 0)
                cw_dem_putchar(q, ' ');
        }
        break;
    default:
        cw_dem_putchar(q, ' ');
        break;
    }
}

uint32_t cw_dem_codegen(cw_dem_t *q)
{
    uint32_t code = 0;
    for (unsigned i = 0; i < q->nelements; i++)
        code = (code << 2) | 2 | (q->elements[i] & 1);
    q->nelements = 0;
    q->code = code;
    return code;
}

static void update_threshold(cw_dem_t *q)
{
    q->thr = (q->dash + q->dot / 4) / 2;
}

// The averages of a clean keying at dot length u (in blocks).
static void set_averages(cw_dem_t *q, float u)
{
    q->dot = q->egap = u;
    q->dash = q->cgap = 3 * u;
    update_threshold(q);
}

// Classifies one space of length L after the last mark.
static void classify_space(cw_dem_t *q, float L, int *charEnd)
{
    if (q->flags & CW_FLAG_DASH) {
        q->flags &= ~CW_FLAG_DASH;
        const float last = q->nelements ? (float)(q->elements[q->nelements - 1] >> 1) : q->dash;
        const float x = (last - q->thr) / 4;
        if (L < q->thr - x) {
            q->egap += (L - q->egap) / 8;
        } else {
            if (!q->waiting)
                *charEnd = 1;
            if (L <= 10 * q->dash && L >= word_gap_min(q) - x) {
                q->wordgap = L;
                q->flags |= CW_FLAG_WORDSPACE;
            }
        }
    } else {
        if (L < q->thr) {
            q->egap += (L - q->egap) / 8;
        } else {
            if (!q->waiting)
                *charEnd = 1;
            if (L <= 10 * q->dash) {
                // Word gaps stay out of the character-gap average.
                if (L < word_gap_min(q))
                    q->cgap += (L - q->cgap) / 8;
                else {
                    q->wordgap = L;
                    q->flags |= CW_FLAG_WORDSPACE;
                }
            }
        }
    }
}

int cw_dem_partten_finder(cw_dem_t *q, int *charEnd)
{
    *charEnd = 0;
    int consumed = 0;
    if (q->run_r != q->run_w) {
        q->flags &= ~CW_FLAG_EOT;
        const uint32_t e = q->runs[q->run_r];
        unsigned L = run_len(e);
        if (cw_dem_isspike(q, L)) {
            // A short glitch: skip it and let the next run carry its length.
            q->spike_seen = 1;
            q->spike_absorb += L;
            q->run_r = (q->run_r + 1) % CW_DEM_RUNS;
            return 1;
        }
        int merged_mark = 0;
        if (q->spike_seen) {
            // The glitch interrupted a run of the same kind: the run before
            // it, the glitch and this run are one run.
            merged_mark = run_mark(e) && q->nelements > 0;
            if (merged_mark)
                L += q->spike_absorb + (q->elements[q->nelements - 1] >> 1);
            else
                L += q->spike_absorb;
            q->spike_seen = 0;
            q->spike_absorb = 0;
        }
        if (L > 0) {
            q->run_r = (q->run_r + 1) % CW_DEM_RUNS;
            consumed = 1;
            if (run_mark(e)) {
                q->waiting = 0;
                if (merged_mark)
                    q->nelements--; // replaced by the merged mark
                int dash;
                if (L <= q->thr) {
                    dash = 0;
                    q->flags &= ~CW_FLAG_DASH;
                    q->dot += (L - q->dot) / 8;
                } else {
                    dash = 1;
                    q->flags |= CW_FLAG_DASH;
                    if (L <= 5 * q->dash)
                        q->dash += (L - q->dash) / 8;
                }
                if (q->nelements < CW_DEM_MAX_ELEMENTS) {
                    const unsigned len = L > 0x7fff ? 0x7fff : L;
                    q->elements[q->nelements++] = (uint16_t)(len * 2 + dash);
                }
                update_threshold(q);
            } else {
                classify_space(q, (float)L, charEnd);
            }
        }
    } else if ((q->cur_run > 10 * q->dash || q->cur_run >= q->run_cap) && q->key_last == 0) {
        // A long silence ends the character and the word. Below about 12
        // WPM ten dashes are longer than the 3-second cap of the run
        // counter, so reaching the cap counts as well.
        if (!q->waiting) {
            q->waiting = 1;
            q->flags |= CW_FLAG_WORDSPACE | CW_FLAG_EOT;
            q->wordgap = (float)q->cur_run;
            *charEnd = 1;
        }
    }
    if (*charEnd) {
        q->char_start = q->char_end;
        q->char_end = q->run_r;
    }
    return consumed;
}

// Runs the pattern finder over the runs [from, to) and collects up to two
// characters; the end of the range counts as a character end.
static int decode_range(cw_dem_t *q, unsigned from, unsigned to, unsigned char *out, int max)
{
    int n = 0;
    q->run_r = from;
    q->nelements = 0;
    q->spike_seen = 0;
    q->spike_absorb = 0;
    q->waiting = 0;
    for (unsigned guard = 0; guard < CW_DEM_RUNS && q->run_r != to && n < max; guard++) {
        int charEnd = 0;
        const unsigned save_w = q->run_w;
        q->run_w = to; // stop the finder at the end of the range
        cw_dem_partten_finder(q, &charEnd);
        q->run_w = save_w;
        if (charEnd && q->nelements)
            out[n++] = morse_to_char(cw_dem_codegen(q));
    }
    if (n < max && q->nelements)
        out[n++] = morse_to_char(cw_dem_codegen(q));
    q->run_r = to;
    return n;
}

// An unknown character: either a glitch split a space, or a character gap
// was too short and two characters ran together.
static void recover_unknown(cw_dem_t *q)
{
    const unsigned start = q->char_start, end = q->char_end;
    const unsigned count = (end + CW_DEM_RUNS - start) % CW_DEM_RUNS;
    if (count < 2) {
        cw_dem_putchar(q, 255);
        return;
    }
    // Shortest real mark and the longest inner space.
    unsigned short_i = end, long_i = end;
    unsigned short_l = ~0u, long_l = 0;
    for (unsigned k = 0; k < count; k++) {
        const unsigned i = (start + k) % CW_DEM_RUNS;
        const uint32_t e = q->runs[i];
        const unsigned L = run_len(e);
        if (run_mark(e)) {
            if (!cw_dem_isspike(q, L) && L < short_l) {
                short_l = L;
                short_i = i;
            }
        } else if (k > 0 && k + 1 < count && L > long_l) {
            long_l = L;
            long_i = i;
        }
    }
    const unsigned short_k = (short_i + CW_DEM_RUNS - start) % CW_DEM_RUNS;
    unsigned char out[2];
    if (short_i != end && short_l < q->dot / 2 && short_k > 0 && short_k + 1 < count) {
        // Merge the short mark and its neighbouring spaces into one space and
        // move the earlier runs up by two places.
        const unsigned prev = (short_i + CW_DEM_RUNS - 1) % CW_DEM_RUNS;
        const unsigned next = (short_i + 1) % CW_DEM_RUNS;
        const unsigned L = run_len(q->runs[prev]) + short_l + run_len(q->runs[next]);
        q->runs[next] = (uint32_t)L << 1;
        for (unsigned k = short_k - 1; k > 0; k--) {
            const unsigned dst = (start + k + 1) % CW_DEM_RUNS;
            const unsigned src = (start + k - 1) % CW_DEM_RUNS;
            q->runs[dst] = q->runs[src];
        }
        const unsigned from = (start + 2) % CW_DEM_RUNS;
        const int n = decode_range(q, from, end, out, 2);
        for (int i = 0; i < n; i++)
            if (out[i] <= 253)
                cw_dem_putchar(q, out[i]);
        return;
    }
    if (long_i != end) {
        const float g = q->cgap - 1;
        const unsigned L = g < 1 ? 1 : (unsigned)g;
        q->runs[long_i] = (uint32_t)L << 1;
        const int n = decode_range(q, start, end, out, 2);
        if (n == 2 && out[0] <= 253 && out[1] <= 253) {
            cw_dem_putchar(q, out[0]);
            cw_dem_putchar(q, out[1]);
            return;
        }
    }
    cw_dem_putchar(q, 255);
}

static void train_step(cw_dem_t *q)
{
    if (!q->training) {
        q->training = 1;
        q->train_start = q->train_cur = q->run_r;
        q->thr = q->dot = q->dash = q->egap = q->cgap = 0;
        q->wordgap = 0;
    }
    const unsigned count = (q->train_cur + CW_DEM_RUNS - q->train_start) % CW_DEM_RUNS;
    if (count > 97) {
        q->flags |= CW_FLAG_SYNC;
        q->training = 0;
        return;
    }
    if (q->train_cur == q->run_w)
        return;
    const uint32_t e = q->runs[q->train_cur];
    const float x = (float)run_len(e);
    q->train_cur = (q->train_cur + 1) % CW_DEM_RUNS;
    if (run_len(e) >= q->run_cap)
        return; // a 3-second run says nothing about the speed
    if (run_mark(e)) {
        float &avg = x > q->thr ? q->dash : q->dot;
        avg = count < 33 ? (x + avg) / 2 : avg + (x - avg) / 4;
        update_threshold(q);
    } else if (count > 32 && x <= 3 * q->thr) {
        // Longer spaces are word gaps (or silence) and stay out of the
        // character-gap average.
        float &avg = x > q->thr ? q->cgap : q->egap;
        avg += (x - avg) / 4;
    }
}

static void decode_step(cw_dem_t *q)
{
    int charEnd = 0;
    cw_dem_partten_finder(q, &charEnd);
    if (!charEnd)
        return;
    if (q->nelements == 0) {
        // A gap with no character before it (the silence ahead of a
        // transmission) must not put a space after the next character.
        q->flags &= ~CW_FLAG_WORDSPACE;
        return;
    }
    const unsigned nel = q->nelements;
    const unsigned char c = morse_to_char(cw_dem_codegen(q));
    q->unknown_hist = (q->unknown_hist << 1) | (c > 253 ? 1 : 0);
    if (c <= 253) {
        cw_dem_putchar(q, c);
        cw_dem_putwordspace(q, c);
        return;
    }
    if (nel < CW_DEM_MAX_ELEMENTS) {
        recover_unknown(q);
    } else {
        cw_dem_putchar(q, 255);
        cw_dem_putwordspace(q, 255);
    }
    // On the slot clock a lone unknown character is noise; only several
    // among the last eight (a new speed) send the decoder back to training.
    if (!q->slot_active || __builtin_popcount(q->unknown_hist & 0xff) >= 3)
        q->flags &= ~CW_FLAG_SYNC;
}


// The narrow-band detector. Each block is mixed down at the tone and
// decimated to one complex sample (the low-pass only keeps the block rate
// free of aliases). Two keys are read from these samples:
// - the block key: each block, the coherent sum over the last blocks
//   (kCwMatch of a dot once the speed is known, three blocks before) against
//   an automatic threshold. It measures the speed, trains the decoder and
//   follows keying of any timing;
// - the slot key (slot_step below): once the dot length is known, the sum
//   over exactly one dot, taken once per dot at the end of each dot-long
//   slot. That is the filter matched to a dot, read where it is matched, so
//   noise between two decisions does not key; it decodes whenever the
//   keying keeps to its clock, as a keyer's does.
// A frequency loop keeps the mixer on the tone (within kCwPull Hz of the
// one set), which a coherent sum over a dot needs within a few Hz; it
// averages the block-to-block turn over about a second of key-down, since a
// faster loop wanders with the noise of a weak signal.
static const float kCwBandwidth = 75.0f;
static const float kCwMatch = 0.7f;
static const float kCwPull = 30.0f;
static const float kCwTurn = 0.003f;
static const float kCwFll = 0.01f;
// Blocks at the start that only measure the key-up level.
static const int kCwSettle = 40;

static void detector_design(cw_dem_t *q)
{
    if (q->decim)
        firdecim_crcf_destroy((firdecim_crcf)q->decim);
    const unsigned m = 3;
    const unsigned len = 2 * q->N * m + 1;
    float *h = new float[len];
    liquid_firdes_kaiser(len, kCwBandwidth / q->fs, 60.0f, 0.0f, h);
    float sum = 0;
    for (unsigned i = 0; i < len; i++)
        sum += h[i];
    firdecim_crcf dq = firdecim_crcf_create(q->N, h, len);
    // Same scale as the block Goertzel filter: a tone of amplitude A (after
    // the halving) reads A·N/2; the mixer halves it, so the gain is N.
    firdecim_crcf_set_scale(dq, (float)q->N / sum);
    delete[] h;
    q->decim = dq;
    q->nco_step = 2 * M_PI * q->tone_used / q->fs;
    // Samples mixed at another tone are not summed with the new ones.
    for (auto &v : q->yh)
        v = 0;
    for (auto &v : q->yh_step)
        v = 0;
    q->turn = 0;
}

// Length in blocks of a sum over a dot length of u blocks.
static int sum_len(float u)
{
    const int n = (int)(u + 0.5f);
    return n < 1 ? 1 : n > (int)CW_DEM_HISTORY ? (int)CW_DEM_HISTORY : n;
}

// The level of the sum over the n block samples ending at block t.
static float kept_sum(const cw_dem_t *q, uint32_t t, int n)
{
    std::complex<float> s = 0;
    for (int i = 0; i < n; i++)
        s += q->yh[(t - (uint32_t)i) % CW_DEM_YH];
    return std::abs(s) / (float)n;
}

// Returns the narrow-band level of the block and, through *goertzel, the
// block Goertzel level used for the level display.
static float block_energy(cw_dem_t *q, float *goertzel)
{
    std::complex<float> z[CW_DEM_BLOCK];
    for (unsigned i = 0; i < q->N; i++) {
        Goertzel_Sampling(&q->detector, q->block[i]);
        z[i] = std::complex<float>(q->block[i] * (float)cos(q->nco_phase), -q->block[i] * (float)sin(q->nco_phase));
        q->nco_phase += q->nco_step;
        if (q->nco_phase >= 2 * M_PI)
            q->nco_phase -= 2 * M_PI;
    }
    *goertzel = Goertzel_GetEnergy(&q->detector);
    std::complex<float> y;
    firdecim_crcf_execute((firdecim_crcf)q->decim, z, &y);
    const std::complex<float> prev = q->yh[(q->blk - 1) % CW_DEM_YH];
    q->yh[q->blk % CW_DEM_YH] = y;
    q->yh_step[q->blk % CW_DEM_YH] = (float)q->nco_step;
    // The frequency loop, while the key is down.
    if (q->key_state && q->key_last) {
        q->turn += (y * std::conj(prev) - q->turn) * kCwTurn;
        double step = q->nco_step + kCwFll * std::arg(q->turn) / q->N;
        const double base = 2 * M_PI * q->tone_used / q->fs, pull = 2 * M_PI * kCwPull / q->fs;
        step = step > base + pull ? base + pull : step < base - pull ? base - pull : step;
        q->nco_step = step;
    }
    // The block key's sum: three blocks until the speed is known.
    int M = 3;
    if (q->slot_active)
        M = sum_len(kCwMatch * q->clk.unit);
    else if ((q->flags & CW_FLAG_SYNC) && q->dot > 0 && q->egap > 0)
        M = sum_len(kCwMatch * (q->dot + q->egap) / 2);
    // The slot clock's dot-long sum.
    if (q->clk.unit > 0) {
        q->clk.sum_prev = q->clk.sum_now;
        q->clk.sum_now = kept_sum(q, q->blk, sum_len(q->clk.unit));
    }
    return kept_sum(q, q->blk, M);
}

// A clock (re)started: nothing yet shows it keeps to the keying.
static void slot_unlock(cw_slotclk_s *c)
{
    c->slot_edges = 0;
    c->ted_err = 0.3f;
    c->slot_run = c->slot_gap = 0;
    c->slot_bad = 0.2f;
    c->bad_run = 0;
}

// The slot clock. Stopped until the speed is known.
static void slot_stop(cw_dem_t *q)
{
    q->clk = cw_slotclk_s();
    slot_unlock(&q->clk);
    q->slot_active = 0;
    q->lag_up = q->lag_dn = 0;
}

// The dot length from the recent block-key marks: the marks fall into a
// short and a long group (split where the two group means meet), and the
// medians of the groups, one and three dots plus the same detector bias,
// are two dots apart. 0 when the marks do not show two such groups.
static float block_unit(const cw_dem_t *q)
{
    const unsigned n = q->bm_n;
    if (n < 12)
        return 0;
    float v[CW_DEM_BMARKS];
    float sum = 0;
    for (unsigned i = 0; i < n; i++) {
        v[i] = q->bmarks[i];
        sum += v[i];
    }
    std::sort(v, v + n);
    float thr = sum / n;
    unsigned split = 0;
    for (int it = 0; it < 8; it++) {
        split = 0;
        while (split < n && v[split] < thr)
            split++;
        if (split == 0 || split == n)
            return 0;
        float a = 0, b = 0;
        for (unsigned i = 0; i < split; i++)
            a += v[i];
        for (unsigned i = split; i < n; i++)
            b += v[i];
        thr = (a / split + b / (n - split)) / 2;
    }
    if (split < 3 || n - split < 3)
        return 0;
    const float d3 = v[split + (n - split) / 2];
    // Noise spikes among the short marks stay out of their median.
    unsigned first = 0;
    while (first < split && v[first] < d3 / 6)
        first++;
    if (split - first < 3)
        return 0;
    const float d1 = v[first + (split - first) / 2];
    if (d1 <= 0 || d3 < 1.8f * d1 || d3 > 4.5f * d1)
        return 0;
    return (d3 - d1) / 2;
}

// Keeps a mark of the block key.
static void block_mark(cw_dem_t *q, unsigned len)
{
    q->bmarks[q->bm_pos] = (uint16_t)(len > 0xffff ? 0xffff : len);
    q->bm_pos = (q->bm_pos + 1) % CW_DEM_BMARKS;
    if (q->bm_n < CW_DEM_BMARKS)
        q->bm_n++;
    if (q->clk.unit <= 0 || q->bm_n < CW_DEM_BMARKS / 2)
        return;
    // A dot length well away from the clock's is a new speed: the clock
    // starts again from it, and the block key decodes until it is locked.
    const float ub = block_unit(q);
    if (ub < 2 || ub > CW_DEM_HISTORY)
        return;
    // A locked clock whose marks keep to one and three slots has the
    // speed: the block key's marks are too noisy on weak signals to
    // overrule it.
    if (std::fabs(ub - q->clk.unit) > 0.2f * q->clk.unit && (!q->slot_active || q->clk.slot_bad > 0.3f)) {
        q->clk.unit = ub;
        slot_unlock(&q->clk);
        // The runs are classified at the new speed from here on.
        if (q->flags & CW_FLAG_SYNC)
            set_averages(q, ub);
    }
}

// Starts the clock at the dot length the block key's marks show, with the
// block key's levels.
static void slot_start(cw_dem_t *q)
{
    slot_stop(q);
    q->clk.unit = block_unit(q);
    if (q->clk.unit < 2 || q->clk.unit > CW_DEM_HISTORY) {
        q->clk.unit = 0;
        return;
    }
    q->clk.s_hi = q->level_hi;
    q->clk.s_lo = q->level_lo;
}

// Timing loop gains: the share of the measured error taken out of the
// phase, and out of the dot length, at each transition.
static const float kSlotPhaseGain = 0.15f;
static const float kSlotUnitGain = 0.02f;
// The keying must stay this close to the slot clock (mean error, in dots)
// for the slot decisions to be used; hand-sent or changed speeds fall back
// to the block-by-block key.
static const float kSlotMaxErr = 0.3f;
// Lowest key-down level, in key-up levels, the gaps let the slot threshold
// sink to: noise slots (the key-up level is their mean) reach half of it
// about once in ten thousand.
static const float kSlotFloor = 6.0f;
// Share of the span from the key-up to the key-down level at which a slot
// is taken for key-down: a little below half, as slots at the ends of a
// mark lose a little of it when the clock is a little off.
static const float kSlotThreshold = 0.45f;

// One block of the slot clock: the sum at the middle of a slot is the sum
// centred on the boundary that began it (the early-late measurement), the
// sum at the end of a slot is its decision.
static void slot_step(cw_dem_t *q, int live)
{
    const float u = q->clk.unit;
    q->clk.slot_phase += 1;
    if (!q->clk.mid_done && q->clk.slot_phase >= u / 2) {
        const float f = q->clk.slot_phase - u / 2; // blocks since the middle
        q->clk.m_cur = q->clk.sum_now * (1 - f) + q->clk.sum_prev * f;
        q->clk.mid_done = 1;
    }
    if (q->clk.slot_phase < u)
        return;
    const float f = q->clk.slot_phase - u;
    const float x = q->clk.sum_now * (1 - f) + q->clk.sum_prev * f;
    q->clk.slot_phase -= u;
    q->clk.mid_done = 0;
    const float span = q->clk.s_hi - q->clk.s_lo;
    const int key = x > q->clk.s_lo + kSlotThreshold * span && q->clk.s_hi > 1.5f * q->clk.s_lo;
    if (key != q->clk.slot_key) {
        const float d = x - q->clk.x_prev;
        if (std::fabs(d) > 0.25f * span && span > 0) {
            // Centred on the boundary, the sum is halfway between the two
            // slots when the clock is right; off by the share of a dot the
            // boundary is early or late.
            float e = (q->clk.m_cur - (x + q->clk.x_prev) / 2) / d;
            e = e > 0.5f ? 0.5f : e < -0.5f ? -0.5f : e;
            q->clk.slot_phase += kSlotPhaseGain * e * u;
            q->clk.unit -= kSlotUnitGain * e * u;
            if (q->clk.unit < 2)
                q->clk.unit = 2;
            if (q->clk.unit > CW_DEM_HISTORY)
                q->clk.unit = CW_DEM_HISTORY;
            q->clk.ted_err += (std::fabs(e) - q->clk.ted_err) * 0.1f;
            q->clk.slot_edges++;
        }
    }
    // The key-down level follows a fading signal within a slot or two: to
    // each key-down slot and a stronger one, and in the gaps towards
    // kSlotFloor times the key-up level, so a signal fading out is still
    // found while noise in a long gap or after the signal keys nothing.
    // The key-up level is the noise, which does not fade.
    if (x > q->clk.s_hi || key)
        q->clk.s_hi += (x - q->clk.s_hi) * 0.5f;
    else if (q->clk.s_hi > kSlotFloor * q->clk.s_lo)
        q->clk.s_hi += (kSlotFloor * q->clk.s_lo - q->clk.s_hi) * 0.2f;
    if (!key)
        q->clk.s_lo += (x - q->clk.s_lo) * 0.1f;
    if (key != q->clk.slot_key) {
        // How long ago the block key made the same change (the lags of the
        // two keys differ by that much).
        if (live && q->bkey == key && q->bcount < 2 * u) {
            float &lag = key ? q->lag_up : q->lag_dn;
            lag += ((float)q->bcount - lag) * 0.1f;
        }
        const int bad = key ? q->clk.slot_gap == 2 : q->clk.slot_run != 1 && q->clk.slot_run != 3;
        q->clk.slot_bad += ((bad ? 1.0f : 0.0f) - q->clk.slot_bad) * 0.05f;
        q->clk.bad_run = bad ? q->clk.bad_run + 1 : 0;
        q->clk.slot_run = q->clk.slot_gap = 0;
    }
    if (key)
        q->clk.slot_run++;
    else if (q->clk.slot_gap < 1000)
        q->clk.slot_gap++;
    q->clk.slot_key = key;
    q->clk.x_prev = x;
}

// Whether the clock keeps to the keying: enough transitions, a small mean
// timing error and marks of one or three slots. A little hysteresis (the
// limits of a clock in use are wider) keeps a clock near the limits from
// switching at every gap.
static int slot_locked(const cw_dem_t *q, const cw_slotclk_s *c, int active)
{
    // Noise alone gives a mean timing error of up to about the ratio of the
    // key-up to the key-down level; keying off the clock adds to it, and is
    // told from noise that way on strong signals too. The block key's
    // levels give the ratio: the slot levels mix when the clock is off.
    const float ratio = q->level_hi > 0 ? q->level_lo / q->level_hi : 1;
    float lim = active ? 0.08f + 1.5f * ratio : 0.05f + ratio;
    const float cap = active ? kSlotMaxErr * 1.25f : kSlotMaxErr * 0.8f;
    lim = lim < cap ? lim : cap;
    const float blim = active ? 0.25f : 0.08f;
    return c->slot_edges >= 16 && c->ted_err < lim && c->slot_bad < blim && c->bad_run < 2;
}


// Runs measured again on the slot clock.
struct replay_out {
    uint32_t runs[CW_DEM_RUNS], ends[CW_DEM_RUNS];
    unsigned n, cnt;
    int cur;
};

// How clearly the slots of a clock at dot length u, with its first boundary
// `phase` blocks after t0, read as key-down or key-up: the summed distance
// of their sums from the middle level, over at most `count` slots.
static float slot_clarity(const cw_dem_t *q, uint32_t t0, uint32_t span, float u, float phase, int count, float mid)
{
    const int Ms = sum_len(u);
    float score = 0;
    for (int k = 0; k < count; k++) {
        const float tb = phase + (float)k * u;
        if (tb + 1 >= (float)span)
            break;
        const uint32_t ti = t0 + (uint32_t)tb;
        const float f = tb - std::floor(tb);
        const float x = kept_sum(q, ti, Ms) * (1 - f) + kept_sum(q, ti + 1, Ms) * f;
        score += std::fabs(x - mid);
    }
    return score;
}

// One pass of the slot clock over the kept block samples from t0 to end,
// at dot length u with its first boundary `phase` blocks after t0; the
// runs go to *o. 0 when they do not fit.
static int replay_pass(cw_dem_t *q, uint32_t t0, uint32_t end, float u, float phase, replay_out *o)
{
    const int Ms = sum_len(u);
    cw_slotclk_s &c = q->clk;
    c.unit = u;
    c.slot_phase = u - phase - 1;
    c.mid_done = 0;
    c.sum_now = c.sum_prev = kept_sum(q, t0 - 1, Ms);
    c.x_prev = c.m_cur = 0;
    c.slot_key = 0;
    slot_unlock(&c);
    o->n = o->cnt = 0;
    o->cur = 0;
    for (uint32_t t = t0; t != end + 1; t++) {
        c.sum_prev = c.sum_now;
        c.sum_now = kept_sum(q, t, Ms);
        slot_step(q, 0);
        if (c.slot_key != o->cur) {
            if (o->cnt > 0) {
                if (o->n == CW_DEM_RUNS - 8)
                    return 0;
                o->ends[o->n] = t;
                o->runs[o->n++] = (uint32_t)o->cnt * 2 + (o->cur ? 1 : 0);
            }
            o->cur = c.slot_key;
            o->cnt = 0;
        }
        if (o->cnt < q->run_cap)
            o->cnt++;
    }
    return 1;
}

// At the end of training the runs learnt from are decoded: when the slot
// clock knows the dot length by then, they are first measured again on it,
// from the kept block samples, so the first characters of a weak signal
// are read as well as the rest. The clock for them is the dot length
// (within 10 % of the live clock's) and phase at which the first hundred
// slots read clearest; it follows the keying from there, and its state at
// the end becomes the live clock's. Nothing changes unless that clock ends
// up locked.
static void slot_replay(cw_dem_t *q)
{
    const float u0 = q->clk.unit;
    const unsigned r = q->run_r;
    if (u0 < 2 || r == q->run_w)
        return;
    const uint32_t end = q->blk;
    const uint32_t t0 = q->run_end[r] - run_len(q->runs[r]);
    const uint32_t span = end - t0;
    if (span + 2 * CW_DEM_HISTORY + 2 >= CW_DEM_YH || span < 4 * u0)
        return;
    // The kept samples were mixed at the frequencies the loop had then;
    // mixed again to the one it has found, they sum over a dot as the
    // live ones do.
    const float w_end = (float)q->nco_step;
    double phi = 0;
    for (uint32_t t = t0 - 2 * CW_DEM_HISTORY - 2; t != end + 1; t++) {
        const unsigned i = t % CW_DEM_YH;
        phi += (double)(w_end - q->yh_step[i]) * q->N;
        if (q->yh_step[i] != w_end)
            q->yh[i] *= std::polar(1.0f, (float)-std::fmod(phi, 2 * M_PI));
        q->yh_step[i] = w_end;
    }
    const float mid = (q->clk.s_hi + q->clk.s_lo) / 2;
    float best = -1, bu = u0, bp = 0;
    for (int k = -20; k <= 20; k++) {
        const float u = u0 * (1 + 0.005f * (float)k);
        if (u < 2 || u > CW_DEM_HISTORY)
            continue;
        for (int p = 0; p < 8; p++) {
            const float score = slot_clarity(q, t0, span, u, (float)p * u / 8, 100, mid);
            if (score > best) {
                best = score;
                bu = u;
                bp = (float)p * u / 8;
            }
        }
    }
    const cw_slotclk_s live = q->clk;
    replay_out o;
    if (!replay_pass(q, t0, end, bu, bp, &o)) {
        q->clk = live;
        return;
    }
    const cw_slotclk_s &c = q->clk;
    if (!slot_locked(q, &c, 0)) {
        q->clk = live;
        return;
    }
    for (unsigned i = 0; i < o.n; i++) {
        const unsigned k = (r + i) % CW_DEM_RUNS;
        q->runs[k] = o.runs[i];
        q->run_end[k] = o.ends[i];
    }
    q->run_w = (r + o.n) % CW_DEM_RUNS;
    q->key_state = o.cur;
    q->key_last = o.cur;
    q->key_pending = 0;
    q->run_count = o.cnt;
    q->cur_run = o.cnt;
    q->slot_active = 1;
    // The averages the runs are classified by, as the clock has them.
    set_averages(q, c.unit);
}

static void process_block(cw_dem_t *q)
{
    float G;
    const float E = block_energy(q, &G);
    float peak = q->peak;
    peak = G > peak ? G : peak + (G - peak) * 0.002f;
    q->peak = peak;

    // Automatic threshold a little below halfway between the key-down and
    // key-up levels, each followed while the key is in that state. The
    // key-up level is the mean level of the gaps (it falls quickly only to
    // a clearly lower one); a stronger signal pulls the key-down level up
    // quickly, and it sinks slowly so a fading station is followed. Nothing
    // keys unless the key-down level stands well clear of the key-up level,
    // further than noise alone takes it. The configured threshold remains a
    // lower limit. The first blocks only measure the key-up level: a
    // decoder opened on noise does not take it for a key-down.
    if (q->levels_valid < kCwSettle) {
        q->levels_valid++;
        q->level_lo += (E - q->level_lo) / (float)q->levels_valid;
        q->level_hi = q->level_lo;
    }
    const float ahi = 0.05f, alo = 0.02f, mid = 0.45f, gate = 2.5f;
    if (E > q->level_hi)
        q->level_hi += (E - q->level_hi) * 0.2f;
    else if (q->key_state)
        q->level_hi += (E - q->level_hi) * ahi;
    else
        q->level_hi += (q->level_lo - q->level_hi) * 0.001f;
    if (E < 0.5f * q->level_lo)
        q->level_lo += (E - q->level_lo) * 0.2f;
    else if (!q->key_state)
        q->level_lo += (E - q->level_lo) * alo;
    const float autothr = q->level_lo + mid * (q->level_hi - q->level_lo);
    const float thr = autothr > q->threshold ? autothr : (float)q->threshold;

    const float Ew = q->w_new * E + q->w_old * q->prev_energy;
    // A little hysteresis (a tenth of the level span) keeps noise from
    // chattering the key in the gaps.
    const float hthr = thr + (q->key_state ? -0.1f : 0.1f) * (q->level_hi - q->level_lo);
    int down = Ew >= hthr && q->level_hi > gate * q->level_lo;
    q->prev_energy = E;
    if (down != q->bkey) {
        if (q->bkey && q->bcount < q->run_cap)
            block_mark(q, q->bcount);
        q->bkey = down;
        q->bcount = 0;
    }
    q->bcount++;

    // The slot clock runs once the speed is known; its decisions take over
    // from the block-by-block key while the keying keeps to the clock. Both
    // hand-overs wait for a gap on both keys, so no run is cut.
    if (q->clk.unit == 0 && q->bm_n >= 12)
        slot_start(q);
    if (q->clk.unit > 0) {
        slot_step(q, 1);
        const int quiet = !q->key_state && !q->clk.slot_key && !down;
        if (quiet) {
            const int active = slot_locked(q, &q->clk, q->slot_active);
            if (active != q->slot_active) {
                // The gap under way was begun by one key and is ended by the
                // other.
                const int lag = (int)lroundf(active ? q->lag_dn : -q->lag_up);
                const int n = (int)q->run_count - lag;
                q->run_count = n < 1 ? 1u : (unsigned)n;
                q->slot_active = active;
                const float u = q->clk.unit;
                if (active && std::fabs((q->dot + q->egap) / 2 - u) > 0.2f * u) {
                    // A clock started again at a new speed: the averages
                    // the runs are classified by follow it at once.
                    set_averages(q, u);
                }
            }
        }
        if (q->slot_active)
            down = q->clk.slot_key;
    }

    if (q->key_pending) {
        q->key_state = down;
        q->key_pending = 0;
    } else if (down != q->key_state) {
        q->key_pending = 1;
    }
    if (q->key_state != q->key_last) {
        q->runs[q->run_w] = (uint32_t)q->run_count * 2 + (q->key_last ? 1 : 0);
        q->run_end[q->run_w] = q->blk;
        q->run_count = 0;
        q->key_last = q->key_state;
        q->run_w = (q->run_w + 1) % CW_DEM_RUNS;
    }
    if (q->run_count < q->run_cap)
        q->run_count++;
    q->cur_run = q->run_count;

    if (!(q->flags & CW_FLAG_SYNC)) {
        train_step(q);
        if (q->flags & CW_FLAG_SYNC)
            slot_replay(q);
        else if (q->cur_run < q->run_cap)
            goto speed;
    }
    decode_step(q);

speed:
    q->blk++;
    if (q->flags & CW_FLAG_SYNC) {
        // PARIS: 10 dots, 4 dashes, 9 element gaps, 4 character gaps and a
        // word gap (a character gap and four element gaps; the character-gap
        // average no longer includes word gaps).
        const float P = 10 * q->dot + 4 * q->dash + 13 * q->egap + 5 * q->cgap;
        if (P > 0) {
            q->speed_filter = 0.3f * (60000.0f / (P * 1000.0f / q->bps) + 0.5f) + 0.7f * q->speed_filter;
            q->wpm = (unsigned)q->speed_filter;
        }
    } else {
        q->speed_filter = 0;
    }
}

void cw_dem_process(cw_dem_t *q, const float *samples, unsigned n)
{
    for (unsigned i = 0; i < n; i++) {
        const float tone = q->tone_req;
        if (tone != q->tone_used) {
            q->tone_used = tone;
            Goertzel_SetFc(&q->detector, tone, q->N, 1, q->fs);
            detector_design(q);
        }
        q->block[q->sample_idx++] = samples[i] * 0.5f;
        if (q->sample_idx == q->N) {
            q->sample_idx = 0;
            process_block(q);
        }
    }
}
