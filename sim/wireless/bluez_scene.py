'''BlueZ stand-in of a ZR450 system root.

A python-dbusmock template: it loads dbusmock's own "bluez5" template and
fills it with the radio's adapter and two paired devices, one of them
connected. Connecting and disconnecting a device also updates its
"Connected" property, as BlueZ does, so a client that reads the property
later sees the same state as one that followed the signals.
'''

import dbus

import dbusmock
from dbusmock import mockobject
from dbusmock.templates import bluez5

BUS_NAME = bluez5.BUS_NAME
MAIN_OBJ = bluez5.MAIN_OBJ
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

for _name in dir(bluez5):
    _fn = getattr(bluez5, _name)
    if hasattr(_fn, '_dbus_interface'):
        globals()[_name] = _fn

ADAPTER = 'hci0'
DEVICES = [
    # address, alias, connected
    ('00:1A:7D:DA:71:13', 'Shack-PC', True),
    ('5C:F3:70:8B:12:44', 'Field-Tablet', False),
]


def _set_connected(device, on):
    device.connected = on
    device.UpdateProperties(bluez5.DEVICE_IFACE, {'Connected': dbus.Boolean(on)})


def dev_connect(device):
    if not dbusmock.get_object('/org/bluez/' + ADAPTER).Get(bluez5.ADAPTER_IFACE, 'Powered'):
        raise dbus.exceptions.DBusException('Resource Not Ready', name='org.bluez.Error.NotReady')
    if device.connected:
        raise dbus.exceptions.DBusException('Already Connected', name='org.bluez.Error.AlreadyConnected')
    _set_connected(device, True)


def dev_disconnect(device):
    if not device.connected:
        raise dbus.exceptions.DBusException('Not Connected', name='org.bluez.Error.NotConnected')
    _set_connected(device, False)


def load(mock, parameters):
    bluez5.load(mock, parameters)
    # The template's helpers find the manager among the mock's objects,
    # where dbusmock puts it only after loading: it is put there now so
    # the scene can be built here.
    mockobject.objects.setdefault(mock.path, mock)
    bluez5.AddAdapter(mock, ADAPTER, parameters.get('name', 'ZR450'))
    for address, alias, connected in DEVICES:
        path = bluez5.AddDevice(mock, ADAPTER, address, alias)
        bluez5.PairDevice(mock, ADAPTER, address, 5898764)
        device = dbusmock.get_object(path)
        device.AddMethods(bluez5.DEVICE_IFACE, [
            ('Connect', '', '', dev_connect),
            ('Disconnect', '', '', dev_disconnect),
        ])
        if connected:
            _set_connected(device, True)
