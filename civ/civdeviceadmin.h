#ifndef CIVDEVICEADMIN_H
#define CIVDEVICEADMIN_H

#include <QObject>
#include <QThread>

class CivDevice;

// Owner of the CI-V device and its worker thread. The device is created
// without a parent, lives on the worker thread and is deleted there when the
// thread finishes.
class CivDeviceAdmin : public QObject
{
    Q_OBJECT

public:
    explicit CivDeviceAdmin(QObject *parent = nullptr);
    // Stops the loop, ends the thread and waits for it.
    ~CivDeviceAdmin() override;

    CivDevice *device() const { return m_device; }

signals:
    // Emitted once, after CivDevice::setParams: runs the device's loop.
    void start();

private:
    CivDevice *m_device = nullptr;
    QThread m_thread;
};

#endif
