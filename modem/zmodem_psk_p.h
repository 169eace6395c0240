#ifndef ZMODEM_PSK_P_H
#define ZMODEM_PSK_P_H

// The PSK demodulator's and modulator's records, private to
// modem/zmodem_psk.cpp.

#include "modem/zmodem_psk.h"
#include "modem/zmodem_ring.h"

// <complex> first: liquid-dsp then uses std::complex<float> for its
// complex type.
#include <complex>
#include <liquid/liquid.h>

#include <QByteArray>
#include <QMutex>

#include <atomic>

typedef std::complex<float> psk_cf;

// The sequence detector's states: the boundary between characters, idle
// zeros, each prefix of a varicode code and each code followed by its first
// separating zero, and a steady carrier (ones beyond any code) with its
// first zero, each with the sign of the last symbol; and how many symbols
// it looks back.
#define PSK_TRIE_NODES 260
#define PSK_VIT_STATES (2 * PSK_TRIE_NODES)
#define PSK_PATH_DEPTH 64

struct psk_dem_s {
    float fs;
    float fw;              // working rate after the first decimation
    float fwAdj;           // working rate with the clock adjustment
    float fc;
    unsigned D[PSK_RATES]; // symbol decimation per rate: 16 samples per symbol
    int rateApplied;
    unsigned Dcur;
    firdecim_rrrf preDecim;
    firdecim_crcf symDecim;
    firfilt_crcf symFilter;
    firfilt_crcf trkFilter;
    float preBuf[2];
    int preFill;
    psk_cf decBuf[64];
    unsigned decFill;

    double phase;
    double ncoStep;
    double winLo, winHi;
    bool afcApplied;
    int acquire;

    float agc;

    // Acquisition (see zmodem_psk.cpp): the last samples before the symbol
    // filter, searched for a station's carrier line.
    fftplan acqPlan;
    psk_cf *acqIn, *acqOut;
    psk_cf acqRing[1024];
    float acqWin[1024];
    unsigned acqFill, acqCount, acqHop;
    bool found;             // a station's line was found
    // Symbol timing: matched-filter outputs of the last symbols, the time
    // of the next symbol sample in working samples, and the period.
    psk_cf hist[64];
    uint64_t ns;            // decimated samples so far
    double tnext;
    double period;          // samples per symbol (16, with the clock adjustment)
    // Carrier tracking: the phase correction, the lock indicator.
    float theta;
    float lock;
    bool coherent;
    bool tracking;          // the loop ran on the last symbol
    float level;            // mean |symbol| in phase, for the ISI term
    // Sequence detector for the coherent symbols (see zmodem_psk.cpp): path
    // metrics of its states, and for the last kPathDepth symbols each
    // state's predecessor, the character its step completed (-1: none) and
    // the squelch then.
    float *vit;             // PSK_VIT_STATES
    uint16_t (*pred)[PSK_VIT_STATES];
    int8_t (*done)[PSK_VIT_STATES];
    bool sq[PSK_PATH_DEPTH];
    uint64_t vitN;          // steps taken since it started
    psk_cf prevSym;
    // Quality: the error average and the runs of each kind of symbol.
    float errAvg;
    int revCount;
    int steadyCount;
    int quality;
    int squelchLevel;
    bool squelch;
    int openSymbols;

    uint32_t varReg;
    bool zeroSeen;
    uint8_t decodeTable[2048];

    void (*cb)(void *, char);
    void *cbUser;

    ZModemRing<200> out;
    std::atomic<uint64_t> scatter[16]; // two floats each, read by the GUI
    std::atomic<unsigned> scatterPos;

    std::atomic<int> qualityOut;
    std::atomic<bool> squelchOut;
    std::atomic<float> rxFreqOut;
    std::atomic<int> rateReq;
    std::atomic<int> afcReq;
    std::atomic<float> fcReq;
    std::atomic<int> fcSet;
    std::atomic<float> ppmReq;
    float ppm;
};

struct psk_mod_s {
    QMutex lock;            // guards pending between the GUI and the modulator thread
    QByteArray pending;
    uint8_t bits[24];
    int bitLen;
    int bitPos;
    double symPos;          // 0..512 within the current symbol
    float shape[512];
    float amp;
    float sign;
    double phase;
    std::atomic<double> step;
    std::atomic<float> fs;
    std::atomic<float> fc;
    std::atomic<int> rate;
    int preamble;
    int postamble;
    void (*cb)(void *, uint32_t);
    void *cbUser;
    std::atomic<uint32_t> sent;
    std::atomic<bool> active;
    std::atomic<bool> finished;
    std::atomic<bool> startReq;
};

#endif
