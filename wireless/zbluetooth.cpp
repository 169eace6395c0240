// GLib headers first: Qt's "signals" keyword clashes with their members.
#include <gio/gio.h>

#include "wireless/zbluetooth.h"

#include "app/zlog.h"
#include "wireless/zglibloop.h"

#include <QPointer>

#include <algorithm>

namespace {

const char *const kBluez = "org.bluez";
const char *const kAdapterIface = "org.bluez.Adapter1";
const char *const kDeviceIface = "org.bluez.Device1";

bool boolProperty(GDBusProxy *proxy, const char *name)
{
    GVariant *v = g_dbus_proxy_get_cached_property(proxy, name);
    const bool on = v && g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(v);
    if (v)
        g_variant_unref(v);
    return on;
}

QString stringProperty(GDBusProxy *proxy, const char *name)
{
    GVariant *v = g_dbus_proxy_get_cached_property(proxy, name);
    QString s;
    if (v && (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH)))
        s = QString::fromUtf8(g_variant_get_string(v, nullptr));
    if (v)
        g_variant_unref(v);
    return s;
}

// The interface proxies of one D-Bus interface, sorted by object path, new
// references.
QList<GDBusProxy *> proxiesOf(GDBusObjectManager *manager, const char *iface)
{
    QList<GDBusProxy *> out;
    if (!manager)
        return out;
    GList *objects = g_dbus_object_manager_get_objects(manager);
    for (GList *l = objects; l; l = l->next) {
        GDBusInterface *i = g_dbus_object_get_interface(G_DBUS_OBJECT(l->data), iface);
        if (i)
            out.append(G_DBUS_PROXY(i));
    }
    g_list_free_full(objects, g_object_unref);
    std::sort(out.begin(), out.end(), [](GDBusProxy *a, GDBusProxy *b) {
        return strcmp(g_dbus_proxy_get_object_path(a), g_dbus_proxy_get_object_path(b)) < 0;
    });
    return out;
}

void unrefAll(const QList<GDBusProxy *> &list)
{
    for (GDBusProxy *p : list)
        g_object_unref(p);
}

// One call in flight, or the manager's creation. The cancellable ends
// with the Bluetooth object, and the guarded pointer makes sure that a
// reply already on its way never reaches a deleted object.
struct Call
{
    QPointer<ZBluetooth> self;
    QString path;
    QString what;
};

} // namespace

// The GLib callbacks, with access to the manager's private members.
struct ZBluetoothGlue
{
    static void changed(ZBluetooth *self) { emit self->sig_changed(); }

    static void onObjectChanged(GDBusObjectManager *, GDBusObject *, gpointer self)
    {
        changed(static_cast<ZBluetooth *>(self));
    }
    static void onInterfaceChanged(GDBusObjectManager *, GDBusObject *, GDBusInterface *, gpointer self)
    {
        changed(static_cast<ZBluetooth *>(self));
    }
    static void onPropertiesChanged(GDBusObjectManagerClient *, GDBusObjectProxy *, GDBusProxy *, GVariant *,
                                    const gchar *const *, gpointer self)
    {
        changed(static_cast<ZBluetooth *>(self));
    }

    static void managerCreated(GObject *, GAsyncResult *result, gpointer data)
    {
        auto *call = static_cast<Call *>(data);
        GError *error = nullptr;
        GDBusObjectManager *manager = g_dbus_object_manager_client_new_finish(result, &error);
        if (!manager) {
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                qCWarning(logSystem) << "BlueZ not reachable:" << (error ? error->message : "");
                if (call->self)
                    call->self->m_failed = true;
            }
            g_clear_error(&error);
        } else if (call->self) {
            call->self->managerReady(manager);
        } else {
            g_object_unref(manager);
        }
        delete call;
    }

    static void callDone(GObject *source, GAsyncResult *result, gpointer data)
    {
        auto *call = static_cast<Call *>(data);
        GError *error = nullptr;
        GVariant *ret = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (ret)
            g_variant_unref(ret);
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            g_clear_error(&error);
            delete call;
            return;
        }
        if (error) {
            gchar *remote = g_dbus_error_get_remote_error(error);
            g_dbus_error_strip_remote_error(error);
            qCWarning(logSystem) << "Bluetooth" << call->what << call->path << "failed:" << error->message
                                 << (remote ? remote : "");
            g_free(remote);
        }
        if (call->self)
            call->self->finishCall(call->path, error == nullptr, error ? QString::fromUtf8(error->message) : QString());
        g_clear_error(&error);
        delete call;
    }
};

ZBluetooth::ZBluetooth(QObject *parent)
    : QObject(parent)
    , m_cancel(g_cancellable_new())
{
    zwireless::driveGlibMainContext();
    GDBusConnection *bus = zwireless::systemBus();
    if (!bus) {
        m_failed = true;
        return;
    }
    // Read without blocking the screen; BlueZ's objects follow in a moment.
    g_dbus_object_manager_client_new(bus, G_DBUS_OBJECT_MANAGER_CLIENT_FLAGS_NONE, kBluez, "/", nullptr, nullptr,
                                     nullptr, m_cancel, &ZBluetoothGlue::managerCreated,
                                     new Call{this, QString(), QStringLiteral("start")});
}

ZBluetooth::~ZBluetooth()
{
    g_cancellable_cancel(m_cancel);
    if (m_manager) {
        g_signal_handlers_disconnect_by_data(m_manager, this);
        g_object_unref(m_manager);
    }
    g_object_unref(m_cancel);
}

void ZBluetooth::managerReady(GDBusObjectManager *manager)
{
    m_manager = manager;
    g_signal_connect(manager, "object-added", G_CALLBACK(&ZBluetoothGlue::onObjectChanged), this);
    g_signal_connect(manager, "object-removed", G_CALLBACK(&ZBluetoothGlue::onObjectChanged), this);
    g_signal_connect(manager, "interface-added", G_CALLBACK(&ZBluetoothGlue::onInterfaceChanged), this);
    g_signal_connect(manager, "interface-removed", G_CALLBACK(&ZBluetoothGlue::onInterfaceChanged), this);
    g_signal_connect(manager, "interface-proxy-properties-changed",
                     G_CALLBACK(&ZBluetoothGlue::onPropertiesChanged), this);
    if (m_pendingPower >= 0) {
        const int on = m_pendingPower;
        m_pendingPower = -1;
        if (isAvailable())
            setPowerState(on);
    }
    emit sig_changed();
}

GDBusProxy *ZBluetooth::adapterProxy() const
{
    QList<GDBusProxy *> adapters = proxiesOf(m_manager, kAdapterIface);
    if (adapters.isEmpty())
        return nullptr;
    GDBusProxy *first = adapters.takeFirst();
    unrefAll(adapters);
    return first;
}

GDBusProxy *ZBluetooth::deviceProxy(const QString &path) const
{
    if (!m_manager || path.isEmpty())
        return nullptr;
    GDBusInterface *i = g_dbus_object_manager_get_interface(m_manager, path.toUtf8().constData(), kDeviceIface);
    return i ? G_DBUS_PROXY(i) : nullptr;
}

bool ZBluetooth::isAvailable() const
{
    GDBusProxy *a = adapterProxy();
    if (a)
        g_object_unref(a);
    return a != nullptr;
}

int ZBluetooth::powerState() const
{
    GDBusProxy *a = adapterProxy();
    if (!a)
        return -1;
    const int on = boolProperty(a, "Powered") ? 1 : 0;
    g_object_unref(a);
    return on;
}

QString ZBluetooth::adapterName() const
{
    GDBusProxy *a = adapterProxy();
    if (!a)
        return QString();
    QString name = stringProperty(a, "Alias");
    if (name.isEmpty())
        name = stringProperty(a, "Name");
    g_object_unref(a);
    return name;
}

QString ZBluetooth::adapterAddress() const
{
    GDBusProxy *a = adapterProxy();
    if (!a)
        return QString();
    const QString address = stringProperty(a, "Address");
    g_object_unref(a);
    return address;
}

QList<ZBluetoothDevice> ZBluetooth::devices() const
{
    QList<ZBluetoothDevice> out;
    GDBusProxy *a = adapterProxy();
    if (!a)
        return out;
    const QString adapterPath = QString::fromUtf8(g_dbus_proxy_get_object_path(a));
    g_object_unref(a);
    const QList<GDBusProxy *> devs = proxiesOf(m_manager, kDeviceIface);
    for (GDBusProxy *p : devs) {
        if (stringProperty(p, "Adapter") != adapterPath)
            continue;
        ZBluetoothDevice d;
        d.path = QString::fromUtf8(g_dbus_proxy_get_object_path(p));
        d.address = stringProperty(p, "Address");
        d.name = stringProperty(p, "Alias");
        if (d.name.isEmpty())
            d.name = stringProperty(p, "Name");
        if (d.name.isEmpty())
            d.name = d.address;
        d.paired = boolProperty(p, "Paired");
        d.connected = boolProperty(p, "Connected");
        out.append(d);
    }
    unrefAll(devs);
    return out;
}

bool ZBluetooth::hasBluetoothConnected() const
{
    if (powerState() != 1)
        return false;
    const QList<ZBluetoothDevice> devs = devices();
    return std::any_of(devs.begin(), devs.end(), [](const ZBluetoothDevice &d) { return d.connected; });
}

QList<ZBluetoothDevice> ZBluetooth::pairedDevices() const
{
    QList<ZBluetoothDevice> out;
    for (const ZBluetoothDevice &d : devices())
        if (d.paired)
            out.append(d);
    std::stable_sort(out.begin(), out.end(), [](const ZBluetoothDevice &a, const ZBluetoothDevice &b) {
        return QString::compare(a.name, b.name, Qt::CaseInsensitive) < 0;
    });
    return out;
}

int ZBluetooth::call(GDBusProxy *proxy, const char *interface, const char *method, void *parameters, int timeoutMs)
{
    const QString path = QString::fromUtf8(g_dbus_proxy_get_object_path(proxy));
    auto *c = new Call{this, path, QString::fromLatin1(method)};
    g_dbus_connection_call(g_dbus_proxy_get_connection(proxy), kBluez, g_dbus_proxy_get_object_path(proxy),
                           interface, method, static_cast<GVariant *>(parameters), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, timeoutMs, m_cancel, &ZBluetoothGlue::callDone, c);
    return 0;
}

int ZBluetooth::setPowerState(int on)
{
    if (!m_manager) {
        if (m_failed)
            return -19;
        // Still reading BlueZ's objects: the request waits for them.
        m_pendingPower = on ? 1 : 0;
        return 0;
    }
    GDBusProxy *a = adapterProxy();
    if (!a)
        return -19;
    GVariant *args = g_variant_new("(ssv)", kAdapterIface, "Powered", g_variant_new_boolean(on ? TRUE : FALSE));
    const int rc = call(a, "org.freedesktop.DBus.Properties", "Set", args, 10000);
    g_object_unref(a);
    return rc;
}

int ZBluetooth::connectDevice(const QString &path)
{
    GDBusProxy *d = deviceProxy(path);
    if (!d)
        return -19;
    // A link can take as long as the far device needs to answer.
    const int rc = call(d, kDeviceIface, "Connect", nullptr, 30000);
    g_object_unref(d);
    return rc;
}

int ZBluetooth::disconnectDevice(const QString &path)
{
    GDBusProxy *d = deviceProxy(path);
    if (!d)
        return -19;
    const int rc = call(d, kDeviceIface, "Disconnect", nullptr, 10000);
    g_object_unref(d);
    return rc;
}

void ZBluetooth::finishCall(const QString &path, bool ok, const QString &message)
{
    emit sig_operationFinished(path, ok, message);
}
