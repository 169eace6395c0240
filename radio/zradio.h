#ifndef ZRADIO_H
#define ZRADIO_H

// The radio link: the I2C register space and the UART frame stream of the
// base-band board, one process-wide record and the zradio_ functions over it.
//
// Threads: the UART reader thread_comm (1 ms poll) fills the frame reports
// and the spectrum; the register-push and input threads join later. The
// register mutex serialises every I2C transfer. Values handed between
// threads are atomics with one writer each.

#include "sacalc.h"
#include "uart.h"
#include "user_i2c.h"
#include "zcomm.h"
#include "zframe.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <pthread.h>

class ZParamAdmin;

#define ZRADIO_REG_WORDS 56
#define ZRADIO_UART_PATH "/dev/ttyS1"
#define ZRADIO_UART_BAUD 1152000
#define ZRADIO_FFT_LEN 512
#define ZRADIO_BASE_RATE 100000.0f

// Board register addresses.
#define ZRADIO_ADDR_REGS 0x0000     // 56 control words, word n at 4n (write)
#define ZRADIO_ADDR_IDENT 0x0000    // identification text (read)
#define ZRADIO_IDENT_LEN 128
#define ZRADIO_ADDR_CALIB 0xF000    // calibration block: data words + CRC word
#define ZRADIO_CALIB_WORDS 203
#define ZRADIO_CALIB_LEN ((ZRADIO_CALIB_WORDS + 1) * 4)
#define ZRADIO_ADDR_CMD 0xFFFE      // command register
#define ZRADIO_CMD_STORE_CALIB 0x01

// Reader: passes of comm-valid after a good frame (1 ms each), idle reads
// before a partial frame is dropped, and the accumulation limit.
#define ZRADIO_COMM_COUNTDOWN 1000
#define ZRADIO_IDLE_READS 5
#define ZRADIO_RX_LIMIT 16384

struct zradio_t {
    // Sampling (the spectrum settings of the push/report functions).
    float fs = ZRADIO_BASE_RATE;       // base sample rate
    float fsDec = ZRADIO_BASE_RATE;    // base / 2^decimation
    float fftPeak = SACALC_FLOOR_DB;   // last collected smoothed peak
    float peakBorderLow = 300.0f;
    float peakBorderHigh = 3000.0f;

    // Register push: the wanted block (written by the GUI thread, read word
    // by word by the push thread) and the mirror of what the board last got.
    std::atomic<uint8_t> pushEnable{0};
    std::atomic<uint32_t> regs[ZRADIO_REG_WORDS] = {};
    uint32_t mirror[ZRADIO_REG_WORDS] = {};
    std::mutex regMutex;               // guards every I2C transfer
    pthread_t pushThread{};
    bool pushStarted = false;
    std::atomic<uint8_t> pushExit{0};

    // The parameter store, owned.
    ZParamAdmin *param = nullptr;

    // Link status, written by the reader thread.
    std::atomic<uint8_t> commValid{0};
    int32_t commCountdown = 0;         // reader thread only
    std::atomic<uint8_t> vextFlag{0};
    std::atomic<uint8_t> chgFlag{0};
    std::atomic<uint8_t> trxState{0};  // status bit 1 of the last frame
    std::atomic<uint32_t> hmicKey{0};
    uint32_t hmicKeyPrev = 0;          // input thread only
    // Bytes 4100..4131 of the last good frame (or the preset), as words.
    std::atomic<uint32_t> trailer[ZFRAME_TRAILER_WORDS] = {};
    // Frame search counters, published by the reader.
    std::atomic<uint64_t> framesGood{0};
    std::atomic<uint64_t> framesBadCrc{0};
    std::atomic<uint64_t> bytesDropped{0};

    // Transmit sources folded into the control word.
    std::atomic<uint8_t> voiceRec{0};
    std::atomic<uint8_t> modemTrx{0};
    std::atomic<uint8_t> swrScanTrx{0};
    std::atomic<uint8_t> calTrx{0};
    std::atomic<uint8_t> split{0};
    std::atomic<uint8_t> iptt{0};
    std::atomic<uint8_t> civPtt{0};
    std::atomic<uint8_t> calFlag{0};

    // Front-panel input.
    pthread_t inputThread{};
    bool inputStarted = false;
    std::atomic<uint8_t> inputExit{0};
    std::atomic<uint8_t> screenOff{0};
};

// The process-wide record and the link's parts; null while no link exists.
extern zradio_t *g_zradio;
extern uart_t *g_zuart;
extern zradio_i2c_t *g_zi2c;
extern sacalc_t *g_zsacalc;

// Creates the link: parameter store, spectrum calculator, I2C bus (i2cPath
// through the system root), UART "/dev/ttyS1" at 1152000 baud and its reader.
// Returns null when memory runs out or a link already exists.
zradio_t *zradio_create(const char *i2cPath, uint16_t i2cAddress);
void zradio_destroy(zradio_t *radio);

// The UART reader (hooked by zradio_create).
void *thread_comm(void *arg);
// What the reader does with one CRC-correct frame: keeps it, runs the
// spectrum, publishes the trailer, key word and flags, sets comm-valid.
// Reader thread only.
void zradio_comm_frame(zradio_t *radio, uart_t *uart, sacalc_t *sacalc, const uint8_t *frame);

// Register transfers, each under the register mutex. 0 or a negative errno
// code; -19 without a link, -22 for null data.
int zradio_send_cmd(const void *data, uint32_t len);
int zradio_read_remote_ram(uint16_t address, void *data, uint32_t len);
int zradio_write_remote_ram(uint16_t address, const void *data, uint32_t len);
// Reads the 128-byte identification text into buffer (room for 128 bytes).
int zradio_get_roram(void *buffer);
// The identification text as printable, NUL-terminated text (at most size-1
// characters, cut at the first NUL). 0 or a negative errno code.
int zradio_get_ident(char *text, size_t size);

// Reader control: while suspended the reader does not read; on resume it
// discards what arrived meanwhile.
void zradio_uartcomm_set_suspend(uint8_t flag);
uint8_t zradio_uartcomm_get_suspend();
// Discards both directions of the UART's kernel queues. 0 or -errno.
int zradio_uartcomm_flush();
// The reader's descriptor, -1 while it has none.
int zradio_uartcomm_get_fd();
// Frame search counters since creation.
void zradio_uartcomm_get_stats(zframe_stats_t *stats);

// 1 while good frames arrive (falls about 1 s after the last one).
uint8_t zradio_comm_valid();
// Bit 0 of the last frame's status word.
uint8_t zradio_get_resync_flag();

#endif
