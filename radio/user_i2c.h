#ifndef USER_I2C_H
#define USER_I2C_H

// I2C helper: register reads and writes on the base-band board, a slave with
// a 16-bit register address space (address sent most significant byte first).
//
// Two backends, chosen by what the bus path is:
// - a character device: the kernel's i2c-dev combined transfer (I2C_RDWR);
// - a Unix stream socket: the simulator's stand-in for the bus, spoken to
//   with the transfer format below.
//
// Socket transfer format (all numbers little-endian), one request and one
// reply per transfer, mirroring I2C_RDWR:
//   request:  'Z' 'I' count(u8) 0(u8), then count messages, each
//             addr(u16) flags(u16, bit 0 = read) len(u16) and, for a write,
//             len data bytes
//   reply:    result(i32): count on success or a negative errno code (-ENXIO
//             when no slave answers the address), then on success the data
//             of each read message in order
// count is 1..UI2C_MAX_MSGS, len at most UI2C_MAX_LEN. A peer that sends
// anything else is disconnected.

#include <cstdint>

#define UI2C_MAX_MSGS 8
#define UI2C_MAX_LEN 8192
#define UI2C_FLAG_READ 0x0001

struct zradio_i2c_t {
    char *path;     // owned copy
    int fd;         // device or socket; -1 while a socket is disconnected
    uint16_t address; // 7-bit slave address
    bool socket;    // simulator backend
};

// Opens the bus at path for the slave address. Null on failure ("can't open
// %s,%d" with the error, or "can't malloc zradio_i2c_t").
zradio_i2c_t *ui2c_create(const char *path, uint16_t address);

// Writes len bytes (none for null data or len 0) to register reg in one
// transfer. 0, the negative transfer error, -12 without memory, -22 for a
// null handle or an over-long write.
int ui2c_write(zradio_i2c_t *i2c, uint16_t reg, const void *data, uint32_t len);

// Sets the register address, then reads len bytes in a second transfer.
// 0 or a negative error code; -22 for null arguments.
int ui2c_read(zradio_i2c_t *i2c, uint16_t reg, void *data, uint32_t len);

void ui2c_destroy(zradio_i2c_t *i2c);

#endif
