#include "radio/zcrc.h"

#include <array>

namespace zcrc {

namespace {

// table[0] is the byte-wise MSB-first table of the polynomial; table[k]
// advances a byte by k further zero bytes, so a whole word is folded in with
// four look-ups (the same result as four byte steps).
struct Tables {
    std::array<std::array<uint32_t, 256>, 4> t;
    Tables()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int b = 0; b < 8; ++b)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 4; ++k)
                t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    }
};

const Tables &tables()
{
    static const Tables tab;
    return tab;
}

inline uint32_t step(const Tables &tab, uint32_t crc, uint32_t word)
{
    crc ^= word;
    return tab.t[3][crc >> 24] ^ tab.t[2][(crc >> 16) & 0xFF]
        ^ tab.t[1][(crc >> 8) & 0xFF] ^ tab.t[0][crc & 0xFF];
}

} // namespace

uint32_t calCRC32_STM32(const uint32_t *words, uint32_t count)
{
    const Tables &tab = tables();
    uint32_t crc = 0xFFFFFFFFu;
    if (!words)
        return crc;
    for (uint32_t i = 0; i < count; ++i)
        crc = step(tab, crc, words[i]);
    return crc;
}

uint32_t calCRC32_STM32_bytes(const uint8_t *data, size_t count)
{
    const Tables &tab = tables();
    uint32_t crc = 0xFFFFFFFFu;
    if (!data)
        return crc;
    for (size_t i = 0; i < count; ++i, data += 4) {
        const uint32_t w = uint32_t(data[0]) | uint32_t(data[1]) << 8
            | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
        crc = step(tab, crc, w);
    }
    return crc;
}

} // namespace zcrc
