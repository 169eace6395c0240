#ifndef WIRELESS_SUPPORT_H
#define WIRELESS_SUPPORT_H

// The wireless tests' services: the private system bus with the
// NetworkManager and BlueZ stand-ins (sim/wireless/zr450-services) on a
// test's system root, and a few direct calls to the stand-ins that read
// back what the application committed.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

typedef struct _GVariant GVariant;

namespace ztest {

// The services as a child process; ended at the latest when this ends.
class WirelessServices
{
public:
    ~WirelessServices();
    // Starts them on root (the system root of the test) and waits until
    // both stand-ins are on the bus.
    bool start(const QString &root);
    // Both stand-ins anew, with the scene as at the start.
    bool restart();
    void stop();
    QString address() const { return m_address; }

private:
    bool waitReady();

    QProcess m_proc;
    QByteArray m_out;
    QString m_address;
};

// The scene's objects.
extern const char *const kShackUuid;   // the saved and active "ZR450-Shack"
extern const char *const kWiredUuid;   // a saved wired connection
extern const char *const kShackPath;   // its settings object
extern const char *const kWiredPath;
extern const char *const kWifiDevicePath;

// A method call on the system bus (the application's shared connection);
// the reply, or null (and the error text in *error).
GVariant *busCall(const char *dest, const char *path, const char *iface, const char *method,
                  GVariant *params, QString *error = nullptr);

// A saved connection's settings as the stand-in holds them, secrets
// included: "setting.key" -> value ("ipv4.method", "802-11-wireless-security.psk",
// "ipv4.address-data" as "a/p" texts joined by ",", "ipv4.dns" as dotted
// addresses joined by ",").
QVariantMap storedSettings(const char *connectionPath);

// How often the stand-in's object at path was called with method (its call
// log), and the arguments of the last such call as text.
int mockCallCount(const char *dest, const char *path, const char *method, QString *lastArgs = nullptr);
void clearMockCalls(const char *dest, const char *path);

} // namespace ztest

#endif
