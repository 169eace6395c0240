#ifndef ZRMODEM_H
#define ZRMODEM_H

// The modem host: while the modem dialog is open it owns the receiver-audio
// capture ("mixcapture"), the transmit-audio playback ("mixplayback"), one of
// every demodulator and modulator, and two POSIX threads:
//
//   thread_dem  reads the capture in blocks of N samples, runs the tone
//               tracker (level, squelch, AFC) and the demodulator of the mode;
//   thread_mod  pulls half-periods from the modulator of the mode while the
//               transmit flag is set and plays them; silence before the first
//               transmission, a drained (paused) stream after each one.
//
// Hand-overs. The GUI thread writes mode, AFC enable, squelch threshold,
// receive scale and the transmit flag, and reads level, squelch, tracked
// frequency and the flag; each is an atomic with one writer per direction
// (the flag: set by the GUI, cleared by the modulator thread). The modems
// take their settings as requests that their own thread applies, and their
// text queues are safe to post to from the GUI thread.
//
// The threads never block for long: both streams run non-blocking and every
// wait on the device is bounded, so a stalled or missing sound card cannot
// hold up the stop flags. Destruction ends within about 150 ms.

#include <QString>

#include <atomic>
#include <complex>
#include <cstdint>
#include <pthread.h>
#include <vector>

#include "modem/cw_dem.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"

struct zaudio_pcm_t;
struct ZRModemOps;

class ZRModem
{
public:
    enum Mode { ModeBPSK = 0, ModeRTTY = 1, ModeCW = 2, ModeCount = 3 };

    // Both streams are opened at fs, the rate the modems run at; a device
    // that grants another rate is logged.
    ZRModem(float fc = 1000.0f, uint32_t fs = 16000, uint32_t N = 1024);
    ~ZRModem();
    ZRModem(const ZRModem &) = delete;
    ZRModem &operator=(const ZRModem &) = delete;

    // Thread bodies; the argument is the ZRModem.
    static void *thread_dem(void *arg);
    static void *thread_mod(void *arg);
    // Starts both threads, logging a failure; 0 or the first pthread error.
    // (The dialog may also start them itself and fill in the handles.)
    int start();

    // Nominal tone (CW: the decoder's pitch) or centre frequency in Hz.
    void setFc(float fc);
    float fc() const { return m_fc.load(std::memory_order_relaxed); }
    static QString modeName(int mode);

    // Transmit flag: set after posting text (GUI thread), cleared by the
    // modulator thread once every modulator is idle. A post that lands while
    // the modulator thread is ending the previous transmission keeps the flag
    // up, so queued text is never left behind with the flag down.
    void setTransmitFlag(uint8_t on);
    uint8_t transmitFlag() const { return m_txFlag.load(std::memory_order_acquire); }
    // Queues text on the modulator of the current mode and sets the transmit
    // flag (RTTY: Latin-1 bytes; BPSK: the text). CW is keyed by the Morse
    // sender, not here: false. Empty text: false.
    bool postText(const QString &text);
    // What the radio is told: transmitting unless the flag is down or the
    // mode is CW.
    uint8_t trxState() const;
    // Pops one character decoded by the demodulator of the current mode; 0
    // when there is none.
    int getChar(char *out);

    // Fed by the demodulator thread (tests call it directly): interleaved
    // stereo frames as read from the capture. Appends them unless the
    // transmit flag is set, then processes at most one block (tone tracker,
    // mode change, demodulator); returns 1 when a block was processed.
    int rxFrames(const int16_t *frames, size_t n);

    // What the modulator thread does with one pass, without the device:
    // fills `period` (interleaved stereo, M frames) and says what to do.
    enum ModAction {
        ModWrite,  // play the M frames
        ModResume, // prepare the drained stream, then play them
        ModPause,  // nothing left to send: the flag fell; drain, do not play
        ModSkip    // paused and idle (or a CW pass while paused): play nothing
    };
    ModAction modStep(int16_t *period, unsigned M, bool paused);

    // Settings written by the GUI thread.
    std::atomic<int> mode{ModeBPSK};        // 0 BPSK, 1 RTTY, 2 CW
    std::atomic<uint8_t> afcEnable{0};
    std::atomic<float> sqlThreshold{20.0f};
    std::atomic<float> rxScale{1.0f};       // 0 while the Morse sender keys

    // Results read by the GUI thread.
    std::atomic<float> trackedFc;           // fc + AFC offset (AFC on), else fc
    std::atomic<float> level{0.0f};         // smoothed tone level 0..100
    std::atomic<uint8_t> sqlClosed{0};
    std::atomic<float> afcOffset{0.0f};     // reported offset (0 with AFC off)

    // Counters for diagnostics, tests and benchmarks.
    std::atomic<uint64_t> blocksProcessed{0};
    std::atomic<uint64_t> framesIgnored{0}; // received while transmitting
    std::atomic<uint32_t> cwInits{0};       // mode changes seen by the decoder side

    // Modems, owned; one that refused its arguments stays null (logged) and
    // its mode neither receives nor transmits.
    cw_dem_t *cwDem = nullptr;
    rtty_dem_t *rttyDem = nullptr;
    ZModemPSKDem *pskDem = nullptr;
    rtty_mod_t *rttyMod = nullptr;
    ZModemPSKMod *pskMod = nullptr;

    // Streams, owned; a stream that failed keeps a null handle.
    zaudio_pcm_t *capture = nullptr;
    zaudio_pcm_t *playback = nullptr;

    // Threads.
    pthread_t demThread{};
    pthread_t modThread{};
    bool demStarted = false;
    bool modStarted = false;
    std::atomic<uint8_t> demStop{0};
    std::atomic<uint8_t> modStop{0};

    const uint32_t N;
    const uint32_t fs;

    // Tone-tracker constants.
    static constexpr float kLevelAttack = 0.1f;
    static constexpr float kLevelRelease = 0.001f;
    static constexpr float kDiscGain = 0.1f;
    static constexpr float kLoopCoef = 0.001f;
    static constexpr float kOffsetMin = -50.0f;
    static constexpr float kOffsetMax = 50.0f;
    static constexpr float kSqlHysteresis = 5.0f;
    static constexpr unsigned kDecim = 16;
    // The CW decoder follows the AFC in steps of this many Hz.
    static constexpr float kCwAfcStep = 2.0f;

private:
    friend struct ZRModemOps;
    static const ZRModemOps *ops(int mode);
    void track(float x);
    void trackDecimated(std::complex<float> y);
    void demodulate(float *samples);
    void demodulateCw(float *samples, unsigned n);
    void stopModulatorOf(int mode);
    void readCapture();
    void drainPlayback();
    void writePlayback(const int16_t *period, unsigned M);
    bool sleepUnlessStopped(const std::atomic<uint8_t> &stop, int ms);

    std::atomic<float> m_fc;
    std::atomic<double> m_ncoBase{0.0};     // 2π·fc/fs, written by setFc

    // Demodulator thread only.
    int m_prevMode;
    std::vector<float> m_rx;                // receive samples, N
    std::vector<int16_t> m_acc;             // interleaved frames awaiting a block
    size_t m_accFrames = 0;
    double m_ncoPhase = 0.0;
    double m_ncoOffset = 0.0;               // 2π·offset/fs
    void *m_decim = nullptr;                // firdecim_crcf
    void *m_lowpass = nullptr;              // firfilt_crcf
    std::complex<float> m_decIn[kDecim];
    unsigned m_decFill = 0;
    std::complex<float> m_prevY{0.0f, 0.0f};
    float m_loopState = 0.0f;
    float m_offset = 0.0f;
    float m_level = 0.0f;
    bool m_sqlClosed = false;
    float m_cwAfcTone = -1000.0f;           // tone last handed to the CW decoder by the AFC
    unsigned m_capErrors = 0;

    // Modulator thread only.
    int m_modPrevMode;
    std::vector<float> m_tx;                // transmit samples, up to 1024
    unsigned m_playErrors = 0;

    // Transmit flag and the count of posts, for the end-of-transmission check.
    std::atomic<uint8_t> m_txFlag{0};
    std::atomic<uint32_t> m_txPosts{0};
};

#endif
