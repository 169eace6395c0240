// GLib and libnm first: Qt's "signals" keyword clashes with their members.
#include <NetworkManager.h>

#include "wireless/wifimanager.h"

#include "app/zlog.h"
#include "app/zsystem.h"
#include "wireless/zglibloop.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <arpa/inet.h>

namespace {

const char *const kWifiType = NM_SETTING_WIRELESS_SETTING_NAME; // "802-11-wireless"

// What travels with one asynchronous request.
struct PendingOp
{
    WifiOperationContext ctx;
    std::string uuid;
};

std::string str(const QString &s)
{
    return s.toStdString();
}

QString fromSsid(GBytes *ssid, bool utf8)
{
    if (!ssid)
        return QString();
    gsize size = 0;
    const char *data = static_cast<const char *>(g_bytes_get_data(ssid, &size));
    if (!data || size == 0)
        return QString();
    return utf8 ? QString::fromUtf8(data, int(size)) : QString::fromLocal8Bit(data, int(size));
}

bool isIpv4(const QString &s)
{
    return nm_utils_ipaddr_valid(AF_INET, s.toUtf8().constData());
}

NMActiveConnection *firstActiveWifi(NMClient *client)
{
    const GPtrArray *active = nm_client_get_active_connections(client);
    for (guint i = 0; active && i < active->len; ++i) {
        auto *ac = NM_ACTIVE_CONNECTION(active->pdata[i]);
        const char *type = nm_active_connection_get_connection_type(ac);
        if (type && strcmp(type, kWifiType) == 0)
            return ac;
    }
    return nullptr;
}

NMDeviceWifi *wifiDeviceOf(NMActiveConnection *ac)
{
    const GPtrArray *devs = nm_active_connection_get_devices(ac);
    for (guint i = 0; devs && i < devs->len; ++i)
        if (NM_IS_DEVICE_WIFI(devs->pdata[i]))
            return NM_DEVICE_WIFI(devs->pdata[i]);
    return nullptr;
}

NMDeviceWifi *firstWifiDevice(NMClient *client)
{
    const GPtrArray *devs = nm_client_get_devices(client);
    for (guint i = 0; devs && i < devs->len; ++i)
        if (NM_IS_DEVICE_WIFI(devs->pdata[i]))
            return NM_DEVICE_WIFI(devs->pdata[i]);
    return nullptr;
}

// The saved connection an operation works on, after the checks every
// operation makes before it asks NetworkManager for anything; null (and the
// failure reported) when one fails.
NMRemoteConnection *savedWifiConnection(NMClient *client, const QString &uuid, const WifiOperationContext &ctx)
{
    if (!client) {
        ctx.safeFailure(str(uuid), "NMClient is null");
        return nullptr;
    }
    NMRemoteConnection *conn = WiFiManager::findConnectionByUuid(client, uuid);
    if (!conn) {
        ctx.safeFailure(str(uuid), "Connection not found");
        return nullptr;
    }
    if (!nm_connection_get_setting_wireless(NM_CONNECTION(conn))) {
        ctx.safeFailure(str(uuid), "Connection is not a Wi-Fi connection");
        return nullptr;
    }
    return conn;
}

NMSettingIPConfig *ip4SettingOf(NMRemoteConnection *conn)
{
    NMSettingIPConfig *s4 = nm_connection_get_setting_ip4_config(NM_CONNECTION(conn));
    if (!s4) {
        s4 = NM_SETTING_IP_CONFIG(nm_setting_ip4_config_new());
        nm_connection_add_setting(NM_CONNECTION(conn), NM_SETTING(s4));
    }
    return s4;
}

void reportFinished(PendingOp *op, const std::string &uuid, gboolean ok, GError *error)
{
    if (ok)
        op->ctx.safeSuccess(uuid);
    else
        op->ctx.safeFailure(uuid, error && error->message ? error->message : "Unknown error");
    g_clear_error(&error);
    delete op;
}

void commitDone(GObject *source, GAsyncResult *result, gpointer data)
{
    auto *op = static_cast<PendingOp *>(data);
    GError *error = nullptr;
    const gboolean ok = nm_remote_connection_commit_changes_finish(NM_REMOTE_CONNECTION(source), result, &error);
    const char *uuid = NM_IS_CONNECTION(source) ? nm_connection_get_uuid(NM_CONNECTION(source)) : nullptr;
    reportFinished(op, uuid ? uuid : "unknown", ok, error);
}

void commit(NMRemoteConnection *conn, const QString &uuid, const WifiOperationContext &ctx)
{
    // Saved to disk, and never waited for: the answer comes to commitDone.
    nm_remote_connection_commit_changes_async(conn, TRUE, nullptr, commitDone, new PendingOp{ctx, str(uuid)});
}

void activateDone(GObject *source, GAsyncResult *result, gpointer data)
{
    auto *op = static_cast<PendingOp *>(data);
    GError *error = nullptr;
    NMActiveConnection *ac = nm_client_activate_connection_finish(NM_CLIENT(source), result, &error);
    const std::string uuid = op->uuid;
    if (ac)
        g_object_unref(ac);
    reportFinished(op, uuid, ac != nullptr, error);
}

void deactivateDone(GObject *source, GAsyncResult *result, gpointer data)
{
    auto *op = static_cast<PendingOp *>(data);
    GError *error = nullptr;
    const gboolean ok = nm_client_deactivate_connection_finish(NM_CLIENT(source), result, &error);
    const std::string uuid = op->uuid;
    reportFinished(op, uuid, ok, error);
}

QString keyfileValue(GKeyFile *kf, const char *group, const char *key, bool *present = nullptr)
{
    gchar *v = g_key_file_get_string(kf, group, key, nullptr);
    if (present)
        *present = v != nullptr;
    const QString s = v ? QString::fromUtf8(v) : QString();
    g_free(v);
    return s;
}

} // namespace

NMClient *WiFiManager::createClient()
{
    zwireless::driveGlibMainContext();
    GDBusConnection *bus = zwireless::systemBus();
    if (!bus)
        return nullptr;
    GError *error = nullptr;
    auto *client = static_cast<NMClient *>(
        g_initable_new(NM_TYPE_CLIENT, nullptr, &error, NM_CLIENT_DBUS_CONNECTION, bus, nullptr));
    if (!client) {
        qCWarning(logSystem) << "NetworkManager client not created:" << (error ? error->message : "");
        g_clear_error(&error);
    }
    return client;
}

void WiFiManager::releaseClient(NMClient *client)
{
    if (client)
        g_object_unref(client);
}

QString WiFiManager::getMacAddress(NMClient *client)
{
    if (!client)
        return QString();
    NMDeviceWifi *dev = firstWifiDevice(client);
    const char *hw = dev ? nm_device_get_hw_address(NM_DEVICE(dev)) : nullptr;
    return hw ? QString::fromUtf8(hw) : QString();
}

QString WiFiManager::getConnectedSSID(NMClient *client)
{
    if (!client)
        return QString();
    NMActiveConnection *ac = firstActiveWifi(client);
    NMRemoteConnection *conn = ac ? nm_active_connection_get_connection(ac) : nullptr;
    NMSettingWireless *sw = conn ? nm_connection_get_setting_wireless(NM_CONNECTION(conn)) : nullptr;
    return sw ? fromSsid(nm_setting_wireless_get_ssid(sw), false) : QString();
}

bool WiFiManager::hasActiveWiFiConnection(NMClient *client, int &strength)
{
    if (!client)
        return false;
    NMActiveConnection *ac = firstActiveWifi(client);
    NMDeviceWifi *dev = ac ? wifiDeviceOf(ac) : nullptr;
    NMAccessPoint *ap = dev ? nm_device_wifi_get_active_access_point(dev) : nullptr;
    if (!ap)
        return false;
    strength = nm_access_point_get_strength(ap);
    return true;
}

QString WiFiManager::findUuidByConnectionName(NMClient *client, const QString &name)
{
    if (!client || name.isEmpty())
        return QString();
    const QByteArray wanted = name.toUtf8();
    const GPtrArray *conns = nm_client_get_connections(client);
    for (guint i = 0; conns && i < conns->len; ++i) {
        auto *c = NM_CONNECTION(conns->pdata[i]);
        const char *id = nm_connection_get_id(c);
        if (id && wanted == id)
            return QString::fromUtf8(nm_connection_get_uuid(c));
    }
    return QString();
}

NMActiveConnection *WiFiManager::findActiveConnectionByUuid(NMClient *client, const QString &uuid)
{
    if (!client || uuid.isEmpty())
        return nullptr;
    const QByteArray wanted = uuid.toUtf8();
    const GPtrArray *active = nm_client_get_active_connections(client);
    for (guint i = 0; active && i < active->len; ++i) {
        auto *ac = NM_ACTIVE_CONNECTION(active->pdata[i]);
        const char *u = nm_active_connection_get_uuid(ac);
        if (u && wanted == u)
            return ac;
    }
    return nullptr;
}

NMRemoteConnection *WiFiManager::findConnectionByUuid(NMClient *client, const QString &uuid)
{
    if (!client || uuid.isEmpty())
        return nullptr;
    return nm_client_get_connection_by_uuid(client, uuid.toUtf8().constData());
}

void WiFiManager::updateWifiPassword(NMClient *client, const QString &uuid, const QString &password,
                                     const WifiOperationContext &ctx)
{
    if (client && !findConnectionByUuid(client, uuid))
        qCWarning(logSystem) << "Connection not found:" << uuid;
    NMRemoteConnection *conn = savedWifiConnection(client, uuid, ctx);
    if (!conn)
        return;
    NMSettingWirelessSecurity *sec = nm_connection_get_setting_wireless_security(NM_CONNECTION(conn));
    if (!sec) {
        qCWarning(logSystem) << "No wireless security setting in connection";
        ctx.safeFailure(str(uuid), "No wireless security setting in connection");
        return;
    }
    // NetworkManager refuses a WPA key of the wrong length; saying so here
    // names the reason instead of a property error.
    const char *mgmt = nm_setting_wireless_security_get_key_mgmt(sec);
    const QByteArray psk = password.toUtf8();
    if (mgmt && strcmp(mgmt, "wpa-psk") == 0 && !nm_utils_wpa_psk_valid(psk.constData())) {
        ctx.safeFailure(str(uuid), "Invalid password: 8 to 63 characters, or 64 hexadecimal digits");
        return;
    }
    g_object_set(sec, NM_SETTING_WIRELESS_SECURITY_PSK, psk.constData(), nullptr);
    commit(conn, uuid, ctx);
}

void WiFiManager::setAutoconnect(NMClient *client, const QString &uuid, bool on, const WifiOperationContext &ctx)
{
    NMRemoteConnection *conn = savedWifiConnection(client, uuid, ctx);
    if (!conn)
        return;
    NMSettingConnection *sc = nm_connection_get_setting_connection(NM_CONNECTION(conn));
    if (!sc) {
        ctx.safeFailure(str(uuid), "No connection setting in connection");
        return;
    }
    g_object_set(sc, NM_SETTING_CONNECTION_AUTOCONNECT, gboolean(on), nullptr);
    commit(conn, uuid, ctx);
}

void WiFiManager::setStaticIp(NMClient *client, const QString &uuid, const QString &address, int prefix,
                              const QString &gateway, const WifiOperationContext &ctx)
{
    NMRemoteConnection *conn = savedWifiConnection(client, uuid, ctx);
    if (!conn)
        return;
    // Checked before anything changes: a refused form leaves the connection
    // as it was, also for the next commit of another setting.
    const QString addr = address.trimmed();
    const QString gw = gateway.trimmed();
    if (!isIpv4(addr)) {
        ctx.safeFailure(str(uuid), "Invalid IPv4 address");
        return;
    }
    if (prefix < 1 || prefix > 32) {
        ctx.safeFailure(str(uuid), "Invalid prefix length");
        return;
    }
    if (!gw.isEmpty() && !isIpv4(gw)) {
        ctx.safeFailure(str(uuid), "Invalid gateway address");
        return;
    }
    GError *error = nullptr;
    NMIPAddress *ip = nm_ip_address_new(AF_INET, addr.toUtf8().constData(), guint(prefix), &error);
    if (!ip) {
        ctx.safeFailure(str(uuid), error && error->message ? error->message : "Invalid IPv4 address");
        g_clear_error(&error);
        return;
    }
    NMSettingIPConfig *s4 = ip4SettingOf(conn);
    nm_setting_ip_config_clear_addresses(s4);
    nm_setting_ip_config_add_address(s4, ip);
    nm_ip_address_unref(ip);
    g_object_set(s4, NM_SETTING_IP_CONFIG_GATEWAY, gw.isEmpty() ? nullptr : gw.toUtf8().constData(),
                 NM_SETTING_IP_CONFIG_DHCP_HOSTNAME, nullptr,
                 NM_SETTING_IP_CONFIG_METHOD, NM_SETTING_IP4_CONFIG_METHOD_MANUAL, nullptr);
    commit(conn, uuid, ctx);
}

void WiFiManager::setConnectionIpv4ToDhcp(NMClient *client, const QString &uuid, const WifiOperationContext &ctx)
{
    NMRemoteConnection *conn = savedWifiConnection(client, uuid, ctx);
    if (!conn)
        return;
    NMSettingIPConfig *s4 = ip4SettingOf(conn);
    // The static gateway goes with the static addresses: NetworkManager
    // refuses a gateway without an address, and a DHCP network brings its
    // own.
    g_object_set(s4, NM_SETTING_IP_CONFIG_METHOD, NM_SETTING_IP4_CONFIG_METHOD_AUTO,
                 NM_SETTING_IP_CONFIG_DHCP_HOSTNAME, nullptr,
                 NM_SETTING_IP_CONFIG_IGNORE_AUTO_ROUTES, FALSE,
                 NM_SETTING_IP_CONFIG_IGNORE_AUTO_DNS, FALSE,
                 NM_SETTING_IP_CONFIG_GATEWAY, nullptr, nullptr);
    nm_setting_ip_config_clear_addresses(s4);
    nm_setting_ip_config_clear_dns(s4);
    nm_setting_ip_config_clear_routes(s4);
    commit(conn, uuid, ctx);
}

void WiFiManager::setDnsServers(NMClient *client, const QString &uuid, const QStringList &servers,
                                const WifiOperationContext &ctx)
{
    NMRemoteConnection *conn = savedWifiConnection(client, uuid, ctx);
    if (!conn)
        return;
    QList<QByteArray> valid;
    for (const QString &s : servers) {
        const QString t = s.trimmed();
        if (t.isEmpty())
            continue;
        if (!isIpv4(t)) {
            qCWarning(logSystem) << "DNS server is not an IPv4 address, skipped:" << t.left(64);
            continue;
        }
        valid << t.toUtf8();
    }
    // The list is replaced only when there is something to put in its
    // place, so a refused entry cannot clear the servers in a later commit.
    if (valid.isEmpty()) {
        ctx.safeFailure(str(uuid), "No valid DNS servers provided");
        return;
    }
    NMSettingIPConfig *s4 = ip4SettingOf(conn);
    nm_setting_ip_config_clear_dns(s4);
    for (const QByteArray &d : qAsConst(valid))
        nm_setting_ip_config_add_dns(s4, d.constData());
    commit(conn, uuid, ctx);
}

void WiFiManager::connectToSsidByUuid(NMClient *client, const QString &uuid, const WifiOperationContext &ctx)
{
    NMRemoteConnection *conn = savedWifiConnection(client, uuid, ctx);
    if (!conn)
        return;
    if (findActiveConnectionByUuid(client, uuid)) {
        ctx.safeSuccess(str(uuid));
        return;
    }
    NMDeviceWifi *dev = firstWifiDevice(client);
    nm_client_activate_connection_async(client, NM_CONNECTION(conn), dev ? NM_DEVICE(dev) : nullptr, nullptr,
                                        nullptr, activateDone, new PendingOp{ctx, str(uuid)});
}

void WiFiManager::disconnectByUuid(NMClient *client, const QString &uuid, const WifiOperationContext &ctx)
{
    if (!client) {
        ctx.safeFailure(str(uuid), "NMClient is null");
        return;
    }
    NMActiveConnection *ac = findActiveConnectionByUuid(client, uuid);
    if (!ac) {
        ctx.safeSuccess(str(uuid));
        return;
    }
    nm_client_deactivate_connection_async(client, ac, nullptr, deactivateDone, new PendingOp{ctx, str(uuid)});
}

ConnectedWiFiInfo WiFiManager::getConnectedWiFiInfo(NMClient *client, bool withFile)
{
    ConnectedWiFiInfo info;
    if (!client)
        return info;
    NMActiveConnection *ac = firstActiveWifi(client);
    if (!ac)
        return info;
    NMDeviceWifi *dev = wifiDeviceOf(ac);
    if (NMAccessPoint *ap = dev ? nm_device_wifi_get_active_access_point(dev) : nullptr)
        info.strength = nm_access_point_get_strength(ap);

    if (NMRemoteConnection *rc = nm_active_connection_get_connection(ac)) {
        NMConnection *conn = NM_CONNECTION(rc);
        if (NMSettingWireless *sw = nm_connection_get_setting_wireless(conn))
            info.ssid = fromSsid(nm_setting_wireless_get_ssid(sw), false);
        NMSettingWirelessSecurity *sec = nm_connection_get_setting_wireless_security(conn);
        const char *mgmt = sec ? nm_setting_wireless_security_get_key_mgmt(sec) : nullptr;
        info.security = sec ? QString::fromUtf8(mgmt ? mgmt : "") : QStringLiteral("open");
        if (sec && (info.security == QLatin1String("802-11-wireless-security") || info.security == QLatin1String("wpa-psk"))) {
            const char *psk = nm_setting_wireless_security_get_psk(sec);
            info.password = psk ? QString::fromUtf8(psk) : QString();
        }
        if (NMSettingIPConfig *s4 = nm_connection_get_setting_ip4_config(conn)) {
            const char *method = nm_setting_ip_config_get_method(s4);
            info.dhcp = method && strcmp(method, NM_SETTING_IP4_CONFIG_METHOD_AUTO) == 0;
        }
    }

    NMIPConfig *ip = dev ? nm_device_get_ip4_config(NM_DEVICE(dev)) : nullptr;
    if (!ip) {
        qCInfo(logSystem) << "No IP config";
    } else if (nm_ip_config_get_family(ip) != AF_INET) {
        qCInfo(logSystem) << "Not IPv4!";
    } else {
        const GPtrArray *addrs = nm_ip_config_get_addresses(ip);
        if (addrs && addrs->len > 0) {
            auto *a = static_cast<NMIPAddress *>(addrs->pdata[0]);
            info.address = QString::fromUtf8(nm_ip_address_get_address(a));
            info.prefix = int(nm_ip_address_get_prefix(a));
            info.netmask = prefixToNetmask(info.prefix);
        }
        const char *gw = nm_ip_config_get_gateway(ip);
        if (gw && *gw)
            info.gateway = QString::fromUtf8(gw);
        const char *const *ns = nm_ip_config_get_nameservers(ip);
        if (!ns || !ns[0])
            qCInfo(logSystem) << "No DNS servers";
        for (int i = 0; ns && ns[i]; ++i)
            info.dns += QString::fromUtf8(ns[i]) + QLatin1Char(';');
    }
    if (withFile)
        getWiFiInfoWithSsid(info.ssid, info);
    return info;
}

QString WiFiManager::keyfilePath(const QString &ssid)
{
    // NetworkManager names its keyfiles after the connection and writes a
    // "/" of the name as "*"; an SSID can never name a file elsewhere.
    QString name = ssid;
    name.replace(QLatin1Char('/'), QLatin1Char('*'));
    name.remove(QChar(0));
    return zsys::path(QStringLiteral("/etc/NetworkManager/system-connections/") + name + QStringLiteral(".nmconnection"));
}

bool WiFiManager::getWiFiInfoWithSsid(const QString &ssid, ConnectedWiFiInfo &info)
{
    const QString path = keyfilePath(ssid);
    if (ssid.isEmpty() || !QFileInfo(path).isFile()) {
        qCInfo(logSystem) << "Can't open" << path;
        return false;
    }
    // GLib's key-file reader is the one NetworkManager writes for: a value
    // keeps its commas, semicolons and escapes.
    GKeyFile *kf = g_key_file_new();
    GError *error = nullptr;
    if (!g_key_file_load_from_file(kf, QFile::encodeName(path).constData(), G_KEY_FILE_NONE, &error)) {
        qCInfo(logSystem) << "Can't open" << path << (error ? error->message : "");
        g_clear_error(&error);
        g_key_file_free(kf);
        return false;
    }
    bool present = false;
    QString v = keyfileValue(kf, "wifi-security", "key-mgmt", &present);
    if (present)
        info.security = v;
    v = keyfileValue(kf, "wifi-security", "psk", &present);
    if (present)
        info.password = v;
    v = keyfileValue(kf, "ipv4", "address1", &present);
    if (present) {
        const QStringList parts = v.split(QLatin1Char(','));
        if (parts.size() > 1)
            info.gateway = parts.at(1).trimmed();
        const QStringList ap = parts.value(0).split(QLatin1Char('/'));
        info.address = ap.value(0).trimmed();
        bool ok = false;
        const int prefix = ap.value(1).toInt(&ok);
        if (ok && prefix >= 0 && prefix <= 32) {
            info.prefix = prefix;
            info.netmask = prefixToNetmask(prefix);
        }
    }
    v = keyfileValue(kf, "ipv4", "dns", &present);
    if (present)
        info.dns = v;
    v = keyfileValue(kf, "ipv4", "method", &present);
    if (present)
        info.dhcp = v == QLatin1String("auto");
    g_key_file_free(kf);
    return true;
}

QString WiFiManager::prefixToNetmask(int prefix)
{
    if (prefix < 0 || prefix > 32)
        return QString();
    const quint32 mask = prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - prefix);
    return QStringLiteral("%1.%2.%3.%4")
        .arg((mask >> 24) & 0xFF).arg((mask >> 16) & 0xFF).arg((mask >> 8) & 0xFF).arg(mask & 0xFF);
}

QString WiFiManager::toIPv4Address(const QString &address, int prefix, const QString &gateway)
{
    return QStringLiteral("%1/%2,%3").arg(address).arg(prefix).arg(gateway);
}

QList<WifiAccessPoint> WiFiManager::accessPoints(NMClient *client)
{
    QList<WifiAccessPoint> out;
    NMDeviceWifi *dev = client ? firstWifiDevice(client) : nullptr;
    if (!dev)
        return out;
    NMAccessPoint *activeAp = nm_device_wifi_get_active_access_point(dev);
    const QString activeSsid = activeAp ? fromSsid(nm_access_point_get_ssid(activeAp), true) : QString();
    QHash<QString, int> index;
    const GPtrArray *aps = nm_device_wifi_get_access_points(dev);
    for (guint i = 0; aps && i < aps->len; ++i) {
        auto *ap = NM_ACCESS_POINT(aps->pdata[i]);
        WifiAccessPoint w;
        w.ssid = fromSsid(nm_access_point_get_ssid(ap), true);
        if (w.ssid.isEmpty())
            continue; // hidden networks have nothing to show
        w.strength = nm_access_point_get_strength(ap);
        w.secured = (nm_access_point_get_flags(ap) & NM_802_11_AP_FLAGS_PRIVACY)
                    || nm_access_point_get_wpa_flags(ap) != NM_802_11_AP_SEC_NONE
                    || nm_access_point_get_rsn_flags(ap) != NM_802_11_AP_SEC_NONE;
        w.bssid = QString::fromUtf8(nm_access_point_get_bssid(ap) ? nm_access_point_get_bssid(ap) : "");
        w.frequency = int(nm_access_point_get_frequency(ap));
        w.active = ap == activeAp || (!activeSsid.isEmpty() && w.ssid == activeSsid);
        const auto it = index.constFind(w.ssid);
        if (it == index.constEnd()) {
            index.insert(w.ssid, out.size());
            out.append(w);
        } else if (w.strength > out.at(*it).strength) {
            w.active = w.active || out.at(*it).active;
            out[*it] = w;
        } else if (w.active) {
            out[*it].active = true;
        }
    }
    for (WifiAccessPoint &w : out)
        w.uuid = findUuidBySsid(client, w.ssid);
    std::stable_sort(out.begin(), out.end(), [](const WifiAccessPoint &a, const WifiAccessPoint &b) {
        if (a.strength != b.strength)
            return a.strength > b.strength;
        return a.ssid < b.ssid;
    });
    return out;
}

QString WiFiManager::findUuidBySsid(NMClient *client, const QString &ssid)
{
    if (!client || ssid.isEmpty())
        return QString();
    const GPtrArray *conns = nm_client_get_connections(client);
    for (guint i = 0; conns && i < conns->len; ++i) {
        auto *c = NM_CONNECTION(conns->pdata[i]);
        NMSettingWireless *sw = nm_connection_get_setting_wireless(c);
        if (sw && fromSsid(nm_setting_wireless_get_ssid(sw), true) == ssid)
            return QString::fromUtf8(nm_connection_get_uuid(c));
    }
    return QString();
}

bool WiFiManager::autoconnect(NMClient *client, const QString &uuid)
{
    NMRemoteConnection *conn = findConnectionByUuid(client, uuid);
    NMSettingConnection *sc = conn ? nm_connection_get_setting_connection(NM_CONNECTION(conn)) : nullptr;
    return sc && nm_setting_connection_get_autoconnect(sc);
}

void WiFiManager::requestScan(NMClient *client)
{
    NMDeviceWifi *dev = client ? firstWifiDevice(client) : nullptr;
    if (dev)
        nm_device_wifi_request_scan_async(dev, nullptr, nullptr, nullptr);
}
