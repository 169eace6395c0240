#ifndef BBFRAME_H
#define BBFRAME_H

// The frames the base-band board streams on the UART: sync, 512 complex
// samples (two little-endian 32-bit floats each, I then Q), a status trailer
// and the STM32 CRC of everything before it.

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    BBFRAME_SIZE = 4136,
    BBFRAME_SAMPLES = 512,
    BBFRAME_OFS_SAMPLES = 4,
    BBFRAME_OFS_STATUS = 4100,   // status flags, 32 bits
    BBFRAME_OFS_RESERVED = 4104,
    BBFRAME_OFS_TXPWR = 4105,    // 0.1 W
    BBFRAME_OFS_SWR = 4106,      // raw
    BBFRAME_OFS_ALC = 4107,      // raw
    BBFRAME_OFS_VEXT = 4108,     // 0.1 V
    BBFRAME_OFS_VBAT = 4109,     // 0.1 V
    BBFRAME_OFS_BATCAP = 4110,   // percent
    BBFRAME_OFS_ATU = 4112,      // tuner network c, l, s
    BBFRAME_OFS_MICKEY = 4128,   // hand-microphone key code, 32 bits
    BBFRAME_OFS_CRC = 4132,
    BBFRAME_OFS_TRAILER = BBFRAME_OFS_STATUS,
    BBFRAME_TRAILER_WORDS = (BBFRAME_OFS_CRC - BBFRAME_OFS_STATUS) / 4, // 8
};

// Status flag bits.
enum : uint32_t {
    BBFRAME_ST_RESYNC = 1u << 0,
    BBFRAME_ST_TX = 1u << 1,
    BBFRAME_ST_ATU_BUSY = 1u << 2,
    BBFRAME_ST_VEXT = 1u << 3,
    BBFRAME_ST_CHARGING = 1u << 4,
};

extern const uint8_t bbframe_sync[4]; // 0xAA 0x55 0x55 0xAA

// Little-endian field access at any alignment.
uint32_t bbframe_get_u32(const uint8_t *p);
void bbframe_put_u32(uint8_t *p, uint32_t v);

// Writes the sync word and the CRC of a frame whose other fields are filled.
void bbframe_seal(uint8_t *frame);

// 1 when the frame starts with the sync word and its CRC matches.
int bbframe_check(const uint8_t *frame);

// Counters of a frame search, accumulated over calls.
struct bbframe_stats_t {
    uint64_t frames = 0;     // accepted frames
    uint64_t crcErrors = 0;  // sync words whose frame failed the CRC
    uint64_t dropped = 0;    // bytes given up outside accepted frames
};

typedef void (*bbframe_cb_t)(const uint8_t *frame, void *ctx);

// Searches buf[0..len) for frames: at every sync word it checks the CRC of
// the BBFRAME_SIZE bytes starting there; a match is handed to cb and the
// search goes on behind it, a mismatch goes on one byte further. Returns the
// number of leading bytes the caller may discard: everything except an
// incomplete frame at the end (from its sync word on) or, without one, the
// last three bytes, which may begin a sync word. What is kept is always
// shorter than one frame.
size_t bbframe_search(const uint8_t *buf, size_t len, bbframe_cb_t cb, void *ctx,
                     bbframe_stats_t *stats);

#endif
