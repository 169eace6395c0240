#ifndef ZBLUETOOTH_H
#define ZBLUETOOTH_H

#include <QList>
#include <QObject>
#include <QString>

typedef struct _GDBusObjectManager GDBusObjectManager;
typedef struct _GDBusProxy GDBusProxy;
typedef struct _GCancellable GCancellable;

// One device BlueZ knows on the radio's adapter.
struct ZBluetoothDevice
{
    QString path;      // BlueZ object path
    QString address;   // "00:1A:7D:DA:71:13"
    QString name;      // alias, else name, else the address
    bool paired = false;
    bool connected = false;
};

// The Bluetooth manager: BlueZ's adapter and devices over D-Bus (GIO),
// followed through BlueZ's object manager so that every query answers
// from the cached state without a bus round trip. Lives on the GUI thread;
// BlueZ's signals and the replies arrive there through GLib's main context
// (wireless/zglibloop.h). Without BlueZ, or without an adapter, it reports
// nothing connected and power off.
class ZBluetooth : public QObject
{
    Q_OBJECT

public:
    explicit ZBluetooth(QObject *parent = nullptr);
    ~ZBluetooth() override;

    // BlueZ's objects have been read (shortly after construction).
    bool isReady() const { return m_manager != nullptr; }
    // An adapter is there.
    bool isAvailable() const;
    // 1 powered, 0 off, -1 no adapter.
    int powerState() const;
    // Switches the adapter on (non-zero) or off without waiting; 0, or
    // -19 (no adapter). Asked before BlueZ's objects are read, the request
    // waits for them. A refusal is logged and reported by
    // sig_operationFinished.
    int setPowerState(int on);
    // A device is connected while the adapter is powered.
    bool hasBluetoothConnected() const;
    // The paired devices, by name.
    QList<ZBluetoothDevice> pairedDevices() const;
    QString adapterName() const;
    QString adapterAddress() const;

    // Connects or disconnects a device (its object path) without waiting;
    // 0, or -19 when BlueZ has no such device.
    int connectDevice(const QString &path);
    int disconnectDevice(const QString &path);

signals:
    // The adapter or a device changed, appeared or went.
    void sig_changed();
    // The end of setPowerState, connectDevice or disconnectDevice.
    void sig_operationFinished(QString path, bool ok, QString message);

private:
    friend struct ZBluetoothGlue;
    // The adapter's or a device's interface proxy, a new reference, or null.
    GDBusProxy *adapterProxy() const;
    GDBusProxy *deviceProxy(const QString &path) const;
    QList<ZBluetoothDevice> devices() const;
    int call(GDBusProxy *proxy, const char *interface, const char *method, void *parameters, int timeoutMs);
    void managerReady(GDBusObjectManager *manager);
    void finishCall(const QString &path, bool ok, const QString &message);

    GDBusObjectManager *m_manager = nullptr;
    GCancellable *m_cancel = nullptr;
    int m_pendingPower = -1; // asked before the manager was ready
    bool m_failed = false;   // no bus, or BlueZ's objects could not be read
};

#endif
