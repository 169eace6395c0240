#ifndef VARICODE_H
#define VARICODE_H

#include <stdint.h>

// PSK31 varicode: one entry per ASCII code 0..127, the code bits (first bit
// sent is the most significant of `bits`) and their count.
typedef struct {
    uint16_t bits;
    uint8_t len;
} varicode_t;

extern const varicode_t gVaricode_LUT[128];

// Decoder-side table: one entry per character code 0..255, the code bits
// left-justified in 16 bits (0 where a character has no code).
extern const uint16_t VARICODE_TABLE[256];

// Writes the code's bits (one per byte, 0 or 1), most significant first,
// followed by the two separating 0 bits, and returns the count. Code 128
// gives eight 1 bits, code 129 eight 0 bits, codes above 129 nothing. `bits`
// must hold 20 entries.
int varicode_get_bits_stream(unsigned code, uint8_t *bits);

// The ASCII code whose varicode equals `pattern` (the code bits without the
// separating zeros, right-justified), or -1 when there is none.
int varicode_get_ascii(uint32_t pattern);

#endif
