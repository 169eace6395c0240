// WiFi and Bluetooth as the operator meets them: the WiFi connection read
// and changed through NetworkManager, the wireless daemon's commands and
// status stream, the status-bar indicators, BlueZ's adapter and devices.
// NetworkManager and BlueZ are python-dbusmock stand-ins on a private
// system bus of the test's own system root; what the application commits
// is read back from them.
#include <gio/gio.h>
#include <NetworkManager.h>

#include "tests/widget_support.h"
#include "tests/test_support.h"
#include "tests/wireless_support.h"

#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "ui/zkeyboard.h"
#include "wireless/dialogbluetoothsetting.h"
#include "wireless/dialogwlansetting.h"
#include "wireless/wifimanager.h"
#include "wireless/zbluetooth.h"
#include "wireless/zglibloop.h"
#include "wireless/zwirelessservices.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kShack = QString::fromLatin1(ztest::kShackUuid);
const QString kWired = QString::fromLatin1(ztest::kWiredUuid);
const char *const kNm = "org.freedesktop.NetworkManager";

// What one operation reported, and on which thread.
struct Outcome
{
    int successes = 0;
    int failures = 0;
    std::string uuid;
    std::string message;
    QThread *thread = nullptr;

    WifiOperationContext ctx()
    {
        WifiOperationContext c;
        c.onSuccess = [this](const std::string &u) {
            ++successes;
            uuid = u;
            thread = QThread::currentThread();
        };
        c.onFailure = [this](const std::string &u, const std::string &m) {
            ++failures;
            uuid = u;
            message = m;
            thread = QThread::currentThread();
        };
        return c;
    }
    int reports() const { return successes + failures; }
};

// Receives the queued access-point calls as the main window would.
class ApReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList ssids;
    QList<int> strengths;
public slots:
    void accessPointAdded(QString ssid, int rssi)
    {
        ssids << ssid;
        strengths << rssi;
    }
};

// A pipe whose read end is non-blocking, as the daemon's status stream.
struct Pipe
{
    int r = -1, w = -1;
    bool open(bool nonBlocking = true)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        r = fds[0];
        w = fds[1];
        if (nonBlocking)
            fcntl(r, F_SETFL, fcntl(r, F_GETFL) | O_NONBLOCK);
        return true;
    }
    bool write(const QByteArray &b) { return ztest::writeAll(w, b.constData(), size_t(b.size())); }
    ~Pipe()
    {
        if (r >= 0)
            close(r);
        if (w >= 0)
            close(w);
    }
};

using ztest::sendKey;
using ztest::tapKey;
using ztest::turnKnob;

// With ZR450_TEST_SHOTS naming a directory, a picture of the panel as the
// operator sees it goes there.
void shot(QWidget *w, const char *name)
{
    const QByteArray dir = qgetenv("ZR450_TEST_SHOTS");
    // Widgets added to a shown panel appear with the next events.
    QCoreApplication::processEvents();
    if (!dir.isEmpty())
        w->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

// Stands in for the on-screen keyboard: types `text` into the target (or
// cancels when it is null) and records what was asked for.
struct TypedText
{
    QStringList texts;
    QList<int> types;
    QStringList seen; // the target's text when the keyboard opened
    void install()
    {
        DialogWlanSetting::setTextEditor([this](QWidget *, QLineEdit *target, int type) {
            types << type;
            seen << target->text();
            if (texts.isEmpty())
                return int(QDialog::Rejected);
            const QString t = texts.takeFirst();
            if (t.isNull())
                return int(QDialog::Rejected);
            target->setText(t);
            return int(QDialog::Accepted);
        });
    }
    ~TypedText() { DialogWlanSetting::setTextEditor(nullptr); }
};

int commandLines(const QString &root, const QString &text)
{
    const QString log = ztest::readText(root + QStringLiteral("/var/log/commands.log"));
    return log.count(text);
}

} // namespace

class TestWireless : public QObject
{
    Q_OBJECT

    ztest::Sysroot m_root;
    ztest::WirelessServices m_services;
    NMClient *m_client = nullptr;
    ZParamAdmin *m_store = nullptr;

    // A fresh scene and a client that has read it.
    bool freshScene()
    {
        WiFiManager::releaseClient(m_client);
        m_client = nullptr;
        if (!m_services.restart())
            return false;
        m_client = WiFiManager::createClient();
        return m_client && nm_client_get_nm_running(m_client);
    }

    // The stand-in's view of the scene's WiFi connection.
    QVariantMap shack() const { return ztest::storedSettings(ztest::kShackPath); }

    int commits() const { return ztest::mockCallCount(kNm, ztest::kShackPath, "Update2"); }

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
        QVERIFY(m_root.isValid());
        // Debian's Qt runs on GLib's main loop, so libnm's and GIO's
        // callbacks come with Qt's events; with QT_NO_GLIB=1 the wireless
        // library drives GLib's context itself.
        QCOMPARE(zwireless::glibDispatcherInUse(), !qEnvironmentVariableIsSet("QT_NO_GLIB"));
        ztest::setSysroot(m_root.path());
        QVERIFY2(m_services.start(m_root.path()), "the system bus with the stand-ins did not start");
        // The application finds the root's bus by itself.
        QCOMPARE(zwireless::systemBusAddress(),
                 QStringLiteral("unix:path=") + m_root.path() + QStringLiteral("/run/dbus/system_bus_socket"));
        QDir().mkpath(zsys::appDir());
        m_store = new ZParamAdmin(nullptr);
    }

    void cleanupTestCase()
    {
        delete m_store;
        m_store = nullptr;
        if (m_client)
            g_object_unref(m_client);
        m_client = nullptr;
        m_services.stop();
        ztest::setSysroot(QString());
    }

    void cleanup()
    {
        ztest::clearLog();
    }

    // ------------------------------------------------------- plain helpers

    void netmaskOfPrefix_data()
    {
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("netmask");
        QTest::newRow("24") << 24 << "255.255.255.0";
        QTest::newRow("0") << 0 << "0.0.0.0";
        QTest::newRow("32") << 32 << "255.255.255.255";
        QTest::newRow("1") << 1 << "128.0.0.0";
        QTest::newRow("25") << 25 << "255.255.255.128";
        QTest::newRow("33 is no prefix") << 33 << "";
        QTest::newRow("-1 is no prefix") << -1 << "";
    }
    void netmaskOfPrefix()
    {
        QFETCH(int, prefix);
        QFETCH(QString, netmask);
        QCOMPARE(WiFiManager::prefixToNetmask(prefix), netmask);
    }

    void keyfileGivesAddressPrefixNetmaskAndGateway()
    {
        QCOMPARE(WiFiManager::toIPv4Address(QStringLiteral("192.168.1.50"), 24, QStringLiteral("192.168.1.1")),
                 QStringLiteral("192.168.1.50/24,192.168.1.1"));
        // The form NetworkManager writes, with a password that holds the
        // characters an INI reader of another kind would split or unescape.
        m_root.writeFile(QStringLiteral("/etc/NetworkManager/system-connections/Field Net.nmconnection"),
                         "[connection]\nid=Field Net\ntype=wifi\n\n[wifi]\nssid=Field Net\n\n"
                         "[wifi-security]\nkey-mgmt=wpa-psk\npsk=a,b;c\\\\d \"e\"\n\n"
                         "[ipv4]\naddress1=" + WiFiManager::toIPv4Address(QStringLiteral("192.168.1.50"), 24,
                                                                          QStringLiteral("192.168.1.1")).toUtf8()
                         + "\ndns=192.168.1.1;8.8.8.8;\nmethod=manual\n");
        ConnectedWiFiInfo info;
        QVERIFY(WiFiManager::getWiFiInfoWithSsid(QStringLiteral("Field Net"), info));
        QCOMPARE(info.address, QStringLiteral("192.168.1.50"));
        QCOMPARE(info.prefix, 24);
        QCOMPARE(info.netmask, QStringLiteral("255.255.255.0"));
        QCOMPARE(info.gateway, QStringLiteral("192.168.1.1"));
        QCOMPARE(info.dns, QStringLiteral("192.168.1.1;8.8.8.8;"));
        QCOMPARE(info.security, QStringLiteral("wpa-psk"));
        QCOMPARE(info.password, QStringLiteral("a,b;c\\d \"e\""));
        QCOMPARE(info.dhcp, false);

        // No keyfile: the record stays as it was.
        ConnectedWiFiInfo none;
        QVERIFY(!WiFiManager::getWiFiInfoWithSsid(QStringLiteral("Nowhere"), none));
        QVERIFY(ztest::logContains(QStringLiteral("Can't open")));
        QCOMPARE(none.prefix, 24);
        QVERIFY(none.address.isEmpty());
        // An SSID names no file outside the connections directory.
        QCOMPARE(WiFiManager::keyfilePath(QStringLiteral("../../profile")),
                 zsys::path(QStringLiteral("/etc/NetworkManager/system-connections/..*..*profile.nmconnection")));
    }

    // ------------------------------------------------- NetworkManager view

    void readsTheActiveConnection()
    {
        QVERIFY(freshScene());
        QCOMPARE(WiFiManager::getMacAddress(m_client), QStringLiteral("02:5A:52:45:04:50"));
        QCOMPARE(WiFiManager::getConnectedSSID(m_client), QStringLiteral("ZR450-Shack"));
        int strength = -1;
        QVERIFY(WiFiManager::hasActiveWiFiConnection(m_client, strength));
        QCOMPARE(strength, 82);
        QCOMPARE(WiFiManager::findUuidByConnectionName(m_client, QStringLiteral("ZR450-Shack")), kShack);
        QVERIFY(WiFiManager::findUuidByConnectionName(m_client, QString()).isEmpty());
        QVERIFY(WiFiManager::findUuidByConnectionName(m_client, QStringLiteral("Elsewhere")).isEmpty());
        QVERIFY(WiFiManager::findActiveConnectionByUuid(m_client, kShack));
        QVERIFY(!WiFiManager::findActiveConnectionByUuid(m_client, kWired));
        QVERIFY(WiFiManager::findConnectionByUuid(m_client, kWired));

        ConnectedWiFiInfo info = WiFiManager::getConnectedWiFiInfo(m_client, false);
        QCOMPARE(info.ssid, QStringLiteral("ZR450-Shack"));
        QCOMPARE(info.strength, 82);
        QCOMPARE(info.security, QStringLiteral("wpa-psk"));
        QCOMPARE(info.dhcp, true);
        QCOMPARE(info.address, QStringLiteral("192.168.1.50"));
        QCOMPARE(info.prefix, 24);
        QCOMPARE(info.netmask, QStringLiteral("255.255.255.0"));
        QCOMPARE(info.gateway, QStringLiteral("192.168.1.1"));
        QCOMPARE(info.dns, QStringLiteral("192.168.1.1;"));
        // NetworkManager keeps the key to itself; the keyfile has it.
        QVERIFY(info.password.isEmpty());
        info = WiFiManager::getConnectedWiFiInfo(m_client, true);
        QCOMPARE(info.password, QStringLiteral("shack-73-de-zr450"));
        QCOMPARE(info.address, QStringLiteral("192.168.1.50"));

        const QList<WifiAccessPoint> aps = WiFiManager::accessPoints(m_client);
        QCOMPARE(aps.size(), 4);
        QCOMPARE(aps.at(0).ssid, QStringLiteral("ZR450-Shack"));
        QVERIFY(aps.at(0).active && aps.at(0).secured);
        QCOMPARE(aps.at(0).uuid, kShack);
        QCOMPARE(aps.at(3).ssid, QStringLiteral("Guest-Open"));
        QCOMPARE(aps.at(3).strength, 12);
        QVERIFY(!aps.at(3).secured && !aps.at(3).active && aps.at(3).uuid.isEmpty());
        QVERIFY(WiFiManager::autoconnect(m_client, kShack));
    }

    // Every operation refuses what it cannot do before it asks
    // NetworkManager for anything, and says why.
    void failuresBeforeAnyRequest_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("uuid");
        QTest::addColumn<bool>("nullClient");
        QTest::addColumn<QString>("message");
        const char *ops[] = {"password", "autoconnect", "static", "dhcp", "dns", "connect"};
        for (int op = 0; op < 6; ++op) {
            QTest::addRow("%s unknown UUID", ops[op]) << op << "00000000-0000-0000-0000-000000000000" << false
                                                      << "Connection not found";
            QTest::addRow("%s wired", ops[op]) << op << kWired << false << "Connection is not a Wi-Fi connection";
            QTest::addRow("%s no client", ops[op]) << op << kShack << true << "NMClient is null";
        }
        QTest::addRow("disconnect no client") << 6 << kShack << true << "NMClient is null";
        QTest::addRow("password too short") << 0 << kShack << false
                                            << "Invalid password: 8 to 63 characters, or 64 hexadecimal digits";
        QTest::addRow("static bad address") << 2 << kShack << false << "Invalid IPv4 address";
        QTest::addRow("dns only blanks") << 4 << kShack << false << "No valid DNS servers provided";
    }
    void failuresBeforeAnyRequest()
    {
        QFETCH(int, op);
        QFETCH(QString, uuid);
        QFETCH(bool, nullClient);
        QFETCH(QString, message);
        if (!m_client || !nm_client_get_nm_running(m_client))
            QVERIFY(freshScene());
        ztest::clearMockCalls(kNm, ztest::kShackPath);
        ztest::clearMockCalls(kNm, "/org/freedesktop/NetworkManager");
        NMClient *client = nullClient ? nullptr : m_client;
        Outcome o;
        switch (op) {
        case 0: WiFiManager::updateWifiPassword(client, uuid, QStringLiteral("short"), o.ctx()); break;
        case 1: WiFiManager::setAutoconnect(client, uuid, false, o.ctx()); break;
        case 2: WiFiManager::setStaticIp(client, uuid, QStringLiteral("10.0.0.300"), 24, QString(), o.ctx()); break;
        case 3: WiFiManager::setConnectionIpv4ToDhcp(client, uuid, o.ctx()); break;
        case 4: WiFiManager::setDnsServers(client, uuid, {QString(), QStringLiteral("  ")}, o.ctx()); break;
        case 5: WiFiManager::connectToSsidByUuid(client, uuid, o.ctx()); break;
        case 6: WiFiManager::disconnectByUuid(client, uuid, o.ctx()); break;
        }
        // Reported at once, before the call returned.
        QCOMPARE(o.failures, 1);
        QCOMPARE(o.successes, 0);
        QCOMPARE(QString::fromStdString(o.message), message);
        QCOMPARE(QString::fromStdString(o.uuid), uuid);
        QCOMPARE(commits(), 0);
        QCOMPARE(ztest::mockCallCount(kNm, "/org/freedesktop/NetworkManager", "ActivateConnection"), 0);
    }

    void passwordOfAnOpenNetworkIsRefused()
    {
        QVERIFY(freshScene());
        // A saved connection without security, as NetworkManager would add
        // it for an open network.
        const char *uuid = "5b1e0c2d-7a6f-4e3b-9c8d-0a1b2c3d4e5f";
        GVariantBuilder con, wifi, all;
        g_variant_builder_init(&con, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&con, "{sv}", "id", g_variant_new_string("Guest-Open"));
        g_variant_builder_add(&con, "{sv}", "uuid", g_variant_new_string(uuid));
        g_variant_builder_add(&con, "{sv}", "type", g_variant_new_string("802-11-wireless"));
        g_variant_builder_init(&wifi, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&wifi, "{sv}", "ssid", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "Guest-Open", 10, 1));
        g_variant_builder_init(&all, G_VARIANT_TYPE("a{sa{sv}}"));
        g_variant_builder_add(&all, "{sa{sv}}", "connection", &con);
        g_variant_builder_add(&all, "{sa{sv}}", "802-11-wireless", &wifi);
        GVariant *r = ztest::busCall(kNm, "/org/freedesktop/NetworkManager/Settings",
                                     "org.freedesktop.NetworkManager.Settings", "AddConnection",
                                     g_variant_new("(a{sa{sv}})", &all));
        QVERIFY(r);
        g_variant_unref(r);
        QTRY_VERIFY(WiFiManager::findConnectionByUuid(m_client, QString::fromLatin1(uuid)));
        QCOMPARE(WiFiManager::findUuidBySsid(m_client, QStringLiteral("Guest-Open")), QString::fromLatin1(uuid));

        Outcome o;
        WiFiManager::updateWifiPassword(m_client, QString::fromLatin1(uuid), QStringLiteral("password123"), o.ctx());
        QCOMPARE(o.failures, 1);
        QCOMPARE(QString::fromStdString(o.message), QStringLiteral("No wireless security setting in connection"));
        QVERIFY(ztest::logContains(QStringLiteral("No wireless security setting in connection")));
        // An unknown one is logged with its UUID as well as reported.
        Outcome unknown;
        WiFiManager::updateWifiPassword(m_client, QStringLiteral("0000-gone"), QStringLiteral("password123"),
                                        unknown.ctx());
        QCOMPARE(QString::fromStdString(unknown.message), QStringLiteral("Connection not found"));
        QVERIFY(ztest::logContains(QStringLiteral("Connection not found: \"0000-gone\"")));
    }

    void blankDnsEntriesCommitNothingAndLeaveTheServers()
    {
        QVERIFY(freshScene());
        Outcome dns;
        WiFiManager::setDnsServers(m_client, kShack, {QStringLiteral(" 9.9.9.9 "), QString(), QStringLiteral("1.1.1.1")},
                                   dns.ctx());
        QTRY_COMPARE(dns.successes, 1);
        QCOMPARE(shack().value("ipv4.dns-data").toString(), QStringLiteral("9.9.9.9,1.1.1.1"));
        ztest::clearMockCalls(kNm, ztest::kShackPath);

        Outcome blank;
        WiFiManager::setDnsServers(m_client, kShack, {QStringLiteral(""), QStringLiteral("   ")}, blank.ctx());
        QCOMPARE(QString::fromStdString(blank.message), QStringLiteral("No valid DNS servers provided"));
        QCOMPARE(commits(), 0);
        // The next change commits the servers as they were, not an empty list.
        Outcome pw;
        WiFiManager::updateWifiPassword(m_client, kShack, QStringLiteral("another-key-73"), pw.ctx());
        QTRY_COMPARE(pw.successes, 1);
        QCOMPARE(shack().value("ipv4.dns-data").toString(), QStringLiteral("9.9.9.9,1.1.1.1"));
    }

    void connectingTheActiveConnectionSucceedsAtOnce()
    {
        QVERIFY(freshScene());
        ztest::clearMockCalls(kNm, "/org/freedesktop/NetworkManager");
        Outcome o;
        WiFiManager::connectToSsidByUuid(m_client, kShack, o.ctx());
        QCOMPARE(o.successes, 1);
        QCOMPARE(QString::fromStdString(o.uuid), kShack);
        QCOMPARE(ztest::mockCallCount(kNm, "/org/freedesktop/NetworkManager", "ActivateConnection"), 0);
    }

    void passwordChangeIsSavedByTheStandIn()
    {
        QVERIFY(freshScene());
        Outcome o;
        WiFiManager::updateWifiPassword(m_client, kShack, QStringLiteral("new key, 73!"), o.ctx());
        QCOMPARE(o.reports(), 0); // the answer comes later, never while waiting
        QTRY_COMPARE(o.successes, 1);
        QCOMPARE(o.failures, 0);
        QCOMPARE(QString::fromStdString(o.uuid), kShack);
        QCOMPARE(o.thread, QCoreApplication::instance()->thread());
        QCOMPARE(shack().value("802-11-wireless-security.psk").toString(), QStringLiteral("new key, 73!"));
        // Saved to disk: the commit asked for it, and the keyfile has it.
        QString args;
        QCOMPARE(ztest::mockCallCount(kNm, ztest::kShackPath, "Update2", &args), 1);
        QVERIFY2(args.contains(QLatin1String("<uint32 1>")), qPrintable(args));
        ConnectedWiFiInfo info;
        QVERIFY(WiFiManager::getWiFiInfoWithSsid(QStringLiteral("ZR450-Shack"), info));
        QCOMPARE(info.password, QStringLiteral("new key, 73!"));
    }

    void staticAddressThenDhcp()
    {
        QVERIFY(freshScene());
        Outcome st;
        WiFiManager::setStaticIp(m_client, kShack, QStringLiteral("10.1.2.3"), 24, QStringLiteral("10.1.2.1"), st.ctx());
        QTRY_COMPARE(st.successes, 1);
        QVariantMap s = shack();
        QCOMPARE(s.value("ipv4.method").toString(), QStringLiteral("manual"));
        QCOMPARE(s.value("ipv4.address-data").toString(), QStringLiteral("10.1.2.3/24"));
        QCOMPARE(s.value("ipv4.gateway").toString(), QStringLiteral("10.1.2.1"));
        ConnectedWiFiInfo info;
        QVERIFY(WiFiManager::getWiFiInfoWithSsid(QStringLiteral("ZR450-Shack"), info));
        QCOMPARE(info.address, QStringLiteral("10.1.2.3"));
        QCOMPARE(info.gateway, QStringLiteral("10.1.2.1"));
        QCOMPARE(info.dhcp, false);

        Outcome dhcp;
        WiFiManager::setConnectionIpv4ToDhcp(m_client, kShack, dhcp.ctx());
        QTRY_COMPARE(dhcp.successes, 1);
        s = shack();
        QCOMPARE(s.value("ipv4.method").toString(), QStringLiteral("auto"));
        QVERIFY(s.value("ipv4.address-data").toString().isEmpty());
        // NetworkManager refuses a gateway without an address: it goes too.
        QVERIFY(s.value("ipv4.gateway").toString().isEmpty());
        ConnectedWiFiInfo back;
        QVERIFY(WiFiManager::getWiFiInfoWithSsid(QStringLiteral("ZR450-Shack"), back));
        QCOMPARE(back.dhcp, true);
        QVERIFY(back.address.isEmpty());
    }

    void autoconnectIsSavedByTheStandIn()
    {
        QVERIFY(freshScene());
        Outcome off;
        WiFiManager::setAutoconnect(m_client, kShack, false, off.ctx());
        QTRY_COMPARE(off.successes, 1);
        QCOMPARE(shack().value("connection.autoconnect").toBool(), false);
        QTRY_VERIFY(!WiFiManager::autoconnect(m_client, kShack));
        QVERIFY(ztest::readText(WiFiManager::keyfilePath("ZR450-Shack")).contains("autoconnect=false"));
        Outcome on;
        WiFiManager::setAutoconnect(m_client, kShack, true, on.ctx());
        QTRY_COMPARE(on.successes, 1);
        // NetworkManager's default: left out of the settings.
        QCOMPARE(shack().value("connection.autoconnect", true).toBool(), true);
        QTRY_VERIFY(WiFiManager::autoconnect(m_client, kShack));
        QVERIFY(!ztest::readText(WiFiManager::keyfilePath("ZR450-Shack")).contains("autoconnect=false"));
    }

    void disconnectAndConnectAgain()
    {
        QVERIFY(freshScene());
        Outcome off;
        WiFiManager::disconnectByUuid(m_client, kShack, off.ctx());
        QTRY_COMPARE(off.successes, 1);
        int strength = -1;
        QTRY_VERIFY(!WiFiManager::hasActiveWiFiConnection(m_client, strength));
        QVERIFY(WiFiManager::getConnectedSSID(m_client).isEmpty());
        // Nothing active with that UUID: done at once.
        Outcome again;
        WiFiManager::disconnectByUuid(m_client, kShack, again.ctx());
        QCOMPARE(again.successes, 1);

        Outcome on;
        WiFiManager::connectToSsidByUuid(m_client, kShack, on.ctx());
        QCOMPARE(on.reports(), 0);
        QTRY_COMPARE(on.successes, 1);
        QCOMPARE(QString::fromStdString(on.uuid), kShack);
        QTRY_VERIFY(WiFiManager::hasActiveWiFiConnection(m_client, strength));
        QCOMPARE(strength, 82);
    }

    // ------------------------------------------------ daemon and indicators

    void statusLineSetsTheIndicator_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("glyph");
        QTest::addColumn<bool>("mark");
        QTest::newRow("-60 without internet") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":false,\"rssi\":-60}")
                                               << 80 << 0xF2E8 << true;
        QTest::newRow("-100") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-100}") << 0 << 0xF2E5 << false;
        QTest::newRow("-120") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-120}") << 0 << 0xF2E5 << false;
        QTest::newRow("-50") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-50}") << 100 << 0xF2E8 << false;
        QTest::newRow("-20") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-20}") << 100 << 0xF2E8 << false;
        QTest::newRow("-88") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-88}") << 24 << 0xF2E5 << false;
        QTest::newRow("-87.5") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-87.5}") << 25 << 0xF2E6 << false;
        QTest::newRow("-75") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-75}") << 50 << 0xF2E7 << false;
        QTest::newRow("-63") << QByteArray("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-63}") << 74 << 0xF2E7 << false;
    }
    void statusLineSetsTheIndicator()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, percent);
        QFETCH(int, glyph);
        QFETCH(bool, mark);
        QWidget bar;
        auto *wifi = new QPushButton(&bar);
        auto *bang = new QLabel(QStringLiteral("!"), &bar);
        wifi->hide();
        bang->hide();
        bar.show();
        zwireless::ZWifiIndicator ind(wifi, bang);
        Pipe p;
        QVERIFY(p.open());
        QVERIFY(p.write(line + "\n"));
        QByteArray buffer;
        const QList<QVariantMap> objs = zwireless::readAndParseJsonLines(p.r, buffer);
        QCOMPARE(objs.size(), 1);
        QCOMPARE(zwireless::rssiToPercent(objs.first().value("rssi").toDouble()), percent);
        ind.applyStatus(objs.first());
        QVERIFY(wifi->isVisible());
        QCOMPARE(zwireless::signalGlyph(percent), QString(QChar(glyph)));
        // The strength glyph, or FontAwesome's WiFi glyph where the
        // button's font draws nothing for it.
        QCOMPARE(wifi->text(), zwireless::shownSignalGlyph(wifi->font(), percent));
        QCOMPARE(bang->isVisible(), mark);

        // WiFi off: both go.
        ind.applyStatus(QVariantMap{{"type", "wifi"}, {"enabled", false}});
        QVERIFY(!wifi->isVisible() && !bang->isVisible());
        // Other kinds leave the indicator alone.
        ind.applyStatus(QVariantMap{{"type", "full_state"}, {"enabled", true}, {"rssi", -40}});
        QVERIFY(!wifi->isVisible());
    }

    void statusStreamKeepsAnUnfinishedLine()
    {
        Pipe p;
        QVERIFY(p.open());
        QByteArray buffer;
        QVERIFY(p.write("{\"type\":\"wifi\",\"enabled\":true,\"internet\":true,\"rssi\":-60}" "\n"
                        "{\"type\":\"wifi\",\"enab"));
        QList<QVariantMap> objs = zwireless::readAndParseJsonLines(p.r, buffer);
        QCOMPARE(objs.size(), 1);
        QCOMPARE(objs.first().value("rssi").toInt(), -60);
        QCOMPARE(buffer, QByteArray("{\"type\":\"wifi\",\"enab"));
        QVERIFY(p.write("led\":false}  " "\n\n"));
        objs = zwireless::readAndParseJsonLines(p.r, buffer);
        QCOMPARE(objs.size(), 1);
        QCOMPARE(objs.first().value("enabled").toBool(), false);
        QVERIFY(buffer.isEmpty());

        // Malformed lines are logged and skipped, the rest still counts.
        QVERIFY(p.write("not json\n[1,2]\n" "{\"type\":\"bt\"}" "\n"));
        objs = zwireless::readAndParseJsonLines(p.r, buffer);
        QCOMPARE(objs.size(), 1);
        QCOMPARE(objs.first().value("type").toString(), QStringLiteral("bt"));
        QVERIFY(ztest::logContains(QStringLiteral("JSON parse error at offset")));
        QVERIFY(ztest::logContains(QStringLiteral("| Raw line: not json")));
        QVERIFY(ztest::logContains(QStringLiteral("JSON is not an object: [1,2]")));

        // The writer gone: said so, nothing lost.
        bool closed = false;
        QVERIFY(p.write("{\"type\":\"wifi\",\"enabled\":false}" "\n"));
        close(p.w);
        p.w = -1;
        objs = zwireless::readAndParseJsonLines(p.r, buffer, &closed);
        QCOMPARE(objs.size(), 1);
        QVERIFY(closed);
    }

    void statusStreamWithoutNewlinesStaysBounded()
    {
        Pipe p;
        QVERIFY(p.open());
        QByteArray buffer;
        const QByteArray junk(8192, 'x');
        for (int i = 0; i < 20; ++i) {
            QVERIFY(p.write(junk));
            QVERIFY(zwireless::readAndParseJsonLines(p.r, buffer).isEmpty());
            QVERIFY(buffer.size() <= zwireless::maxLineBytes + 8192);
        }
        QVERIFY(ztest::logContains(QStringLiteral("bytes dropped")));
        // The stream recovers at the next line.
        QVERIFY(p.write("\n" "{\"type\":\"wifi\",\"enabled\":true,\"rssi\":-70,\"internet\":true}" "\n"));
        const QList<QVariantMap> objs = zwireless::readAndParseJsonLines(p.r, buffer);
        QCOMPARE(objs.size(), 1);
        QCOMPARE(objs.first().value("rssi").toInt(), -70);
    }

    void statusStreamNeverBlocks()
    {
        // A blocking descriptor with nothing in it returns at once.
        Pipe p;
        QVERIFY(p.open(false));
        QByteArray buffer;
        QVERIFY(zwireless::readAndParseJsonLines(p.r, buffer).isEmpty());
        QVERIFY(p.write("{\"type\":\"wifi\",\"enabled\":false}" "\n"));
        QCOMPARE(zwireless::readAndParseJsonLines(p.r, buffer).size(), 1);
    }

    void daemonCommandLineIsQuotedJson()
    {
        QCOMPARE(zwireless::daemonCommandLine(zwireless::wifiEnableCommand(true)),
                 QStringLiteral("echo '{\"action\":\"set_wifi\",\"enabled\":true}' | socat - UNIX-CONNECT:/tmp/wlmng.sock"));
        QCOMPARE(zwireless::daemonCommandLine(zwireless::btEnableCommand(false)),
                 QStringLiteral("echo '{\"action\":\"set_bt\",\"enabled\":false}' | socat - UNIX-CONNECT:/tmp/wlmng.sock"));
        // Whatever an object holds stays one word of the echo.
        const QJsonObject nasty{{"ssid", QStringLiteral("it's; $(reboot) `x` | y")}};
        const QList<QStringList> cmds = zsys::splitCommandLine(zwireless::daemonCommandLine(nasty));
        QCOMPARE(cmds.size(), 2);
        QCOMPARE(cmds.at(0).size(), 2);
        QCOMPARE(QJsonDocument::fromJson(cmds.at(0).at(1).toUtf8()).object(), nasty);
        QCOMPARE(cmds.at(1), QStringList({"socat", "-", "UNIX-CONNECT:/tmp/wlmng.sock"}));
    }

    void togglingWifiSendsOneFalseThenOneTrue()
    {
        ztest::Sim sim;
        QVERIFY(sim.start(m_root.path()));
        QVERIFY(sim.command("status").endsWith(QLatin1String(" wifi=0 bt=0")));
        const QString on = QStringLiteral("{\"action\":\"set_wifi\",\"enabled\":true}");
        const QString off = QStringLiteral("{\"action\":\"set_wifi\",\"enabled\":false}");
        const QString btOn = QStringLiteral("{\"action\":\"set_bt\",\"enabled\":true}");
        const int on0 = commandLines(m_root.path(), on), off0 = commandLines(m_root.path(), off);
        const int bt0 = commandLines(m_root.path(), btOn);

        zwireless::ZWirelessEnables enables;
        enables.update(1, 1); // the first tick sends both
        QCOMPARE(commandLines(m_root.path(), on), on0 + 1);
        QCOMPARE(commandLines(m_root.path(), btOn), bt0 + 1);
        QTRY_VERIFY(sim.command("status").endsWith(QLatin1String(" wifi=1 bt=1")));
        enables.update(1, 1); // unchanged: nothing
        enables.update(0, 1);
        enables.update(0, 1);
        QCOMPARE(commandLines(m_root.path(), off), off0 + 1);
        QTRY_VERIFY(sim.command("status").endsWith(QLatin1String(" wifi=0 bt=1")));
        enables.update(1, 1);
        QCOMPARE(commandLines(m_root.path(), on), on0 + 2);
        QCOMPARE(commandLines(m_root.path(), off), off0 + 1);
        QCOMPARE(commandLines(m_root.path(), btOn), bt0 + 1);
        QTRY_VERIFY(sim.command("status").endsWith(QLatin1String(" wifi=1 bt=1")));
        // The line as it would run on the radio.
        QVERIFY(ztest::readText(m_root.path() + "/var/log/commands.log")
                    .contains(QStringLiteral("echo '") + on + QStringLiteral("' | socat - UNIX-CONNECT:/tmp/wlmng.sock\n")));

        // The FIFO: the daemon reads it while it runs.
        QVERIFY(zwireless::sendWirelessCommand(zwireless::btEnableCommand(false)));
        QTRY_VERIFY(sim.command("status").endsWith(QLatin1String(" wifi=1 bt=0")));
        QVERIFY(sim.stop());
    }

    void fifoWithoutDaemon()
    {
        const QString fifo = zsys::path(QStringLiteral("/tmp/wireless_cmd_pipe"));
        QFile::remove(fifo);
        QVERIFY(!zwireless::sendWirelessCommand(zwireless::wifiEnableCommand(true)));
        QVERIFY(ztest::logContains(QStringLiteral("Open cmd pipe failed:")));
        QDir().mkpath(QFileInfo(fifo).absolutePath());
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!zwireless::sendWirelessCommand(zwireless::wifiEnableCommand(true)));
        QVERIFY(ztest::logContains(QStringLiteral("Daemon not running (no reader on FIFO)")));
        // A reader: the object arrives whole, with its newline.
        const int r = open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(r >= 0);
        QVERIFY(zwireless::sendWirelessCommand(zwireless::wifiEnableCommand(false)));
        QCOMPARE(ztest::drainFd(r), QByteArray("{\"action\":\"set_wifi\",\"enabled\":false}" "\n"));
        close(r);
        QFile::remove(fifo);
    }

    void networkIndicatorLooksEveryTenSeconds()
    {
        QVERIFY(freshScene());
        QWidget bar;
        auto *wifi = new QPushButton(&bar);
        auto *bang = new QLabel(QStringLiteral("!"), &bar);
        wifi->hide();
        bang->show();
        bar.show();
        zwireless::ZWifiIndicator ind(wifi, bang);
        QVERIFY(ind.networkMonitor(m_client)); // the first second
        QVERIFY(wifi->isVisible());
        // 82 %: U+F2E8, where the icon font has it.
        QCOMPARE(wifi->text(), zwireless::shownSignalGlyph(wifi->font(), 82));
        QVERIFY(wifi->text() == QString(QChar(0xF2E8)) || wifi->text() == QString(QChar(0xF1EB)));
        QVERIFY(!bang->isVisible());                     // full connectivity
        for (int s = 1; s < 10; ++s)
            QVERIFY(!ind.networkMonitor(m_client));

        // Limited connectivity shows the mark at the next look.
        GVariant *r = ztest::busCall(kNm, "/org/freedesktop", "org.freedesktop.DBus.Mock",
                                     "SetConnectivity", g_variant_new("(u)", 3u));
        QVERIFY(r);
        g_variant_unref(r);
        QTRY_COMPARE(int(nm_client_get_connectivity(m_client)), 3);
        QVERIFY(ind.networkMonitor(m_client));
        QVERIFY(wifi->isVisible() && bang->isVisible());

        // No connection: both hidden at the look after.
        Outcome off;
        WiFiManager::disconnectByUuid(m_client, kShack, off.ctx());
        QTRY_COMPARE(off.successes, 1);
        int strength;
        QTRY_VERIFY(!WiFiManager::hasActiveWiFiConnection(m_client, strength));
        for (int s = 1; s < 10; ++s)
            QVERIFY(!ind.networkMonitor(m_client));
        QVERIFY(ind.networkMonitor(m_client));
        QVERIFY(!wifi->isVisible() && !bang->isVisible());
        // No client: never looks.
        zwireless::ZWifiIndicator none(wifi, bang);
        QVERIFY(!none.networkMonitor(nullptr));
    }

    void accessPointAddedReachesTheWindowQueued()
    {
        QVERIFY(freshScene());
        auto *window = new ApReceiver;
        const unsigned long handler = zwireless::watchAccessPoints(m_client, window);
        QVERIFY(handler != 0);
        GVariant *r = ztest::busCall(kNm, "/org/freedesktop", "org.freedesktop.DBus.Mock",
                                     "AddAccessPoint",
                                     g_variant_new("(ssssuuuyu)", ztest::kWifiDevicePath, "ap_new", "Contest-Station",
                                                   "02:5A:52:00:00:09", 2u, 2437u, 54000u, guchar(47), 0x188u));
        QVERIFY(r);
        g_variant_unref(r);
        QTRY_COMPARE(window->ssids, QStringList{QStringLiteral("Contest-Station")});
        QCOMPARE(window->strengths, QList<int>{47});
        // A window that is gone is not called.
        delete window;
        r = ztest::busCall(kNm, "/org/freedesktop", "org.freedesktop.DBus.Mock", "AddAccessPoint",
                           g_variant_new("(ssssuuuyu)", ztest::kWifiDevicePath, "ap_new2", "Late-Net",
                                         "02:5A:52:00:00:0A", 2u, 2437u, 54000u, guchar(20), 0u));
        QVERIFY(r);
        g_variant_unref(r);
        QTRY_COMPARE(WiFiManager::accessPoints(m_client).size(), 6);
        zwireless::unwatchAccessPoints(m_client, handler);
    }

    // ------------------------------------------------------------ Bluetooth

    void bluetoothShowsPairedDevicesAndConnection()
    {
        QVERIFY(m_services.restart());
        ZBluetooth bt;
        QTRY_VERIFY(bt.isReady());
        QVERIFY(bt.isAvailable());
        QCOMPARE(bt.powerState(), 1);
        QCOMPARE(bt.adapterName(), QStringLiteral("ZR450"));
        const QList<ZBluetoothDevice> devs = bt.pairedDevices();
        QCOMPARE(devs.size(), 2);
        QCOMPARE(devs.at(0).name, QStringLiteral("Field-Tablet"));
        QVERIFY(!devs.at(0).connected);
        QCOMPARE(devs.at(1).name, QStringLiteral("Shack-PC"));
        QCOMPARE(devs.at(1).address, QStringLiteral("00:1A:7D:DA:71:13"));
        QVERIFY(devs.at(1).connected);
        QVERIFY(bt.hasBluetoothConnected());
        QPushButton button;
        button.show();
        zwireless::updateBluetoothIndicator(&button, &bt);
        QVERIFY(button.isVisible());

        // Power off: no link counts any more. Every request ends with its
        // answer, in the order asked.
        QSignalSpy changed(&bt, &ZBluetooth::sig_changed);
        QSignalSpy done(&bt, &ZBluetooth::sig_operationFinished);
        QCOMPARE(bt.setPowerState(0), 0);
        QTRY_COMPARE(done.count(), 1);
        QVERIFY(done.at(0).at(1).toBool());
        QTRY_COMPARE(bt.powerState(), 0);
        QVERIFY(!bt.hasBluetoothConnected());
        zwireless::updateBluetoothIndicator(&button, &bt);
        QVERIFY(!button.isVisible());
        QVERIFY(changed.count() > 0);
        QCOMPARE(bt.setPowerState(1), 0);
        QTRY_COMPARE(done.count(), 2);
        QTRY_COMPARE(bt.powerState(), 1);

        // A device disconnected and connected again.
        QCOMPARE(bt.disconnectDevice(devs.at(1).path), 0);
        QTRY_COMPARE(done.count(), 3);
        QVERIFY(done.at(2).at(1).toBool());
        QCOMPARE(done.at(2).at(0).toString(), devs.at(1).path);
        QTRY_VERIFY(!bt.hasBluetoothConnected());
        QCOMPARE(bt.connectDevice(devs.at(1).path), 0);
        QTRY_COMPARE(done.count(), 4);
        QTRY_VERIFY(bt.hasBluetoothConnected());
        // Disconnecting what is not connected: refused, and said so.
        QCOMPARE(bt.disconnectDevice(devs.at(0).path), 0);
        QTRY_COMPARE(done.count(), 5);
        QVERIFY(!done.at(4).at(1).toBool());
        QCOMPARE(bt.connectDevice(QStringLiteral("/org/bluez/hci0/dev_00_00_00_00_00_00")), -19);
    }

    void bluetoothPowerAskedBeforeBlueZAnswered()
    {
        QVERIFY(m_services.restart());
        {
            ZBluetooth first;
            QTRY_VERIFY(first.isReady());
            QCOMPARE(first.setPowerState(0), 0);
            QTRY_COMPARE(first.powerState(), 0);
        }
        // The delayed start-up switches on at once after creating it.
        ZBluetooth bt;
        QCOMPARE(bt.setPowerState(1), 0);
        QTRY_VERIFY(bt.isReady());
        QTRY_COMPARE(bt.powerState(), 1);
    }

    // ---------------------------------------------------------------- panels

    void wlanPanelShowsNetworksAndTheConnection()
    {
        QVERIFY(freshScene());
        DialogWlanSetting panel(nullptr, m_store, 0, 0, 800, 480, m_client);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(panel.titleLabel()->text(), QStringLiteral("WLAN SETTING"));
        QCOMPARE(panel.networkList()->count(), 4);
        QCOMPARE(panel.networks().at(0).ssid, QStringLiteral("ZR450-Shack"));
        QCOMPARE(panel.selectedNetwork(), 0); // the connected one
        const QString d = panel.detailText();
        QVERIFY2(d.contains(QStringLiteral("STATE     CONNECTED 82%")), qPrintable(d));
        QVERIFY(d.contains(QStringLiteral("IPV4      DHCP")));
        QVERIFY(d.contains(QStringLiteral("ADDRESS   192.168.1.50")));
        QVERIFY(d.contains(QStringLiteral("NETMASK   255.255.255.0")));
        QVERIFY(d.contains(QStringLiteral("GATEWAY   192.168.1.1")));
        QVERIFY(d.contains(QStringLiteral("DNS       192.168.1.1")));
        QVERIFY(d.contains(QStringLiteral("AUTO      ON")));
        QCOMPARE(panel.functionButton(0)->text(), QStringLiteral("DISCONNECT"));
        QCOMPARE(panel.functionButton(3)->text(), QStringLiteral("AUTO ON"));
        // The screen's size, and the list inside the client area.
        QCOMPARE(panel.size(), QSize(800, 480));
        QVERIFY(panel.userGeometry().contains(
            QRect(panel.networkList()->mapTo(&panel, QPoint(0, 0)), panel.networkList()->size())));
        shot(&panel, "wlan-networks");

        // A network without a saved connection cannot be joined from here.
        turnKnob(&panel, -1);
        QCOMPARE(panel.selectedNetwork(), 1);
        QCOMPARE(panel.networks().at(1).ssid, QStringLiteral("HamClub"));
        QVERIFY(!panel.functionButton(0)->isEnabled());
        tapKey(&panel, Qt::Key_Enter);
        QCOMPARE(panel.statusText(), QStringLiteral("HamClub has no saved connection"));
        // The knob stops at the ends of the list.
        for (int i = 0; i < 6; ++i)
            turnKnob(&panel, -1);
        QCOMPARE(panel.selectedNetwork(), 3);
        turnKnob(&panel, 9, Qt::AltModifier);
        QCOMPARE(panel.selectedNetwork(), 0);

        // Enter disconnects the connected network, and connects it again.
        tapKey(&panel, Qt::Key_Enter);
        QTRY_COMPARE(panel.statusText(), QStringLiteral("Disconnected from ZR450-Shack"));
        QTRY_VERIFY(panel.detailText().contains(QStringLiteral("NOT CONNECTED")));
        QTRY_COMPARE(panel.functionButton(0)->text(), QStringLiteral("CONNECT"));
        shot(&panel, "wlan-disconnected");
        tapKey(&panel, Qt::Key_F1);
        QTRY_COMPARE(panel.statusText(), QStringLiteral("Connected to ZR450-Shack"));
        QTRY_VERIFY(panel.detailText().contains(QStringLiteral("ADDRESS   192.168.1.50")));

        // F4 switches autoconnect off in NetworkManager.
        tapKey(&panel, Qt::Key_F4);
        QTRY_COMPARE(panel.functionButton(3)->text(), QStringLiteral("AUTO OFF"));
        QCOMPARE(shack().value("connection.autoconnect").toBool(), false);

        // F5 closes it.
        tapKey(&panel, Qt::Key_F5);
        QVERIFY(!panel.isVisible());
    }

    void wlanPanelChangesThePassword()
    {
        QVERIFY(freshScene());
        TypedText typed;
        typed.install();
        DialogWlanSetting panel(nullptr, m_store, 0, 0, 800, 480, m_client);
        panel.show();
        typed.texts << QString(); // cancelled first
        tapKey(&panel, Qt::Key_F2);
        QCOMPARE(typed.types, QList<int>{ZKeyboard::Text});
        QCOMPARE(panel.statusText(), QStringLiteral("Password unchanged"));
        QCOMPARE(commits(), 0);
        typed.texts << QStringLiteral("QRZ de ZR450, 73!");
        tapKey(&panel, Qt::Key_F2);
        QCOMPARE(panel.pendingOperations(), 1);
        QTRY_COMPARE(panel.statusText(), QStringLiteral("Password of ZR450-Shack saved"));
        QCOMPARE(shack().value("802-11-wireless-security.psk").toString(), QStringLiteral("QRZ de ZR450, 73!"));
        // One NetworkManager refuses is said so.
        typed.texts << QStringLiteral("short");
        tapKey(&panel, Qt::Key_F2);
        QTRY_VERIFY(panel.statusText().startsWith(QStringLiteral("Failed: Invalid password")));
        QCOMPARE(panel.pendingOperations(), 0);
    }

    void wlanPanelPasswordWithTheOnScreenKeyboard()
    {
        QVERIFY(freshScene());
        DialogWlanSetting::setTextEditor(nullptr); // the real keyboard
        DialogWlanSetting panel(nullptr, m_store, 0, 0, 800, 480, m_client);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        bool typed = false;
        QTimer::singleShot(0, this, [&typed]() {
            auto *kb = qobject_cast<ZKeyboard *>(QApplication::activeModalWidget());
            if (!kb)
                return;
            shot(kb, "wlan-keyboard");
            for (const QChar c : QStringLiteral("qrz73zr450")) {
                const int i = kb->keyIndexOf(c);
                if (i < 0)
                    return;
                kb->keyButton(i)->click();
            }
            typed = true;
            tapKey(kb, Qt::Key_F4); // OK
        });
        tapKey(&panel, Qt::Key_F2);
        QVERIFY(typed);
        QTRY_COMPARE(panel.statusText(), QStringLiteral("Password of ZR450-Shack saved"));
        QCOMPARE(shack().value("802-11-wireless-security.psk").toString(), QStringLiteral("qrz73zr450"));
    }

    void wlanPanelSetsStaticAddressThenDhcp()
    {
        QVERIFY(freshScene());
        TypedText typed;
        typed.install();
        DialogWlanSetting panel(nullptr, m_store, 0, 0, 800, 480, m_client);
        panel.show();
        tapKey(&panel, Qt::Key_F3);
        QCOMPARE(panel.page(), int(DialogWlanSetting::Ipv4Form));
        QCOMPARE(panel.functionButton(3)->text(), QStringLiteral("APPLY"));
        // Filled in with what the connection has now.
        QVERIFY(panel.formDhcp());
        QCOMPARE(panel.field(0)->text(), QStringLiteral("192.168.1.50"));
        QCOMPARE(panel.field(1)->text(), QStringLiteral("192.168.1.1"));
        QCOMPARE(panel.field(2)->text(), QStringLiteral("192.168.1.1"));
        QVERIFY(!panel.field(0)->isEnabled()); // DHCP brings the address
        QCOMPARE(panel.selectedField(), 0);
        turnKnob(&panel, -1, Qt::AltModifier); // the dial switches the mode
        QVERIFY(!panel.formDhcp());
        QVERIFY(panel.field(0)->isEnabled());
        turnKnob(&panel, -1); // address
        typed.texts << QStringLiteral("10.9.8.7");
        tapKey(&panel, Qt::Key_Enter);
        QCOMPARE(typed.types.last(), int(ZKeyboard::Numeric));
        QCOMPARE(typed.seen.last(), QStringLiteral("192.168.1.50"));
        turnKnob(&panel, -1); // prefix: 24 - 2 = 22
        QCOMPARE(panel.selectedField(), 2);
        turnKnob(&panel, 1, Qt::AltModifier);
        turnKnob(&panel, 1, Qt::AltModifier);
        QCOMPARE(panel.formPrefix(), 22);
        turnKnob(&panel, -1); // gateway
        typed.texts << QStringLiteral("10.9.8.1");
        tapKey(&panel, Qt::Key_F1);
        turnKnob(&panel, -1); // DNS 1
        typed.texts << QStringLiteral("9.9.9.9");
        tapKey(&panel, Qt::Key_Enter);
        shot(&panel, "wlan-ipv4-form");
        tapKey(&panel, Qt::Key_F4);
        QCOMPARE(panel.page(), int(DialogWlanSetting::Networks));
        // Saved, then brought up again so that it takes effect.
        QTRY_COMPARE(panel.statusText(), QStringLiteral("IPv4 of ZR450-Shack saved and applied"));
        QVariantMap s = shack();
        QCOMPARE(s.value("ipv4.method").toString(), QStringLiteral("manual"));
        QCOMPARE(s.value("ipv4.address-data").toString(), QStringLiteral("10.9.8.7/22"));
        QCOMPARE(s.value("ipv4.gateway").toString(), QStringLiteral("10.9.8.1"));
        QCOMPARE(s.value("ipv4.dns-data").toString(), QStringLiteral("9.9.9.9"));
        QTRY_VERIFY(panel.detailText().contains(QStringLiteral("ADDRESS   10.9.8.7")));
        QVERIFY(panel.detailText().contains(QStringLiteral("IPV4      STATIC")));
        QVERIFY(panel.detailText().contains(QStringLiteral("NETMASK   255.255.252.0")));

        // A wrong address is refused and the form stays for correction.
        tapKey(&panel, Qt::Key_F3);
        QVERIFY(!panel.formDhcp());
        turnKnob(&panel, -1);
        typed.texts << QStringLiteral("10.9.8.300");
        tapKey(&panel, Qt::Key_Enter);
        tapKey(&panel, Qt::Key_F4);
        QCOMPARE(panel.statusText(), QStringLiteral("Failed: Invalid IPv4 address"));
        QCOMPARE(panel.page(), int(DialogWlanSetting::Ipv4Form));
        // Back to DHCP: F2 switches the mode.
        tapKey(&panel, Qt::Key_F2);
        QVERIFY(panel.formDhcp());
        tapKey(&panel, Qt::Key_F4);
        QTRY_COMPARE(panel.statusText(), QStringLiteral("IPv4 of ZR450-Shack saved and applied"));
        s = shack();
        QCOMPARE(s.value("ipv4.method").toString(), QStringLiteral("auto"));
        QVERIFY(s.value("ipv4.gateway").toString().isEmpty());
        QTRY_VERIFY(panel.detailText().contains(QStringLiteral("IPV4      DHCP")));
        // F5 leaves the form without changes.
        tapKey(&panel, Qt::Key_F3);
        tapKey(&panel, Qt::Key_F5);
        QCOMPARE(panel.page(), int(DialogWlanSetting::Networks));
        QVERIFY(panel.isVisible());
    }

    void wlanPanelWithoutNetworkManager()
    {
        // The test's own root again once the other one has gone.
        ztest::AtExit back([this]() { ztest::setSysroot(m_root.path()); });
        ztest::Sysroot other;
        DialogWlanSetting panel(nullptr, m_store, 0, 0, 800, 480);
        panel.show();
        QCOMPARE(panel.statusText(), QStringLiteral("NetworkManager is not available"));
        QCOMPARE(panel.networkList()->count(), 0);
        QVERIFY(panel.detailText().contains(QStringLiteral("NOT CONNECTED")));
        tapKey(&panel, Qt::Key_Enter);
        tapKey(&panel, Qt::Key_F2);
        tapKey(&panel, Qt::Key_F3);
        QCOMPARE(panel.page(), int(DialogWlanSetting::Networks));
    }

    void bluetoothPanelPowerAndDevices()
    {
        QVERIFY(m_services.restart());
        m_store->setParamItem(QStringLiteral("wparam"), QStringLiteral("bten"), 1);
        DialogBluetoothSetting panel(nullptr, m_store, 0, 0, 800, 480);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(panel.titleLabel()->text(), QStringLiteral("BLUETOOTH SETTING"));
        QTRY_COMPARE(panel.deviceList()->count(), 2);
        QTRY_COMPARE(panel.powerText(), QStringLiteral("POWER  ON"));
        QCOMPARE(panel.devices().at(1).name, QStringLiteral("Shack-PC"));
        QVERIFY(panel.devices().at(1).connected);
        QCOMPARE(panel.functionButton(0)->text(), QStringLiteral("POWER OFF"));
        shot(&panel, "bluetooth");

        // Enter on the connected device disconnects it.
        turnKnob(&panel, -1);
        QCOMPARE(panel.selectedDevice(), 1);
        QCOMPARE(panel.functionButton(1)->text(), QStringLiteral("DISCONNECT"));
        tapKey(&panel, Qt::Key_Enter);
        QTRY_VERIFY(!panel.devices().at(1).connected);
        QTRY_COMPARE(panel.functionButton(1)->text(), QStringLiteral("CONNECT"));
        tapKey(&panel, Qt::Key_F2);
        QTRY_VERIFY(panel.devices().at(1).connected);

        // F1: power off, in the item and in BlueZ; and on again.
        tapKey(&panel, Qt::Key_F1);
        QCOMPARE(m_store->paramItem(QStringLiteral("wparam"), QStringLiteral("bten")).value.toInt(), 0);
        QTRY_COMPARE(panel.powerText(), QStringLiteral("POWER  OFF"));
        QVERIFY(!panel.functionButton(1)->isEnabled());
        tapKey(&panel, Qt::Key_F1);
        QCOMPARE(m_store->paramItem(QStringLiteral("wparam"), QStringLiteral("bten")).value.toInt(), 1);
        QTRY_COMPARE(panel.powerText(), QStringLiteral("POWER  ON"));
        tapKey(&panel, Qt::Key_F5);
        QVERIFY(!panel.isVisible());
    }

    void withoutServicesNothingIsThere()
    {
        // A system root without a bus: nothing found, nothing on the host.
        // The test's own root again once the other one has gone.
        ztest::AtExit back([this]() { ztest::setSysroot(m_root.path()); });
        ztest::Sysroot other;
        QVERIFY(WiFiManager::createClient() == nullptr);
        ZBluetooth bt;
        QVERIFY(!bt.isReady());
        QCOMPARE(bt.powerState(), -1);
        QVERIFY(!bt.hasBluetoothConnected());
        QCOMPARE(bt.setPowerState(1), -19);
        QVERIFY(bt.pairedDevices().isEmpty());
        QVERIFY(ztest::logContains(QStringLiteral("system bus not reachable:")));
    }
};

QTEST_MAIN(TestWireless)
#include "test_wireless.moc"
