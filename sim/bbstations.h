#ifndef BBSTATIONS_H
#define BBSTATIONS_H

#include <complex>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// Receiver audio of the simulated radio: three stations at fixed RF
// frequencies, each sending a known text in a loop, heard when the front
// VFO's pass band covers them.
//
//   name  RF (Hz)    signal                       text (repeated)
//   cw    14070600   CW beacon, 25 WPM            "VVV DE ZR450 "
//   rtty  14072000   RTTY 45.45 Bd, 170 Hz shift  "RYRY CQ DE ZR450 K "
//   psk   14071200   BPSK31                       "cq de zr450 k "
//
// They sit close together, as in the digital-mode part of the 20 m band:
// with the dial at 14070000 in USB (or USB-DIG) all three are heard at once,
// at 600, 2000 and 1200 Hz.
// Mark is the higher RF tone of the RTTY station. Each station runs on its
// own clock from the simulator's start, whether anybody listens or not.

struct BbAudioStation {
    const char *name;
    double hz;
    const char *text;
};

// The receive settings the board reads from the register block.
struct BbListen {
    double dialHz = 0.0;   // the front VFO: physical LO + digital offset + RIT
    int mode = 2;          // 0 LSB, 1 LSB-DIG, 2 USB, 3 USB-DIG, 4 CW, 5 CWR, 6 AM, 7 NFM
    double pitch = 800.0;  // CW pitch ("cwtone")
    float passLo = 150.0f; // audio pass band of the mode's default filter
    float passHi = 2850.0f;
    bool heard = true;     // AM and NFM carry none of these stations
};

// Front VFO, mode, pitch and pass band from the 56 register words.
BbListen bbstations_listen(const uint32_t *regs);

// Audio frequency at which a signal at rfHz is heard, and whether its
// spectrum is inverted (lower sideband). Returns false when the pass band
// does not cover it.
bool bbstations_audio(const BbListen &l, double rfHz, double *audioHz, bool *inverted);

class BbStations
{
public:
    static const int kCount = 3;
    static constexpr float kLevel = 0.15f;   // station peak, full scale 1
    static constexpr float kNoise = 0.004f;  // receiver noise RMS

    // Builds each station's loop with the project's own modulators.
    BbStations();

    static const BbAudioStation *stations();

    // The next n samples of receiver audio (-1..1) for the given tuning; the
    // stations' clocks advance by n. Muted (transmitting): silence.
    void render(const BbListen &l, float *out, size_t n, bool muted);

    // Length of a station's loop in samples (16 kHz).
    size_t loopLength(int i) const { return m_loops[i].bb.size(); }

private:
    struct Loop {
        std::vector<std::complex<float>> bb; // complex base band, peak 1
        size_t pos = 0;
        double phase = 0.0;
    };
    Loop m_loops[kCount];
    std::mt19937 m_rng;
    std::normal_distribution<float> m_noise;
};

#endif
