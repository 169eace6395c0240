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


// Tone filter bandwidth: about the baud rate, which passes a bit's energy
// and little more noise (fixed 50/80 Hz filters are too slow for 100 baud
// and up and let in twice the noise at 45 baud); where the shift is narrower
// than that, the filters are narrowed so that each still rejects the other
// tone.
static float rtty_filter_bw(float shift, float rate)
{
    float bw = rate;
    if (bw > 0.75f * shift)
        bw = 0.75f * shift;
    return bw < 10 ? 10 : bw;
}

static void design_bpf(float freq, float shift, float rate, float fs, float *b, float *a)
{
    const float f = 2 * freq / fs;
    const float bw = rtty_filter_bw(shift, rate) * 2 / fs;
    const float Q = calc_iir_q(f, bw);
    const float w = (float)M_PI * f;
    const float alpha = sinf(w) / (2 * Q);
    b[0] = alpha;
    b[1] = 0;
    b[2] = -alpha;
    a[0] = 1 + alpha;
    a[1] = -2 * cosf(w);
    a[2] = 1 - alpha;
}

static void rtty_dem_update_bpf(rtty_dem_t *q)
{
    design_bpf(q->fc - q->shift / 2, q->shift, q->rate, q->fs, q->space_b, q->space_a);
    design_bpf(q->fc + q->shift / 2, q->shift, q->rate, q->fs, q->mark_b, q->mark_a);
    if (q->space_filter)
        iirfilt_rrrf_destroy(q->space_filter);
    if (q->mark_filter)
        iirfilt_rrrf_destroy(q->mark_filter);
    q->space_filter = iirfilt_rrrf_create(q->space_b, 3, q->space_a, 3);
    q->mark_filter = iirfilt_rrrf_create(q->mark_b, 3, q->mark_a, 3);
}

static void rtty_dem_update_rate(rtty_dem_t *q)
{
    if (q->lowpass)
        iirfilt_rrrf_destroy(q->lowpass);
    // Smoothing of the decision at the baud rate (the bit sums do the rest).
    q->lowpass = iirfilt_rrrf_create_lowpass(2, q->rate / q->fs);
    q->spb = (unsigned)lrintf(q->fs / q->rate);
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
    q->spb = (unsigned)lrintf(fs / q->rate);
    qCDebug(logModem) << "rtty one_bit_sam_count:" << q->spb;
    rtty_dem_update_bpf(q);
    rtty_dem_update_rate(q);
    return q;
}

void rtty_dem_reset(rtty_dem_t *q)
{
    iirfilt_rrrf_reset(q->mark_filter);
    iirfilt_rrrf_reset(q->space_filter);
    iirfilt_rrrf_reset(q->lowpass);
    q->env_mark = q->env_space = q->floor_mark = q->floor_space = 0;
    q->search_state = 0;
    q->half_count = 0;
    q->receiving = 0;
    q->bit_count = 0;
    q->bits = 0;
    q->sample_count = 0;
    q->acc = 0;
    q->prev_bit = 0;
    q->clock_adjusted = 0;
    q->figures = 0;
    q->out.clear();
}

void rtty_dem_destroy(rtty_dem_t *q)
{
    if (!q)
        return;
    iirfilt_rrrf_destroy(q->mark_filter);
    iirfilt_rrrf_destroy(q->space_filter);
    iirfilt_rrrf_destroy(q->lowpass);
    delete q;
}

void rtty_dem_set_fc(rtty_dem_t *q, float fc) { q->fc_req = fc; }
void rtty_dem_set_shift(rtty_dem_t *q, float shift) { q->shift_req = shift; }
void rtty_dem_set_rate(rtty_dem_t *q, float rate) { q->rate_req = rate; }
int rtty_dem_getchar(rtty_dem_t *q, char *out) { return q->out.get(out); }
unsigned rtty_dem_get_samples_per_bit(rtty_dem_t *q) { return q->spb; }

// One envelope step: fast attack (or release) k1, slow the other way k2.
static inline void track(float &e, float x, int k)
{
    if (k > 1)
        e += (x - e) / k;
    else
        e = x;
}

// Returns 1 for mark, 0 for space; *soft is the filtered decision value
// (positive for space), whose sum over a bit is the bit decision.
static int rtty_dem_bit_detector(rtty_dem_t *q, float x, float *soft)
{
    float so, mo;
    iirfilt_rrrf_execute(q->space_filter, x, &so);
    iirfilt_rrrf_execute(q->mark_filter, x, &mo);
    const float l = so * so, u = mo * mo;
    const int S = (int)q->spb;

    // Envelopes rise over four bits: a faster rise follows the noise peaks
    // and the threshold correction then adds noise of its own (2 dB worse
    // in white noise at 45.45 baud).
    track(q->env_space, l, q->env_space < l ? 4 * S : 16 * S);
    track(q->env_mark, u, q->env_mark < u ? 4 * S : 16 * S);
    track(q->floor_space, l, q->floor_space <= l ? 48 * S : S / 4);
    track(q->floor_mark, u, q->floor_mark <= u ? 48 * S : S / 4);

    const float n = fminf(q->floor_space, q->floor_mark);
    const float lc = fmaxf(fminf(l, q->env_space), n);
    const float uc = fmaxf(fminf(u, q->env_mark), n);
    const float el = q->env_space - n, eu = q->env_mark - n;
    const float v = (lc - n) * el - (uc - n) * eu - 0.25f * (el * el - eu * eu);

    float y;
    iirfilt_rrrf_execute(q->lowpass, v, &y);
    // Normalised so that sums over a bit stay in range whatever the level.
    const float scale = el * el + eu * eu;
    *soft = scale > 0 ? y / scale : 0;
    return y > 0 ? 0 : 1;
}

// Bit timing: the sample counter runs from 0 at the start of a bit to S at
// its end. Each bit is decided by the sum of the soft decision over its
// middle three quarters, which averages the noise over the bit instead of
// trusting one sample at its centre.
static void rtty_dem_step(rtty_dem_t *q, float x)
{
    const int S = (int)q->spb;
    float soft;
    const int b = rtty_dem_bit_detector(q, x, &soft);
    if (!q->receiving) {
        switch (q->search_state) {
        case 0:
            if (b == 1)
                q->search_state = 1;
            break;
        case 1:
            if (b == 0)
                q->search_state = 2;
            break;
        case 2:
            q->half_count = S / 2;
            q->search_state = 3;
            q->acc = 0;
            // fall through
        case 3:
            // The first half of the start bit must be mostly space.
            q->acc += soft;
            if (--q->half_count <= 0) {
                q->search_state = 0;
                if (b == 0 && q->acc > 0) {
                    q->bits = 0;
                    q->bit_count = 0;
                    q->receiving = 1;
                    q->sample_count = S / 2;
                    q->acc = 0;
                    q->prev_bit = 0;
                    q->clock_adjusted = 0;
                }
            }
            break;
        }
        return;
    }

    if (b != q->prev_bit && q->bit_count > 0) {
        // A bit edge, expected where the counter wraps: pull the counter a
        // quarter of the way towards it.
        const int err = q->sample_count < S / 2 ? q->sample_count : q->sample_count - S;
        q->sample_count -= err / 4;
        q->clock_adjusted = 1;
    }
    q->prev_bit = b;
    if (q->sample_count >= S / 8 && q->sample_count < S - S / 8)
        q->acc += soft;
    if (++q->sample_count < S)
        return;
    q->sample_count -= S;
    const int bit = q->acc > 0 ? 0 : 1;
    q->acc = 0;
    if (q->bit_count == 0) {
        // The whole start bit must read as space.
        if (bit != 0) {
            q->receiving = 0;
            return;
        }
        q->bit_count = 1;
        return;
    }
    if (q->bit_count <= 5) {
        if (bit)
            q->bits |= 1u << (q->bit_count - 1);
        q->bit_count++;
        return;
    }
    // Stop bit: space there abandons the character.
    q->receiving = 0;
    if (bit == 0)
        return;
    const unsigned code = q->bits & 31;
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

void rtty_dem_process(rtty_dem_t *q, const float *x, unsigned n)
{
    const float rate = q->rate_req, fc = q->fc_req, shift = q->shift_req;
    bool rateChanged = false;
    if (rate != q->rate && rate > 0) {
        q->rate = rate;
        rtty_dem_update_rate(q);
        rateChanged = true;
    }
    if ((fc != q->fc || shift != q->shift || rateChanged) && fc > 0 && shift > 0) {
        q->fc = fc;
        q->shift = shift;
        rtty_dem_update_bpf(q);
    }
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
    q->smoothed = 0;
    q->osc_phase = 0;
    q->shift_state = 0;
    q->preamble = 32;
    q->phase = 0;
    q->samples_left = 0;
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
        q->smoothed = 0;
        q->osc_phase = 0;
        q->shift_state = 0;
        q->preamble = 32;
        q->phase = 0;
        q->samples_left = 0;
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
