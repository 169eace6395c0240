// GLib first: Qt's "signals" keyword clashes with its members.
#include <gio/gio.h>

#include "tests/wireless_support.h"

#include "wireless/zglibloop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>

namespace ztest {

const char *const kShackUuid = "7c1f8a3e-5d2b-4c6a-9f1e-2b3c4d5e6f70";
const char *const kWiredUuid = "3e9d2f10-8a4b-4c1d-b2e3-f4a5b6c7d801";
const char *const kShackPath = "/org/freedesktop/NetworkManager/Settings/1";
const char *const kWiredPath = "/org/freedesktop/NetworkManager/Settings/2";
const char *const kWifiDevicePath = "/org/freedesktop/NetworkManager/Devices/wlan0";

WirelessServices::~WirelessServices()
{
    stop();
}

bool WirelessServices::waitReady()
{
    // Python, two stand-ins and a bus: generous for a loaded machine.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000) {
        const int nl = m_out.indexOf('\n');
        if (nl >= 0) {
            const QByteArray line = m_out.left(nl).trimmed();
            m_out.remove(0, nl + 1);
            if (line.startsWith("ready ")) {
                m_address = QString::fromUtf8(line.mid(6));
                return true;
            }
            continue;
        }
        if (m_proc.state() == QProcess::NotRunning)
            return false;
        if (m_proc.waitForReadyRead(200))
            m_out += m_proc.readAllStandardOutput();
    }
    return false;
}

bool WirelessServices::start(const QString &root)
{
    m_proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_proc.start(QStringLiteral(ZR_SOURCE_DIR "/sim/wireless/zr450-services"),
                 {QStringLiteral("--sysroot"), root, QStringLiteral("--control")});
    if (!m_proc.waitForStarted(10000))
        return false;
    return waitReady();
}

bool WirelessServices::restart()
{
    if (m_proc.state() != QProcess::Running)
        return false;
    m_proc.write("restart\n");
    m_proc.waitForBytesWritten(1000);
    return waitReady();
}

void WirelessServices::stop()
{
    if (m_proc.state() == QProcess::NotRunning)
        return;
    // The end of its input ends it, and it takes the stand-ins and the bus.
    m_proc.closeWriteChannel();
    if (!m_proc.waitForFinished(15000)) {
        m_proc.kill();
        m_proc.waitForFinished(5000);
    }
}

GVariant *busCall(const char *dest, const char *path, const char *iface, const char *method, GVariant *params,
                  QString *error)
{
    GDBusConnection *bus = zwireless::systemBus();
    if (!bus) {
        if (error)
            *error = QStringLiteral("no bus");
        if (params)
            g_variant_unref(g_variant_ref_sink(params));
        return nullptr;
    }
    GError *e = nullptr;
    GVariant *ret = g_dbus_connection_call_sync(bus, dest, path, iface, method, params, nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &e);
    if (!ret && error)
        *error = QString::fromUtf8(e ? e->message : "");
    g_clear_error(&e);
    return ret;
}

namespace {

QString ipOf(guint32 v)
{
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &v, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

QVariant toQVariant(const char *key, GVariant *v)
{
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN))
        return bool(g_variant_get_boolean(v));
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING))
        return QString::fromUtf8(g_variant_get_string(v, nullptr));
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
        return uint(g_variant_get_uint32(v));
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32))
        return int(g_variant_get_int32(v));
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTESTRING)) {
        gsize n = 0;
        const char *d = static_cast<const char *>(g_variant_get_fixed_array(v, &n, 1));
        return QString::fromUtf8(d, int(n));
    }
    QStringList parts;
    if (g_variant_is_of_type(v, G_VARIANT_TYPE("au"))) {
        // The legacy IPv4 lists: addresses in network order.
        for (gsize i = 0; i < g_variant_n_children(v); ++i) {
            GVariant *c = g_variant_get_child_value(v, i);
            parts << ipOf(g_variant_get_uint32(c));
            g_variant_unref(c);
        }
        return parts.join(QLatin1Char(','));
    }
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING_ARRAY)) {
        for (gsize i = 0; i < g_variant_n_children(v); ++i) {
            GVariant *c = g_variant_get_child_value(v, i);
            parts << QString::fromUtf8(g_variant_get_string(c, nullptr));
            g_variant_unref(c);
        }
        return parts.join(QLatin1Char(','));
    }
    if (g_variant_is_of_type(v, G_VARIANT_TYPE("aa{sv}"))) {
        for (gsize i = 0; i < g_variant_n_children(v); ++i) {
            GVariant *c = g_variant_get_child_value(v, i);
            const char *addr = nullptr;
            guint32 prefix = 0;
            if (g_variant_lookup(c, "address", "&s", &addr)) {
                g_variant_lookup(c, "prefix", "u", &prefix);
                parts << QString::fromUtf8(addr) + (prefix ? QStringLiteral("/%1").arg(prefix) : QString());
            }
            g_variant_unref(c);
        }
        return parts.join(QLatin1Char(','));
    }
    Q_UNUSED(key);
    gchar *text = g_variant_print(v, FALSE);
    const QString s = QString::fromUtf8(text);
    g_free(text);
    return s;
}

void addSettings(GVariant *dict, QVariantMap &out)
{
    GVariantIter outer;
    const char *setting = nullptr;
    GVariant *values = nullptr;
    g_variant_iter_init(&outer, dict);
    while (g_variant_iter_next(&outer, "{&s@a{sv}}", &setting, &values)) {
        GVariantIter inner;
        const char *key = nullptr;
        GVariant *value = nullptr;
        g_variant_iter_init(&inner, values);
        while (g_variant_iter_next(&inner, "{&sv}", &key, &value)) {
            out.insert(QString::fromUtf8(setting) + QLatin1Char('.') + QString::fromUtf8(key), toQVariant(key, value));
            g_variant_unref(value);
        }
        g_variant_unref(values);
    }
}

} // namespace

QVariantMap storedSettings(const char *connectionPath)
{
    QVariantMap out;
    const char *iface = "org.freedesktop.NetworkManager.Settings.Connection";
    if (GVariant *r = busCall("org.freedesktop.NetworkManager", connectionPath, iface, "GetSettings", nullptr)) {
        GVariant *dict = g_variant_get_child_value(r, 0);
        addSettings(dict, out);
        g_variant_unref(dict);
        g_variant_unref(r);
    }
    if (GVariant *r = busCall("org.freedesktop.NetworkManager", connectionPath, iface, "GetSecrets",
                              g_variant_new("(s)", "802-11-wireless-security"))) {
        GVariant *dict = g_variant_get_child_value(r, 0);
        addSettings(dict, out);
        g_variant_unref(dict);
        g_variant_unref(r);
    }
    return out;
}

int mockCallCount(const char *dest, const char *path, const char *method, QString *lastArgs)
{
    GVariant *r = busCall(dest, path, "org.freedesktop.DBus.Mock", "GetMethodCalls", g_variant_new("(s)", method));
    if (!r)
        return -1;
    GVariant *calls = g_variant_get_child_value(r, 0);
    const int n = int(g_variant_n_children(calls));
    if (lastArgs && n > 0) {
        GVariant *last = g_variant_get_child_value(calls, gsize(n - 1));
        GVariant *args = g_variant_get_child_value(last, 1);
        gchar *text = g_variant_print(args, FALSE);
        *lastArgs = QString::fromUtf8(text);
        g_free(text);
        g_variant_unref(args);
        g_variant_unref(last);
    }
    g_variant_unref(calls);
    g_variant_unref(r);
    return n;
}

void clearMockCalls(const char *dest, const char *path)
{
    if (GVariant *r = busCall(dest, path, "org.freedesktop.DBus.Mock", "ClearCalls", nullptr))
        g_variant_unref(r);
}

} // namespace ztest
