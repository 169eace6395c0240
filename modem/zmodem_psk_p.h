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
    double corrStep;
    double winLo, winHi;
    bool afcApplied;
    int acquire;

    float agc;
    psk_cf t1, t2;
    float freqAvg;
    float phaseErr;

    float bins[16];
    int binCount;
    int sampleBin;
    int peakBin;
    double clock;
    double clockStep;
    int prevSampleBin;
    int driftCount;
    int driftTicks;
    int clockDrift;

    psk_cf prevSym;
    psk_cf prevSym2;
    float errAvg;
    int revCount;
    int steadyCount;
    int errSignCount;
    int errSign;
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
