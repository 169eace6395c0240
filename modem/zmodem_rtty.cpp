// RTTY demodulator (two-tone filters, envelope and floor tracking with the
// automatic-threshold decision, start-bit framing, LTRS/FIGS) and modulator
// (phase-continuous FSK with preamble, stop bits and trailer).
#include "modem/zmodem_rtty.h"

#include "app/zlog.h"
#include "modem/zmodem_rtty_p.h"

#include <QMutexLocker>

#include <cmath>
#include <math.h>
#include <new>

const char rtty_letters[33] = "<E\nA SIU\nDRJNFCKTZLWHYPQOBG^MXV^";
const char rtty_figures[33] = "<3\n- ,87\n$4#,.:(5+)2.6019?.^./=^";

namespace {
struct Ita2Table {
    uint8_t v[128] = {};
    constexpr Ita2Table()
    {
        for (int code = 0; code < 32; code++) {
            const char c = "<E\nA SIU\nDRJNFCKTZLWHYPQOBG^MXV^"[code];
            if (c >= 'A' && c <= 'Z') {
                v[(int)c] = uint8_t(code | 0x20);
                v[c - 'A' + 'a'] = uint8_t(code | 0x20);
            }
        }
        v[(int)' '] = 4 | 0x20;
        v[7] = 11;
        v[(int)'\n'] = 2;
        v[(int)'\r'] = 8;
        v[(int)'\''] = 5;
        v[(int)'('] = 15;
        v[(int)')'] = 18;
        v[(int)'+'] = 17;
        v[(int)','] = 12;
        v[(int)'-'] = 3;
        v[(int)'.'] = 28;
        v[(int)'/'] = 29;
        v[(int)'0'] = 22;
        v[(int)'1'] = 23;
        v[(int)'2'] = 19;
        v[(int)'3'] = 1;
        v[(int)'4'] = 10;
        v[(int)'5'] = 16;
        v[(int)'6'] = 21;
        v[(int)'7'] = 7;
        v[(int)'8'] = 6;
        v[(int)'9'] = 24;
        v[(int)':'] = 14;
        v[(int)'='] = 30;
        v[(int)'?'] = 25;
    }
};
constexpr Ita2Table kIta2;
} // namespace

const uint8_t rtty_ascii_to_ita2[128] = {
#define R8(i) kIta2.v[i], kIta2.v[i + 1], kIta2.v[i + 2], kIta2.v[i + 3], \
    kIta2.v[i + 4], kIta2.v[i + 5], kIta2.v[i + 6], kIta2.v[i + 7]
    R8(0), R8(8), R8(16), R8(24), R8(32), R8(40), R8(48), R8(56),
    R8(64), R8(72), R8(80), R8(88), R8(96), R8(104), R8(112), R8(120),
#undef R8
};

float calc_iir_q(float f, float bw)
{
    if (f > 0 && bw > 0) {
        float a = f + 1;
        if (a > 1.95f)
            a = 1.95f;
        return f / (0.8f * bw * tanf(a * (float)M_PI / 4));
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Demodulator
//
// Each tone is mixed down and summed over one bit: the magnitude of the sum
// at sample n is the output of the filter matched to a bit ending at n. A
// character is a start bit (space), five data bits and a stop bit (mark);
// once a start bit shows, the start time that gives the clearest decisions
// over all seven bits is searched, and the bits are read there. In a run of
// characters the starts follow each other at a steady period, which smooths
// the timing further. The decisions are log-likelihood ratios from the
// levels of mark, space and noise followed on the signal (automatic
// threshold correction), so a mark or space that fades on its own is still
// weighed right.

// The decisions are kept for this many bits: a character and the search
// around its start.
static const unsigned kRingBits = 12;
// The levels' memory, in bits.
static const unsigned kLevelBits = 16;
// In a run of characters: the share of the measured start's offset from the
// expected one that is taken, and the share that moves the period.
static const double kStartGain = 0.25, kPeriodGain = 1.0 / 16;

// log I0(u) (modified Bessel function of order 0), u >= 0.
static inline float log_i0(float u)
{
    if (u < 3.75f) {
        const float t = u / 3.75f, t2 = t * t;
        return logf(1 + t2 * (3.5156229f + t2 * (3.0899424f + t2 * (1.2067492f + t2 * (0.2659732f
                   + t2 * (0.0360768f + t2 * 0.0045813f))))));
    }
    const float t = 3.75f / u;
    const float p = 0.39894228f + t * (0.01328592f + t * (0.00225319f + t * (-0.00157565f + t * (0.00916281f
                  + t * (-0.02057706f + t * (0.02635537f + t * (-0.01647633f + t * 0.00392377f)))))));
    return u - 0.5f * logf(u) + logf(p);
}

// Mark-versus-space log-likelihood ratio of the correlator magnitudes xm, xs
// (positive for mark).
static inline float rtty_llr(const rtty_dem_t *q, float xm, float xs)
{
    if (xm == 0 && xs == 0)
        return 0; // digital silence says nothing
    if (!q->levels_valid)
        return xm - xs;
    // Tone powers without the noise, neither more than 20 dB under the
    // other; a noise floor 40 dB under the signal keeps clean signals finite.
    const float top = fmaxf(q->pow_mark, q->pow_space);
    const float n = fmaxf(q->pow_noise, 1e-4f * top) + 1e-6f;
    const float pm = fmaxf(q->pow_mark - n, 0.01f * top), ps = fmaxf(q->pow_space - n, 0.01f * top);
    return log_i0(2 * sqrtf(pm) * xm / n) - log_i0(2 * sqrtf(ps) * xs / n) - (pm - ps) / n;
}

static void rtty_dem_restart(rtty_dem_t *q)
{
    q->spb = (unsigned)lrintf(q->fs / q->rate);
    q->T = double(q->fs) / double(q->rate);
    const double wm = 2 * M_PI * (q->fc + q->shift / 2) / q->fs;
    const double ws = 2 * M_PI * (q->fc - q->shift / 2) / q->fs;
    q->rot_mark = std::polar(1.0, -wm);
    q->rot_space = std::polar(1.0, -ws);
    q->osc_mark = q->osc_space = 1.0;
    q->win_mark.assign(q->spb, 0.0f);
    q->win_space.assign(q->spb, 0.0f);
    q->sum_mark = q->sum_space = 0.0;
    q->win_pos = 0;
    uint64_t size = 1;
    while (size < uint64_t(kRingBits) * q->spb)
        size <<= 1;
    q->ring_llr.assign(size, 0.0f);
    q->ring_mask = size - 1;
    q->n = 0;
    q->levels_valid = 0;
    q->pow_mark = q->pow_space = q->pow_noise = 0;
    q->count_mark = q->count_space = q->count_noise = 0;
    q->search_from = q->spb;
    q->trigger = -1;
    q->scan = 0;
    q->last_start = -1;
    q->strict_run = 0;
    q->period = 7.5 * q->T;
}

static inline float ring_llr(const rtty_dem_t *q, uint64_t i)
{
    return q->ring_llr[i & q->ring_mask];
}

// The decision at the end of bit k (0 start, 1..5 data, 6 stop) of a
// character starting at t0.
static inline uint64_t bit_end(const rtty_dem_t *q, double t0, int k)
{
    return uint64_t(llround(t0 + (k + 1) * q->T));
}

// How clearly the seven bits of a character starting at t0 read: the start
// bit as space, the stop bit as mark, the data bits either way.
static float frame_metric(const rtty_dem_t *q, double t0)
{
    float m = -ring_llr(q, bit_end(q, t0, 0)) + ring_llr(q, bit_end(q, t0, 6));
    for (int k = 1; k <= 5; k++)
        m += fabsf(ring_llr(q, bit_end(q, t0, k)));
    return m;
}

// The levels follow the signal sample by sample: each correlator output is
// taken as the tone it favours (signal plus noise) and the other as noise.
// Their memory is kLevelBits bits, so a fade of a second is followed (a
// faster rise would follow the noise peaks, and the correction would then
// add noise of its own); the first bit is averaged evenly.
static inline void rtty_dem_levels(rtty_dem_t *q, float xm, float xs)
{
    const unsigned memory = kLevelBits * q->spb;
    if (q->count_noise < memory)
        q->count_noise++;
    const float k = 1.0f / float(q->count_noise);
    if (xm >= xs) {
        q->pow_mark += (xm * xm - q->pow_mark) * (q->count_mark ? k : 1.0f);
        q->pow_noise += (xs * xs - q->pow_noise) * k;
        q->count_mark = 1;
    } else {
        q->pow_space += (xs * xs - q->pow_space) * (q->count_space ? k : 1.0f);
        q->pow_noise += (xm * xm - q->pow_noise) * k;
        q->count_space = 1;
    }
    q->levels_valid = q->count_mark && q->count_space && q->count_noise >= q->spb;
}

static void rtty_dem_character(rtty_dem_t *q, double t0)
{
    unsigned code = 0;
    int bits[7];
    for (int k = 0; k < 7; k++)
        bits[k] = ring_llr(q, bit_end(q, t0, k)) > 0;
    for (int k = 1; k <= 5; k++)
        code |= unsigned(bits[k]) << (k - 1);

    if (code == 27)
        q->figures = 1;
    else if (code == 31)
        q->figures = 0;
    else
        q->out.put(q->figures ? rtty_figures[code] : rtty_letters[code]);
    // Unshift on space: common senders (minimodem among them) do not send
    // LTRS after figures when a space follows, expecting the receiver to
    // return to letters. This modulator sends LTRS before a space anyway.
    if (code == 4)
        q->figures = 0;
}

// Finds the best start of a character in [lo, hi]; true when it is one:
// its start bit reads space and its stop bit mark or, where a character is
// expected in a run of them that has passed that test several times in a
// row, when the two together lean that way: noise on one of them must not
// throw a good run off its timing, while a run that has lost the timing
// soon ends.
static bool rtty_dem_try(rtty_dem_t *q, double lo, double hi, double *start, bool expected)
{
    double best = lo;
    float bestM = -1e30f;
    for (double t0 = lo; t0 <= hi; t0 += 1) {
        const float m = frame_metric(q, t0);
        if (m > bestM) {
            bestM = m;
            best = t0;
        }
    }
    *start = best;
    const float s0 = ring_llr(q, bit_end(q, best, 0)), s6 = ring_llr(q, bit_end(q, best, 6));
    const bool strict = s0 < 0 && s6 > 0;
    if (expected && !strict && q->strict_run >= 3 && s6 - s0 > 0) {
        q->strict_run = 0;
        return true;
    }
    q->strict_run = strict && expected ? q->strict_run + 1 : strict ? 1 : 0;
    return strict;
}

// Looks for the next character once the samples up to q->n are in.
static void rtty_dem_frame(rtty_dem_t *q)
{
    const double T = q->T;
    const uint64_t now = q->n; // samples 0 .. now - 1 are in
    if (q->trigger < 0) {
        // A start bit shows once the bit correlators read space, half a bit
        // into it at the earliest.
        uint64_t i = std::max(q->scan, q->search_from + uint64_t(T / 2));
        for (; i < now && ring_llr(q, i) >= 0; i++) {
        }
        q->scan = i;
        if (i >= now)
            return;
        q->trigger = int64_t(i);
    }
    // The correlators read space once about half a bit of the start bit is
    // in: the start lies some way before the trigger (up to a bit and a half
    // when noise or unequal tones delay it), or just after it. Wait for the
    // whole character.
    const double hi = double(q->trigger) + T / 2;
    const double lo = fmax(double(q->search_from), double(q->trigger) - 1.5 * T);
    if (double(now) < hi + 7 * T + 2)
        return;
    q->trigger = -1;
    // The history must still hold the earliest candidate.
    if (double(now) - lo > double(q->ring_mask)) {
        q->search_from = q->scan = now;
        q->last_start = -1;
        return;
    }
    // In a run of characters the start is expected one period after the
    // last one: a character there is taken (a single frame fits a run of
    // characters at several offsets; the run does not), its timing refined
    // rather than replaced, and the period follows the sender's. Otherwise
    // (the first character after a pause) the best start near the trigger.
    double best;
    bool ok = false;
    if (q->last_start >= 0) {
        const double expect = double(q->last_start) + q->period;
        if (rtty_dem_try(q, fmax(double(q->search_from), expect - T / 3), expect + T / 3, &best, true)) {
            const double err = best - expect;
            best = expect + err * kStartGain;
            q->period = fmin(fmax(q->period + err * kPeriodGain, 7 * T), 8.5 * T);
            ok = true;
        }
    }
    if (!ok)
        ok = rtty_dem_try(q, lo, hi, &best, false);
    if (ok) {
        rtty_dem_character(q, best);
        q->last_start = int64_t(llround(best));
        // At least one stop bit before the next start.
        q->search_from = uint64_t(llround(best + 7 * T));
    } else {
        // No character here: look again from the end of this start bit.
        q->last_start = -1;
        q->search_from = uint64_t(llround(best + T));
    }
    q->scan = q->search_from;
}

static void rtty_dem_step(rtty_dem_t *q, float x)
{
    const std::complex<float> zm = x * std::complex<float>(q->osc_mark);
    const std::complex<float> zs = x * std::complex<float>(q->osc_space);
    q->osc_mark *= q->rot_mark;
    q->osc_space *= q->rot_space;
    const unsigned p = q->win_pos;
    q->sum_mark += std::complex<double>(zm) - std::complex<double>(q->win_mark[p]);
    q->sum_space += std::complex<double>(zs) - std::complex<double>(q->win_space[p]);
    q->win_mark[p] = zm;
    q->win_space[p] = zs;
    if (++q->win_pos == q->spb) {
        q->win_pos = 0;
        // Once per bit: keep the oscillators on the unit circle and the sums
        // free of rounding drift.
        q->osc_mark /= std::abs(q->osc_mark);
        q->osc_space /= std::abs(q->osc_space);
        std::complex<double> sm = 0, ss = 0;
        for (unsigned i = 0; i < q->spb; i++) {
            sm += std::complex<double>(q->win_mark[i]);
            ss += std::complex<double>(q->win_space[i]);
        }
        q->sum_mark = sm;
        q->sum_space = ss;
    }
    const uint64_t i = q->n & q->ring_mask;
    const float xm = float(std::abs(q->sum_mark)), xs = float(std::abs(q->sum_space));
    if (xm != 0 || xs != 0)
        rtty_dem_levels(q, xm, xs);
    q->ring_llr[i] = rtty_llr(q, xm, xs);
    q->n++;
    rtty_dem_frame(q);
}

// The tones must lie inside the band; the shift and rate within the
// operator's options (and a little beyond, for the tools).
static bool rtty_args_ok(const char *who, float fs, float fc)
{
    if (!(fs >= 1000) || !std::isfinite(fs)) {
        qCWarning(logModem, "%s: invalid sample rate %g", who, double(fs));
        return false;
    }
    if (!(fc > 0 && fc < fs / 2)) {
        qCWarning(logModem, "%s: carrier %g Hz outside 0..%g Hz", who, double(fc), double(fs / 2));
        return false;
    }
    return true;
}

rtty_dem_t *rtty_dem_create(float fs, float fc, uint32_t n)
{
    (void)n;
    if (!rtty_args_ok("rtty_dem_create", fs, fc))
        return nullptr;
    rtty_dem_t *q = new (std::nothrow) rtty_dem_t();
    if (!q) {
        qCWarning(logModem, "rtty_dem_create: out of memory");
        return nullptr;
    }
    q->fs = fs;
    q->fc = fc;
    q->fc_req = fc;
    q->rate = 45.45f;
    q->rate_req = 45.45f;
    q->shift = 170;
    q->shift_req = 170;
    rtty_dem_restart(q);
    qCDebug(logModem) << "rtty one_bit_sam_count:" << q->spb;
    return q;
}

void rtty_dem_destroy(rtty_dem_t *q)
{
    delete q;
}

void rtty_dem_reset(rtty_dem_t *q)
{
    rtty_dem_restart(q);
    q->figures = 0;
    q->out.clear();
}

void rtty_dem_set_fc(rtty_dem_t *q, float fc) { q->fc_req = fc; }
void rtty_dem_set_shift(rtty_dem_t *q, float shift) { q->shift_req = shift; }
void rtty_dem_set_rate(rtty_dem_t *q, float rate) { q->rate_req = rate; }
int rtty_dem_getchar(rtty_dem_t *q, char *out) { return q->out.get(out); }
unsigned rtty_dem_get_samples_per_bit(rtty_dem_t *q) { return q->spb; }

void rtty_dem_process(rtty_dem_t *q, const float *x, unsigned n)
{
    const float rate = q->rate_req, fc = q->fc_req, shift = q->shift_req;
    bool changed = false;
    if (rate != q->rate && rate > 0 && std::isfinite(rate)) {
        q->rate = rate;
        changed = true;
    }
    if ((fc != q->fc || shift != q->shift) && fc > 0 && shift > 0 && std::isfinite(fc) && std::isfinite(shift)) {
        q->fc = fc;
        q->shift = shift;
        changed = true;
    }
    if (changed)
        rtty_dem_restart(q);
    for (unsigned i = 0; i < n; i++)
        rtty_dem_step(q, x[i]);
}

// ---------------------------------------------------------------------------
// Modulator

static const uint8_t kTrailer[11] = {8, 8, 8, 8, 8, 8, 4, 4, 4, 4, 0};

    std::atomic<uint8_t> finished{1};

rtty_mod_t *rtty_mod_create(float fs, float fc, uint32_t n)
{
    (void)n;
    if (!rtty_args_ok("rtty_mod_create", fs, fc))
        return nullptr;
    rtty_mod_t *q = new (std::nothrow) rtty_mod_t();
    if (!q) {
        qCWarning(logModem, "rtty_mod_create: out of memory");
        return nullptr;
    }
    q->fs = fs;
    q->fc = -1; // applied on the first block
    q->rate = 45.45f;
    q->shift = 170;
    q->fc_req = fc;
    q->rate_req = 45.45f;
    q->shift_req = 170;
    q->stop_mode = 1;
    q->preamble = 32;
    q->smooth_k = 1.0f / 32;
    q->spb = fs / 45.45;
    return q;
}

// Between transmissions: the tone at rest, the next one starting with its
// preamble.
static void rtty_mod_idle(rtty_mod_t *q)
{
    q->smoothed = 0;
    q->osc_phase = 0;
    q->shift_state = 0;
    q->preamble = 32;
    q->phase = 0;
    q->samples_left = 0;
}

void rtty_mod_reset(rtty_mod_t *q)
{
    {
        QMutexLocker l(&q->lock);
        q->queue.clear();
    }
    q->start_req = 0;
    q->force_stop = 0;
    q->active = 0;
    q->finished = 1;
    q->sent = 0;
    q->counted = 0;
    rtty_mod_idle(q);
}

void rtty_mod_destroy(rtty_mod_t *q)
{
    delete q;
}

void rtty_mod_set_fc(rtty_mod_t *q, float fc) { q->fc_req = fc; }
void rtty_mod_set_speed(rtty_mod_t *q, float rate) { q->rate_req = rate; }
void rtty_mod_set_shift(rtty_mod_t *q, float shift) { q->shift_req = shift; }
void rtty_mod_force_stop(rtty_mod_t *q) { q->force_stop = 1; }
void rtty_mod_reset_sent_counter(rtty_mod_t *q) { q->sent = 0; }
uint32_t rtty_mod_get_sent_counter(rtty_mod_t *q) { return q->sent; }
int rtty_mod_is_finish(rtty_mod_t *q) { return q->finished; }
int rtty_mod_is_active(rtty_mod_t *q) { return q->active || q->start_req; }

void rtty_mod_post_message(rtty_mod_t *q, const char *text, int len)
{
    if (!q || !text || len <= 0)
        return;
    {
        QMutexLocker l(&q->lock);
        q->queue.append(text, len);
    }
    // The modulator thread starts the transmission at its next block, so
    // that only that thread touches the sending state.
    q->force_stop = 0;
    q->finished = 0;
    q->start_req = 1;
}

static void rtty_mod_start(rtty_mod_t *q)
{
    // The receiver's shift is unknown (noise may have left it in figures):
    // the first character is preceded by its shift code.
    q->shift_state = -1;
    q->preamble = 32;
    q->smoothed = 0;
    q->phase = 0;
    q->trailer_index = 0;
    q->trailer_done = 0;
    q->samples_left = 0;
    q->active = 1;
}

static inline float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

static void rtty_mod_apply(rtty_mod_t *q)
{
    const float fc = q->fc_req, rate = q->rate_req, shift = q->shift_req;
    if (fc == q->fc && rate == q->rate && shift == q->shift)
        return;
    const float top = q->fs / 2 - 100;
    q->fc = clampf(fc, 100, top);
    // The lower limit admits the narrowest shift of the operator's options.
    q->shift = clampf(shift, 20, 850);
    q->rate = clampf(rate, 45, 300);
    const double tau = 2 * M_PI;
    q->shift_step = tau * q->shift / q->fs;
    q->mark_step = tau * clampf(q->fc + q->shift / 2, 100, top) / q->fs;
    q->space_step = tau * clampf(q->fc - q->shift / 2, 100, top) / q->fs;
    // Keep mark - space equal to the shift even where a tone was limited.
    q->shift_step = q->mark_step - q->space_step;
    q->spb = q->fs / q->rate;
    // The shift moves with a time constant of 1/11 bit: 32 samples at
    // 45.45 baud, proportionally faster at higher rates so that short bits
    // still reach the full shift.
    q->smooth_k = (float)fmin(1.0, fmax(1.0 / 32, 11.0 / q->spb));
    q->samples_left = 0;
}

// Takes the next character (or shift code) to send; returns -1 when the
// message and the trailer are done.
static int rtty_mod_next_code(rtty_mod_t *q)
{
    if (q->force_stop) {
        QMutexLocker l(&q->lock);
        q->queue.clear();
        q->force_stop = 0;
    }
    unsigned char c = 0;
    bool have = false;
    {
        QMutexLocker l(&q->lock);
        if (!q->queue.isEmpty()) {
            c = (unsigned char)q->queue.at(0);
            have = true;
        }
    }
    if (!have) {
        if (q->trailer_done)
            return -1;
        q->trailer_index++;
        const int code = q->trailer_index < 11 ? kTrailer[q->trailer_index] : 0;
        if (code == 0)
            q->trailer_done = 1;
        q->counted = 0;
        return code;
    }
    int code, letters;
    if (c >= 128) {
        code = 0;
        letters = 1;
    } else if (rtty_ascii_to_ita2[c] == 0) {
        code = 0;
        letters = 0;
    } else {
        code = rtty_ascii_to_ita2[c] & 31;
        letters = (rtty_ascii_to_ita2[c] & 0x20) != 0;
    }
    if (letters && q->shift_state != 0) {
        q->shift_state = 0;
        q->counted = 0;
        return 31;
    }
    if (!letters && q->shift_state != 1) {
        q->shift_state = 1;
        q->counted = 0;
        return 27;
    }
    {
        QMutexLocker l(&q->lock);
        if (!q->queue.isEmpty())
            q->queue.remove(0, 1);
    }
    q->counted = 1;
    return code;
}

void rtty_mod_process(rtty_mod_t *q, float *out, unsigned n)
{
    if (q->start_req.exchange(0) && !q->active)
        rtty_mod_start(q);
    if (!q->active) {
        for (unsigned i = 0; i < n; i++)
            out[i] = 0;
        rtty_mod_idle(q);
        return;
    }
    rtty_mod_apply(q);
    q->finished = 0;
    for (unsigned i = 0; i < n; i++) {
        while (q->samples_left <= 0 && q->active) {
            switch (q->phase) {
            case 1:
                q->bit_value = (q->code & 1) ? 1.0f : 0.0f;
                q->code >>= 1;
                if (++q->data_bits >= 5)
                    q->phase = 2;
                q->samples_left += q->spb;
                break;
            case 2:
                q->bit_value = 1.0f;
                q->samples_left += q->spb * (q->stop_mode == 0 ? 1.0 : q->stop_mode == 1 ? 1.5 : 2.0);
                if (q->counted) {
                    q->sent++;
                    q->counted = 0;
                }
                q->phase = 0;
                break;
            default:
                if (q->preamble > 0) {
                    q->preamble--;
                    q->bit_value = 1.0f;
                    q->samples_left += q->spb;
                    break;
                }
                {
                    const int code = rtty_mod_next_code(q);
                    if (code < 0) {
                        q->active = 0;
                        q->finished = 1;
                        break;
                    }
                    q->code = (unsigned)code;
                }
                q->data_bits = 0;
                q->bit_value = 0.0f;
                q->samples_left += q->spb;
                q->phase = 1;
                break;
            }
        }
        if (!q->active) {
            for (; i < n; i++)
                out[i] = 0;
            break;
        }
        q->smoothed = (1 - q->smooth_k) * q->smoothed + q->smooth_k * q->bit_value;
        q->osc_phase += q->smoothed * q->shift_step + q->space_step;
        if (q->osc_phase >= 2 * M_PI)
            q->osc_phase -= 2 * M_PI;
        out[i] = (float)sin(q->osc_phase);
        q->samples_left -= 1;
    }
}
