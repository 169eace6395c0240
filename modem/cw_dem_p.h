#ifndef CW_DEM_P_H
#define CW_DEM_P_H

// The CW decoder's record, private to modem/cw_dem.cpp.

#include "modem/cw_dem.h"
#include "modem/zmodem_ring.h"

#include <atomic>
#include <complex>

// Block samples kept for the detector's matched sum (a dot at 5 WPM).
#define CW_DEM_HISTORY 48

// Flags byte.
#define CW_FLAG_SYNC 0x01      // speed learnt
#define CW_FLAG_DASH 0x02      // last mark was a dash
#define CW_FLAG_WORDSPACE 0x04 // word space pending
#define CW_FLAG_EOT 0x08       // end of transmission seen

struct cw_dem_s {
    Goertzel detector;
    float fs;
    float tone_used;              // -1 until the first call tunes the detector
    std::atomic<float> tone_req;  // written by the GUI thread
    std::atomic<unsigned> wpm;
    std::atomic<float> threshold; // minimum key-down level on the energy scale
    int debounce;
    unsigned N;
    int spike_mode;

    // Averages, in blocks.
    float thr, dot, dash, egap, cgap;
    float wordgap;
    std::atomic<uint8_t> flags;

    unsigned sample_idx;
    float prev_energy;
    float w_new, w_old;
    float bps;                    // blocks per second
    float speed_filter;
    std::atomic<float> peak;
    float block[CW_DEM_BLOCK];

    uint16_t elements[CW_DEM_MAX_ELEMENTS];
    unsigned nelements;

    uint32_t runs[CW_DEM_RUNS];
    unsigned run_w, run_r;

    int training;
    unsigned train_start, train_cur;

    std::atomic<int> key_state;
    int key_last, key_pending;
    unsigned run_count, run_cap;
    std::atomic<unsigned> cur_run;

    unsigned char_start, char_end;
    int waiting;                  // a long silence already ended the character
    int spike_seen;               // the previous entry was a spike
    uint32_t spike_absorb;        // its length, added to the next entry

    // Narrow-band detector (see cw_dem.cpp): mixer, decimation to one
    // complex sample per block, and the recent block samples for the sum
    // matched to a dot.
    double nco_phase, nco_step;
    void *decim;                  // firdecim_crcf, decimation by one block
    std::complex<float> cy[CW_DEM_HISTORY];
    unsigned cy_pos;
    std::complex<float> turn;     // block-to-block turn while the key is down
    // Automatic threshold: tracked key-down and key-up levels.
    float level_hi, level_lo;
    int levels_valid;

    ZModemRing<CW_DEM_QUEUE> queue;
    uint32_t code;
};

#endif
