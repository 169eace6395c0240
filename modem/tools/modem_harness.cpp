// Measurement harness for the modems.
#include "modem/tools/modem_harness.h"

#include "modem/cw_dem.h"
#include "modem/zmodem_cwtone.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"

#include <algorithm>
#include <complex>
#include <liquid/liquid.h>
#include <math.h>
#include <random>

namespace zmh {

std::vector<float> rtty_signal(const QByteArray &text, float fc, float rate, float shift, double max_s)
{
    std::vector<float> y;
    rtty_mod_t *q = rtty_mod_create(kRate, fc, kBlock);
    if (!q)
        return y;
    rtty_mod_set_speed(q, rate);
    rtty_mod_set_shift(q, shift);
    rtty_mod_post_message(q, text.constData(), text.size());
    float buf[kBlock / 2];
    while (!rtty_mod_is_finish(q) && y.size() < (size_t)(max_s * kRate)) {
        rtty_mod_process(q, buf, kBlock / 2);
        y.insert(y.end(), buf, buf + kBlock / 2);
    }
    rtty_mod_destroy(q);
    return y;
}

std::vector<float> psk_signal(const QString &text, float fc, int rateIndex, double max_s)
{
    std::vector<float> y;
    psk_mod_t *q = psk_mod_create(kRate, fc);
    if (!q)
        return y;
    psk_mod_set_rate(q, rateIndex);
    QByteArray bytes(text.size(), '\0');
    for (int i = 0; i < text.size(); i++)
        bytes[i] = char(text.at(i).unicode() > 255 ? 0 : text.at(i).unicode());
    psk_mod_post_message(q, bytes.constData(), bytes.size());
    float buf[kBlock / 2];
    while (!psk_mod_is_finish(q) && y.size() < (size_t)(max_s * kRate)) {
        psk_mod_process(q, buf, kBlock / 2);
        y.insert(y.end(), buf, buf + kBlock / 2);
    }
    psk_mod_destroy(q);
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
                           uint32_t seed, double lead_s, double tail_s, double power)
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
        const double ps = power > 0 ? power : active_power(s);
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

std::vector<float> fading(const std::vector<float> &s, double spread_hz, double delay_s, uint32_t seed)
{
    // Analytic signal: s + j H{s}, delayed by the Hilbert filter.
    const unsigned m = 20;
    firhilbf h = firhilbf_create(m, 60.0f);
    std::vector<std::complex<float>> a(s.size() + 2 * m);
    for (size_t i = 0; i < a.size(); i++) {
        std::complex<float> y;
        firhilbf_r2c_execute(h, i < s.size() ? s[i] : 0.0f, &y);
        a[i] = y;
    }
    firhilbf_destroy(h);
    // The path gains: complex white noise at a low rate through a Gaussian
    // filter whose response is the square root of the Doppler spectrum.
    const double fr = 50.0, sigma = spread_hz / 2;
    const double tspan = 4.0 / (2 * M_PI * sigma * std::sqrt(2.0)) + 1;
    const int half = int(tspan * fr);
    std::vector<double> taps(2 * half + 1);
    double energy = 0;
    for (int k = -half; k <= half; k++) {
        const double t = k / fr;
        taps[k + half] = std::exp(-4 * M_PI * M_PI * sigma * sigma * t * t);
        energy += taps[k + half] * taps[k + half];
    }
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const size_t slow = size_t(double(a.size()) / kRate * fr) + 2;
    std::vector<std::complex<double>> g[2];
    for (auto &path : g) {
        std::vector<std::complex<double>> w(slow + taps.size());
        for (auto &v : w)
            v = {gauss(rng), gauss(rng)};
        path.resize(slow);
        // Each path carries half the power: E|g|^2 = 1/2.
        const double norm = std::sqrt(0.5 / (2 * energy));
        for (size_t i = 0; i < slow; i++) {
            std::complex<double> acc = 0;
            for (size_t k = 0; k < taps.size(); k++)
                acc += taps[k] * w[i + k];
            path[i] = acc * norm;
        }
    }
    const size_t d = size_t(std::lround(delay_s * kRate));
    std::vector<float> y(s.size());
    for (size_t i = 0; i < y.size(); i++) {
        const double pos = double(i) / kRate * fr;
        const size_t k = size_t(pos);
        const double f = pos - double(k);
        const std::complex<double> g0 = g[0][k] * (1 - f) + g[0][k + 1] * f;
        const std::complex<double> g1 = g[1][k] * (1 - f) + g[1][k + 1] * f;
        const size_t j = i + m; // the Hilbert filter's delay
        std::complex<double> v = g0 * std::complex<double>(a[j]);
        if (j >= d)
            v += g1 * std::complex<double>(a[j - d]);
        // Re{g a} has the power |g|^2 |a|^2 / 2 = |g|^2 s^2: the two paths
        // of |g|^2 = 1/2 keep the mean power of s.
        y[i] = float(v.real());
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
    rtty_dem_t *q = rtty_dem_create(kRate, fc, kBlock);
    if (!q)
        return out;
    rtty_dem_set_rate(q, rate);
    rtty_dem_set_shift(q, shift);
    char c;
    for (size_t i = 0; i < x.size(); i += kBlock) {
        rtty_dem_process(q, &x[i], kBlock);
        while (rtty_dem_getchar(q, &c))
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
    psk_dem_t *q = psk_dem_create(kRate, 1000);
    if (!q)
        return out;
    psk_dem_set_rate(q, rateIndex);
    psk_dem_set_afc(q, afc);
    float silence[kBlock] = {};
    psk_dem_process(q, silence, kBlock); // applies the rate
    psk_dem_set_fc(q, fc);
    char c;
    int bestQuality = 0;
    for (size_t i = 0; i < x.size(); i += kBlock) {
        psk_dem_process(q, &x[i], kBlock);
        bestQuality = std::max(bestQuality, psk_dem_get_quality(q));
        while (psk_dem_getchar(q, &c))
            if (i + kBlock > w.from && i + kBlock <= w.to)
                out.append(c);
    }
    if (freqOut)
        *freqOut = psk_dem_get_frequency(q);
    if (qualityOut)
        *qualityOut = bestQuality;
    psk_dem_destroy(q);
    return out;
}

QByteArray decode_cw(const std::vector<float> &in, float tone, unsigned *wpmOut, Window w)
{
    std::vector<float> x = in;
    pad(x, 4.0);
    QByteArray out;
    cw_dem_t *q = cw_dem_create(kRate, tone);
    if (!q)
        return out;
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
