#ifndef ZMODEM_RTTY_P_H
#define ZMODEM_RTTY_P_H

// The RTTY demodulator's and modulator's records, private to
// modem/zmodem_rtty.cpp.

#include "modem/zmodem_ring.h"
#include "modem/zmodem_rtty.h"

#include <liquid/liquid.h>

#include <QByteArray>
#include <QMutex>

#include <atomic>

struct rtty_dem_s {
    iirfilt_rrrf mark_filter, space_filter;
    float mark_b[3], mark_a[3], space_b[3], space_a[3];
    iirfilt_rrrf lowpass;
    float fs;
    float fc;
    std::atomic<float> fc_req;
    float rate;
    std::atomic<float> rate_req;
    float shift;
    std::atomic<float> shift_req;
    unsigned spb;           // samples per bit

    float env_mark, env_space, floor_mark, floor_space;

    int search_state;
    int half_count;
    int receiving;
    int bit_count;
    unsigned bits;
    int sample_count;
    float acc;              // soft decisions summed over the current bit
    int prev_bit;
    int clock_adjusted;
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
