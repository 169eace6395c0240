#include "civ/civdeviceadmin.h"

#include "civ/civdevice.h"
#include "app/zlog.h"

#include <QDebug>

CivDeviceAdmin::CivDeviceAdmin(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("civ"));
    m_device = new CivDevice(nullptr);
    m_device->moveToThread(&m_thread);
    connect(this, &CivDeviceAdmin::start, m_device, &CivDevice::start);
    connect(&m_thread, &QThread::finished, m_device, &QObject::deleteLater);
    m_thread.start(QThread::InheritPriority);
    qCInfo(logCivDevice) << this << "created";
}

CivDeviceAdmin::~CivDeviceAdmin()
{
    m_device->stop();
    m_thread.quit();
    m_thread.wait();
    m_device = nullptr;
}
