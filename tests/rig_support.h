#ifndef RIG_SUPPORT_H
#define RIG_SUPPORT_H

// The radio as the panels meet it in the application, for end-to-end
// tests: the real simulator on a temporary system root, the radio link in
// this process, and a stand-in for the main window's part: a 50 ms tick
// that reads the board's reports, answers the SWR scanner's requests on the
// next transmitting tick with the smoothed SWR, forwards the transmit
// requests and rebuilds the register block.

#include "tests/test_support.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>

struct zradio_t;
class ZParamAdmin;

namespace ztest {

class Rig : public QObject
{
    Q_OBJECT

public:
    Rig();
    ~Rig() override;

    // Starts the simulator and the radio link and waits for the first
    // frames; fullbandTx allows transmitting on every frequency (the
    // radio's own "fullband-tx" option).
    bool start(bool fullbandTx);
    QString root() const { return m_dir.path(); }
    ZParamAdmin *store() const;
    Sim &sim() { return m_sim; }

    // The simulator's status line: the 56 register words as the board got
    // them, and whether it transmits.
    bool status(uint32_t *words, int *tx);
    // Board transmit state as the link reports it.
    bool transmitting() const;
    // Time the radio has been reported transmitting, in ms, from the first
    // keyed tick to the last (0 before).
    qint64 keyedMs() const;
    int keyings() const { return m_keyings; }

signals:
    void sig_postSwrValue(float swr);

public slots:
    void slot_swrScanNextPoint();
    void slot_swrScanTrxReceiver(uint8_t trx);
    void slot_modemTrxReceiver(uint8_t trx);

private slots:
    void slot_timerUpdate();

private:
    QTemporaryDir m_dir;
    Sim m_sim;
    zradio_t *m_radio = nullptr;
    QTimer m_timer;
    bool m_swrPending = false;
    float m_swr = 0.0f;
    bool m_keyed = false;
    int m_keyings = 0;
    QElapsedTimer m_keyClock;
    qint64 m_keyedMs = 0;
};

} // namespace ztest

#endif
