#ifndef WIFIMANAGER_H
#define WIFIMANAGER_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

// libnm's types, declared as libnm declares them, so that widget code can
// use the manager without GLib's headers.
typedef struct _NMClient NMClient;
typedef struct _NMActiveConnection NMActiveConnection;
typedef struct _NMRemoteConnection NMRemoteConnection;

// The caller's two callbacks for one asynchronous WiFi operation. A heap
// copy travels with the request and is deleted once it has reported.
struct WifiOperationContext
{
    std::function<void(const std::string &uuid)> onSuccess;
    std::function<void(const std::string &uuid, const std::string &message)> onFailure;

    void safeSuccess(const std::string &uuid) const
    {
        if (onSuccess)
            onSuccess(uuid);
    }
    void safeFailure(const std::string &uuid, const std::string &message) const
    {
        if (onFailure)
            onFailure(uuid, message);
    }
};

// What the radio knows about its WiFi connection.
struct ConnectedWiFiInfo
{
    QString ssid;
    int strength = -1;              // of the active access point, 0..100
    QString password;               // pre-shared key
    bool dhcp = true;               // IPv4 method "auto"
    int prefix = 24;
    QString address;
    QString gateway;
    QString netmask = QStringLiteral("255.255.255.0");
    QString security;               // key management, "open" without security
    QString dns;                    // each server followed by ";"
};

// One network the WiFi device sees (the strongest access point of an SSID).
struct WifiAccessPoint
{
    QString ssid;
    int strength = 0;               // 0..100
    bool secured = false;
    bool active = false;            // the device is connected through it
    QString uuid;                   // the saved connection for the SSID, or empty
    QString bssid;
    int frequency = 0;              // MHz
};

// Stateless operations on NetworkManager's view of the radio's WiFi. Every
// change is committed to NetworkManager (saved to disk, never blocking) and
// reported through the context's callbacks from GLib's main context, which
// runs on the GUI thread (wireless/zglibloop.h). Connections are named by
// their NetworkManager UUID.
class WiFiManager
{
public:
    // NetworkManager's client on the shared system bus (zglibloop.h), with
    // the GLib main context driven on the GUI thread; null when the bus or
    // NetworkManager's client cannot be had. Release with releaseClient
    // (g_object_unref).
    static NMClient *createClient();
    static void releaseClient(NMClient *client);

    static QString getMacAddress(NMClient *client);
    static QString getConnectedSSID(NMClient *client);
    static bool hasActiveWiFiConnection(NMClient *client, int &strength);
    static QString findUuidByConnectionName(NMClient *client, const QString &name);
    static NMActiveConnection *findActiveConnectionByUuid(NMClient *client, const QString &uuid);
    static NMRemoteConnection *findConnectionByUuid(NMClient *client, const QString &uuid);

    static void updateWifiPassword(NMClient *client, const QString &uuid, const QString &password,
                                   const WifiOperationContext &ctx);
    static void setAutoconnect(NMClient *client, const QString &uuid, bool on, const WifiOperationContext &ctx);
    static void setStaticIp(NMClient *client, const QString &uuid, const QString &address, int prefix,
                            const QString &gateway, const WifiOperationContext &ctx);
    static void setConnectionIpv4ToDhcp(NMClient *client, const QString &uuid, const WifiOperationContext &ctx);
    static void setDnsServers(NMClient *client, const QString &uuid, const QStringList &servers,
                              const WifiOperationContext &ctx);
    static void connectToSsidByUuid(NMClient *client, const QString &uuid, const WifiOperationContext &ctx);
    static void disconnectByUuid(NMClient *client, const QString &uuid, const WifiOperationContext &ctx);

    static ConnectedWiFiInfo getConnectedWiFiInfo(NMClient *client, bool withFile);
    // Completes info from the saved keyfile of the SSID; false when there is none.
    static bool getWiFiInfoWithSsid(const QString &ssid, ConnectedWiFiInfo &info);
    static QString keyfilePath(const QString &ssid);

    static QString prefixToNetmask(int prefix);
    static QString toIPv4Address(const QString &address, int prefix, const QString &gateway);

    // For the WLAN panel: the networks in sight, strongest first; the saved
    // WiFi connection of an SSID; a connection's autoconnect setting; a new
    // scan (its results arrive as access points appear).
    static QList<WifiAccessPoint> accessPoints(NMClient *client);
    static QString findUuidBySsid(NMClient *client, const QString &ssid);
    static bool autoconnect(NMClient *client, const QString &uuid);
    static void requestScan(NMClient *client);
};

#endif
