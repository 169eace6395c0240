// GLib and libnm first: Qt's "signals" keyword clashes with their members.
#include <NetworkManager.h>

#include "wireless/zwirelessservices.h"

#include "app/zlog.h"
#include "app/zsystem.h"
#include "wireless/wifimanager.h"
#include "wireless/zbluetooth.h"

#include <QAbstractButton>
#include <QFile>
#include <QPainterPath>
#include <QRawFont>
#include <QJsonDocument>
#include <QMetaObject>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace zwireless {

// ---------------------------------------------------------------- daemon

QJsonObject wifiEnableCommand(bool on)
{
    return QJsonObject{{QStringLiteral("action"), QStringLiteral("set_wifi")}, {QStringLiteral("enabled"), on}};
}

QJsonObject btEnableCommand(bool on)
{
    return QJsonObject{{QStringLiteral("action"), QStringLiteral("set_bt")}, {QStringLiteral("enabled"), on}};
}

QString daemonCommandLine(const QJsonObject &command)
{
    const QString json = QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact));
    return QStringLiteral("echo ") + zsys::quote(json) + QStringLiteral(" | socat - UNIX-CONNECT:/tmp/wlmng.sock");
}

int runDaemonCommand(const QJsonObject &command)
{
    return zsys::run(daemonCommandLine(command));
}

void ZWirelessEnables::update(int wifien, int bten)
{
    if (uint8_t(wifien) != m_wifien) {
        m_wifien = uint8_t(wifien);
        runDaemonCommand(wifiEnableCommand(wifien != 0));
    }
    if (uint8_t(bten) != m_bten) {
        m_bten = uint8_t(bten);
        runDaemonCommand(btEnableCommand(bten != 0));
    }
}

QList<QVariantMap> readAndParseJsonLines(int fd, QByteArray &buffer, bool *closed)
{
    QList<QVariantMap> out;
    if (closed)
        *closed = false;
    char chunk[4096];
    for (;;) {
        // Only what is there now: a blocking descriptor must not stop the
        // GUI thread until the daemon says more.
        pollfd p = {fd, POLLIN, 0};
        const int ready = poll(&p, 1, 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                qCWarning(logSystem) << "Read error:" << strerror(errno);
            break;
        }
        if (n == 0) {
            if (closed)
                *closed = true;
            break;
        }
        buffer.append(chunk, int(n));
        // A line may not outgrow the limit: the part without a newline is
        // dropped, and whatever follows its next newline is kept.
        const int nl = buffer.lastIndexOf('\n');
        if (buffer.size() - (nl + 1) > maxLineBytes) {
            qCWarning(logSystem) << "status line longer than" << maxLineBytes << "bytes dropped";
            buffer.truncate(nl + 1);
        }
    }

    int start = 0;
    for (int nl = buffer.indexOf('\n', start); nl >= 0; nl = buffer.indexOf('\n', start)) {
        const QByteArray line = buffer.mid(start, nl - start).trimmed();
        start = nl + 1;
        if (line.isEmpty())
            continue;
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &err);
        if (err.error != QJsonParseError::NoError) {
            qCWarning(logSystem).noquote() << "JSON parse error at offset" << err.offset << ":" << err.errorString()
                                           << "| Raw line:" << QString::fromUtf8(line.left(256));
            continue;
        }
        if (!doc.isObject()) {
            qCWarning(logSystem).noquote() << "JSON is not an object:" << QString::fromUtf8(line.left(256));
            continue;
        }
        out.append(doc.object().toVariantMap());
    }
    buffer.remove(0, start);
    return out;
}

bool sendWirelessCommand(const QJsonObject &command)
{
    const QByteArray path = QFile::encodeName(zsys::path(QStringLiteral("/tmp/wireless_cmd_pipe")));
    const int fd = open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO)
            qCWarning(logSystem) << "Daemon not running (no reader on FIFO)";
        else
            qCWarning(logSystem) << "Open cmd pipe failed:" << strerror(errno);
        return false;
    }
    const QByteArray data = QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n';

    // A reader that goes away between open and write raises SIGPIPE, which
    // would end the application: it is held back on this thread and taken
    // off again, and the write reports EPIPE instead.
    sigset_t pipeSet, oldSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    ssize_t n;
    do {
        n = write(fd, data.constData(), size_t(data.size()));
    } while (n < 0 && errno == EINTR);
    const int writeErrno = errno;
    if (n < 0 && writeErrno == EPIPE) {
        const timespec zero = {0, 0};
        sigtimedwait(&pipeSet, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
    close(fd);
    if (n < 0)
        qCWarning(logSystem) << "cmd pipe write failed:" << strerror(writeErrno);
    return n == data.size();
}

// --------------------------------------------------------- WiFi indicator

int rssiToPercent(double dbm)
{
    const double p = (dbm + 100.0) * 2.0;
    if (!(p > 0.0)) // also NaN
        return 0;
    return p >= 100.0 ? 100 : int(p);
}

QString signalGlyph(int percent)
{
    if (percent <= 24)
        return QString(QChar(0xF2E5));
    if (percent <= 49)
        return QString(QChar(0xF2E6));
    if (percent <= 74)
        return QString(QChar(0xF2E7));
    return QString(QChar(0xF2E8));
}

ZWifiIndicator::ZWifiIndicator(QAbstractButton *wifiButton, QWidget *noInternetMark)
    : m_button(wifiButton)
    , m_mark(noInternetMark)
{
}

QString shownSignalGlyph(const QFont &font, int percent)
{
    const QString glyph = signalGlyph(percent);
    // The strength glyphs come from the radio's second icon font; where only
    // FontAwesome is installed they would draw nothing, and its one WiFi
    // glyph at least shows that a connection is up.
    // (A font may map the code point to an empty glyph.)
    const QRawFont raw = QRawFont::fromFont(font);
    const QVector<quint32> index = raw.glyphIndexesForString(glyph);
    if (raw.isValid() && raw.supportsCharacter(glyph.at(0)) && !index.isEmpty()
        && !raw.pathForGlyph(index.first()).isEmpty())
        return glyph;
    return QString(QChar(0xF1EB));
}

void ZWifiIndicator::apRssiChanged(int percent, bool hasInternet)
{
    if (m_button && m_button->isHidden())
        m_button->show();
    if (m_mark)
        m_mark->setVisible(!hasInternet);
    if (m_button)
        m_button->setText(shownSignalGlyph(m_button->font(), percent));
}

void ZWifiIndicator::hide()
{
    if (m_button)
        m_button->hide();
    if (m_mark)
        m_mark->hide();
}

bool ZWifiIndicator::networkMonitor(NMClient *client)
{
    const bool due = m_counter == 0;
    m_counter = (m_counter + 1) % 10;
    if (!due || !client)
        return false;
    int strength = 0;
    if (WiFiManager::hasActiveWiFiConnection(client, strength)) {
        apRssiChanged(strength, true);
        if (m_mark)
            m_mark->setVisible(nm_client_get_connectivity(client) != NM_CONNECTIVITY_FULL);
    } else {
        hide();
    }
    return true;
}

void ZWifiIndicator::applyStatus(const QVariantMap &status)
{
    if (status.value(QStringLiteral("type")).toString() != QLatin1String("wifi"))
        return;
    if (status.value(QStringLiteral("enabled")).toBool())
        apRssiChanged(rssiToPercent(status.value(QStringLiteral("rssi")).toDouble()),
                      status.value(QStringLiteral("internet")).toBool());
    else
        hide();
}

void updateBluetoothIndicator(QWidget *bluetoothButton, const ZBluetooth *bluetooth)
{
    if (bluetoothButton)
        bluetoothButton->setVisible(bluetooth && bluetooth->hasBluetoothConnected());
}

// ---------------------------------------------------------- access points

void onAccessPointAdded(NMDeviceWifi *, NMAccessPoint *ap, void *window)
{
    if (!ap || !window)
        return;
    GBytes *ssid = nm_access_point_get_ssid(ap);
    gsize size = 0;
    const char *data = ssid ? static_cast<const char *>(g_bytes_get_data(ssid, &size)) : nullptr;
    if (!data || size == 0)
        return;
    const QString name = QString::fromUtf8(data, int(size));
    const int strength = nm_access_point_get_strength(ap);
    QMetaObject::invokeMethod(static_cast<QObject *>(window), "accessPointAdded", Qt::QueuedConnection,
                              Q_ARG(QString, name), Q_ARG(int, strength));
}

namespace {

void accessPointAddedGuarded(NMDeviceWifi *device, NMAccessPoint *ap, gpointer data)
{
    auto *window = static_cast<QPointer<QObject> *>(data);
    if (!window->isNull())
        onAccessPointAdded(device, ap, window->data());
}

void freeGuard(gpointer data, GClosure *)
{
    delete static_cast<QPointer<QObject> *>(data);
}

NMDeviceWifi *firstWifiDevice(NMClient *client)
{
    const GPtrArray *devs = client ? nm_client_get_devices(client) : nullptr;
    for (guint i = 0; devs && i < devs->len; ++i)
        if (NM_IS_DEVICE_WIFI(devs->pdata[i]))
            return NM_DEVICE_WIFI(devs->pdata[i]);
    return nullptr;
}

} // namespace

unsigned long watchAccessPoints(NMClient *client, QObject *window)
{
    NMDeviceWifi *dev = firstWifiDevice(client);
    if (!dev || !window)
        return 0;
    return g_signal_connect_data(dev, "access-point-added", G_CALLBACK(accessPointAddedGuarded),
                                 new QPointer<QObject>(window), freeGuard, GConnectFlags(0));
}

void unwatchAccessPoints(NMClient *client, unsigned long handler)
{
    NMDeviceWifi *dev = firstWifiDevice(client);
    if (dev && handler && g_signal_handler_is_connected(dev, handler))
        g_signal_handler_disconnect(dev, handler);
}

} // namespace zwireless
