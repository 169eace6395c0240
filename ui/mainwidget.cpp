#include "mainwidget.h"

#include "zlog.h"
#include "zqrc.h"
#include "zradio.h"

#include <QDebug>
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

    m_updateTimer = new QTimer(this);
    connect(m_updateTimer, &QTimer::timeout, this, &MainWidget::slot_timerUpdate);
    m_updateTimer->start(50);

    // The delayed second stage runs once, about 5 s after construction.
    QTimer *delay = new QTimer(this);
    delay->setSingleShot(true);
    connect(delay, &QTimer::timeout, delay, &QObject::deleteLater);
    connect(delay, &QObject::destroyed, this, &MainWidget::slot_delayInitProcess);
    delay->start(5000);

    qCInfo(logSystem) << "Main window inited.";
}

MainWidget::~MainWidget()
{
    zradio_destroy(m_radio);
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
    qCInfo(logSystem) << "Delay init finished";
}
