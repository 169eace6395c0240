// Measurement harness for the modems.
#include "modem/tools/modem_harness.h"

#include "modem/cw_dem.h"
#include "modem/zmodem_cwtone.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"

#include <algorithm>
#include <math.h>
#include <random>

namespace zmh {

std::vector<float> rtty_signal(const QByteArray &text, float fc, float rate, float shift, double max_s)
{
    std::vector<float> y;
    rtty_mod_t *q = rtty_mod_create(kRate, 1000, kBlock);
    rtty_mod_set_fc(q, fc);
    rtty_mod_set_speed(q, rate);
    rtty_mod_set_shift(q, shift);
    rtty_mod_post_message(q, text.constData(), text.size());
    float buf[kBlock / 2];
    while (!rtty_mod_is_finish(q) && y.size() < (size_t)(max_s * kRate)) {
        rtty_mod_process_block(q, buf, kBlock / 2);
        y.insert(y.end(), buf, buf + kBlock / 2);
    }
    rtty_mod_destroy(q);
    return y;
}

std::vector<float> psk_signal(const QString &text, float fc, int rateIndex, double max_s)
{
    std::vector<float> y;
    ZModemPSKMod q(nullptr, kRate, fc);
    q.m_rateIndex = rateIndex;
    q.slot_modMsgReceiver(text);
    float buf[kBlock / 2];
    while (!q.isFinished() && y.size() < (size_t)(max_s * kRate)) {
        q.exec(buf, kBlock / 2);
        y.insert(y.end(), buf, buf + kBlock / 2);
    }
    return y;
}

std::vector<float> cw_signal(const QByteArray &text, float wpm, float pitch)
{
    return cw_keyed_tone(text.constData(), wpm, pitch, kRate, 1.0f, 0.0f, 0.0f);
}

double active_power(const std::vector<float> &s)
{
    const size_t w = 64;
    float peak = 0;
    for (float v : s)
        peak = std::max(peak, std::fabs(v));
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i + w <= s.size(); i += w) {
        float m = 0;
        double p = 0;
        for (size_t k = i; k < i + w; k++) {
            m = std::max(m, std::fabs(s[k]));
            p += (double)s[k] * s[k];
        }
        if (m > 0.01f * peak) {
            sum += p;
            n += w;
        }
    }
    return n ? sum / n : 0;
}

std::vector<float> channel(const std::vector<float> &s, double snr_db, double noise_rms,
                           uint32_t seed, double lead_s, double tail_s)
{
    const size_t lead = (size_t)(lead_s * kRate), tail = (size_t)(tail_s * kRate);
    std::vector<float> y(lead + s.size() + tail, 0.0f);
    const bool clean = snr_db >= 100;
    double gain;
    if (clean) {
        float peak = 0;
        for (float v : s)
            peak = std::max(peak, std::fabs(v));
        gain = peak > 0 ? 5000.0 / peak : 0;
    } else {
        // Noise power in 3 kHz of a flat spectrum up to fs/2.
        const double n3k = noise_rms * noise_rms * 3000.0 / (kRate / 2.0);
        const double ps = active_power(s);
        gain = ps > 0 ? std::sqrt(n3k * std::pow(10.0, snr_db / 10) / ps) : 0;
    }
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    for (size_t i = 0; i < y.size(); i++) {
        double v = 0;
        if (i >= lead && i - lead < s.size())
            v = gain * s[i - lead];
        if (!clean)
            v += noise_rms * gauss(rng);
        v = std::round(v);
        y[i] = (float)std::max(-32768.0, std::min(32767.0, v));
    }
    return y;
}

static void pad(std::vector<float> &x, double seconds)
{
    x.resize(x.size() + (size_t)(seconds * kRate), 0.0f);
    x.resize((x.size() + kBlock - 1) / kBlock * kBlock, 0.0f);
}

QByteArray decode_rtty(const std::vector<float> &in, float fc, float rate, float shift, Window w)
{
    std::vector<float> x = in;
    pad(x, 0.5);
    QByteArray out;
    rtty_dem_t *q = rtty_dem_create(kRate, 1000, kBlock);
    rtty_dem_set_fc(q, fc);
    rtty_dem_set_rate(q, rate);
    rtty_dem_set_shift(q, shift);
    char c;
    for (size_t i = 0; i < x.size(); i += kBlock) {
        rtty_dem_process_block(q, &x[i], kBlock);
        while (rtty_getchar(q, &c))
            if (i + kBlock > w.from && i + kBlock <= w.to)
                out.append(c);
    }
    rtty_dem_destroy(q);
    return out;
}

QByteArray decode_psk(const std::vector<float> &in, float fc, int rateIndex, bool afc,
                      float *freqOut, int *qualityOut, Window w)
{
    std::vector<float> x = in;
    pad(x, 0.5);
    QByteArray out;
    ZModemPSKDem q(nullptr, kRate, 1000);
    q.m_rateIndex = rateIndex;
    q.m_afcEnable = afc;
    float silence[kBlock] = {};
    q.exec(silence, kBlock); // applies the rate
    q.setRXFrequency(fc);
    char c;
    int bestQuality = 0;
    for (size_t i = 0; i < x.size(); i += kBlock) {
        q.exec(&x[i], kBlock);
        bestQuality = std::max(bestQuality, q.quality());
        while (q.getSingleChar(&c))
            if (i + kBlock > w.from && i + kBlock <= w.to)
                out.append(c);
    }
    if (freqOut)
        *freqOut = q.actualFrequency();
    if (qualityOut)
        *qualityOut = bestQuality;
    return out;
}

QByteArray decode_cw(const std::vector<float> &in, float tone, unsigned *wpmOut, Window w)
{
    std::vector<float> x = in;
    pad(x, 4.0);
    QByteArray out;
    cw_dem_t *q = cw_dem_create(kRate, 800);
    cw_dem_set_cwtone(q, tone);
    char c;
    for (size_t i = 0; i < x.size(); i += kBlock) {
        cw_dem_process(q, &x[i], kBlock);
        while (cw_dem_getchar(q, &c))
            if (i + kBlock > w.from && i + kBlock <= w.to)
                out.append(c);
    }
    if (wpmOut)
        *wpmOut = cw_dem_get_wpm(q);
    cw_dem_destroy(q);
    return out;
}

QByteArray normalise(const QByteArray &text)
{
    QByteArray out;
    bool space = true;
    for (char ch : text) {
        unsigned char c = (unsigned char)ch;
        if (c == 254 || c == 255 || c == '<')
            continue;
        if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
            if (!space)
                out.append(' ');
            space = true;
            continue;
        }
        out.append((char)toupper(c));
        space = false;
    }
    while (out.endsWith(' '))
        out.chop(1);
    return out;
}

double cer(const QByteArray &sentRaw, const QByteArray &gotRaw)
{
    const QByteArray a = normalise(sentRaw), b = normalise(gotRaw);
    if (a.isEmpty())
        return b.isEmpty() ? 0 : 1;
    std::vector<int> prev(b.size() + 1), cur(b.size() + 1);
    for (int j = 0; j <= b.size(); j++)
        prev[j] = j;
    for (int i = 1; i <= a.size(); i++) {
        cur[0] = i;
        for (int j = 1; j <= b.size(); j++) {
            const int sub = prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            cur[j] = std::min({sub, prev[j] + 1, cur[j - 1] + 1});
        }
        std::swap(prev, cur);
    }
    return (double)prev[b.size()] / a.size();
}

QByteArray sample_text(int chars, uint32_t seed, bool with_figures)
{
    static const char *words[] = {
        "THE", "QUICK", "BROWN", "FOX", "JUMPS", "OVER", "LAZY", "DOG", "CQ", "DE", "TEST",
        "RIG", "ANT", "WX", "HERE", "IS", "CLOUDY", "NAME", "QTH", "RST", "TNX", "FER", "CALL",
        "GOOD", "SIGNAL", "ANTENNA", "DIPOLE", "POWER", "WATTS", "BAND", "CONDX", "VERY",
        "JOLLY", "ZULU", "KILO", "VICTOR", "QUEBEC", "XRAY", "YANKEE", "MIKE", "PAPA",
    };
    static const char *figs[] = {"599", "73", "100W", "14.070", "3.5", "1/2", "Q5?", "-10"};
    std::mt19937 rng(seed);
    QByteArray t;
    while (t.size() < chars) {
        if (!t.isEmpty())
            t.append(' ');
        if (with_figures && rng() % 6 == 0)
            t.append(figs[rng() % (sizeof figs / sizeof *figs)]);
        else
            t.append(words[rng() % (sizeof words / sizeof *words)]);
    }
    return t;
}

} // namespace zmh
