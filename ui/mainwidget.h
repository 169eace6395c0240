#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include <QPointer>
#include <QVector>
#include <QWidget>

#include <cstdint>

class CivDeviceAdmin;
class QTimer;
class ZAudio;
struct zradio_t;
class ZParamAdmin;
class ZScopeGL;
class ZVFOFrequencyWidget;

// The one top-level window (800 × 480, the whole touch screen). It owns the
// radio link and every subsystem that runs for the life of the process.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // The parameter store (owned here until the radio link owns it).
    ZParamAdmin *paramAdmin() const { return m_paramAdmin; }

    // The panadapter and the front VFO readout.
    ZScopeGL *scope() const { return m_scope; }
    ZVFOFrequencyWidget *mainVfo() const { return m_mainVfo; }
    // One spectrum frame (dB per bin, as collected from the radio link):
    // shown on the panadapter and waterfall with the next repaint.
    void feedSpectrum(const float *mag, int count);

public slots:
    // Requests of the CI-V interpreter (queued from its worker thread).
    void slot_civTrxStatus(int32_t flag);
    void slot_civSetAtu(int32_t flag);
    void slot_civSetTimeMinSec(int32_t min, int32_t sec);
    void slot_civSetDate(int32_t year, int32_t month, int32_t day);
    void slot_civSetUtcOffset(int32_t offset);
    void slot_timerUpdate();
    void slot_delayInitProcess();
    void slot_appFatalErrorReset(int32_t err);
    // The modem dialog's transmit state: the radio goes into (1) or out of
    // (0) modem transmit.
    void slot_modemTrxReceiver(uint8_t state);

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    void spectrumInit();
    void updateScopeAndVfo();

    zradio_t *m_radio = nullptr;
    QTimer *m_updateTimer = nullptr;
    QPointer<QTimer> m_delayTimer;
    ZAudio *m_audio = nullptr;
    CivDeviceAdmin *m_civAdmin = nullptr;
    ZScopeGL *m_scope = nullptr;
    ZVFOFrequencyWidget *m_mainVfo = nullptr;
    QVector<float> m_spectrum;
    ZParamAdmin *m_paramAdmin = nullptr;
    bool m_firstTick = true;
};

#endif
