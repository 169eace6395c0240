#include "mainwidget.h"

#include "zaudio.h"
#include "zparamadmin.h"
#include "zlog.h"
#include "zqrc.h"
#include "zradio.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainWidget"));
    setFixedSize(800, 480);
    setWindowTitle(QStringLiteral("ZR450"));
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/mainwidget.qss")));

    // Step 8: the radio link (it creates the parameter store).
    m_radio = zradio_create("/dev/i2c-0", 114);
    char ident[ZRADIO_IDENT_LEN + 1];
    if (zradio_get_ident(ident, sizeof(ident)) == 0)
        qCInfo(logRig).noquote() << "BASE    :" << ident;

    // The store opened "zparam.db", merged the definition text and loaded
    // every item; the radio link owns it.
    m_paramAdmin = m_radio ? m_radio->param : nullptr;

    m_updateTimer = new QTimer(this);
    connect(m_updateTimer, &QTimer::timeout, this, &MainWidget::slot_timerUpdate);
    m_updateTimer->start(50);

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
    m_paramAdmin = nullptr;
    zradio_destroy(m_radio);
    m_radio = nullptr;
}

void MainWidget::slot_timerUpdate()
{
    if (m_firstTick) {
        m_firstTick = false;
        return;
    }
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

void MainWidget::slot_appFatalErrorReset(int32_t err)
{
    qCInfo(logSystem) << "App fatal error, going to reset." << err;
}
