// BPSK varicode demodulator and modulator.
#include "modem/zmodem_psk.h"

#include "modem/varicode.h"

#include <liquid/liquid.h>

#include <QDebug>
#include <QMutexLocker>

#include <math.h>
#include <string.h>

#define PRE_DECIM ((firdecim_rrrf)m_preDecim)
#define SYM_DECIM ((firdecim_crcf)m_symDecim)
#define SYM_FILTER ((firfilt_crcf)m_symFilter)
#define TRK_FILTER ((firfilt_crcf)m_trkFilter)

static const int HALF_TBL[16] = {7, 8, 9, 10, 11, 12, 13, 14, 0, 1, 2, 3, 4, 5, 6, 7};
static const double TWO_PI = 2 * M_PI;
static_assert(sizeof(PSKModem::_PSK_COMPLEX) == sizeof(uint64_t), "scatter entries pack into one word");

std::atomic<int> ZModemPSKDem::s_instances{0};

int ZModemPSKDem::instances()
{
    return s_instances;
}

ZModemPSKDem::ZModemPSKDem(QObject *parent, float fs, float fc)
    : QObject(parent), m_fs(fs), m_fc(fc), m_fcReq(fc)
{
    s_instances++;
    m_fw = fs / 2;
    m_fwAdj = m_fw;
    memset(m_decodeTable, 0, sizeof m_decodeTable);
    for (int i = 0; i < 256; i++) {
        uint32_t v = VARICODE_TABLE[i];
        if (!v)
            continue;
        while (!(v & 1))
            v >>= 1;
        v >>= 1;
        if (v < sizeof m_decodeTable)
            m_decodeTable[v] = (uint8_t)i;
    }
    for (auto &v : m_scatter)
        v = 0;

    m_preDecim = firdecim_rrrf_create_kaiser(2, 1, 80.0f);
    firdecim_rrrf_set_scale(PRE_DECIM, 1.0f);
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
        m_symFilter = firfilt_crcf_create(h, L);
    }
    m_trkFilter = firfilt_crcf_create_kaiser(100, 0.1f, 80.0f, 0.0f);
    firfilt_crcf_set_scale(TRK_FILTER, 0.1f);
    applyRate(0);
    m_fcSet = 0;
    m_fc = fc;
    m_ncoStep = TWO_PI * fc / m_fwAdj;
    m_winLo = TWO_PI * fmax(fc - 50, 0) / m_fwAdj;
    m_winHi = TWO_PI * (fc + 50) / m_fwAdj;
    m_acquire = 10;
    m_rxFreqOut = fc;
}

ZModemPSKDem::~ZModemPSKDem()
{
    firdecim_rrrf_destroy(PRE_DECIM);
    firdecim_crcf_destroy(SYM_DECIM);
    firfilt_crcf_destroy(SYM_FILTER);
    firfilt_crcf_destroy(TRK_FILTER);
    s_instances--;
}

void ZModemPSKDem::applyRate(int index)
{
    static const unsigned D[3] = {16, 8, 4};
    static const char *names[3] = {"BPSK31,fs_dem=", "BPSK63,fs_dem=", "BPSK125,fs_dem="};
    if (index < 0 || index > 2) {
        qWarning() << "Error Baudrate!";
        return;
    }
    m_rateApplied = index;
    m_D = D[index];
    if (m_symDecim)
        firdecim_crcf_destroy(SYM_DECIM);
    m_symDecim = firdecim_crcf_create_kaiser(m_D, 8, 80.0f);
    firdecim_crcf_set_scale(SYM_DECIM, 1.0f / m_D);
    qDebug() << names[index] << m_fw / m_D;
    m_preFill = 0;
    m_decFill = 0;
    firdecim_rrrf_reset(PRE_DECIM);
    firfilt_crcf_reset(SYM_FILTER);
    firfilt_crcf_reset(TRK_FILTER);
    resetDetector();
}

void ZModemPSKDem::resetDetector()
{
    for (float &b : m_bins)
        b = 0;
    m_binCount = 0;
    m_sampleBin = 0;
    m_peakBin = 5;
    m_clock = 0;
    m_clockStep = 16.0 / m_fwAdj;
    m_prevSampleBin = 0;
    m_driftCount = m_driftTicks = m_clockDrift = 0;
    m_prevSym = m_prevSym2 = cf(0, 0);
    m_errAvg = 90;
    m_revCount = m_steadyCount = 0;
    m_errSignCount = m_errSign = 0;
    m_quality = 10;
    m_squelch = false;
    m_openSymbols = 0;
    m_varReg = 0;
    m_zeroSeen = false;
}

void ZModemPSKDem::clearFreqError()
{
    m_t1 = m_t2 = cf(0, 0);
    m_freqAvg = 0;
    m_phaseErr = 0;
    m_corrStep = 0;
}

void ZModemPSKDem::setRXFrequency(float hz)
{
    m_fcReq = hz;
    m_fcSet = 1;
}

void ZModemPSKDem::setSampleClkAdj(float ppm)
{
    m_ppmReq = ppm;
}

int ZModemPSKDem::getSingleChar(char *out)
{
    return m_out.get(out);
}

int ZModemPSKDem::scatter(PSKModem::_PSK_COMPLEX *out, int max) const
{
    const unsigned pos = m_scatterPos;
    int n = 0;
    for (int i = 0; i < 16 && n < max; i++) {
        const uint64_t v = m_scatter[(pos + i) % 16];
        memcpy(&out[n++], &v, sizeof v);
    }
    return n;
}

void ZModemPSKDem::putChar(char c)
{
    m_out.put(c);
    QChar qc = QChar::fromLatin1(c);
    emit sig_demCharReady(qc);
}

void ZModemPSKDem::exec(float *samples, int n)
{
    const int rate = m_rateIndex;
    if (rate != m_rateApplied) {
        // A new rate restarts the chain; this block is dropped.
        applyRate(rate);
        if (rate < 0 || rate > 2)
            m_rateIndex = m_rateApplied;
        return;
    }
    const float ppm = m_ppmReq;
    if (ppm != m_ppm) {
        m_ppm = ppm;
        const double f = (m_ncoStep + m_corrStep) * m_fwAdj / TWO_PI;
        m_fwAdj = m_fw + m_fw * ppm / 1e6f;
        m_ncoStep = TWO_PI * f / m_fwAdj;
        m_clockStep = 16.0 / m_fwAdj;
        m_winLo = TWO_PI * fmax(m_fc - 50, 0) / m_fwAdj;
        m_winHi = TWO_PI * (m_fc + 50) / m_fwAdj;
    }
    if (m_fcSet.exchange(0)) {
        m_fc = m_fcReq;
        m_ncoStep = TWO_PI * m_fc / m_fwAdj;
        m_winLo = TWO_PI * fmax(m_fc - 50, 0) / m_fwAdj;
        m_winHi = TWO_PI * (m_fc + 50) / m_fwAdj;
        clearFreqError();
        m_acquire = 10;
    }
    const bool afc = m_afcEnable;
    if (afc != m_afcApplied) {
        m_afcApplied = afc;
        clearFreqError();
    }
    for (int i = 0; i < n; i++) {
        m_preBuf[m_preFill++] = samples[i];
        if (m_preFill < 2)
            continue;
        m_preFill = 0;
        float x;
        firdecim_rrrf_execute(PRE_DECIM, m_preBuf, &x);
        const cf z(x * (float)cos(m_phase), x * (float)sin(m_phase));
        m_phase += m_ncoStep + m_corrStep;
        if (m_phase >= TWO_PI)
            m_phase -= TWO_PI;
        else if (m_phase < 0)
            m_phase += TWO_PI;
        m_decBuf[m_decFill++] = z;
        if (m_decFill == m_D) {
            m_decFill = 0;
            cf y;
            firdecim_crcf_execute(SYM_DECIM, m_decBuf, &y);
            processSample(y);
        }
    }
    const float hz = (float)((m_ncoStep + m_corrStep) * m_fwAdj / TWO_PI);
    m_rxFreqOut = hz;
    m_qualityOut = m_quality;
    m_squelchOut = m_squelch;
    emit sig_demRSSI(m_quality);
    emit sig_demActualFC(hz);
}

void ZModemPSKDem::processSample(cf z)
{
    cf s, t;
    firfilt_crcf_push(SYM_FILTER, z);
    firfilt_crcf_execute(SYM_FILTER, &s);
    firfilt_crcf_push(TRK_FILTER, z);
    firfilt_crcf_execute(TRK_FILTER, &t);
    s *= 10000.0f;
    t *= 10000.0f;

    const float m = std::abs(t);
    m_agc = m_agc < m ? 0.995f * m_agc + 0.005f * m : 0.998f * m_agc + 0.002f * m;
    if (m_agc >= 1) {
        s /= m_agc;
        t /= m_agc;
    }
    if (m_afcApplied)
        freqError(t);
    else
        m_freqAvg = m_phaseErr = 0;
    if (symbolSync(s))
        decodeSymb(s);
}

void ZModemPSKDem::freqError(cf t)
{
    float e = (t.real() - m_t2.real()) * m_t1.imag() - m_t1.real() * (t.imag() - m_t2.imag());
    m_t2 = m_t1;
    m_t1 = t;
    e = e > 0.3f ? 0.3f : e < -0.3f ? -0.3f : e;
    m_freqAvg = 0.995f * m_freqAvg + 0.25f * e;
    if (m_acquire > 1) {
        if (fabsf(m_freqAvg) > 0.3f)
            m_ncoStep += m_freqAvg * 3e-6;
        m_corrStep = m_freqAvg * 4e-4;
    } else if ((m_phaseErr > 0) == (m_freqAvg > 0) && m_phaseErr != 0) {
        if (fabsf(m_phaseErr) > 0.3f)
            m_ncoStep += m_phaseErr * 1.5e-6;
        m_corrStep = m_phaseErr * 0.001;
    }
    if (m_ncoStep + m_corrStep > m_winHi) {
        m_ncoStep = m_winHi;
        m_corrStep = 0;
    } else if (m_ncoStep + m_corrStep < m_winLo) {
        m_ncoStep = m_winLo;
        m_corrStep = 0;
    }
}

bool ZModemPSKDem::symbolSync(cf s)
{
    float p = std::norm(s);
    if (p > 4)
        p = 1;
    const int c = m_binCount;
    // The energy bins average over 82 symbols while a signal is copied;
    // until the squelch has been open for 32 symbols they average over 16,
    // so that the timing of a new station settles within its preamble.
    const float w = m_openSymbols >= 32 ? 0.012195121951219513f : 0.0625f;
    m_bins[c] = (1 - w) * m_bins[c] + w * p;
    const bool sym = c == m_sampleBin;
    if (c == HALF_TBL[m_peakBin])
        m_sampleBin = m_peakBin;
    m_binCount = (c + 1) & 15;
    m_clock += m_clockStep;
    if (m_clock >= 0.032) {
        m_clock = fmod(m_clock, 0.032);
        int best = 0;
        for (int i = 1; i < 16; i++)
            if (m_bins[i] > m_bins[best])
                best = i;
        m_peakBin = best;
        m_binCount = 0;
        if (m_squelch) {
            const int d = m_sampleBin - m_prevSampleBin;
            if (d == 1 || d == -15)
                m_driftCount++;
            else if (d == -1 || d == 15)
                m_driftCount--;
            if (++m_driftTicks >= 314) {
                m_clockDrift = m_driftCount * 200;
                m_driftCount = m_driftTicks = 0;
            }
        } else {
            m_clockDrift = 0;
            m_driftCount = m_driftTicks = 0;
        }
        m_prevSampleBin = m_sampleBin;
    }
    return sym;
}

void ZModemPSKDem::decodeSymb(cf s)
{
    const cf r = m_prevSym;
    const float cross = r.real() * s.imag() - s.real() * r.imag();
    const float dot = r.real() * s.real() + r.imag() * s.imag();
    m_prevSym2 = m_prevSym;
    m_prevSym = s;

    PSKModem::_PSK_COMPLEX sc = {2, 2};
    if (m_agc > 10) {
        const float mag = sqrtf(cross * cross + dot * dot);
        if (mag > 0)
            sc = {cross * 1000 / mag, dot * 1000 / mag};
    }
    const unsigned pos = m_scatterPos;
    uint64_t packed;
    memcpy(&packed, &sc, sizeof packed);
    m_scatter[pos % 16] = packed;
    m_scatterPos = (pos + 1) % 16;

    const float a = atan2f(dot, cross) + (float)M_PI;
    // Digital silence has no phase: it must not count as a run of
    // reversals, which would open the squelch on the first samples of a
    // station, before its timing and level have settled.
    if (cross != 0 || dot != 0)
        qualityStep(a);

    if (m_acquire > 0) {
        // Acquisition counts down only while a signal is being copied
        // (squelch open) and the frequency discriminator has settled:
        // counting from the moment the frequency is set let it run out
        // during the silence before a station, and the fine tracking that
        // follows cannot pull in a signal tens of Hz away.
        if (!m_afcApplied || (m_squelch && fabsf(m_freqAvg) < 1.0f))
            m_acquire--;
        else
            m_acquire = 10; // ten settled symbols in a row
        if (m_acquire == 1) {
            const double f = m_ncoStep + m_corrStep;
            const double w = TWO_PI * 50 / m_fwAdj;
            m_winLo = f - w < 0 ? 0 : f - w;
            m_winHi = f + w;
            m_acquire = 0;
        }
    }

    const int bit = dot > 0 ? 1 : 0;
    if (bit) {
        m_varReg = ((m_varReg << 1) | 1) & 0xffff;
        m_zeroSeen = false;
    } else if (!m_zeroSeen) {
        m_varReg = (m_varReg << 1) & 0xffff;
        m_zeroSeen = true;
    } else if (m_varReg != 0) {
        const uint8_t ch = m_decodeTable[(m_varReg >> 2) & 0x7ff];
        m_varReg = 0;
        if (ch && m_squelch)
            putChar((char)ch);
    }
}

void ZModemPSKDem::qualityStep(float a)
{
    const float pi = (float)M_PI;
    float ref;
    if (a >= 0 && a <= pi) {
        ref = pi / 2;
        m_revCount++;
        m_steadyCount = 0;
    } else if (a >= pi && a <= 2 * pi) {
        ref = 3 * pi / 2;
        m_steadyCount++;
        m_revCount = 0;
    } else {
        return;
    }
    const float m = fabsf(a - ref) * 150;
    m_errAvg = m_errAvg > m ? (74.0f / 75) * m_errAvg + m / 75 : (149.0f / 150) * m_errAvg + m / 150;
    if (m_revCount > 20)
        m_errAvg = 25;
    if (m_steadyCount > 20)
        m_errAvg = 100;

    float err = a - ref;
    const int sign = err > 0 ? 1 : err < 0 ? -1 : 0;
    if (sign != 0 && sign == m_errSign)
        m_errSignCount++;
    else
        m_errSignCount = 1;
    m_errSign = sign;
    if (m_errSignCount < 5)
        err = 0;
    err = err > 1 ? 1 : err < -1 ? -1 : err;
    m_phaseErr = 0.99f * m_phaseErr + 0.05f * err;

    if (m_agc > 10) {
        int q = (int)(100 - m_errAvg);
        m_quality = q < 0 ? 0 : q > 100 ? 100 : q;
    } else {
        m_quality = 0;
    }
    m_squelch = m_agc > 10 && m_quality >= m_squelchLevel;
    m_openSymbols = m_squelch ? m_openSymbols + (m_openSymbols < 32) : 0;
}

// ---------------------------------------------------------------------------
// Modulator

ZModemPSKMod::ZModemPSKMod(QObject *parent, float fs, float fc)
    : QObject(parent), m_fs(fs), m_fc(fc)
{
    for (int i = 0; i < 512; i++)
        m_shape[i] = (float)cos(i * M_PI / 512);
    m_step = TWO_PI * fc / fs;
}

ZModemPSKMod::~ZModemPSKMod() = default;

void ZModemPSKMod::SetCarrier(float fc)
{
    m_fc = fc;
    m_step = TWO_PI * fc / m_fs;
}

void ZModemPSKMod::SetFS(float fs)
{
    if (fs > 0) {
        m_fs = fs;
        m_step = TWO_PI * m_fc / fs;
    }
}

void ZModemPSKMod::slot_modMsgReceiver(const QString &text)
{
    {
        QMutexLocker l(&m_lock);
        m_pending.append(text);
    }
    // The modulator thread starts the transmission at its next block, so
    // that only that thread touches the sending state.
    m_finished = false;
    m_startReq = true;
}

void ZModemPSKMod::start()
{
    m_bitLen = m_bitPos = 0;
    m_symPos = 0;
    m_preamble = 0;
    m_postamble = 0;
    m_amp = 0;
    m_sign = 1;
    m_phase = 0;
    m_active = true;
}

void ZModemPSKMod::slot_modStop()
{
    QMutexLocker l(&m_lock);
    m_pending.clear();
}

// Loads the next bits; false when there is nothing left to send.
bool ZModemPSKMod::refill()
{
    m_bitPos = 0;
    m_bitLen = 0;
    if (m_preamble < 10) {
        m_preamble++;
        for (int i = 0; i < 8; i++)
            m_bits[m_bitLen++] = 0;
        return true;
    }
    ushort code;
    {
        QMutexLocker l(&m_lock);
        if (m_pending.isEmpty())
            return false;
        code = m_pending.at(0).unicode();
        m_pending.remove(0, 1);
    }
    m_postamble = 0;
    m_sent++;
    emit sig_txCharCount(m_sent);
    if (code > 255)
        code = 0;
    m_bitLen = varicode_get_bits_stream(code, m_bits);
    return true;
}

void ZModemPSKMod::exec(float *out, int n)
{
    if (m_startReq.exchange(false) && !m_active)
        start();
    if (!m_active) {
        for (int i = 0; i < n; i++)
            out[i] = 0;
        return;
    }
    const int adv = 1 << (m_rateIndex < 0 || m_rateIndex > 2 ? 0 : (int)m_rateIndex);
    const double step = m_step;
    for (int i = 0; i < n; i++) {
        const float c = (float)sin(m_phase);
        m_phase += step;
        if (m_phase >= TWO_PI)
            m_phase -= TWO_PI;
        if (m_bitPos >= m_bitLen && !refill()) {
            // Postamble: steady carrier, then stop.
            if (++m_postamble >= 24000) {
                out[i] = c * m_amp;
                for (i++; i < n; i++)
                    out[i] = 0;
                m_active = false;
                m_finished = true;
                return;
            }
            out[i] = c * m_amp;
            continue;
        }
        if (m_bitPos < m_bitLen) {
            const int bit = m_bits[m_bitPos];
            m_amp = bit ? m_sign : m_shape[m_symPos] * m_sign;
            m_symPos += adv;
            if (m_symPos >= 512) {
                m_symPos = 0;
                if (!bit)
                    m_sign = -m_sign;
                m_bitPos++;
            }
        }
        out[i] = c * m_amp;
    }
}
