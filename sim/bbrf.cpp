#include "sim/bbrf.h"

#include "sim/bbregs.h"

#include <cmath>

namespace {

// Carriers at fixed frequencies around the default bands (20 m and 40 m),
// plus a few on other bands. Levels are S-meter readings in dBm (S9 = -73).
const BbStation kStations[] = {
    {14230000.0, -88.0f, "20m carrier 14.230"},
    {14250000.0, -70.0f, "20m carrier 14.250"},
    {14271500.0, -73.0f, "20m carrier 14.2715"},
    {14290000.0, -95.0f, "20m carrier 14.290"},
    {14300000.0, -80.0f, "20m carrier 14.300"},
    // The stations whose audio the receiver plays (bbstations.h), shown
    // here as their carriers.
    {14070600.0, -80.0f, "20m CW beacon 14.0706"},
    {14071200.0, -82.0f, "20m PSK31 station 14.0712"},
    {14072000.0, -78.0f, "20m RTTY station 14.072"},
    {7030000.0, -80.0f, "40m carrier 7.030"},
    {7040000.0, -85.0f, "40m carrier 7.040"},
    {7051500.0, -76.0f, "40m carrier 7.0515"},
    {7070000.0, -90.0f, "40m carrier 7.070"},
    {3573000.0, -92.0f, "80m carrier 3.573"},
    {10120000.0, -90.0f, "30m carrier 10.120"},
    {18100000.0, -86.0f, "17m carrier 18.100"},
    {21074000.0, -84.0f, "15m carrier 21.074"},
    {28074000.0, -94.0f, "10m carrier 28.074"},
};

// Noise per complex sample, about -128 dB per bin in the spectrum.
const float kNoiseSigma = 3.0e-5f;
// A little LO leakage: the receiver's DC blocker removes it.
const std::complex<float> kDcOffset(2.0e-4f, -1.0e-4f);

} // namespace

const BbStation *bbrf_stations(int *count)
{
    if (count)
        *count = int(sizeof(kStations) / sizeof(kStations[0]));
    return kStations;
}

float bbrf_amplitude(float dbm)
{
    // A bin-centred tone of amplitude A shows at 20 log10(A * sum(hann) / 2N),
    // sum(hann) = (N - 1) / 2, and the S-meter adds 7 dB.
    const double windowGain = 20.0 * std::log10(255.5 / 1024.0);
    return float(std::pow(10.0, (double(dbm) - 7.0 - windowGain) / 20.0));
}

BbTuning bbrf_tuning(const uint32_t *regs)
{
    BbTuning t;
    t.centreHz = bbregs_lo(regs);
    int dec = int((regs[15] >> 16) & 0xF);
    if (dec > 4)
        dec = 4;
    t.fs = 100000.0 / double(1 << dec);
    // Attenuator and preamplifier of the front VFO slot.
    const int slot = bbregs_front(regs) == 0 ? 0 : 6;
    t.gainDb = (regs[2 + slot] ? -20.0f : 0.0f) + (regs[3 + slot] ? 10.0f : 0.0f);
    return t;
}

void bbrf_render(const BbTuning &tuning, double t, std::complex<float> *out, int n, std::mt19937 &rng)
{
    std::normal_distribution<float> noise(0.0f, kNoiseSigma / std::sqrt(2.0f));
    for (int i = 0; i < n; ++i)
        out[i] = std::complex<float>(noise(rng), noise(rng)) + kDcOffset;

    const float gain = std::pow(10.0f, tuning.gainDb / 20.0f);
    const double edge = 0.45 * tuning.fs; // the board's decimation filter
    for (const BbStation &s : kStations) {
        const double df = s.hz - tuning.centreHz;
        if (std::fabs(df) > edge)
            continue;
        const float a = bbrf_amplitude(s.dbm) * gain;
        const double w = 2.0 * M_PI * df / tuning.fs;
        const double phase0 = std::fmod(2.0 * M_PI * df * t, 2.0 * M_PI);
        for (int i = 0; i < n; ++i) {
            const double ph = phase0 + w * i;
            out[i] += std::complex<float>(float(a * std::cos(ph)), float(-a * std::sin(ph)));
        }
    }
}
