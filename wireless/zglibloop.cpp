// GLib headers first: Qt's "signals" keyword clashes with their members.
#include <gio/gio.h>

#include "wireless/zglibloop.h"

#include "app/zlog.h"
#include "app/zsystem.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace zwireless {

namespace {

GDBusConnection *g_bus = nullptr;
QString g_busAddress;      // the address g_bus was made for ("" = GLib's choice)
QString g_failedAddress;   // last address that could not be reached (logged once)
bool g_busTried = false;

// Iterates GLib's default context from a Qt timer where Qt's dispatcher
// does not. 10 ms keeps a D-Bus round trip short without busy waiting.
class GlibPump : public QObject
{
public:
    explicit GlibPump(QObject *parent) : QObject(parent)
    {
        auto *t = new QTimer(this);
        t->setTimerType(Qt::CoarseTimer);
        connect(t, &QTimer::timeout, this, &GlibPump::pump);
        t->start(10);
    }

private:
    void pump()
    {
        GMainContext *ctx = g_main_context_default();
        if (!g_main_context_acquire(ctx))
            return;
        // Bounded: a source that keeps itself ready cannot starve Qt.
        for (int i = 0; i < 64 && g_main_context_pending(ctx); ++i)
            g_main_context_iteration(ctx, FALSE);
        g_main_context_release(ctx);
    }
};

GlibPump *g_pump = nullptr;

} // namespace

QString systemBusAddress()
{
    const QString root = zsys::sysroot();
    const QByteArray env = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (root.isEmpty())
        return QString::fromLocal8Bit(env);
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral("unix:path=") + zsys::path(QStringLiteral("/run/dbus/system_bus_socket"));
}

GDBusConnection *systemBus()
{
    const QString address = systemBusAddress();
    if (g_bus && (address != g_busAddress || g_dbus_connection_is_closed(g_bus))) {
        g_object_unref(g_bus);
        g_bus = nullptr;
    }
    if (g_bus)
        return g_bus;

    GError *error = nullptr;
    GDBusConnection *bus = nullptr;
    if (address.isEmpty()) {
        bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    } else {
        bus = g_dbus_connection_new_for_address_sync(
            address.toLocal8Bit().constData(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                 | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
    }
    if (!bus) {
        // Once per address: the wireless panels and monitors ask again and
        // again while the bus is missing.
        if (!g_busTried || g_failedAddress != address)
            qCWarning(logSystem) << "system bus not reachable:" << (address.isEmpty() ? QStringLiteral("(system)") : address)
                                 << (error ? error->message : "");
        g_busTried = true;
        g_failedAddress = address;
        g_clear_error(&error);
        return nullptr;
    }
    // A restarted bus must not take the radio's application with it.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    g_bus = bus;
    g_busAddress = address;
    g_failedAddress.clear();
    return g_bus;
}

bool glibDispatcherInUse()
{
    QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance(QThread::currentThread());
    return d && d->inherits("QEventDispatcherGlib");
}

void driveGlibMainContext()
{
    if (g_pump || glibDispatcherInUse())
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    qCInfo(logSystem) << "GLib main context driven by a timer (Qt's event dispatcher is not GLib's)";
    g_pump = new GlibPump(app);
}

} // namespace zwireless
