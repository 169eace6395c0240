#ifndef CW_DEM_P_H
#define CW_DEM_P_H

// The CW decoder's record, private to modem/cw_dem.cpp.

#include "modem/cw_dem.h"
#include "modem/zmodem_ring.h"

#include <atomic>
#include <complex>

// Longest sum over block samples, in blocks (a dot at 5 WPM).
#define CW_DEM_HISTORY 48
// Block samples kept for decoding the training runs again on the slot
// clock (45 s of blocks at 16 kHz).
#define CW_DEM_YH 8192
// Block-key marks kept for measuring the dot length.
#define CW_DEM_BMARKS 32

// Flags byte.
#define CW_FLAG_SYNC 0x01      // speed learnt
#define CW_FLAG_DASH 0x02      // last mark was a dash
#define CW_FLAG_WORDSPACE 0x04 // word space pending
#define CW_FLAG_EOT 0x08       // end of transmission seen

// The slot clock and its decisions.
struct cw_slotclk_s {
    float unit;                   // blocks per dot; 0 while unknown
    float slot_phase;             // blocks since the last slot boundary
    int mid_done;                 // the boundary-centred sum of this slot is taken
    float sum_now, sum_prev;      // the dot-long sum at this block and the one before
    float x_prev;                 // sum over the slot before the last boundary
    float m_cur;                  // sum centred on the last boundary
    float s_hi, s_lo;             // slot key-down and key-up levels
    int slot_key;                 // decision on the last slot
    unsigned slot_edges;          // transitions seen since the clock started
    float ted_err;                // mean size of the timing error, in dots
    unsigned slot_run;            // key-down slots in the current mark
    unsigned slot_gap;            // key-up slots in the current gap
    // Share of slot marks neither one nor three slots long and of gaps of
    // two slots (neither an element nor a character gap).
    float slot_bad;
    unsigned bad_run;             // such marks in a row
};

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

    // Narrow-band detector (see cw_dem.cpp): mixer and decimation to one
    // complex sample per block (kept in yh below).
    double nco_phase, nco_step;
    void *decim;                  // firdecim_crcf, decimation by one block
    std::complex<float> turn;     // block-to-block turn while the key is down
    // Automatic threshold: tracked key-down and key-up levels.
    float level_hi, level_lo;
    int levels_valid;

    // Slot-synchronous detector, once the speed is known: the dot-long
    // coherent sum is taken once per dot at the end of each dot-long slot,
    // on a slot clock that early-late timing keeps on the keying.
    struct cw_slotclk_s clk;
    int slot_active;              // the key follows the slot decisions
    unsigned unknown_hist;        // the last characters, a bit per unknown one
    // Marks of the block-by-block key, kept apart from the decoded runs:
    // they measure the dot length for the slot clock and show a new speed.
    uint16_t bmarks[CW_DEM_BMARKS];
    unsigned bm_n, bm_pos;
    int bkey;
    unsigned bcount;
    // How many blocks the block key changes before the slot key does, at a
    // key-up and at a key-down: taken off or added to the gap in which the
    // key source changes, so that gap keeps its length.
    float lag_up, lag_dn;
    // The block samples of the last CW_DEM_YH blocks (the sums read the
    // latest, the re-reading of the training runs all of them), the count
    // of blocks so far, and the block at which each run ended.
    std::complex<float> yh[CW_DEM_YH];
    float yh_step[CW_DEM_YH];     // the mixer's step for each of them
    uint32_t blk;
    uint32_t run_end[CW_DEM_RUNS];

    ZModemRing<CW_DEM_QUEUE> queue;
    uint32_t code;
};

#endif
