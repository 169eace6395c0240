'''NetworkManager stand-in of a ZR450 system root.

A python-dbusmock template: it loads dbusmock's own "networkmanager"
template and fills it with the radio's small scene: one WiFi device, a few
access points of different strengths, one saved and active WiFi connection
(with its keyfile under the system root's etc/NetworkManager/
system-connections/) and one saved wired connection without a device.

Where the stock template lacks what libnm calls, the methods are added here:
Update2 (libnm's commit), secrets kept apart from GetSettings as
NetworkManager keeps them, a keyfile rewritten on every commit to disk, and
an activation that also sets the device's access point and IPv4
configuration.

Parameters (JSON, -p): "sysroot" (directory of the system root; the keyfiles
go below it).
'''

import os
import socket
import struct

import dbus

import dbusmock
from dbusmock.templates import networkmanager as nm

BUS_NAME = nm.BUS_NAME
MAIN_OBJ = nm.MAIN_OBJ
MAIN_IFACE = nm.MANAGER_IFACE
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

# The stock template's mock methods (AddWiFiDevice, AddAccessPoint,
# SetProperty, ...) become methods of this mock as well.
for _name in dir(nm):
    _fn = getattr(nm, _name)
    if hasattr(_fn, '_dbus_interface'):
        globals()[_name] = _fn

DEVICE_PATH = '/org/freedesktop/NetworkManager/Devices/wlan0'
IP4_PATH = '/org/freedesktop/NetworkManager/IP4Config/1'
IP4_IFACE = 'org.freedesktop.NetworkManager.IP4Config'
SHACK_UUID = '7c1f8a3e-5d2b-4c6a-9f1e-2b3c4d5e6f70'
WIRED_UUID = '3e9d2f10-8a4b-4c1d-b2e3-f4a5b6c7d801'

# Key management with WPA2-PSK and CCMP, as NetworkManager reports it.
SEC_WPA2_PSK = 0x100 | 0x8 | 0x80

ACCESS_POINTS = [
    # object name, SSID, BSSID, frequency, strength, security
    ('ap_shack', 'ZR450-Shack', '02:5A:52:00:00:01', 2437, 82, SEC_WPA2_PSK),
    ('ap_club', 'HamClub', '02:5A:52:00:00:02', 2462, 56, SEC_WPA2_PSK),
    ('ap_field', 'FieldDay-Net', '02:5A:52:00:00:03', 5180, 34, SEC_WPA2_PSK),
    ('ap_guest', 'Guest-Open', '02:5A:52:00:00:04', 2412, 12, 0),
]

# What a DHCP server hands the radio on every network of the scene.
DHCP_LEASE = ('192.168.1.50', 24, '192.168.1.1', ['192.168.1.1'])

SECRET_KEYS = {
    '802-11-wireless-security': ('psk', 'wep-key0', 'wep-key1', 'wep-key2', 'wep-key3', 'leap-password'),
}

KEYFILE_TYPES = {'802-11-wireless': 'wifi', '802-3-ethernet': 'ethernet'}
KEYFILE_GROUPS = {'802-11-wireless': 'wifi', '802-11-wireless-security': 'wifi-security',
                  '802-3-ethernet': 'ethernet'}


def _u32_to_ip(value):
    # NetworkManager's legacy IPv4 integers carry the address bytes in
    # network order in the machine's own representation.
    return socket.inet_ntoa(struct.pack('=I', int(value)))


def _ip_to_u32(text):
    return dbus.UInt32(struct.unpack('=I', socket.inet_aton(text))[0])


def _ipv4_addresses(s4):
    '''[(address, prefix)] of an ipv4 setting, new or legacy form.'''
    out = []
    for a in s4.get('address-data', []):
        out.append((str(a['address']), int(a['prefix'])))
    if not out:
        for a in s4.get('addresses', []):
            out.append((_u32_to_ip(a[0]), int(a[1])))
    return out


def _ipv4_gateway(s4):
    gw = str(s4.get('gateway', ''))
    if not gw:
        for a in s4.get('addresses', []):
            if len(a) > 2 and int(a[2]):
                return _u32_to_ip(a[2])
    return gw


def _ipv4_dns(s4):
    if 'dns-data' in s4:
        return [str(d) for d in s4['dns-data']]
    return [_u32_to_ip(d) for d in s4.get('dns', [])]


def _keyfile_value(value):
    if isinstance(value, (bool, dbus.Boolean)):
        return 'true' if value else 'false'
    if isinstance(value, bytes):
        return value.decode('utf-8', 'replace')
    if isinstance(value, (dbus.Array, list)) and value and all(isinstance(b, dbus.Byte) for b in value):
        return bytes(int(b) for b in value).decode('utf-8', 'replace')
    if isinstance(value, (dbus.Array, list)):
        return ''.join(str(v) + ';' for v in value)
    return str(value)


def write_keyfile(sysroot, settings, secrets):
    '''Writes the connection as NetworkManager's keyfile plugin would.'''
    con = settings.get('connection', {})
    name = str(con.get('id', 'connection')).replace('/', '*')
    directory = os.path.join(sysroot, 'etc/NetworkManager/system-connections')
    os.makedirs(directory, exist_ok=True)
    lines = ['[connection]', f"id={con.get('id', '')}", f"uuid={con.get('uuid', '')}"]
    ctype = str(con.get('type', ''))
    lines.append('type=' + KEYFILE_TYPES.get(ctype, ctype))
    if 'autoconnect' in con and not con['autoconnect']:
        lines.append('autoconnect=false')
    for setting, group in KEYFILE_GROUPS.items():
        if setting not in settings and not (setting in secrets and secrets[setting]):
            continue
        lines += ['', f'[{group}]']
        values = dict(settings.get(setting, {}))
        values.update(secrets.get(setting, {}))
        for key in sorted(values):
            if key in ('seen-bssids', 'security'):
                continue
            if isinstance(values[key], (dbus.Array, list)) and not values[key]:
                continue
            lines.append(f'{key}={_keyfile_value(values[key])}')
    s4 = settings.get('ipv4', {})
    lines += ['', '[ipv4]']
    for i, (addr, prefix) in enumerate(_ipv4_addresses(s4), start=1):
        gw = _ipv4_gateway(s4) if i == 1 else ''
        lines.append(f'address{i}={addr}/{prefix}' + (f',{gw}' if gw else ''))
    dns = _ipv4_dns(s4)
    if dns:
        lines.append('dns=' + ''.join(d + ';' for d in dns))
    for key in ('ignore-auto-dns', 'ignore-auto-routes'):
        if key in s4 and s4[key]:
            lines.append(f'{key}=true')
    lines.append('method=' + str(s4.get('method', 'auto')))
    lines += ['', '[ipv6]', 'addr-gen-mode=default', 'method=auto', '', '[proxy]', '']
    path = os.path.join(directory, name + '.nmconnection')
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines))
    return path


def _split_secrets(settings):
    '''The settings without their secrets, and the secrets alone.'''
    public = dbus.Dictionary({}, signature='sa{sv}')
    secrets = {}
    for setting, values in settings.items():
        keys = SECRET_KEYS.get(str(setting), ())
        public[setting] = dbus.Dictionary({k: v for k, v in values.items() if k not in keys},
                                          signature='sv')
        found = {k: v for k, v in values.items() if k in keys}
        if found:
            secrets[str(setting)] = found
    return public, secrets


def conn_get_settings(self):
    return self.settings


def conn_get_secrets(self, setting):
    return dbus.Dictionary({setting: dbus.Dictionary(self.secrets.get(str(setting), {}), signature='sv')},
                           signature='sa{sv}')


def conn_update2(self, settings, flags, _args):
    if len(settings):
        public, secrets = _split_secrets(settings)
        # An update without secrets keeps the stored ones, as
        # NetworkManager does.
        if secrets:
            self.secrets = secrets
        self.settings = public
    # Flag 0x1 saves to disk, 0x2 keeps the change in memory only.
    if (flags & 0x1) or not (flags & 0x2):
        write_keyfile(self.sysroot, self.settings, self.secrets)
    self.EmitSignal(nm.CSETTINGS_IFACE, 'Updated', '', [])
    return dbus.Dictionary({}, signature='sv')


def conn_update(self, settings):
    conn_update2(self, settings, 0x1, {})


def add_connection(mock, name, settings, sysroot):
    '''A saved connection at Settings/<name>, with its keyfile.'''
    path = nm.SETTINGS_OBJ + '/' + name
    public, secrets = _split_secrets(settings)
    keyfile = write_keyfile(sysroot, public, secrets)
    mock.AddObject(path, nm.CSETTINGS_IFACE,
                   {'Unsaved': False, 'Flags': dbus.UInt32(0), 'Filename': keyfile}, [])
    obj = dbusmock.get_object(path)
    obj.settings = public
    obj.secrets = secrets
    obj.sysroot = sysroot
    obj.connection_path = path
    obj.AddMethods(nm.CSETTINGS_IFACE, [
        ('GetSettings', '', 'a{sa{sv}}', conn_get_settings),
        ('GetSecrets', 's', 'a{sa{sv}}', conn_get_secrets),
        ('Update', 'a{sa{sv}}', '', conn_update),
        ('UpdateUnsaved', 'a{sa{sv}}', '', lambda self, s: conn_update2(self, s, 0x2, {})),
        ('Update2', 'a{sa{sv}}ua{sv}', 'a{sv}', conn_update2),
        ('Save', '', '', lambda self: conn_update2(self, {}, 0x1, {})),
        ('ClearSecrets', '', '', lambda self: setattr(self, 'secrets', {})),
        ('Delete', '', '', lambda self: nm.ConnectionDelete(self)),
    ])
    mock.object_manager_emit_added(path)
    settings_obj = dbusmock.get_object(nm.SETTINGS_OBJ)
    conns = settings_obj.Get(nm.SETTINGS_IFACE, 'Connections')
    conns.append(dbus.ObjectPath(path))
    settings_obj.Set(nm.SETTINGS_IFACE, 'Connections', conns)
    settings_obj.EmitSignal(nm.SETTINGS_IFACE, 'NewConnection', 'o', [path])
    return path


def set_ip4config(mock, lease):
    '''The device's current IPv4 configuration, or none.'''
    dev = dbusmock.get_object(DEVICE_PATH)
    if lease is None:
        dev.Set(nm.DEVICE_IFACE, 'Ip4Config', dbus.ObjectPath('/'))
        return
    addr, prefix, gw, dns = lease
    ip4 = dbusmock.get_object(IP4_PATH)
    ip4.UpdateProperties(IP4_IFACE, {
        'AddressData': dbus.Array([dbus.Dictionary({'address': addr, 'prefix': dbus.UInt32(prefix)},
                                                   signature='sv')], signature='a{sv}'),
        'Addresses': dbus.Array([dbus.Array([_ip_to_u32(addr), dbus.UInt32(prefix), _ip_to_u32(gw)],
                                            signature='u')], signature='au'),
        'Gateway': gw,
        'NameserverData': dbus.Array([dbus.Dictionary({'address': d}, signature='sv') for d in dns],
                                     signature='a{sv}'),
        'Nameservers': dbus.Array([_ip_to_u32(d) for d in dns], signature='u'),
    })
    dev.Set(nm.DEVICE_IFACE, 'Ip4Config', dbus.ObjectPath(IP4_PATH))


def lease_for(settings):
    s4 = settings.get('ipv4', {})
    if str(s4.get('method', 'auto')) == 'manual':
        addrs = _ipv4_addresses(s4)
        if addrs:
            return (addrs[0][0], addrs[0][1], _ipv4_gateway(s4), _ipv4_dns(s4))
    return DHCP_LEASE


def activate(self, conn_path, dev_path, specific):
    '''ActivateConnection: the connection comes up on the WiFi device with
    the strongest access point of its SSID.'''
    conn = dbusmock.get_object(conn_path)
    dev = dbusmock.get_object(DEVICE_PATH)
    ssid = bytes(int(b) for b in conn.settings.get('802-11-wireless', {}).get('ssid', []))
    best = None
    for ap_path in dev.access_points:
        ap = dbusmock.get_object(ap_path)
        if bytes(ap.Get(nm.ACCESS_POINT_IFACE, 'Ssid')) == ssid:
            if best is None or ap.Get(nm.ACCESS_POINT_IFACE, 'Strength') > best[1]:
                best = (ap_path, ap.Get(nm.ACCESS_POINT_IFACE, 'Strength'))
    if not ssid or best is None:
        raise dbus.exceptions.DBusException('No suitable device found for this connection',
                                            name='org.freedesktop.NetworkManager.UnknownDevice')
    deactivate(self, None)
    active = nm.activate_connection(self, conn_path, DEVICE_PATH, best[0])
    dev.Set(nm.WIRELESS_DEVICE_IFACE, 'ActiveAccessPoint', dbus.ObjectPath(best[0]))
    set_ip4config(self, lease_for(conn.settings))
    return active


def deactivate(self, active_path):
    '''DeactivateConnection (None: whatever is active).'''
    manager = dbusmock.get_object(nm.MANAGER_OBJ)
    for path in list(manager.Get(nm.MANAGER_IFACE, 'ActiveConnections')):
        if active_path is None or str(path) == str(active_path):
            nm.RemoveActiveConnection(self, DEVICE_PATH, path)
    if not manager.Get(nm.MANAGER_IFACE, 'ActiveConnections'):
        dev = dbusmock.get_object(DEVICE_PATH)
        dev.Set(nm.WIRELESS_DEVICE_IFACE, 'ActiveAccessPoint', dbus.ObjectPath('/'))
        set_ip4config(self, None)


def load(mock, parameters):
    sysroot = parameters.get('sysroot', '/tmp/zr450-sysroot')
    params = dict(parameters)
    params.pop('sysroot', None)
    params.setdefault('Version', '1.42.4')
    nm.load(mock, params)

    manager = dbusmock.get_object(nm.MANAGER_OBJ)
    manager.AddMethods(nm.MANAGER_IFACE, [
        ('ActivateConnection', 'ooo', 'o', activate),
        ('DeactivateConnection', 'o', '', deactivate),
    ])
    manager.AddProperties(nm.MANAGER_IFACE, {
        'Capabilities': dbus.Array([], signature='u'),
        'PrimaryConnection': dbus.ObjectPath('/'),
        'PrimaryConnectionType': '',
        'Metered': dbus.UInt32(4),
        'ConnectivityCheckAvailable': True,
        'ConnectivityCheckEnabled': True,
        'ConnectivityCheckUri': '',
    })

    mock.AddObject(IP4_PATH, IP4_IFACE, {
        'AddressData': dbus.Array([], signature='a{sv}'),
        'Addresses': dbus.Array([], signature='au'),
        'Gateway': '',
        'NameserverData': dbus.Array([], signature='a{sv}'),
        'Nameservers': dbus.Array([], signature='u'),
        'Domains': dbus.Array([], signature='s'),
        'Searches': dbus.Array([], signature='s'),
        'DnsOptions': dbus.Array([], signature='s'),
        'DnsPriority': dbus.Int32(0),
        'RouteData': dbus.Array([], signature='a{sv}'),
        'Routes': dbus.Array([], signature='au'),
        'WinsServerData': dbus.Array([], signature='s'),
    }, [])
    mock.object_manager_emit_added(IP4_PATH)

    nm.AddWiFiDevice(mock, 'wlan0', 'wlan0', nm.DeviceState.ACTIVATED)
    dev = dbusmock.get_object(DEVICE_PATH)
    dev.Set(nm.WIRELESS_DEVICE_IFACE, 'HwAddress', '02:5A:52:45:04:50')
    dev.Set(nm.WIRELESS_DEVICE_IFACE, 'PermHwAddress', '02:5A:52:45:04:50')
    dev.AddProperty(nm.WIRELESS_DEVICE_IFACE, 'ActiveAccessPoint', dbus.ObjectPath('/'))
    dev.AddProperty(nm.WIRELESS_DEVICE_IFACE, 'LastScan', dbus.Int64(1))
    dev.AddProperties(nm.DEVICE_IFACE, {
        'Ip4Config': dbus.ObjectPath('/'),
        'Ip6Config': dbus.ObjectPath('/'),
        'Dhcp4Config': dbus.ObjectPath('/'),
        'Dhcp6Config': dbus.ObjectPath('/'),
        'Mtu': dbus.UInt32(1500),
        'Real': True,
    })
    for name, ssid, bssid, freq, strength, security in ACCESS_POINTS:
        nm.AddAccessPoint(mock, DEVICE_PATH, name, ssid, bssid, nm.InfrastructureMode.NM_802_11_MODE_INFRA,
                          freq, 54000, strength, security)

    shack = add_connection(mock, '1', {
        'connection': {'id': 'ZR450-Shack', 'uuid': SHACK_UUID, 'type': '802-11-wireless',
                       'timestamp': dbus.UInt64(1700000000)},
        '802-11-wireless': {'ssid': dbus.ByteArray(b'ZR450-Shack'), 'mode': 'infrastructure',
                            'security': '802-11-wireless-security'},
        '802-11-wireless-security': {'key-mgmt': 'wpa-psk', 'psk': 'shack-73-de-zr450'},
        'ipv4': {'method': 'auto'},
        'ipv6': {'method': 'auto'},
    }, sysroot)
    add_connection(mock, '2', {
        'connection': {'id': 'Wired connection 1', 'uuid': WIRED_UUID, 'type': '802-3-ethernet',
                       'autoconnect': False},
        '802-3-ethernet': {'auto-negotiate': False},
        'ipv4': {'method': 'auto'},
        'ipv6': {'method': 'auto'},
    }, sysroot)
    dev.Set(nm.DEVICE_IFACE, 'AvailableConnections', dbus.Array([dbus.ObjectPath(shack)], signature='o'))

    activate(manager, shack, DEVICE_PATH, '/')
