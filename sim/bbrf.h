#ifndef BBRF_H
#define BBRF_H

#include <complex>
#include <cstdint>
#include <random>

// Receive model: the I/Q block the board sends in a frame. Stations sit at
// fixed RF frequencies; the block is centred on the LO the register block
// asks for, at the span its decimation word selects, over a noise floor.
struct BbStation {
    double hz;
    float dbm;      // level at the antenna, as the S-meter reads it
    const char *name;
};

// The receive settings read from the register block.
struct BbTuning {
    double centreHz = 0.0; // spectrum centre (the physical LO)
    double fs = 100000.0;  // I/Q rate after decimation
    float gainDb = 0.0f;   // attenuator and preamplifier
};

// Spectrum centre, span and gain from the 56 register words.
BbTuning bbrf_tuning(const uint32_t *regs);

// Fills n samples for a block starting at time t (seconds). The board's
// I/Q sense is inverted: a station above the centre turns clockwise.
void bbrf_render(const BbTuning &tuning, double t, std::complex<float> *out, int n, std::mt19937 &rng);

// Amplitude of a carrier that the spectrum analysis shows at dbm - 7 dB.
float bbrf_amplitude(float dbm);

const BbStation *bbrf_stations(int *count);

#endif
