#ifndef CW_DEM_H
#define CW_DEM_H

// Morse (CW) decoder for receiver audio. The caller feeds blocks of samples
// at the host's scale (raw 16-bit values); decoded characters are popped from
// a small queue by another thread. The record is opaque (modem/cw_dem_p.h);
// it has no thread and no lock. Setters store a request that the next
// cw_dem_process applies; getters may be called from any thread.

#include <stdint.h>

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

typedef struct cw_dem_s cw_dem_t;

// fs > 0 and a tone inside (0, fs/2); otherwise the reason is logged and
// the result is null.
cw_dem_t *cw_dem_create(float fs, float tone);
void cw_dem_destroy(cw_dem_t *q);
// Back to the state after create (untrained, empty queue), keeping the
// sample rate, the requested tone and the threshold.
void cw_dem_reset(cw_dem_t *q);
void cw_dem_process(cw_dem_t *q, const float *samples, unsigned n);
// Pops one character; 0 when the queue is empty.
int cw_dem_getchar(cw_dem_t *q, char *out);

float cw_dem_set_cwtone(cw_dem_t *q, float tone);
float cw_dem_get_cwtone(cw_dem_t *q);
void cw_dem_set_threshold(cw_dem_t *q, int level);
// The configured minimum key-down level on the energy scale.
float cw_dem_get_threshold(cw_dem_t *q);
// Sends the decoder back to speed training.
void cw_dem_init(cw_dem_t *q);

unsigned cw_dem_get_wpm(cw_dem_t *q);
float cw_dem_get_rssi(cw_dem_t *q);
// 1 once the speed has been learnt.
int cw_dem_get_synchronised(cw_dem_t *q);
// 1 while the (debounced) key is down.
int cw_dem_get_key(cw_dem_t *q);
// Blocks since the last key change, capped at 3 s of blocks.
unsigned cw_dem_get_current_run(cw_dem_t *q);

// Steps of cw_dem_process, in the order used.
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
