#ifndef CW_DEM_H
#define CW_DEM_H

// Morse (CW) decoder for receiver audio. The caller feeds blocks of samples
// at the host's scale (raw 16-bit values); decoded characters are popped from
// a small queue by another thread. C-style object without a thread or lock.

#include <stdint.h>

#include "modem/zmodem_ring.h"

#include <atomic>

// Single-bin tone detector.
typedef struct {
    int k;          // bin index
    float w;        // bin angle
    float sinw, cosw;
    float coeff;    // 2 cos w
    float out;      // last output
    float s1, s2;
} Goertzel;

void Goertzel_SetFc(Goertzel *g, float f, unsigned N, float c, float fs);
void Goertzel_Sampling(Goertzel *g, float x);
float Goertzel_GetEnergy(Goertzel *g);

#define CW_DEM_BLOCK 88       // samples per detector block (5.5 ms at 16 kHz)
#define CW_DEM_MAX_ELEMENTS 38
#define CW_DEM_RUNS 256
#define CW_DEM_QUEUE 100

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
    uint8_t flags;

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

    int key_state, key_last, key_pending;
    unsigned run_count, cur_run, run_cap;

    unsigned char_start, char_end;
    int waiting;                  // a long silence already ended the character
    int spike_seen;               // the previous entry was a spike
    uint32_t spike_absorb;        // its length, added to the next entry

    // Narrow-band detector: the block is mixed down at the tone and
    // decimated to one sample through a low-pass much narrower than a
    // block's own bandwidth; its magnitude is averaged over a few blocks.
    double nco_phase, nco_step;
    void *decim;                  // firdecim_crcf, decimation by one block
    float hist[8];                // recent block magnitudes
    unsigned hist_pos;
    // Automatic threshold: tracked key-down and key-up levels.
    float level_hi, level_lo;
    int levels_valid;

    ZModemRing<CW_DEM_QUEUE> queue;
    uint32_t code;
};
typedef struct cw_dem_s cw_dem_t;

cw_dem_t *cw_dem_create(float fs, float tone);
void cw_dem_destroy(cw_dem_t *q);
void cw_dem_process(cw_dem_t *q, const float *samples, unsigned n);
int cw_dem_getchar(cw_dem_t *q, char *out);
float cw_dem_set_cwtone(cw_dem_t *q, float tone);
unsigned cw_dem_get_wpm(cw_dem_t *q);
float cw_dem_get_rssi(cw_dem_t *q);
void cw_dem_set_threshold(cw_dem_t *q, int level);
void cw_dem_init(cw_dem_t *q);

// Internal steps, exposed for tests.
int cw_dem_isspike(cw_dem_t *q, unsigned length);
int cw_dem_partten_finder(cw_dem_t *q, int *charEnd);
uint32_t cw_dem_codegen(cw_dem_t *q);
void cw_dem_putchar(cw_dem_t *q, unsigned char c);
void cw_dem_putwordspace(cw_dem_t *q, unsigned char c);

// Character lookup: the character table, then the prosign table; 255 when
// unknown, 254 for code 0.
unsigned char morse_to_char(uint32_t code);

// Code of a character for senders (the reverse lookup; 0 when it has none).
uint32_t morse_char_to_code(char c);

extern const uint32_t cw_char_codes[47];
extern const char cw_char_chars[47];
extern const uint32_t cw_sign_codes[10];
extern const char cw_sign_onechar[10];

#endif
