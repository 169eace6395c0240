#ifndef ZMODEM_RTTY_P_H
#define ZMODEM_RTTY_P_H

// The RTTY demodulator's and modulator's records, private to
// modem/zmodem_rtty.cpp.

#include "modem/zmodem_ring.h"
#include "modem/zmodem_rtty.h"

#include <QByteArray>
#include <QMutex>

#include <atomic>
#include <complex>
#include <vector>

// The demodulator correlates the signal with each tone over one bit (the
// filter matched to a bit of the baud rate) at every sample, keeps the
// decisions of the last few characters, and frames each character by the
// start time that best explains all its bits.
struct rtty_dem_s {
    float fs;
    float fc;
    std::atomic<float> fc_req;
    float rate;
    std::atomic<float> rate_req;
    float shift;
    std::atomic<float> shift_req;
    unsigned spb;           // samples per bit, rounded
    double T;               // samples per bit, exact

    // Tone oscillators (unit phasors, rotated per sample).
    std::complex<double> osc_mark, osc_space, rot_mark, rot_space;
    // One bit of mixed samples per tone, and their running sums.
    std::vector<std::complex<float>> win_mark, win_space;
    std::complex<double> sum_mark, sum_space;
    unsigned win_pos;
    // The bit correlators' mark-versus-space log-likelihood ratio for the
    // last ring_mask + 1 samples.
    std::vector<float> ring_llr;
    uint64_t ring_mask;
    uint64_t n;             // samples processed since the last reset

    // Levels on the correlators' scale: mean power of each tone while it is
    // sent, and of the noise (the other tone meanwhile); valid once both
    // tones and a bit of noise have been seen.
    float pow_mark, pow_space, pow_noise;
    unsigned count_mark, count_space, count_noise;
    int levels_valid;

    // Framing: the earliest start of the next character, the first sample
    // that read as a start bit, the last character's start and the period
    // of a run of characters.
    uint64_t search_from;
    uint64_t scan;          // next sample to look at for a start bit
    int64_t trigger;        // -1: none
    int64_t last_start;     // -1: none (the previous character was lost)
    double period;          // samples from one start to the next
    int strict_run;         // characters in a row whose start and stop bits both held

    int figures;

    ZModemRing<200> out;
};

struct rtty_mod_s {
    std::atomic<uint8_t> active{0};
    std::atomic<uint8_t> finished{1};
    int phase;              // 0 start bit / idle, 1 data bits, 2 stop bits
    unsigned code;
    int data_bits;
    int stop_mode;          // 0: 1, 1: 1.5, 2: 2 stop bits
    int shift_state;        // 0 letters, 1 figures, -1 not yet announced
    int preamble;
    int trailer_index;
    int trailer_done;       // the terminating entry has been sent
    std::atomic<uint8_t> force_stop{0};
    std::atomic<uint8_t> start_req{0}; // text posted; the modulator thread starts
    int counted;
    std::atomic<uint32_t> sent{0};
    double samples_left;
    double spb;
    float fs;
    float fc, rate, shift;
    std::atomic<float> fc_req, rate_req, shift_req;
    float bit_value, smoothed;
    double shift_step, mark_step, space_step;
    double osc_phase;
    float smooth_k;

    QMutex lock;            // guards the queue between the GUI and the modulator thread
    QByteArray queue;
};

#endif
