#ifndef ZMODEM_PSK_H
#define ZMODEM_PSK_H

// BPSK with varicode (PSK31, PSK63, PSK125). ZModemPSKDem turns receiver
// audio (host scale, raw 16-bit values) into characters with automatic
// frequency control, symbol timing, a quality figure and a squelch;
// ZModemPSKMod turns queued text into a cosine-shaped BPSK signal in -1..1.

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <complex>
#include <stdint.h>

#include "modem/zmodem_ring.h"

namespace PSKModem {
typedef struct {
    float re;
    float im;
} _PSK_COMPLEX;
}

class ZModemPSKDem : public QObject
{
    Q_OBJECT
public:
    explicit ZModemPSKDem(QObject *parent = nullptr, float fs = 16000, float fc = 1000);
    ~ZModemPSKDem() override;

    void exec(float *samples, int n);
    void setRXFrequency(float hz);
    void setSampleClkAdj(float ppm);
    int getSingleChar(char *out);

    int quality() const { return m_qualityOut; }
    bool squelchOpen() const { return m_squelchOut; }
    float actualFrequency() const { return m_rxFreqOut; }
    // Copies the last symbols' differential I/Q values (up to 16).
    int scatter(PSKModem::_PSK_COMPLEX *out, int max) const;
    static int instances();

    // Written by the dialog: 0 PSK31, 1 PSK63, 2 PSK125; AFC on or off.
    std::atomic<int> m_rateIndex{0};
    std::atomic<bool> m_afcEnable{true};

signals:
    void sig_demCharReady(const QChar &c);
    void sig_demRSSI(int quality);
    void sig_demActualFC(float hz);

private:
    typedef std::complex<float> cf;
    void applyRate(int index);
    void resetDetector();
    void clearFreqError();
    void processSample(cf z);
    void freqError(cf t);
    bool symbolSync(cf s);
    void decodeSymb(cf s);
    void qualityStep(float angle);
    void putChar(char c);

    float m_fs;
    float m_fw;          // working rate after the first decimation
    float m_fwAdj;       // working rate with the clock adjustment
    float m_fc;
    int m_rateApplied = 0;
    unsigned m_D = 16;
    void *m_preDecim = nullptr;   // firdecim_rrrf
    void *m_symDecim = nullptr;   // firdecim_crcf
    void *m_symFilter = nullptr;  // firfilt_crcf
    void *m_trkFilter = nullptr;  // firfilt_crcf
    float m_preBuf[2];
    int m_preFill = 0;
    cf m_decBuf[16];
    unsigned m_decFill = 0;

    double m_phase = 0;
    double m_ncoStep = 0;
    double m_corrStep = 0;
    double m_winLo = 0, m_winHi = 0;
    bool m_afcApplied = true;
    int m_acquire = 0;

    float m_agc = 0;
    cf m_t1, m_t2;
    float m_freqAvg = 0;
    float m_phaseErr = 0;    // q

    float m_bins[16];
    int m_binCount = 0;
    int m_sampleBin = 0;
    int m_peakBin = 5;
    double m_clock = 0;
    double m_clockStep = 0;
    int m_prevSampleBin = 0;
    int m_driftCount = 0;
    int m_driftTicks = 0;
    int m_clockDrift = 0;

    cf m_prevSym;
    cf m_prevSym2;
    float m_errAvg = 90;
    int m_revCount = 0;
    int m_steadyCount = 0;
    int m_errSignCount = 0;
    int m_errSign = 0;
    int m_quality = 10;
    int m_squelchLevel = 30;
    bool m_squelch = false;
    int m_openSymbols = 0;

    uint32_t m_varReg = 0;
    bool m_zeroSeen = false;
    uint8_t m_decodeTable[2048];

    ZModemRing<200> m_out;
    std::atomic<uint64_t> m_scatter[16]; // two floats each, read by the GUI
    std::atomic<unsigned> m_scatterPos{0};

    std::atomic<int> m_qualityOut{0};
    std::atomic<bool> m_squelchOut{false};
    std::atomic<float> m_rxFreqOut{0};
    std::atomic<float> m_fcReq;
    std::atomic<int> m_fcSet{0};
    std::atomic<float> m_ppmReq{0};
    float m_ppm = 0;

    static std::atomic<int> s_instances;
};

class ZModemPSKMod : public QObject
{
    Q_OBJECT
public:
    explicit ZModemPSKMod(QObject *parent = nullptr, float fs = 16000, float fc = 1000);
    ~ZModemPSKMod() override;

    void SetCarrier(float fc);
    void SetFS(float fs);
    void exec(float *out, int n);

    bool isFinished() const { return m_finished; }
    bool isActive() const { return m_active || m_startReq; }
    int sentCounter() const { return m_sent; }
    void resetSentCounter() { m_sent = 0; }

    // 0 PSK31, 1 PSK63, 2 PSK125.
    std::atomic<int> m_rateIndex{0};

public slots:
    void slot_modMsgReceiver(const QString &text);
    void slot_modStop();

signals:
    void sig_txCharCount(int count);

private:
    bool refill();
    void start();

    QMutex m_lock;          // guards m_pending between the GUI and the modulator thread
    QString m_pending;
    uint8_t m_bits[24];
    int m_bitLen = 0;
    int m_bitPos = 0;
    int m_symPos = 0;
    float m_shape[512];
    float m_amp = 0;
    float m_sign = 1;
    double m_phase = 0;
    std::atomic<double> m_step;
    std::atomic<float> m_fs;
    std::atomic<float> m_fc;
    int m_preamble = 0;
    int m_postamble = 0;
    std::atomic<int> m_sent{0};
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_finished{true};
    std::atomic<bool> m_startReq{false};
};

#endif
