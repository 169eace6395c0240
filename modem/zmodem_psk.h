#ifndef ZMODEM_PSK_H
#define ZMODEM_PSK_H

// BPSK with varicode (PSK31, PSK63, PSK125). The demodulator psk_dem_t turns
// receiver audio (host scale, raw 16-bit values) into characters with
// automatic frequency control, symbol timing, a quality figure and a
// squelch; the modulator psk_mod_t turns queued text into a cosine-shaped
// BPSK signal in -1..1. Both records are opaque (modem/zmodem_psk_p.h);
// setters store a request that the next processing call applies, getters
// and the text and character queues may be used from another thread.
//
// ZModemPSKDem and ZModemPSKMod wrap them for the modem dialog, which
// connects to their signals.

#include <QObject>
#include <QString>

#include <atomic>
#include <stdint.h>

namespace PSKModem {
typedef struct {
    float re;
    float im;
} _PSK_COMPLEX;
}

typedef struct psk_dem_s psk_dem_t;
typedef struct psk_mod_s psk_mod_t;

// Rate indices: 0 PSK31 (31.25 Bd), 1 PSK63, 2 PSK125.
#define PSK_RATES 3

// fs a multiple of 4 kHz from 8 kHz up (the symbol rates must divide it),
// fc inside (0, fs/2); otherwise the reason is logged and the result is null.
psk_dem_t *psk_dem_create(float fs, float fc);
void psk_dem_destroy(psk_dem_t *q);
// Forgets the signal (filters, timing, frequency error, varicode, queue);
// the settings and the tuned frequency stay.
void psk_dem_reset(psk_dem_t *q);
// Processes a block; 0 when the block was dropped because a new rate was
// applied first, else 1.
int psk_dem_process(psk_dem_t *q, const float *x, unsigned n);
// Pops one decoded character; 0 when there is none.
int psk_dem_getchar(psk_dem_t *q, char *out);
// Called on the processing thread for each decoded character.
void psk_dem_set_callback(psk_dem_t *q, void (*cb)(void *user, char c), void *user);
// A rate outside 0..2 is refused when applied ("Error Baudrate!").
void psk_dem_set_rate(psk_dem_t *q, int index);
int psk_dem_get_rate(psk_dem_t *q);
void psk_dem_set_afc(psk_dem_t *q, int on);
// Carrier in Hz: re-centres the AFC window (fc ± 50 Hz) and re-acquires.
void psk_dem_set_fc(psk_dem_t *q, float hz);
void psk_dem_set_clock_adj(psk_dem_t *q, float ppm);
int psk_dem_get_quality(psk_dem_t *q);
int psk_dem_get_squelch(psk_dem_t *q);
// The frequency the demodulator is tuned to now (with the AFC's offset).
float psk_dem_get_frequency(psk_dem_t *q);
// The last symbols' differential I/Q values (up to 16), oldest first.
int psk_dem_get_scatter(psk_dem_t *q, PSKModem::_PSK_COMPLEX *out, int max);

// fs of at least 1 kHz, fc inside (0, fs/2).
psk_mod_t *psk_mod_create(float fs, float fc);
void psk_mod_destroy(psk_mod_t *q);
// Drops the text and any transmission in progress at once; not while
// another thread runs psk_mod_process.
void psk_mod_reset(psk_mod_t *q);
// Appends bytes (character codes 0..255) and starts sending.
void psk_mod_post_message(psk_mod_t *q, const char *text, int len);
void psk_mod_process(psk_mod_t *q, float *out, unsigned n);
// Called on the processing thread with the sent counter after each
// character taken from the text.
void psk_mod_set_callback(psk_mod_t *q, void (*cb)(void *user, uint32_t sent), void *user);
void psk_mod_set_fc(psk_mod_t *q, float fc);
void psk_mod_set_fs(psk_mod_t *q, float fs);
void psk_mod_set_rate(psk_mod_t *q, int index);
int psk_mod_get_rate(psk_mod_t *q);
// Drops the pending text; the transmission ends after the character in
// progress and the postamble.
void psk_mod_force_stop(psk_mod_t *q);
uint32_t psk_mod_get_sent_counter(psk_mod_t *q);
void psk_mod_reset_sent_counter(psk_mod_t *q);
int psk_mod_is_finish(psk_mod_t *q);
// 1 while sending (preamble, text or postamble) or about to start.
int psk_mod_is_active(psk_mod_t *q);

class ZModemPSKDem : public QObject
{
    Q_OBJECT
public:
    explicit ZModemPSKDem(QObject *parent = nullptr, float fs = 16000, float fc = 1000);
    ~ZModemPSKDem() override;

    // Null when the demodulator refused its arguments; every call is then
    // a no-op.
    psk_dem_t *handle() const { return m_q; }

    void exec(const float *samples, int n);
    void setRXFrequency(float hz);
    void setSampleClkAdj(float ppm);
    int getSingleChar(char *out);
    // 0 PSK31, 1 PSK63, 2 PSK125; AFC on or off.
    void setRateIndex(int index);
    int rateIndex() const;
    void setAfcEnable(bool on);

    int quality() const;
    bool squelchOpen() const;
    float actualFrequency() const;
    int scatter(PSKModem::_PSK_COMPLEX *out, int max) const;
    static int instances();

signals:
    void sig_demCharReady(const QChar &c);
    void sig_demRSSI(int quality);
    void sig_demActualFC(float hz);

private:
    static void charReady(void *user, char c);

    psk_dem_t *m_q = nullptr;
    static std::atomic<int> s_instances;
};

class ZModemPSKMod : public QObject
{
    Q_OBJECT
public:
    explicit ZModemPSKMod(QObject *parent = nullptr, float fs = 16000, float fc = 1000);
    ~ZModemPSKMod() override;

    psk_mod_t *handle() const { return m_q; }

    void SetCarrier(float fc);
    void SetFS(float fs);
    void exec(float *out, int n);
    // 0 PSK31, 1 PSK63, 2 PSK125.
    void setRateIndex(int index);

    bool isFinished() const;
    bool isActive() const;
    int sentCounter() const;
    void resetSentCounter();

public slots:
    // Characters above 255 are sent as code 0.
    void slot_modMsgReceiver(const QString &text);
    void slot_modStop();

signals:
    void sig_txCharCount(int count);

private:
    static void charSent(void *user, uint32_t count);

    psk_mod_t *m_q = nullptr;
};

#endif
