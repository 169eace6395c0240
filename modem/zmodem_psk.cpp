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

static const double TWO_PI = 2 * M_PI;
static const float kBaud31 = 31.25f;
// Symbol timing loop gain (fraction of a symbol per unit of error).
static const double kTimingGain = 0.01;
static const int kMatchedLen = 32;
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
    for (psk_cf &v : q->hist)
        v = 0;
    q->ns = 0;
    q->period = 16.0 * q->fwAdj / q->fw;
    q->tnext = q->period;
    q->theta = 0;
    q->lock = 0;
    q->coherent = false;
    q->tracking = false;
    q->level = 0;
    q->vitN = 0;
    q->prevSym = psk_cf(0, 0);
    q->errAvg = 90;
    q->revCount = q->steadyCount = 0;
    q->quality = 10;
    q->squelch = false;
    q->openSymbols = 0;
    q->varReg = 0;
    q->zeroSeen = false;
}

// Forgets what the acquisition had gathered and found.
static void psk_dem_clear_freq_error(psk_dem_t *q)
{
    q->acqFill = q->acqCount = q->acqHop = 0;
    q->found = false;
}

// Keeps the NCO inside the AFC window.
static void psk_dem_clamp(psk_dem_t *q)
{
    if (q->ncoStep > q->winHi)
        q->ncoStep = q->winHi;
    else if (q->ncoStep < q->winLo)
        q->ncoStep = q->winLo;
}

// Acquisition. Squared, a BPSK signal loses its phase reversals and leaves
// a spectral line at twice its offset from the NCO; over two seconds (at
// PSK31) the line of a station well under the noise in 3 kHz stands clear
// of the noise's spectrum. The NCO is set to the strongest line found within
// reach of the AFC (and a little beyond, so that a station outside the
// window takes the NCO to its edge), and left alone when none stands out:
// noise does not pull it about.
static const unsigned kAcqLen = 1024, kAcqHop = 256;
// A line this many times the mean of the spectrum is a station; one of
// kAcqSure times it a clear one.
static const float kAcqDetect = 12.0f, kAcqSure = 30.0f;

static void psk_dem_search(psk_dem_t *q)
{
    const float rate = float(q->fw / q->Dcur); // samples per second here
    for (unsigned i = 0; i < kAcqLen; i++) {
        const psk_cf v = q->acqRing[(q->acqFill + i) % kAcqLen];
        q->acqIn[i] = v * v * q->acqWin[i];
    }
    fft_execute(q->acqPlan);
    // Offsets up to 100 Hz (and at most a quarter of the rate).
    const float maxOff = fminf(100.0f, rate / 4.2f);
    const int kmax = int(2 * maxOff / rate * kAcqLen);
    int best = 0;
    float bestP = -1, sum = 0;
    std::vector<float> pw(size_t(2 * kmax + 1));
    for (int k = -kmax; k <= kmax; k++) {
        const float p = std::norm(q->acqOut[(k + int(kAcqLen)) % int(kAcqLen)]);
        pw[size_t(k + kmax)] = p;
        sum += p;
        if (p > bestP) {
            bestP = p;
            best = k;
        }
    }
    const float mean = (sum - bestP) / float(2 * kmax);
    if (!(mean > 0) || bestP < kAcqDetect * mean)
        return;
    // Between the neighbouring bins: a parabola through the logarithms.
    float frac = 0;
    if (best > -kmax && best < kmax) {
        const float a = logf(pw[size_t(best + kmax - 1)] + 1e-30f), b = logf(bestP + 1e-30f),
                    cc = logf(pw[size_t(best + kmax + 1)] + 1e-30f);
        const float den = a - 2 * b + cc;
        if (den < 0)
            frac = 0.5f * (a - cc) / den;
    }
    // The mixer turns a carrier above the NCO backwards: the line lies at
    // minus twice the offset.
    const float offset = -(float(best) + frac) * rate / float(kAcqLen) / 2;
    const double want = q->ncoStep + TWO_PI * offset / q->fwAdj;
    q->ncoStep = want;
    psk_dem_clamp(q);
    const bool inside = q->ncoStep == want;
    if (!q->found && inside && bestP >= kAcqSure * mean) {
        // A clear station: its quality is taken as fair until measured
        // (the average would otherwise take seconds to come down from its
        // start, and a weak station's first words would be lost).
        q->errAvg = fminf(q->errAvg, 60.0f);
    }
    q->found = inside;
    q->theta = 0;
    q->lock = 0;
    // The samples gathered so far were taken at the old frequency.
    q->acqFill = 0;
    q->acqCount = 0;
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
    // Symbol filter: matched to the symbol, a raised-cosine (Hann) pulse two
    // symbols long (32 samples at 16 per symbol), which is what the
    // modulator's cosine-shaped phase reversals are. Its gain at DC is 0.5.
    {
        const int L = kMatchedLen;
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
    q->vit = new float[PSK_VIT_STATES];
    q->pred = new uint16_t[PSK_PATH_DEPTH][PSK_VIT_STATES];
    q->done = new int8_t[PSK_PATH_DEPTH][PSK_VIT_STATES];
    q->acqIn = new psk_cf[kAcqLen];
    q->acqOut = new psk_cf[kAcqLen];
    q->acqPlan = fft_create_plan(kAcqLen, q->acqIn, q->acqOut, LIQUID_FFT_FORWARD, 0);
    for (unsigned i = 0; i < kAcqLen; i++)
        q->acqWin[i] = hann(i, kAcqLen);
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
    fft_destroy_plan(q->acqPlan);
    delete[] q->vit;
    delete[] q->pred;
    delete[] q->done;
    delete[] q->acqIn;
    delete[] q->acqOut;
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

    if (q->agc > 10) {
        int v = (int)(100 - q->errAvg);
        q->quality = v < 0 ? 0 : v > 100 ? 100 : v;
    } else {
        q->quality = 0;
    }
    q->squelch = q->agc > 10 && q->quality >= q->squelchLevel;
    q->openSymbols = q->squelch ? q->openSymbols + (q->openSymbols < 32) : 0;
}

// One bit of the varicode stream; open is the squelch as it was when the
// bit's symbol was received (the sequence detector hands bits on late).
static void psk_dem_bit(psk_dem_t *q, int bit, bool open)
{
    if (bit) {
        q->varReg = ((q->varReg << 1) | 1) & 0xffff;
        q->zeroSeen = false;
    } else if (!q->zeroSeen) {
        q->varReg = (q->varReg << 1) & 0xffff;
        q->zeroSeen = true;
    } else if (q->varReg != 0) {
        const uint8_t ch = q->decodeTable[(q->varReg >> 2) & 0x7ff];
        q->varReg = 0;
        if (ch && open)
            psk_dem_putchar(q, (char)ch);
    }
}

// Carrier loop constants, per symbol: phase gain, frequency gain (a loop
// bandwidth of about 2 % of the symbol rate), and the lock indicator's
// memory.
static const float kPllAlpha = 0.07f, kPllBeta = 0.0025f;
static const float kLockMemory = 0.06f;
static const float kFllGain = 0.05f;
// The lock indicator holds the phase above kLockIn, loses it below kLockOut.
static const float kLockIn = 0.3f, kLockOut = 0.15f;

// The symbols are decided together with the characters they spell.
//
// The matched filter spreads each symbol into its neighbours: the output at
// a symbol time holds a sixth of each neighbouring symbol (the pulse is a
// raised cosine two symbols long), which decided symbol by symbol costs
// several dB where reversals follow each other. And the bits are not free:
// every character is a varicode code (no two zeros in a row inside it)
// followed by two zeros, with zeros only in between. A Viterbi detector
// over the varicode tree (the state is the part of a code received so far,
// and the sign of the last symbol) weighs both: its branch metric is
// Ungerboeck's for matched-filter outputs, s·y - b·s·s' for the symbol s
// after s' (b the neighbour's share of the level), and a path that leaves
// the code (noise, an unknown sender) restarts at a character boundary at a
// cost. It decides each character kPathDepth symbols late.
static const float kIsi = 0.13f;
static const unsigned kVitDepth = 28;
// Costs, in units of the symbol level: leaving the code, starting a
// character after idle zeros, taking ones beyond any code as a carrier.
static const float kEscape = 1.0f, kIdleStart = 1.0f, kCarrierStart = 0.5f;
static_assert(kVitDepth < PSK_PATH_DEPTH, "the path memory holds the decision depth");

namespace {
// The varicode tree: node 0 is the boundary right after a character's two
// zeros, node 1 the idle zeros beyond them (a character starting after
// idle zeros, rather than right after the last one, costs a little: noise
// in the long idle runs of reversals would otherwise read as characters).
struct VaricodeTrie {
    static constexpr int kCarrier = PSK_TRIE_NODES - 2, kCarrier0 = PSK_TRIE_NODES - 1;
    int child[PSK_TRIE_NODES][2];
    int done[PSK_TRIE_NODES];     // a 0 here completes this character (-1: it does not)
    uint16_t bits[PSK_TRIE_NODES];
    int nodes = 2;

    int add(int from, int b)
    {
        if (child[from][b] < 0 && nodes < kCarrier) {
            child[from][b] = nodes;
            bits[nodes] = uint16_t((bits[from] << 1) | b);
            nodes++;
        }
        return child[from][b];
    }

    VaricodeTrie()
    {
        for (auto &c : child)
            c[0] = c[1] = -1;
        for (int &d : done)
            d = -1;
        bits[0] = bits[1] = 0;
        for (int ch = 0; ch < 128; ch++) {
            const unsigned v = gVaricode_LUT[ch].bits, len = gVaricode_LUT[ch].len;
            int n = 0;
            for (unsigned i = len; i-- > 0;)
                n = add(n, (v >> i) & 1);
            // The first separating zero; the second one completes it.
            done[add(n, 0)] = ch;
        }
        // A steady carrier: ones for as long as it lasts, ended by two
        // zeros like a character, but spelling none.
        child[kCarrier][1] = kCarrier;
        child[kCarrier][0] = kCarrier0;
        child[kCarrier0][1] = kCarrier;
        bits[kCarrier] = bits[kCarrier0] = 0;
    }
    // The node of a code prefix (the bits received since the last boundary),
    // 0 when there is none.
    int find(uint32_t reg) const
    {
        if (!reg)
            return 1;
        int top = 31;
        while (!(reg >> top & 1))
            top--;
        int n = 0;
        for (int i = top; i >= 0 && n >= 0; i--)
            n = child[n][reg >> i & 1];
        return n < 0 ? 1 : n;
    }
};

const VaricodeTrie &trie()
{
    static const VaricodeTrie t;
    return t;
}
} // namespace

static void psk_dem_bit(psk_dem_t *q, int bit, bool open);

static void psk_dem_vit_start(psk_dem_t *q, float y)
{
    const VaricodeTrie &t = trie();
    // From the partial character the bit decoder holds.
    const int n = t.find(q->varReg);
    for (int i = 0; i < PSK_VIT_STATES; i++)
        q->vit[i] = -1e30f;
    q->vit[2 * n] = y;      // last symbol +1
    q->vit[2 * n + 1] = -y; // last symbol -1
    q->vitN = 0;
}

// Follows the best path back `back` steps from the newest; returns the state
// there.
static int psk_dem_vit_trace(const psk_dem_t *q, unsigned back)
{
    int st = 0;
    for (int i = 1; i < PSK_VIT_STATES; i++)
        if (q->vit[i] > q->vit[st])
            st = i;
    for (unsigned k = 0; k < back; k++)
        st = q->pred[(q->vitN - 1 - k) % PSK_PATH_DEPTH][st];
    return st;
}

static void psk_dem_vit_emit(psk_dem_t *q, uint64_t step, int st)
{
    const int ch = q->done[step % PSK_PATH_DEPTH][st];
    if (ch > 0 && q->sq[step % PSK_PATH_DEPTH])
        psk_dem_putchar(q, (char)ch);
}

static void psk_dem_vit_step(psk_dem_t *q, float y)
{
    const VaricodeTrie &t = trie();
    const float b = kIsi * q->level, escape = kEscape * q->level, idle = kIdleStart * q->level;
    const float carrier = kCarrierStart * q->level;
    const unsigned row = unsigned(q->vitN % PSK_PATH_DEPTH);
    uint16_t *pr = q->pred[row];
    int8_t *em = q->done[row];
    q->sq[row] = q->squelch;
    float next[PSK_VIT_STATES];
    for (int i = 0; i < PSK_VIT_STATES; i++)
        next[i] = -1e30f;
    auto relax = [&](int to, float m, int from, int ch) {
        if (m > next[to]) {
            next[to] = m;
            pr[to] = uint16_t(from);
            em[to] = int8_t(ch);
        }
    };
    for (int n = 0; n < PSK_TRIE_NODES; n++) {
        for (int ps = 0; ps < 2; ps++) {
            const int from = 2 * n + ps;
            const float m0 = q->vit[from];
            if (m0 < -1e29f)
                continue;
            const float sp = ps ? -1.0f : 1.0f;
            // A 1 keeps the sign, a 0 reverses it.
            for (int bit = 0; bit < 2; bit++) {
                const float s = bit ? sp : -sp;
                const float m = m0 + s * y - b * s * sp;
                const int sidx = s < 0 ? 1 : 0;
                if (bit == 0 && (n <= 1 || n == VaricodeTrie::kCarrier0)) {
                    relax(2 + sidx, m, from, -1); // a zero between characters
                } else if (bit == 0 && t.done[n] >= 0) {
                    relax(sidx, m, from, t.done[n]); // the second separating zero
                } else if (bit == 1 && n == 1) {
                    relax(2 * t.child[0][1] + sidx, m - idle, from, -1);
                } else if (t.child[n][bit] >= 0) {
                    relax(2 * t.child[n][bit] + sidx, m, from, -1);
                } else if (bit == 1) {
                    // Ones beyond any code: a steady carrier.
                    relax(2 * VaricodeTrie::kCarrier + sidx, m - carrier, from, -1);
                } else {
                    relax(sidx, m - escape, from, -1); // not a code: start over
                }
            }
        }
    }
    float top = -1e30f;
    for (int i = 0; i < PSK_VIT_STATES; i++)
        top = next[i] > top ? next[i] : top;
    for (int i = 0; i < PSK_VIT_STATES; i++)
        q->vit[i] = next[i] - top;
    q->vitN++;
    if (q->vitN > kVitDepth) {
        const uint64_t step = q->vitN - 1 - kVitDepth;
        psk_dem_vit_emit(q, step, psk_dem_vit_trace(q, kVitDepth));
    }
}

// Hands on the characters the detector still holds, and leaves the bit
// decoder in the partial character the best path ends in.
static void psk_dem_vit_flush(psk_dem_t *q)
{
    const uint64_t first = q->vitN > kVitDepth ? q->vitN - kVitDepth : 0;
    for (uint64_t step = first; step < q->vitN; step++)
        psk_dem_vit_emit(q, step, psk_dem_vit_trace(q, unsigned(q->vitN - 1 - step)));
    const int n = q->vitN ? psk_dem_vit_trace(q, 0) / 2 : 0;
    const uint16_t bits = trie().bits[n];
    q->varReg = bits;
    q->zeroSeen = n != 0 && !(bits & 1);
    q->vitN = 0;
}

static void psk_dem_decode_symbol(psk_dem_t *q, psk_cf s)
{
    const psk_cf r = q->prevSym;
    const float cross = r.real() * s.imag() - s.real() * r.imag();
    const float dot = r.real() * s.real() + r.imag() * s.imag();
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
        // Acquisition counts down only while a station is being copied
        // (squelch open) that the search has found inside the window: a
        // station beyond the window's edge (or a loop locked beside one)
        // must not move the window onto itself.
        if (!q->afcApplied || (q->squelch && q->found))
            q->acquire--;
        else
            q->acquire = 10; // ten settled symbols in a row
        if (q->acquire == 1) {
            const double f = q->ncoStep;
            const double w = TWO_PI * 50 / q->fwAdj;
            q->winLo = f - w < 0 ? 0 : f - w;
            q->winHi = f + w;
            q->acquire = 0;
            q->theta = std::arg(s);
        }
    }

    // With AFC on, a decision-directed loop tracks the carrier's phase and,
    // through the NCO, its frequency while a station is copied (squelch
    // open; the search retunes only while it is closed) or once acquired.
    // While it holds the phase the symbols are decided coherently, by the
    // sequence detector, about 1 dB better than comparing each symbol with
    // the one before; until then, and with AFC off, by that comparison.
    const bool tracking = q->afcApplied && (q->acquire == 0 || q->squelch);
    const float mag = std::abs(s);
    int bit = dot > 0 ? 1 : 0;
    if (tracking && !q->tracking && mag > 0) {
        // The loop starts on this symbol's phase (a reversal's sign does not
        // matter: the bits are changes of sign).
        q->theta = std::arg(s);
        q->lock = 0;
    }
    q->tracking = tracking;
    if (tracking && mag > 0) {
        const psk_cf z = s * std::polar(1.0f, -q->theta);
        const int sign = z.real() >= 0 ? 1 : -1;
        const float e = float(sign) * z.imag() / mag;
        // Wider while pulling in, narrow once the phase holds.
        const float alpha = q->coherent ? kPllAlpha : 2 * kPllAlpha;
        const float beta = q->coherent ? kPllBeta : 4 * kPllBeta;
        q->theta += alpha * e;
        if (q->theta > (float)M_PI)
            q->theta -= 2 * (float)M_PI;
        else if (q->theta < -(float)M_PI)
            q->theta += 2 * (float)M_PI;
        // The mixer's output turns backwards when the carrier lies above the
        // NCO: a phase that falls behind raises the NCO.
        q->ncoStep -= double(beta * e) / (16.0 * q->Dcur);
        psk_dem_clamp(q);
        q->lock += kLockMemory * ((z.real() * z.real() - z.imag() * z.imag()) / (mag * mag) - q->lock);
        q->level += 0.02f * (fabsf(z.real()) - q->level);
        const bool coherent = q->lock > (q->coherent ? kLockOut : kLockIn);
        if (!coherent && std::norm(r) > 0) {
            // Not yet holding the phase: a frequency loop on the turn from
            // one symbol to the next (squared, which removes the phase
            // reversals) brings the carrier within the phase loop's reach.
            // Only small turns are trusted: one beyond a quarter turn per
            // symbol folds over and would pull the wrong way.
            const psk_cf d = s * std::conj(r);
            const float turn = std::arg(d * d) / 2;
            if (fabsf(turn) < 0.6f) {
                q->ncoStep -= double(kFllGain * turn) / (16.0 * q->Dcur);
                psk_dem_clamp(q);
            }
        }
        if (coherent) {
            if (!q->coherent) {
                // This symbol's bit still by comparison with the last one;
                // the detector starts from it.
                psk_dem_bit(q, bit, q->squelch);
                psk_dem_vit_start(q, z.real());
            } else {
                psk_dem_vit_step(q, z.real());
            }
            q->coherent = true;
            return;
        }
        if (q->coherent)
            psk_dem_vit_flush(q);
        q->coherent = false;
    } else {
        if (q->coherent)
            psk_dem_vit_flush(q);
        q->coherent = false;
        q->lock = 0;
    }
    psk_dem_bit(q, bit, q->squelch);
}

// Symbol timing (Gardner): the matched-filter output is interpolated at the
// symbol time and half a symbol before it; the product of the change across
// the symbol with the sample between says how early or late the timing is,
// independent of the carrier phase. The loop moves faster until a station's
// timing has settled.
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
    if (q->afcApplied && !q->squelch) {
        // Before the symbol filter, whose pass band is only the station's
        // own width: the search reaches the whole AFC window.
        q->acqRing[q->acqFill] = z;
        q->acqFill = (q->acqFill + 1) % kAcqLen;
        if (q->acqCount < kAcqLen)
            q->acqCount++;
        if (++q->acqHop >= kAcqHop) {
            q->acqHop = 0;
            if (q->acqCount == kAcqLen)
                psk_dem_search(q);
        }
    }

    q->hist[q->ns & 63] = s;
    q->ns++;
    const double last = double(q->ns - 1);
    while (q->tnext + 4 <= last) {
        auto at = [q](double t0) {
            const uint64_t i = uint64_t(t0);
            const float f = float(t0 - double(i));
            return q->hist[i & 63] * (1 - f) + q->hist[(i + 1) & 63] * f;
        };
        const double tmid = q->tnext - q->period / 2;
        if (tmid < 1 || last - tmid > 60) {
            q->tnext = last + q->period; // too far behind: start over
            break;
        }
        const psk_cf y = at(q->tnext), mid = at(tmid);
        const psk_cf prev = q->prevSym;
        const float norm = std::norm(y) + std::norm(prev) + 1e-6f;
        float e = ((y - prev) * std::conj(mid)).real() / norm;
        e = e > 1 ? 1 : e < -1 ? -1 : e;
        const double gain = q->openSymbols >= 32 ? kTimingGain : 4 * kTimingGain;
        q->tnext += q->period - gain * q->period * e;
        psk_dem_decode_symbol(q, y);
    }
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
        const double f = q->ncoStep * q->fwAdj / TWO_PI;
        q->fwAdj = q->fw + q->fw * ppm / 1e6f;
        q->ncoStep = TWO_PI * f / q->fwAdj;
        q->period = 16.0 * q->fwAdj / q->fw;
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
        q->phase += q->ncoStep;
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
    q->rxFreqOut = (float)(q->ncoStep * q->fwAdj / TWO_PI);
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
