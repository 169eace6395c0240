#include "tests/rig_support.h"

#include "radio/zradio.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QtTest>

namespace ztest {

Rig::Rig()
{
    connect(&m_timer, &QTimer::timeout, this, &Rig::slot_timerUpdate);
}

Rig::~Rig()
{
    m_timer.stop();
    if (m_radio)
        zradio_destroy(m_radio);
    m_radio = nullptr;
    m_sim.stop();
    setSysroot(QString());
}

bool Rig::start(bool fullbandTx)
{
    if (!m_dir.isValid())
        return false;
    const QString root = m_dir.path();
    QDir().mkpath(root + QStringLiteral("/etc/zrradio"));
    if (fullbandTx) {
        QFile f(root + QStringLiteral("/etc/zrradio/zrradio.conf"));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("[mods]\nfullband-tx=enable\nbands-cfg=0\n");
    }
    if (!m_sim.start(root, 15000))
        return false;
    // The sound devices and every system path resolve under the root.
    setSysroot(root);
    m_radio = zradio_create("/dev/i2c-0", 114);
    if (!m_radio)
        return false;
    zradio_set_voice_recorde(0);
    zradio_set_modem_trx(0);
    zradio_set_swrscan_trx(0);
    zradio_set_civptt(0);
    zradio_set_iptt(0);
    QElapsedTimer t;
    t.start();
    while (!zradio_comm_valid() && t.elapsed() < 15000)
        QTest::qWait(20);
    if (!zradio_comm_valid())
        return false;
    m_timer.start(50);
    return true;
}

ZParamAdmin *Rig::store() const
{
    return m_radio ? m_radio->param : nullptr;
}

bool Rig::status(uint32_t *words, int *tx)
{
    const QStringList f = m_sim.command("status").split(QLatin1Char(' '));
    // The wireless daemon's wifi= and bt= may follow atu=.
    if (f.size() < 1 + ZRADIO_REG_WORDS + 2 || f[0] != QLatin1String("ok"))
        return false;
    for (int i = 0; i < ZRADIO_REG_WORDS; ++i)
        words[i] = f[1 + i].toUInt(nullptr, 16);
    if (tx)
        *tx = f[57].mid(3).toInt();
    return true;
}

bool Rig::transmitting() const
{
    return zradio_get_trx() != 0;
}

qint64 Rig::keyedMs() const
{
    return m_keyed ? m_keyClock.elapsed() : m_keyedMs;
}

void Rig::slot_swrScanNextPoint()
{
    m_swrPending = true;
}

void Rig::slot_swrScanTrxReceiver(uint8_t trx)
{
    zradio_set_swrscan_trx(trx);
}

void Rig::slot_modemTrxReceiver(uint8_t trx)
{
    zradio_set_modem_trx(trx);
}

void Rig::slot_timerUpdate()
{
    float mag[ZRADIO_FFT_LEN];
    uint32_t count = 0;
    const bool tx = zradio_get_trx() != 0;
    if (tx != m_keyed) {
        m_keyed = tx;
        if (tx) {
            m_keyings++;
            m_keyClock.start();
        } else {
            m_keyedMs = m_keyClock.elapsed();
        }
    }
    // The meters follow each new frame; while transmitting the smoothed
    // SWR answers a pending request of the scanner.
    if (zradio_getfftmag(m_radio, mag, &count) && tx) {
        m_swr = 0.9f * (zradio_get_report_vswr() * 0.1f) + 0.1f * m_swr;
        if (m_swrPending) {
            m_swrPending = false;
            emit sig_postSwrValue(m_swr);
        }
    }
    zradio_update_params();
}

} // namespace ztest
