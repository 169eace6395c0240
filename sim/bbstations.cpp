#include "sim/bbstations.h"

#include "sim/bbregs.h"

#include "params/zparamtypes.h"

#include "modem/zmodem_cwtone.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"

#include <complex>
#include <liquid/liquid.h>

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const double kFs = 16000.0;
// The modulators run at this audio carrier; the loops keep the complex base
// band around it, which the receiver then puts at the audio frequency the
// tuning gives.
const double kCarrier = 2000.0;
const float kCwWpm = 25.0f;

const BbAudioStation kStations[BbStations::kCount] = {
    {"cw", 14070600.0, "VVV DE ZR450 "},
    {"rtty", 14072000.0, "RYRY CQ DE ZR450 K "},
    {"psk", 14071200.0, "cq de zr450 k "},
};

// Complex base band of a real signal at kCarrier: mixed down and low-passed
// (the image at twice the carrier goes), scaled back to the signal's own
// amplitude. `delay` receives the filter's group delay in samples.
std::vector<std::complex<float>> toBaseband(const std::vector<float> &x, size_t *delay)
{
    const unsigned len = 129;
    float h[len];
    liquid_firdes_kaiser(len, 600.0f / float(kFs), 60.0f, 0.0f, h);
    float sum = 0;
    for (float v : h)
        sum += v;
    for (float &v : h)
        v *= 2.0f / sum;
    firfilt_crcf f = firfilt_crcf_create(h, len);
    std::vector<std::complex<float>> bb(x.size());
    const double w = 2.0 * M_PI * kCarrier / kFs;
    for (size_t n = 0; n < x.size(); n++) {
        const double ph = std::fmod(w * double(n), 2.0 * M_PI);
        firfilt_crcf_push(f, std::complex<float>(float(x[n] * std::cos(ph)), float(-x[n] * std::sin(ph))));
        firfilt_crcf_execute(f, &bb[n]);
    }
    firfilt_crcf_destroy(f);
    *delay = (len - 1) / 2;
    return bb;
}

// One loop [from, to) of the base band, with the phase closed over the
// seam: a steady tone that has turned by some angle over the loop is given
// a tiny frequency offset instead of a phase jump where the loop restarts.
std::vector<std::complex<float>> cutLoop(const std::vector<std::complex<float>> &bb, size_t from, size_t to)
{
    std::vector<std::complex<float>> loop(bb.begin() + std::ptrdiff_t(from), bb.begin() + std::ptrdiff_t(to));
    const std::complex<float> a = bb[from], b = bb[to];
    if (std::abs(a) > 0.1f && std::abs(b) > 0.1f) {
        const double turn = std::arg(b * std::conj(a));
        for (size_t n = 0; n < loop.size(); n++)
            loop[n] *= std::polar(1.0f, float(-turn * double(n) / double(loop.size())));
    }
    float peak = 0;
    for (const auto &v : loop)
        peak = std::max(peak, std::abs(v));
    if (peak > 0)
        for (auto &v : loop)
            v /= peak;
    return loop;
}

std::vector<std::complex<float>> rttyLoop(const char *text)
{
    const size_t len = std::strlen(text);
    std::string three = std::string(text) + text + text;
    rtty_mod_t *q = rtty_mod_create(float(kFs), float(kCarrier), 1024);
    if (!q)
        return {};
    rtty_mod_set_speed(q, 45.45f);
    rtty_mod_set_shift(q, 170.0f);
    rtty_mod_post_message(q, three.data(), int(three.size()));
    // A character counts when its stop bit starts: one text period lies
    // between the ends of the first and of the second copy.
    std::vector<float> x;
    size_t mark1 = 0, mark2 = 0;
    uint32_t prev = 0;
    float v;
    while (!rtty_mod_is_finish(q) && x.size() < size_t(120 * kFs)) {
        rtty_mod_process(q, &v, 1);
        x.push_back(v);
        const uint32_t s = rtty_mod_get_sent_counter(q);
        if (s != prev) {
            prev = s;
            if (s == len)
                mark1 = x.size() - 1;
            else if (s == 2 * len)
                mark2 = x.size() - 1;
        }
    }
    rtty_mod_destroy(q);
    size_t delay;
    const auto bb = toBaseband(x, &delay);
    return cutLoop(bb, mark1 + delay, mark2 + delay);
}

std::vector<std::complex<float>> pskLoop(const char *text)
{
    const size_t len = std::strlen(text);
    const std::string four = std::string(text) + text + text + text;
    psk_mod_t *q = psk_mod_create(float(kFs), float(kCarrier));
    if (!q)
        return {};
    psk_mod_post_message(q, four.data(), int(four.size()));
    // A character counts when its bits start; the copies start at 1, L + 1,
    // 2L + 1 and 3L + 1.
    std::vector<float> x;
    size_t start[3] = {0, 0, 0};
    uint32_t prev = 0;
    float v;
    psk_mod_process(q, &v, 1);
    x.push_back(v);
    while (!psk_mod_is_finish(q) && x.size() < size_t(300 * kFs)) {
        psk_mod_process(q, &v, 1);
        x.push_back(v);
        const uint32_t s = psk_mod_get_sent_counter(q);
        if (s != prev) {
            prev = s;
            for (int k = 0; k < 3; k++)
                if (size_t(s) == size_t(k + 1) * len + 1)
                    start[k] = x.size() - 1;
        }
    }
    psk_mod_destroy(q);
    size_t delay;
    const auto bb = toBaseband(x, &delay);
    // Each copy may hold an odd number of phase reversals: then the carrier
    // comes back inverted and the loop takes two copies.
    const auto a = bb[start[0] + delay], b = bb[start[1] + delay];
    const bool same = (a * std::conj(b)).real() > 0;
    return cutLoop(bb, start[0] + delay, (same ? start[1] : start[2]) + delay);
}

std::vector<std::complex<float>> cwLoop(const char *text)
{
    // Two copies, the second one taken: the filter has settled by then and
    // the word space at the end of the text closes the loop.
    const std::string two = std::string(text) + text;
    const std::vector<float> x = cw_keyed_tone(two.c_str(), kCwWpm, float(kCarrier), float(kFs), 1.0f, 0.0f, 0.0f);
    const std::vector<float> one = cw_keyed_tone(text, kCwWpm, float(kCarrier), float(kFs), 1.0f, 0.0f, 0.0f);
    size_t delay;
    std::vector<float> padded = x;
    padded.resize(x.size() + 256, 0.0f);
    const auto bb = toBaseband(padded, &delay);
    return cutLoop(bb, one.size() + delay, x.size() + delay);
}

} // namespace

const BbAudioStation *BbStations::stations()
{
    return kStations;
}

BbListen bbstations_listen(const uint32_t *regs)
{
    BbListen l;
    l.dialHz = bbregs_dial(regs) + double(int32_t(regs[42]));
    l.mode = int(bbregs_front(regs) == 0 ? regs[4] : regs[10]);
    const unsigned tone = (regs[33] >> 12) & 0x7FF;
    l.pitch = tone ? tone : 800;
    // The default filters of each mode family.
    switch (l.mode) {
    case zrnamespace::ModeLSB:
    case zrnamespace::ModeLSBDig:
    case zrnamespace::ModeUSB:
    case zrnamespace::ModeUSBDig:
        l.passLo = 150.0f;
        l.passHi = 2850.0f;
        break;
    case zrnamespace::ModeCW:
    case zrnamespace::ModeCWR:
        l.passLo = float(550.0 + l.pitch - 800.0);
        l.passHi = float(1050.0 + l.pitch - 800.0);
        break;
    default:
        l.heard = false;
        break;
    }
    return l;
}

bool bbstations_audio(const BbListen &l, double rfHz, double *audioHz, bool *inverted)
{
    if (!l.heard)
        return false;
    double a;
    bool inv;
    switch (l.mode) {
    case zrnamespace::ModeLSB:
    case zrnamespace::ModeLSBDig:
        a = l.dialHz - rfHz;
        inv = true;
        break;
    case zrnamespace::ModeCW:
        a = rfHz - l.dialHz + l.pitch;
        inv = false;
        break;
    case zrnamespace::ModeCWR:
        a = l.dialHz - rfHz + l.pitch;
        inv = true;
        break;
    default:
        a = rfHz - l.dialHz;
        inv = false;
        break;
    }
    if (a < l.passLo || a > l.passHi)
        return false;
    if (audioHz)
        *audioHz = a;
    if (inverted)
        *inverted = inv;
    return true;
}

BbStations::BbStations()
    : m_rng(4505)
    , m_noise(0.0f, kNoise)
{
    m_loops[0].bb = cwLoop(kStations[0].text);
    m_loops[1].bb = rttyLoop(kStations[1].text);
    m_loops[2].bb = pskLoop(kStations[2].text);
}

void BbStations::render(const BbListen &l, float *out, size_t n, bool muted)
{
    for (size_t i = 0; i < n; i++)
        out[i] = muted ? 0.0f : m_noise(m_rng);
    for (int s = 0; s < kCount; s++) {
        Loop &lp = m_loops[s];
        const size_t len = lp.bb.size();
        if (!len)
            continue;
        double a = 0;
        bool inv = false;
        if (muted || !bbstations_audio(l, kStations[s].hz, &a, &inv)) {
            lp.pos = (lp.pos + n) % len;
            continue;
        }
        const double w = 2.0 * M_PI * a / kFs;
        for (size_t i = 0; i < n; i++) {
            std::complex<float> v = lp.bb[lp.pos];
            if (inv)
                v = std::conj(v);
            out[i] += kLevel * (v.real() * float(std::cos(lp.phase)) - v.imag() * float(std::sin(lp.phase)));
            lp.phase += w;
            if (lp.phase > 2.0 * M_PI)
                lp.phase -= 2.0 * M_PI;
            if (++lp.pos == len)
                lp.pos = 0;
        }
    }
}
