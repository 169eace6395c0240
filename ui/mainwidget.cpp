#include "ui/mainwidget.h"

#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "audio/zaudio.h"
#include "ui/zfonts.h"
#include "params/zparamadmin.h"
#include "app/zlog.h"
#include "app/zqrc.h"
#include "radio/zradio.h"
#include "app/zrmisc.h"
#include "spectrum/zscopegl.h"
#include "ui/zvfofrequencywidget.h"

#include <QDebug>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <QTimer>

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainWidget"));
    setFixedSize(800, 480);
    setWindowTitle(QStringLiteral("ZR450"));
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/mainwidget.qss")));
    ZFonts::install();
    spectrumInit();

    // Step 8: the radio link (it creates the parameter store).
    m_radio = zradio_create("/dev/i2c-0", 114);
    char ident[ZRADIO_IDENT_LEN + 1];
    if (zradio_get_ident(ident, sizeof(ident)) == 0)
        qCInfo(logRig).noquote() << "BASE    :" << ident;

    // The store opened "zparam.db", merged the definition text and loaded
    // every item; the radio link owns it.
    m_paramAdmin = m_radio ? m_radio->param : nullptr;
    // The board gets the whole register block once the settings are in it,
    // and no transmit source is left over from a previous run.
    zradio_request_full_push();
    zradio_set_voice_recorde(0);
    zradio_set_modem_trx(0);
    zradio_set_swrscan_trx(0);
    zradio_set_civptt(0);
    zradio_set_iptt(0);

    m_updateTimer = new QTimer(this);
    connect(m_updateTimer, &QTimer::timeout, this, &MainWidget::slot_timerUpdate);
    m_updateTimer->start(50);

    // Main VFO readout: eight digits, the tuning-step digit inverted.
    m_mainVfo = new ZVFOFrequencyWidget(this, 8);
    QFont vfoFont(QStringLiteral("Bahnschrift SemiBold SemiConden"), 42);
    vfoFont.setWeight(75);
    m_mainVfo->setFont(vfoFont);
    m_mainVfo->move(12, 58);
    updateScopeAndVfo();

    // CAT control: the CI-V device on its worker thread, serving the wired
    // port at 19200 baud (termios speed code 14), the Bluetooth port and
    // the network server's port.
    m_civAdmin = new CivDeviceAdmin(this);
    CivDevice *civ = m_civAdmin->device();
    connect(civ, &CivDevice::sig_setTrxStatus, this, &MainWidget::slot_civTrxStatus);
    connect(civ, &CivDevice::sig_setAtuStatus, this, &MainWidget::slot_civSetAtu);
    connect(civ, &CivDevice::sig_setDate, this, &MainWidget::slot_civSetDate);
    connect(civ, &CivDevice::sig_setTimeMinSec, this, &MainWidget::slot_civSetTimeMinSec);
    connect(civ, &CivDevice::sig_setUtcOffset, this, &MainWidget::slot_civSetUtcOffset);
    civ->setParams(m_paramAdmin, QStringLiteral("/dev/ttyS2"), 14);
    emit m_civAdmin->start();

    // The delayed second stage runs once, about 5 s after construction.
    QTimer *delay = new QTimer(this);
    delay->setSingleShot(true);
    connect(delay, &QTimer::timeout, delay, &QObject::deleteLater);
    connect(delay, &QObject::destroyed, this, &MainWidget::slot_delayInitProcess);
    delay->start(5000);
    m_delayTimer = delay;

    qCInfo(logSystem) << "Main window inited.";
}

MainWidget::~MainWidget()
{
    // A window closed within the first seconds deletes the pending timer with
    // its children; that must not run the delayed stage on a dying window.
    if (m_delayTimer)
        disconnect(m_delayTimer, nullptr, this, nullptr);
    if (m_audio) {
        // Once the event loop has ended a deferred delete never runs, and the
        // capture thread would outlive the window into the process exit.
        if (QThread::currentThread()->loopLevel() > 0)
            m_audio->deleteLater();
        else
            delete m_audio;
        m_audio = nullptr;
    }
    m_updateTimer->stop();
    delete m_scope;
    m_scope = nullptr;
    delete m_mainVfo;
    m_mainVfo = nullptr;
    // The CI-V worker uses the store: it ends before the radio link (and
    // with it the store) goes.
    delete m_civAdmin;
    m_civAdmin = nullptr;
    m_paramAdmin = nullptr;
    zradio_destroy(m_radio);
    m_radio = nullptr;
}

void MainWidget::slot_timerUpdate()
{
    if (m_firstTick) {
        m_firstTick = false;
        m_scope->setStatusText(QStringLiteral("IDLE"));
        return;
    }
    // Newest spectrum from the radio link's reader thread, if one is ready.
    float mag[ZRADIO_FFT_LEN];
    uint32_t count = 0;
    const int got = zradio_getfftmag(m_radio, mag, &count);
    if (got)
        feedSpectrum(mag, int(qMin<uint32_t>(count, ZRADIO_FFT_LEN)));
    // Live status for the CAT interpreter.
    zradio_update_live_status(m_radio, got);
    updateScopeAndVfo();
    // Last: the settings as they now stand go to the board.
    zradio_update_params();
}

// The tuning dial (wheel events with Alt from the input thread) tunes the
// front VFO by one tuning step per count, unless locked or in memory mode.
void MainWidget::wheelEvent(QWheelEvent *event)
{
    ZParamAdmin *s = m_paramAdmin;
    const int delta = event->angleDelta().y();
    if (s && event->modifiers() == Qt::AltModifier && delta != 0
        && s->paramItem(QStringLiteral("wparam"), QStringLiteral("lock")).value.toInt() == 0 && s->vm() == 0)
        s->modifyFrequncy(-delta);
    event->accept();
}

void MainWidget::spectrumInit()
{
    m_scope = new ZScopeGL(this, 0, 176, 800, 250);
    QList<float> vGrid;
    for (int i = 1; i <= 9; ++i)
        vGrid << float(i * 800) / 10.0f;
    m_scope->setVerticalGrid(vGrid);
    QList<float> hGrid;
    for (int j = 1; j <= 4; ++j)
        hGrid << float(j * m_scope->spectrumHeight()) / 5.0f;
    m_scope->setHorizontalGrid(hGrid);
    m_scope->setDivisions(hGrid.size() + 2);
}

void MainWidget::feedSpectrum(const float *mag, int count)
{
    if (!mag || count <= 0)
        return;
    m_spectrum.resize(count);
    std::copy(mag, mag + count, m_spectrum.begin());
    m_scope->setSamples(m_spectrum);
    m_scope->replot();
}

// Front VFO readout and the panadapter settings that follow the store.
void MainWidget::updateScopeAndVfo()
{
    ZParamAdmin *s = m_paramAdmin;
    if (!s)
        return;
    const QString w = QStringLiteral("wparam");
    m_mainVfo->setTuneStep(s->tuneStep());
    m_mainVfo->setFrequency(uint32_t(qMax(0, s->vfoFront(QStringLiteral("freq")).value.toInt())));
    m_mainVfo->redraw();

    const int mode = s->mode();
    m_scope->setMode(mode);
    m_scope->setTuningOffset(float(s->dloFreq.load()));
    m_scope->setCenterMode(s->paramItem(w, QStringLiteral("center_mode")).value.toInt() != 0);
    m_scope->setPeakHold(s->paramItem(w, QStringLiteral("fftpke")).value.toInt() != 0);
    m_scope->setAverage(0.9f - 0.05f * float(s->paramItem(w, QStringLiteral("fftave")).value.toInt()));
    m_scope->setLevelOffset(s->paramItem(w, QStringLiteral("fftref")).value.toFloat());
    m_scope->setWaterfallOffset(s->paramItem(w, QStringLiteral("wfref")).value.toFloat());
    const int z = qBound(0, s->paramItem(w, QStringLiteral("fftdec")).value.toInt(), 4);
    m_scope->setZoom(float(1 << z));
    const ztwinfilter_fp_t fp = s->twinFilter().actualFp();
    m_scope->setPassBand(fp.low, fp.high);
}

void MainWidget::slot_delayInitProcess()
{
    qCInfo(logSystem) << "PWR ON INIT: finished";
    qCInfo(logSystem) << "Create audio instance";
    m_audio = new ZAudio(nullptr);
    connect(m_audio, &ZAudio::sig_pcmFatalError, this, &MainWidget::slot_appFatalErrorReset);
    qCInfo(logSystem) << m_audio << "init ok.";
    qCInfo(logSystem) << "Delay init finished";
}

// The window never decides transmit itself: it forwards the request, and
// the real state comes back from the board.
void MainWidget::slot_civTrxStatus(int32_t flag)
{
    zradio_set_civptt(uint8_t(flag & 0xFF));
    const int trx = m_paramAdmin ? m_paramAdmin->trxState.load() : 0;
    qCInfo(logGui) << "CIV TRX Trig," << flag << trx;
}

// 0 and 1 switch the tuner off and on; 2 asks for a tuning run, which the
// tuner service of the window carries out.
void MainWidget::slot_civSetAtu(int32_t flag)
{
    if ((flag == 0 || flag == 1) && m_paramAdmin)
        m_paramAdmin->setParamItem(QStringLiteral("wparam"), QStringLiteral("atue"), int(flag));
    else if (flag == 2)
        qCInfo(logGui) << "civ atu tune request";
}

void MainWidget::slot_civSetTimeMinSec(int32_t min, int32_t sec)
{
    zrmisc_set_time_min_sec(min, sec);
}

void MainWidget::slot_civSetDate(int32_t year, int32_t month, int32_t day)
{
    zrmisc_set_date(year, month, day);
}

// The offset arrives as signed hours x 100 + minutes, positive east of UTC;
// the helper takes whole hours west of UTC ("Etc/GMT" zone names).
void MainWidget::slot_civSetUtcOffset(int32_t offset)
{
    zrmisc_set_utc_offset(-(offset / 100));
}

void MainWidget::slot_modemTrxReceiver(uint8_t state)
{
    qCInfo(logSystem) << "modem trx:" << state;
    zradio_set_modem_trx(state);
}

void MainWidget::slot_appFatalErrorReset(int32_t err)
{
    qCInfo(logSystem) << "App fatal error, going to reset." << err;
}
