#ifndef ZFRAME_H
#define ZFRAME_H

// The frames the base-band board streams on the UART: sync, 512 complex
// samples (two little-endian 32-bit floats each, I then Q), a status trailer
// and the STM32 CRC of everything before it.

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    ZFRAME_SIZE = 4136,
    ZFRAME_SAMPLES = 512,
    ZFRAME_OFS_SAMPLES = 4,
    ZFRAME_OFS_STATUS = 4100,   // status flags, 32 bits
    ZFRAME_OFS_RESERVED = 4104,
    ZFRAME_OFS_TXPWR = 4105,    // 0.1 W
    ZFRAME_OFS_SWR = 4106,      // raw
    ZFRAME_OFS_ALC = 4107,      // raw
    ZFRAME_OFS_VEXT = 4108,     // 0.1 V
    ZFRAME_OFS_VBAT = 4109,     // 0.1 V
    ZFRAME_OFS_BATCAP = 4110,   // percent
    ZFRAME_OFS_ATU = 4112,      // tuner network c, l, s
    ZFRAME_OFS_MICKEY = 4128,   // hand-microphone key code, 32 bits
    ZFRAME_OFS_CRC = 4132,
    ZFRAME_OFS_TRAILER = ZFRAME_OFS_STATUS,
    ZFRAME_TRAILER_WORDS = (ZFRAME_OFS_CRC - ZFRAME_OFS_STATUS) / 4, // 8
};

// Status flag bits.
enum : uint32_t {
    ZFRAME_ST_RESYNC = 1u << 0,
    ZFRAME_ST_TX = 1u << 1,
    ZFRAME_ST_ATU_BUSY = 1u << 2,
    ZFRAME_ST_VEXT = 1u << 3,
    ZFRAME_ST_CHARGING = 1u << 4,
};

extern const uint8_t zframe_sync[4]; // 0xAA 0x55 0x55 0xAA

// Little-endian field access at any alignment.
uint32_t zframe_get_u32(const uint8_t *p);
void zframe_put_u32(uint8_t *p, uint32_t v);

// Writes the sync word and the CRC of a frame whose other fields are filled.
void zframe_seal(uint8_t *frame);

// 1 when the frame starts with the sync word and its CRC matches.
int zframe_check(const uint8_t *frame);

// Counters of a frame search, accumulated over calls.
struct zframe_stats_t {
    uint64_t frames = 0;     // accepted frames
    uint64_t crcErrors = 0;  // sync words whose frame failed the CRC
    uint64_t dropped = 0;    // bytes given up outside accepted frames
};

typedef void (*zframe_cb_t)(const uint8_t *frame, void *ctx);

// Searches buf[0..len) for frames: at every sync word it checks the CRC of
// the ZFRAME_SIZE bytes starting there; a match is handed to cb and the
// search goes on behind it, a mismatch goes on one byte further. Returns the
// number of leading bytes the caller may discard: everything except an
// incomplete frame at the end (from its sync word on) or, without one, the
// last three bytes, which may begin a sync word. What is kept is always
// shorter than one frame.
size_t zframe_search(const uint8_t *buf, size_t len, zframe_cb_t cb, void *ctx,
                     zframe_stats_t *stats);

#endif
