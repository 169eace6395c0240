#include "mainwidget.h"

#include "zparamadmin.h"
#include "zlog.h"
#include "zqrc.h"

#include <QDebug>
#include <QTimer>

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainWidget"));
    setFixedSize(800, 480);
    setWindowTitle(QStringLiteral("ZR450"));
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/mainwidget.qss")));

    m_updateTimer = new QTimer(this);
    connect(m_updateTimer, &QTimer::timeout, this, &MainWidget::slot_timerUpdate);
    m_updateTimer->start(50);

    // The parameter store: opens "zparam.db", merges the definition text
    // and loads every item. From here on the store exists.
    m_paramAdmin = new ZParamAdmin(nullptr);

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
    m_updateTimer->stop();
    delete m_paramAdmin;
    m_paramAdmin = nullptr;
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
