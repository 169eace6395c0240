#ifndef ZRADIO_H
#define ZRADIO_H

// The radio link: the I2C register space and the UART frame stream of the
// base-band board, one process-wide record and the zradio_ functions over it.
//
// Threads: the UART reader thread_comm fills the frame reports and the
// spectrum; the register push thread_remote_admin sends the wanted register
// block to the board; the input thread thread_input_admin turns front-panel
// and hand-microphone input into events. Each of them sleeps until there is
// something to do (poll() on its descriptors, or a condition variable for
// the push), so the link costs next to nothing at rest; requests to them
// (stop, suspend, a changed word) come with a wake-up. The register mutex
// serialises every I2C transfer. Values handed between threads are atomics
// with one writer each; the control word, which several threads change, is
// only changed with atomic read-modify-write operations.

#include "spectrum/sacalc.h"
#include "radio/uart.h"
#include "radio/user_i2c.h"
#include "radio/zcomm.h"
#include "radio/bbframe.h"
#include "params/zparamtypes.h"
#include "radio/zradio_input.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <pthread.h>

class ZParamAdmin;
class QObject;

#define ZRADIO_REG_WORDS 56
#define ZRADIO_UART_PATH "/dev/ttyS1"
#define ZRADIO_UART_BAUD 1152000
#define ZRADIO_FFT_LEN 512
#define ZRADIO_BASE_RATE 100000.0f
#define ZRADIO_INPUT_DEVICES 5
#define ZRADIO_LPKEYS 13

// Board register addresses.
#define ZRADIO_ADDR_REGS 0x0000     // 56 control words, word n at 4n (write)
#define ZRADIO_ADDR_IDENT 0x0000    // identification text (read)
#define ZRADIO_IDENT_LEN 128
#define ZRADIO_ADDR_CALIB 0xF000    // calibration block: data words + CRC word
#define ZRADIO_CALIB_WORDS 203
#define ZRADIO_CALIB_LEN ((ZRADIO_CALIB_WORDS + 1) * 4)
#define ZRADIO_ADDR_CMD 0xFFFE      // command register
#define ZRADIO_CMD_STORE_CALIB 0x01

// Reader: how long comm-valid stays after a good frame, the silence after
// which a partial frame is dropped, and the accumulation limit.
#define ZRADIO_COMM_TIMEOUT_MS 1000
#define ZRADIO_SILENCE_MS 6
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
    uint32_t mirror[ZRADIO_REG_WORDS] = {}; // push thread only
    std::mutex regMutex;               // guards every I2C transfer
    pthread_t pushThread{};
    bool pushStarted = false;
    std::atomic<uint8_t> pushExit{0};
    std::atomic<uint8_t> fullPushRequest{0}; // one whole-block write, soon
    // The push thread sleeps on pushCv until pushWake is set (a changed
    // word, a request, the exit) or its next refresh is due.
    std::mutex pushWaitMutex;
    std::condition_variable pushCv;
    bool pushWake = false;             // guarded by pushWaitMutex
    int64_t refreshDueMs = -1;         // push thread only; -1 before the first pass
    // Push statistics, for tests and benchmarks: passes of the push thread
    // while enabled, single-word and whole-block writes.
    std::atomic<uint64_t> pushPasses{0};
    std::atomic<uint64_t> wordWrites{0};
    std::atomic<uint64_t> blockWrites{0};

    // The parameter store, owned.
    ZParamAdmin *param = nullptr;

    // Link status, written by the reader thread.
    std::atomic<uint8_t> commValid{0};
    int64_t commDeadlineMs = 0;        // reader thread only: comm-valid falls then
    std::atomic<uint8_t> vextFlag{0};
    std::atomic<uint8_t> chgFlag{0};
    std::atomic<uint8_t> trxState{0};  // status bit 1 of the last frame
    std::atomic<uint32_t> hmicKey{0};
    uint32_t hmicKeyPrev = 0;          // input thread only
    // Bytes 4100..4131 of the last good frame (or the preset), as words.
    std::atomic<uint32_t> trailer[BBFRAME_TRAILER_WORDS] = {};
    // Frame search counters, published by the reader.
    std::atomic<uint64_t> framesGood{0};
    std::atomic<uint64_t> framesBadCrc{0};
    std::atomic<uint64_t> bytesDropped{0};
    // Wake-ups of the reader and the input thread (tests, benchmarks).
    std::atomic<uint64_t> readerPasses{0};
    std::atomic<uint64_t> inputPasses{0};

    // Transmit sources folded into the control word.
    std::atomic<uint8_t> voiceRec{0};
    std::atomic<uint8_t> modemTrx{0};
    std::atomic<uint8_t> swrScanTrx{0};
    std::atomic<uint8_t> calTrx{0};
    std::atomic<uint8_t> split{0};
    std::atomic<uint8_t> iptt{0};
    std::atomic<uint8_t> civPtt{0};
    std::atomic<uint8_t> calFlag{0};

    // Meter smoothing of the live status the store publishes (GUI thread).
    float smoothedPower = 0.0f;

    // Front-panel input.
    pthread_t inputThread{};
    bool inputStarted = false;
    std::atomic<uint8_t> inputExit{0};
    int inputWakeFd = -1;                // wakes the input thread (exit, microphone key)
    std::atomic<uint8_t> screenOff{0};
    int inputCount = 0;                  // input thread only
    int inputFds[ZRADIO_INPUT_DEVICES] = {-1, -1, -1, -1, -1};
    std::atomic<int> knobSelector{0};    // small knob: 0 "rxvol", 1 "sqlthr", 2 "rfg"
    int knobModulus = 3;
    std::atomic<uint8_t> modeChanged{0}; // a mode key changed the mode
    std::atomic<uint8_t> volChanged{0};  // the small knob changed "rxvol"
    lpkey_t lpkeys[ZRADIO_LPKEYS];       // filled before the input thread starts
    // Hands posted events to the GUI thread, where the active window is
    // looked up (created by zradio_create on the calling thread).
    QObject *inputRelay = nullptr;
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
// Waits up to timeoutMs until the reader has stopped reading after a
// suspend request; 1 when it has (or there is no reader), 0 otherwise.
int zradio_uartcomm_wait_suspended(int timeoutMs);
// Discards both directions of the UART's kernel queues. 0 or -errno.
int zradio_uartcomm_flush();
// The reader's descriptor, -1 while it has none.
int zradio_uartcomm_get_fd();
// Frame search counters since creation.
void zradio_uartcomm_get_stats(bbframe_stats_t *stats);

// 1 while good frames arrive (falls about 1 s after the last one).
uint8_t zradio_comm_valid();
// Bit 0 of the last frame's status word.
uint8_t zradio_get_resync_flag();

// ---- Register block and push ----

// Control word (word 12) bits.
enum : uint32_t {
    ZRADIO_CTL_SPLIT = 1u << 1,
    ZRADIO_CTL_VOICEREC = 1u << 3,
    ZRADIO_CTL_SWRSCAN = 1u << 4,
    ZRADIO_CTL_ATU_ENABLE = 1u << 12,
    ZRADIO_CTL_ATU_TUNE = 1u << 13,
    ZRADIO_CTL_MODEM = 1u << 14,
    ZRADIO_CTL_CALIBRATION = 1u << 15,
    ZRADIO_CTL_POWEROFF = 1u << 16,
    ZRADIO_CTL_EXT_PTT = 1u << 18,
};
#define ZRADIO_WORD_CONTROL 12
#define ZRADIO_WORD_ATU 17
#define ZRADIO_WORD_REFRESH 55
#define ZRADIO_REFRESH_MARK 0x00100001u
// Time without a change before the whole block is written again.
#define ZRADIO_REFRESH_MS 1000

// Rebuilds the wanted register block from the parameter store and the
// transmit sources. GUI thread; never touches the bus.
void zradio_update_params();
// Packs one rebuild into words[56] (words 0..11 and 13..55 as the rebuild
// writes them; word 12 without bits 13 and 16, word 41 only when calFlag,
// otherwise words[41] is left alone). For tests and benchmarks.
void zradio_pack_params(zradio_t *radio, uint32_t *words);
// The push thread (started by zradio_create).
void *thread_remote_admin(void *arg);
// One pass of the push thread at time nowMs (monotonic ms): a requested
// whole block, every word that differs from the mirror (one write each),
// and the whole block when the refresh is due. A write of the block or of
// a word moves the refresh to ZRADIO_REFRESH_MS later. Returns when the
// next refresh is due. Push thread only (tests call it on a record
// without threads).
int64_t zradio_push_pass(zradio_t *radio, int64_t nowMs);
// Wakes the push thread for a pass now (a word or a request changed).
void zradio_push_wake(zradio_t *radio);
// Asks the push thread for one write of the whole block at once.
void zradio_request_full_push();

// Transmit sources, folded into the control word by the next rebuild.
void zradio_set_voice_recorde(uint8_t on);
void zradio_set_modem_trx(uint8_t on);
void zradio_set_swrscan_trx(uint8_t on);
void zradio_set_calibration_trx(uint8_t on);
void zradio_set_iptt(uint8_t on);
void zradio_set_civptt(uint8_t on);
// Gates the rebuild of word 41 (bias settings).
void zradio_set_calflag(uint8_t on);

// Antenna tuner: tune request bit (set at once, not at the next rebuild),
// the frame's tuner status bit, the network the board reports, and the
// network the board should use (word 17).
void zradio_atu_tune(uint8_t on);
uint8_t zradio_get_atu_status();
void zradio_get_atuparams(zrnamespace::zatu_network_t *out);
void zradio_set_atu_network(const zrnamespace::zatu_network_t *in);

// Reports from the last frame trailer (or its preset before the first frame).
uint8_t zradio_get_trx();
uint8_t zradio_get_vextflag();
uint8_t zradio_get_chgflag();
float zradio_get_report_txpower();  // W
float zradio_get_report_vswr();     // SWR x 10, raw
float zradio_get_report_alclevel(); // raw 0..255
float zradio_get_report_vext();     // V
float zradio_get_report_vbat();     // V
int zradio_get_report_batcap();     // percent

// Spectrum: copies a new spectrum (if one is ready) into out (room for 512
// values), sets count and remembers its peak level; 1, or 0 when none is
// ready. The peak level (dB) of the last spectrum collected.
int zradio_getfftmag(zradio_t *radio, float *out, uint32_t *count);
float zradio_getfftpeak(zradio_t *radio);
// Span exponent 0..4 (decimation 2^d). Larger values are refused.
void zradio_set_fft_dec(int d);
// Peak-search border, Hz relative to the carrier.
void zradio_set_fftpeak_search_border(float low, float high);
// Panadapter averaging from the "fftave"-style setting 0..10.
void zradio_set_rffftave(int a);

// Publishes the live radio status into the store (supply voltage, signal
// level, forward power, ALC, SWR, tuner run, charging) for the CAT
// interpreter. GUI thread, once per update tick; gotSpectrum tells whether
// the tick collected a new spectrum (the signal level follows it).
void zradio_update_live_status(zradio_t *radio, int gotSpectrum);

// Backlight from "bllevel"; power-off (save, power-off bit, "poweroff");
// the power-off bit alone.
void zradio_update_backlight();
void zradio_poweroff();
void zradio_remote_poweroff();

#endif
