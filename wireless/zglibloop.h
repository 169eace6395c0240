#ifndef ZGLIBLOOP_H
#define ZGLIBLOOP_H

#include <QString>

typedef struct _GDBusConnection GDBusConnection;

// The GLib side of the wireless clients: the system bus they share and the
// GLib main context whose callbacks (libnm's completions and signals, the
// BlueZ client's) must run on the GUI thread.
namespace zwireless {

// The address of the system bus. On the radio it is GLib's own choice (the
// real system bus, or DBUS_SYSTEM_BUS_ADDRESS). Under a system root it is
// DBUS_SYSTEM_BUS_ADDRESS when set, else the root's
// "/run/dbus/system_bus_socket": the host's own system bus is never used
// while a system root is set.
QString systemBusAddress();

// The shared connection to the system bus (not to be unreferenced by the
// caller), or null when the bus cannot be reached (logged once per
// address). A closed connection is replaced on the next call. The
// connection does not end the process when the bus goes away, as GLib's
// default would.
GDBusConnection *systemBus();

// Makes sure GLib's default main context is iterated on the GUI thread. Qt's
// GLib event dispatcher (the default of Debian's Qt) already does; with any
// other dispatcher (QT_NO_GLIB=1) a timer on the GUI thread does it. Call
// from the GUI thread; cheap to call again.
void driveGlibMainContext();

// Whether Qt's event dispatcher of this thread is its GLib one.
bool glibDispatcherInUse();

} // namespace zwireless

#endif
