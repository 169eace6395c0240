#ifndef ZCRC_H
#define ZCRC_H

#include <cstddef>
#include <cstdint>

// The CRC the base-band board's STM32 hardware unit computes: CRC-32
// polynomial 0x04C11DB7 over 32-bit words, most significant bit first,
// initial value 0xFFFFFFFF, no reflection and no final XOR. One zero word
// gives 0xC704DD7B. Used for the UART frames and the calibration block.
namespace zcrc {

uint32_t calCRC32_STM32(const uint32_t *words, uint32_t count);

// The same over count little-endian words read from a byte stream (any
// alignment), as the frames arrive on the UART.
uint32_t calCRC32_STM32_bytes(const uint8_t *data, size_t count);

} // namespace zcrc

#endif
