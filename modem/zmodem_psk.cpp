// BPSK varicode demodulator and modulator, and their Qt wrappers.
#include "modem/zmodem_psk.h"

#include "app/zlog.h"
#include "modem/varicode.h"
#include "modem/zmodem_psk_p.h"

#include <QMutexLocker>

#include <cmath>
#include <math.h>
#include <new>
#include <string.h>

static const int HALF_TBL[16] = {7, 8, 9, 10, 11, 12, 13, 14, 0, 1, 2, 3, 4, 5, 6, 7};
static const double TWO_PI = 2 * M_PI;
static const float kBaud31 = 31.25f;
// The symbol clock wraps after 16 working samples at 8 kHz: 32 ms.
static const double kClockWrap = 0.032;
static_assert(sizeof(PSKModem::_PSK_COMPLEX) == sizeof(uint64_t), "scatter entries pack into one word");

// ---------------------------------------------------------------------------
// Demodulator

static void psk_dem_reset_detector(psk_dem_t *q);

static void psk_dem_apply_rate(psk_dem_t *q, int index)
{
    static const char *names[PSK_RATES] = {"BPSK31,fs_dem=", "BPSK63,fs_dem=", "BPSK125,fs_dem="};
    if (index < 0 || index >= PSK_RATES) {
        qCWarning(logModem) << "Error Baudrate!";
        return;
    }
    q->rateApplied = index;
    q->Dcur = q->D[index];
    if (q->symDecim)
        firdecim_crcf_destroy(q->symDecim);
    q->symDecim = firdecim_crcf_create_kaiser(q->Dcur, 8, 80.0f);
    firdecim_crcf_set_scale(q->symDecim, 1.0f / q->Dcur);
    qCDebug(logModem) << names[index] << q->fw / q->Dcur;
    q->preFill = 0;
    q->decFill = 0;
    firdecim_rrrf_reset(q->preDecim);
    firfilt_crcf_reset(q->symFilter);
    firfilt_crcf_reset(q->trkFilter);
    psk_dem_reset_detector(q);
}

static void psk_dem_reset_detector(psk_dem_t *q)
{
    for (float &b : q->bins)
        b = 0;
    q->binCount = 0;
    q->sampleBin = 0;
    q->peakBin = 5;
    q->clock = 0;
    q->clockStep = kClockWrap / 16 * q->fw / q->fwAdj;
    q->prevSampleBin = 0;
    q->driftCount = q->driftTicks = q->clockDrift = 0;
    q->prevSym = q->prevSym2 = psk_cf(0, 0);
    q->errAvg = 90;
    q->revCount = q->steadyCount = 0;
    q->errSignCount = q->errSign = 0;
    q->quality = 10;
    q->squelch = false;
    q->openSymbols = 0;
    q->varReg = 0;
    q->zeroSeen = false;
}

static void psk_dem_clear_freq_error(psk_dem_t *q)
{
    q->t1 = q->t2 = psk_cf(0, 0);
    q->freqAvg = 0;
    q->phaseErr = 0;
    q->corrStep = 0;
}

// NCO step and AFC window for the carrier fc at the adjusted working rate.
static void psk_dem_tune(psk_dem_t *q, float fc)
{
    q->fc = fc;
    q->ncoStep = TWO_PI * fc / q->fwAdj;
    q->winLo = TWO_PI * fmax(fc - 50, 0) / q->fwAdj;
    q->winHi = TWO_PI * (fc + 50) / q->fwAdj;
}

psk_dem_t *psk_dem_create(float fs, float fc)
{
    const long ifs = std::isfinite(fs) ? lrintf(fs) : 0;
    if (ifs < 8000 || float(ifs) != fs || ifs % 4000 != 0) {
        qCWarning(logModem, "psk_dem_create: sample rate %g Hz is not a multiple of 4000 Hz from 8000 Hz up",
                  double(fs));
        return nullptr;
    }
    if (!(fc > 0 && fc < fs / 2)) {
        qCWarning(logModem, "psk_dem_create: carrier %g Hz outside 0..%g Hz", double(fc), double(fs / 2));
        return nullptr;
    }
    psk_dem_t *q = new (std::nothrow) psk_dem_t();
    if (!q) {
        qCWarning(logModem, "psk_dem_create: out of memory");
        return nullptr;
    }
    q->fs = fs;
    q->fw = fs / 2;
    q->fwAdj = q->fw;
    for (int r = 0; r < PSK_RATES; r++)
        q->D[r] = unsigned(ifs / (1000L << r));
    memset(q->decodeTable, 0, sizeof q->decodeTable);
    for (int i = 0; i < 256; i++) {
        uint32_t v = VARICODE_TABLE[i];
        if (!v)
            continue;
        while (!(v & 1))
            v >>= 1;
        v >>= 1;
        if (v < sizeof q->decodeTable)
            q->decodeTable[v] = (uint8_t)i;
    }
    for (auto &v : q->scatter)
        v = 0;

    q->preDecim = firdecim_rrrf_create_kaiser(2, 1, 80.0f);
    firdecim_rrrf_set_scale(q->preDecim, 1.0f);
    // Symbol filter: a raised-cosine window of 1.5 symbols (24 samples at
    // 16 per symbol), close to matched to the cosine-shaped symbols; the
    // 100-tap low-pass with a cut-off at the symbol rate let in twice the
    // noise (1 to 2 dB more signal-to-noise needed for the same copy).
    // Its gain at DC is the same 0.5.
    {
        const int L = 24;
        float h[L];
        float sum = 0;
        for (int i = 0; i < L; i++) {
            h[i] = 0.5f - 0.5f * cosf(2 * (float)M_PI * (i + 0.5f) / L);
            sum += h[i];
        }
        for (int i = 0; i < L; i++)
            h[i] *= 0.5f / sum;
        q->symFilter = firfilt_crcf_create(h, L);
    }
    q->trkFilter = firfilt_crcf_create_kaiser(100, 0.1f, 80.0f, 0.0f);
    firfilt_crcf_set_scale(q->trkFilter, 0.1f);
    q->afcApplied = true;
    q->afcReq = 1;
    q->squelchLevel = 30;
    q->rateReq = 0;
    psk_dem_apply_rate(q, 0);
    q->fcReq = fc;
    q->fcSet = 0;
    psk_dem_tune(q, fc);
    q->acquire = 10;
    q->rxFreqOut = fc;
    return q;
}

void psk_dem_destroy(psk_dem_t *q)
{
    if (!q)
        return;
    firdecim_rrrf_destroy(q->preDecim);
    firdecim_crcf_destroy(q->symDecim);
    firfilt_crcf_destroy(q->symFilter);
    firfilt_crcf_destroy(q->trkFilter);
    delete q;
}

void psk_dem_reset(psk_dem_t *q)
{
    q->preFill = 0;
    q->decFill = 0;
    firdecim_rrrf_reset(q->preDecim);
    firdecim_crcf_reset(q->symDecim);
    firfilt_crcf_reset(q->symFilter);
    firfilt_crcf_reset(q->trkFilter);
    q->phase = 0;
    q->agc = 0;
    psk_dem_reset_detector(q);
    psk_dem_clear_freq_error(q);
    psk_dem_tune(q, q->fc);
    q->acquire = 10;
    q->out.clear();
    for (auto &v : q->scatter)
        v = 0;
    q->qualityOut = 0;
    q->squelchOut = false;
    q->rxFreqOut = q->fc;
}

void psk_dem_set_callback(psk_dem_t *q, void (*cb)(void *, char), void *user)
{
    q->cb = cb;
    q->cbUser = user;
}

void psk_dem_set_rate(psk_dem_t *q, int index) { q->rateReq = index; }
int psk_dem_get_rate(psk_dem_t *q) { return q->rateReq; }
void psk_dem_set_afc(psk_dem_t *q, int on) { q->afcReq = on ? 1 : 0; }
void psk_dem_set_clock_adj(psk_dem_t *q, float ppm) { q->ppmReq = ppm; }
int psk_dem_getchar(psk_dem_t *q, char *out) { return q->out.get(out); }
int psk_dem_get_quality(psk_dem_t *q) { return q->qualityOut; }
int psk_dem_get_squelch(psk_dem_t *q) { return q->squelchOut ? 1 : 0; }
float psk_dem_get_frequency(psk_dem_t *q) { return q->rxFreqOut; }

void psk_dem_set_fc(psk_dem_t *q, float hz)
{
    q->fcReq = hz;
    q->fcSet = 1;
}

int psk_dem_get_scatter(psk_dem_t *q, PSKModem::_PSK_COMPLEX *out, int max)
{
    const unsigned pos = q->scatterPos;
    int n = 0;
    for (int i = 0; i < 16 && n < max; i++) {
        const uint64_t v = q->scatter[(pos + i) % 16];
        memcpy(&out[n++], &v, sizeof v);
    }
    return n;
}

static void psk_dem_putchar(psk_dem_t *q, char c)
{
    q->out.put(c);
    if (q->cb)
        q->cb(q->cbUser, c);
}

static void psk_dem_freq_error(psk_dem_t *q, psk_cf t)
{
    float e = (t.real() - q->t2.real()) * q->t1.imag() - q->t1.real() * (t.imag() - q->t2.imag());
    q->t2 = q->t1;
    q->t1 = t;
    e = e > 0.3f ? 0.3f : e < -0.3f ? -0.3f : e;
    q->freqAvg = 0.995f * q->freqAvg + 0.25f * e;
    if (q->acquire > 1) {
        if (fabsf(q->freqAvg) > 0.3f)
            q->ncoStep += q->freqAvg * 3e-6;
        q->corrStep = q->freqAvg * 4e-4;
    } else if ((q->phaseErr > 0) == (q->freqAvg > 0) && q->phaseErr != 0) {
        if (fabsf(q->phaseErr) > 0.3f)
            q->ncoStep += q->phaseErr * 1.5e-6;
        q->corrStep = q->phaseErr * 0.001;
    }
    if (q->ncoStep + q->corrStep > q->winHi) {
        q->ncoStep = q->winHi;
        q->corrStep = 0;
    } else if (q->ncoStep + q->corrStep < q->winLo) {
        q->ncoStep = q->winLo;
        q->corrStep = 0;
    }
}

static bool psk_dem_symbol_sync(psk_dem_t *q, psk_cf s)
{
    float p = std::norm(s);
    if (p > 4)
        p = 1;
    const int c = q->binCount;
    // The energy bins average over 82 symbols while a signal is copied;
    // until the squelch has been open for 32 symbols they average over 16,
    // so that the timing of a new station settles within its preamble.
    const float w = q->openSymbols >= 32 ? 0.012195121951219513f : 0.0625f;
    q->bins[c] = (1 - w) * q->bins[c] + w * p;
    const bool sym = c == q->sampleBin;
    if (c == HALF_TBL[q->peakBin])
        q->sampleBin = q->peakBin;
    q->binCount = (c + 1) & 15;
    q->clock += q->clockStep;
    if (q->clock >= kClockWrap) {
        q->clock = fmod(q->clock, kClockWrap);
        int best = 0;
        for (int i = 1; i < 16; i++)
            if (q->bins[i] > q->bins[best])
                best = i;
        q->peakBin = best;
        q->binCount = 0;
        if (q->squelch) {
            const int d = q->sampleBin - q->prevSampleBin;
            if (d == 1 || d == -15)
                q->driftCount++;
            else if (d == -1 || d == 15)
                q->driftCount--;
            if (++q->driftTicks >= 314) {
                q->clockDrift = q->driftCount * 200;
                q->driftCount = q->driftTicks = 0;
            }
        } else {
            q->clockDrift = 0;
            q->driftCount = q->driftTicks = 0;
        }
        q->prevSampleBin = q->sampleBin;
    }
    return sym;
}

static void psk_dem_quality_step(psk_dem_t *q, float a)
{
    const float pi = (float)M_PI;
    float ref;
    if (a >= 0 && a <= pi) {
        ref = pi / 2;
        q->revCount++;
        q->steadyCount = 0;
    } else if (a >= pi && a <= 2 * pi) {
        ref = 3 * pi / 2;
        q->steadyCount++;
        q->revCount = 0;
    } else {
        return;
    }
    const float m = fabsf(a - ref) * 150;
    q->errAvg = q->errAvg > m ? (74.0f / 75) * q->errAvg + m / 75 : (149.0f / 150) * q->errAvg + m / 150;
    if (q->revCount > 20)
        q->errAvg = 25;
    if (q->steadyCount > 20)
        q->errAvg = 100;

    float err = a - ref;
    const int sign = err > 0 ? 1 : err < 0 ? -1 : 0;
    if (sign != 0 && sign == q->errSign)
        q->errSignCount++;
    else
        q->errSignCount = 1;
    q->errSign = sign;
    if (q->errSignCount < 5)
        err = 0;
    err = err > 1 ? 1 : err < -1 ? -1 : err;
    q->phaseErr = 0.99f * q->phaseErr + 0.05f * err;

    if (q->agc > 10) {
        int v = (int)(100 - q->errAvg);
        q->quality = v < 0 ? 0 : v > 100 ? 100 : v;
    } else {
        q->quality = 0;
    }
    q->squelch = q->agc > 10 && q->quality >= q->squelchLevel;
    q->openSymbols = q->squelch ? q->openSymbols + (q->openSymbols < 32) : 0;
}

static void psk_dem_decode_symbol(psk_dem_t *q, psk_cf s)
{
    const psk_cf r = q->prevSym;
    const float cross = r.real() * s.imag() - s.real() * r.imag();
    const float dot = r.real() * s.real() + r.imag() * s.imag();
    q->prevSym2 = q->prevSym;
    q->prevSym = s;

    PSKModem::_PSK_COMPLEX sc = {2, 2};
    if (q->agc > 10) {
        const float mag = sqrtf(cross * cross + dot * dot);
        if (mag > 0)
            sc = {cross * 1000 / mag, dot * 1000 / mag};
    }
    const unsigned pos = q->scatterPos;
    uint64_t packed;
    memcpy(&packed, &sc, sizeof packed);
    q->scatter[pos % 16] = packed;
    q->scatterPos = (pos + 1) % 16;

    const float a = atan2f(dot, cross) + (float)M_PI;
    // Digital silence has no phase: it must not count as a run of
    // reversals, which would open the squelch on the first samples of a
    // station, before its timing and level have settled.
    if (cross != 0 || dot != 0)
        psk_dem_quality_step(q, a);

    if (q->acquire > 0) {
        // Acquisition counts down only while a signal is being copied
        // (squelch open) and the frequency discriminator has settled:
        // counting from the moment the frequency is set let it run out
        // during the silence before a station, and the fine tracking that
        // follows cannot pull in a signal tens of Hz away.
        if (!q->afcApplied || (q->squelch && fabsf(q->freqAvg) < 1.0f))
            q->acquire--;
        else
            q->acquire = 10; // ten settled symbols in a row
        if (q->acquire == 1) {
            const double f = q->ncoStep + q->corrStep;
            const double w = TWO_PI * 50 / q->fwAdj;
            q->winLo = f - w < 0 ? 0 : f - w;
            q->winHi = f + w;
            q->acquire = 0;
        }
    }

    const int bit = dot > 0 ? 1 : 0;
    if (bit) {
        q->varReg = ((q->varReg << 1) | 1) & 0xffff;
        q->zeroSeen = false;
    } else if (!q->zeroSeen) {
        q->varReg = (q->varReg << 1) & 0xffff;
        q->zeroSeen = true;
    } else if (q->varReg != 0) {
        const uint8_t ch = q->decodeTable[(q->varReg >> 2) & 0x7ff];
        q->varReg = 0;
        if (ch && q->squelch)
            psk_dem_putchar(q, (char)ch);
    }
}

static void psk_dem_symbol_sample(psk_dem_t *q, psk_cf z)
{
    psk_cf s, t;
    firfilt_crcf_push(q->symFilter, z);
    firfilt_crcf_execute(q->symFilter, &s);
    firfilt_crcf_push(q->trkFilter, z);
    firfilt_crcf_execute(q->trkFilter, &t);
    s *= 10000.0f;
    t *= 10000.0f;

    const float m = std::abs(t);
    q->agc = q->agc < m ? 0.995f * q->agc + 0.005f * m : 0.998f * q->agc + 0.002f * m;
    if (q->agc >= 1) {
        s /= q->agc;
        t /= q->agc;
    }
    if (q->afcApplied)
        psk_dem_freq_error(q, t);
    else
        q->freqAvg = q->phaseErr = 0;
    if (psk_dem_symbol_sync(q, s))
        psk_dem_decode_symbol(q, s);
}

int psk_dem_process(psk_dem_t *q, const float *x, unsigned n)
{
    const int rate = q->rateReq;
    if (rate != q->rateApplied) {
        // A new rate restarts the chain; this block is dropped.
        psk_dem_apply_rate(q, rate);
        if (rate < 0 || rate >= PSK_RATES)
            q->rateReq = q->rateApplied;
        return 0;
    }
    const float ppm = q->ppmReq;
    if (ppm != q->ppm) {
        q->ppm = ppm;
        const double f = (q->ncoStep + q->corrStep) * q->fwAdj / TWO_PI;
        q->fwAdj = q->fw + q->fw * ppm / 1e6f;
        q->ncoStep = TWO_PI * f / q->fwAdj;
        q->clockStep = kClockWrap / 16 * q->fw / q->fwAdj;
        q->winLo = TWO_PI * fmax(q->fc - 50, 0) / q->fwAdj;
        q->winHi = TWO_PI * (q->fc + 50) / q->fwAdj;
    }
    if (q->fcSet.exchange(0)) {
        psk_dem_tune(q, q->fcReq);
        psk_dem_clear_freq_error(q);
        q->acquire = 10;
    }
    const bool afc = q->afcReq != 0;
    if (afc != q->afcApplied) {
        q->afcApplied = afc;
        psk_dem_clear_freq_error(q);
    }
    for (unsigned i = 0; i < n; i++) {
        q->preBuf[q->preFill++] = x[i];
        if (q->preFill < 2)
            continue;
        q->preFill = 0;
        float v;
        firdecim_rrrf_execute(q->preDecim, q->preBuf, &v);
        const psk_cf z(v * (float)cos(q->phase), v * (float)sin(q->phase));
        q->phase += q->ncoStep + q->corrStep;
        if (q->phase >= TWO_PI)
            q->phase -= TWO_PI;
        else if (q->phase < 0)
            q->phase += TWO_PI;
        q->decBuf[q->decFill++] = z;
        if (q->decFill == q->Dcur) {
            q->decFill = 0;
            psk_cf y;
            firdecim_crcf_execute(q->symDecim, q->decBuf, &y);
            psk_dem_symbol_sample(q, y);
        }
    }
    q->rxFreqOut = (float)((q->ncoStep + q->corrStep) * q->fwAdj / TWO_PI);
    q->qualityOut = q->quality;
    q->squelchOut = q->squelch;
    return 1;
}

// ---------------------------------------------------------------------------
// Modulator

psk_mod_t *psk_mod_create(float fs, float fc)
{
    if (!(fs >= 1000) || !std::isfinite(fs)) {
        qCWarning(logModem, "psk_mod_create: invalid sample rate %g", double(fs));
        return nullptr;
    }
    if (!(fc > 0 && fc < fs / 2)) {
        qCWarning(logModem, "psk_mod_create: carrier %g Hz outside 0..%g Hz", double(fc), double(fs / 2));
        return nullptr;
    }
    psk_mod_t *q = new (std::nothrow) psk_mod_t();
    if (!q) {
        qCWarning(logModem, "psk_mod_create: out of memory");
        return nullptr;
    }
    for (int i = 0; i < 512; i++)
        q->shape[i] = (float)cos(i * M_PI / 512);
    q->fs = fs;
    q->fc = fc;
    q->step = TWO_PI * fc / fs;
    q->rate = 0;
    q->sign = 1;
    q->finished = true;
    return q;
}

void psk_mod_destroy(psk_mod_t *q)
{
    delete q;
}

void psk_mod_reset(psk_mod_t *q)
{
    {
        QMutexLocker l(&q->lock);
        q->pending.clear();
    }
    q->startReq = false;
    q->active = false;
    q->finished = true;
    q->sent = 0;
    q->bitLen = q->bitPos = 0;
    q->symPos = 0;
    q->amp = 0;
    q->sign = 1;
    q->phase = 0;
}

void psk_mod_set_callback(psk_mod_t *q, void (*cb)(void *, uint32_t), void *user)
{
    q->cb = cb;
    q->cbUser = user;
}

void psk_mod_set_fc(psk_mod_t *q, float fc)
{
    q->fc = fc;
    q->step = TWO_PI * fc / q->fs;
}

void psk_mod_set_fs(psk_mod_t *q, float fs)
{
    if (fs > 0) {
        q->fs = fs;
        q->step = TWO_PI * q->fc / fs;
    }
}

void psk_mod_set_rate(psk_mod_t *q, int index) { q->rate = index; }
int psk_mod_get_rate(psk_mod_t *q) { return q->rate; }
uint32_t psk_mod_get_sent_counter(psk_mod_t *q) { return q->sent; }
void psk_mod_reset_sent_counter(psk_mod_t *q) { q->sent = 0; }
int psk_mod_is_finish(psk_mod_t *q) { return q->finished ? 1 : 0; }
int psk_mod_is_active(psk_mod_t *q) { return q->active || q->startReq ? 1 : 0; }

void psk_mod_post_message(psk_mod_t *q, const char *text, int len)
{
    if (!text || len < 0)
        return;
    {
        QMutexLocker l(&q->lock);
        q->pending.append(text, len);
    }
    // The modulator thread starts the transmission at its next block, so
    // that only that thread touches the sending state.
    q->finished = false;
    q->startReq = true;
}

static void psk_mod_start(psk_mod_t *q)
{
    q->bitLen = q->bitPos = 0;
    q->symPos = 0;
    q->preamble = 0;
    q->postamble = 0;
    q->amp = 0;
    q->sign = 1;
    q->phase = 0;
    q->active = true;
}

void psk_mod_force_stop(psk_mod_t *q)
{
    QMutexLocker l(&q->lock);
    q->pending.clear();
}

// Loads the next bits; false when there is nothing left to send.
static bool psk_mod_refill(psk_mod_t *q)
{
    q->bitPos = 0;
    q->bitLen = 0;
    if (q->preamble < 10) {
        q->preamble++;
        for (int i = 0; i < 8; i++)
            q->bits[q->bitLen++] = 0;
        return true;
    }
    unsigned code;
    {
        QMutexLocker l(&q->lock);
        if (q->pending.isEmpty())
            return false;
        code = (unsigned char)q->pending.at(0);
        q->pending.remove(0, 1);
    }
    q->postamble = 0;
    const uint32_t sent = ++q->sent;
    if (q->cb)
        q->cb(q->cbUser, sent);
    q->bitLen = varicode_get_bits_stream(code, q->bits);
    return true;
}

void psk_mod_process(psk_mod_t *q, float *out, unsigned n)
{
    if (q->startReq.exchange(false) && !q->active)
        psk_mod_start(q);
    if (!q->active) {
        for (unsigned i = 0; i < n; i++)
            out[i] = 0;
        return;
    }
    const float fs = q->fs;
    const int r = q->rate;
    const double adv = 512.0 * kBaud31 * (1 << (r < 0 || r >= PSK_RATES ? 0 : r)) / fs;
    // The postamble: 1.5 s of steady carrier.
    const int postamble = (int)lrintf(1.5f * fs);
    const double step = q->step;
    for (unsigned i = 0; i < n; i++) {
        const float c = (float)sin(q->phase);
        q->phase += step;
        if (q->phase >= TWO_PI)
            q->phase -= TWO_PI;
        if (q->bitPos >= q->bitLen && !psk_mod_refill(q)) {
            // Postamble: steady carrier, then stop.
            if (++q->postamble >= postamble) {
                out[i] = c * q->amp;
                for (i++; i < n; i++)
                    out[i] = 0;
                q->active = false;
                q->finished = true;
                return;
            }
            out[i] = c * q->amp;
            continue;
        }
        if (q->bitPos < q->bitLen) {
            const int bit = q->bits[q->bitPos];
            const int k = (int)q->symPos;
            q->amp = bit ? q->sign : q->shape[k < 512 ? k : 511] * q->sign;
            q->symPos += adv;
            if (q->symPos >= 512) {
                q->symPos -= 512;
                if (!bit)
                    q->sign = -q->sign;
                q->bitPos++;
            }
        }
        out[i] = c * q->amp;
    }
}

// ---------------------------------------------------------------------------
// Qt wrappers

std::atomic<int> ZModemPSKDem::s_instances{0};

int ZModemPSKDem::instances()
{
    return s_instances;
}

ZModemPSKDem::ZModemPSKDem(QObject *parent, float fs, float fc)
    : QObject(parent), m_q(psk_dem_create(fs, fc))
{
    s_instances++;
    if (m_q)
        psk_dem_set_callback(m_q, &ZModemPSKDem::charReady, this);
}

ZModemPSKDem::~ZModemPSKDem()
{
    psk_dem_destroy(m_q);
    s_instances--;
}

void ZModemPSKDem::charReady(void *user, char c)
{
    emit static_cast<ZModemPSKDem *>(user)->sig_demCharReady(QChar::fromLatin1(c));
}

void ZModemPSKDem::exec(const float *samples, int n)
{
    if (!m_q || n < 0)
        return;
    if (!psk_dem_process(m_q, samples, unsigned(n)))
        return;
    emit sig_demRSSI(psk_dem_get_quality(m_q));
    emit sig_demActualFC(psk_dem_get_frequency(m_q));
}

void ZModemPSKDem::setRXFrequency(float hz)
{
    if (m_q)
        psk_dem_set_fc(m_q, hz);
}

void ZModemPSKDem::setSampleClkAdj(float ppm)
{
    if (m_q)
        psk_dem_set_clock_adj(m_q, ppm);
}

int ZModemPSKDem::getSingleChar(char *out)
{
    return m_q ? psk_dem_getchar(m_q, out) : 0;
}

void ZModemPSKDem::setRateIndex(int index)
{
    if (m_q)
        psk_dem_set_rate(m_q, index);
}

int ZModemPSKDem::rateIndex() const
{
    return m_q ? psk_dem_get_rate(m_q) : 0;
}

void ZModemPSKDem::setAfcEnable(bool on)
{
    if (m_q)
        psk_dem_set_afc(m_q, on);
}

int ZModemPSKDem::quality() const
{
    return m_q ? psk_dem_get_quality(m_q) : 0;
}

bool ZModemPSKDem::squelchOpen() const
{
    return m_q && psk_dem_get_squelch(m_q);
}

float ZModemPSKDem::actualFrequency() const
{
    return m_q ? psk_dem_get_frequency(m_q) : 0.0f;
}

int ZModemPSKDem::scatter(PSKModem::_PSK_COMPLEX *out, int max) const
{
    return m_q ? psk_dem_get_scatter(m_q, out, max) : 0;
}

ZModemPSKMod::ZModemPSKMod(QObject *parent, float fs, float fc)
    : QObject(parent), m_q(psk_mod_create(fs, fc))
{
    if (m_q)
        psk_mod_set_callback(m_q, &ZModemPSKMod::charSent, this);
}

ZModemPSKMod::~ZModemPSKMod()
{
    psk_mod_destroy(m_q);
}

void ZModemPSKMod::charSent(void *user, uint32_t count)
{
    emit static_cast<ZModemPSKMod *>(user)->sig_txCharCount(int(count));
}

void ZModemPSKMod::SetCarrier(float fc)
{
    if (m_q)
        psk_mod_set_fc(m_q, fc);
}

void ZModemPSKMod::SetFS(float fs)
{
    if (m_q)
        psk_mod_set_fs(m_q, fs);
}

void ZModemPSKMod::exec(float *out, int n)
{
    if (n <= 0)
        return;
    if (!m_q) {
        memset(out, 0, size_t(n) * sizeof *out);
        return;
    }
    psk_mod_process(m_q, out, unsigned(n));
}

void ZModemPSKMod::setRateIndex(int index)
{
    if (m_q)
        psk_mod_set_rate(m_q, index);
}

bool ZModemPSKMod::isFinished() const
{
    return !m_q || psk_mod_is_finish(m_q);
}

bool ZModemPSKMod::isActive() const
{
    return m_q && psk_mod_is_active(m_q);
}

int ZModemPSKMod::sentCounter() const
{
    return m_q ? int(psk_mod_get_sent_counter(m_q)) : 0;
}

void ZModemPSKMod::resetSentCounter()
{
    if (m_q)
        psk_mod_reset_sent_counter(m_q);
}

void ZModemPSKMod::slot_modMsgReceiver(const QString &text)
{
    if (!m_q)
        return;
    QByteArray bytes(text.size(), '\0');
    for (int i = 0; i < text.size(); i++) {
        const ushort u = text.at(i).unicode();
        bytes[i] = char(u > 255 ? 0 : u);
    }
    psk_mod_post_message(m_q, bytes.constData(), bytes.size());
}

void ZModemPSKMod::slot_modStop()
{
    if (m_q)
        psk_mod_force_stop(m_q);
}
