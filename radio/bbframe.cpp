#include "radio/bbframe.h"

#include "radio/zcrc.h"

#include <algorithm>
#include <cstring>

const uint8_t bbframe_sync[4] = {0xAA, 0x55, 0x55, 0xAA};

uint32_t bbframe_get_u32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void bbframe_put_u32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void bbframe_seal(uint8_t *frame)
{
    std::memcpy(frame, bbframe_sync, 4);
    bbframe_put_u32(frame + BBFRAME_OFS_CRC, zcrc::calCRC32_STM32_bytes(frame, BBFRAME_OFS_CRC / 4));
}

int bbframe_check(const uint8_t *frame)
{
    return std::memcmp(frame, bbframe_sync, 4) == 0
        && zcrc::calCRC32_STM32_bytes(frame, BBFRAME_OFS_CRC / 4) == bbframe_get_u32(frame + BBFRAME_OFS_CRC);
}

// Position of the next sync word at or after from, or len.
static size_t find_sync(const uint8_t *buf, size_t len, size_t from)
{
    while (from + 4 <= len) {
        const void *hit = std::memchr(buf + from, bbframe_sync[0], len - from - 3);
        if (!hit)
            return len;
        const size_t p = size_t(static_cast<const uint8_t *>(hit) - buf);
        if (std::memcmp(buf + p, bbframe_sync, 4) == 0)
            return p;
        from = p + 1;
    }
    return len;
}

size_t bbframe_search(const uint8_t *buf, size_t len, bbframe_cb_t cb, void *ctx,
                     bbframe_stats_t *stats)
{
    if (!buf)
        return 0;
    bbframe_stats_t local;
    bbframe_stats_t &st = stats ? *stats : local;
    size_t pos = 0;       // bytes before pos are decided
    size_t consumed = 0;  // end of the last accepted frame
    for (;;) {
        const size_t p = find_sync(buf, len, pos);
        if (p == len) {
            // No sync word left: keep a tail that may begin one.
            const size_t keepFrom = len > 3 ? std::max(len - 3, pos) : pos;
            st.dropped += keepFrom - consumed;
            return keepFrom;
        }
        if (p + BBFRAME_SIZE > len) {
            // A frame that has not fully arrived yet.
            st.dropped += p - consumed;
            return p;
        }
        if (bbframe_check(buf + p)) {
            st.dropped += p - consumed;
            st.frames++;
            if (cb)
                cb(buf + p, ctx);
            pos = consumed = p + BBFRAME_SIZE;
        } else {
            st.crcErrors++;
            pos = p + 1;
        }
    }
}
