// The CI-V transports: the wired port "/dev/ttyS2", the Bluetooth serial
// port "/dev/rfcomm0" and the pseudo-terminal "/dev/ttyVirtual0" through
// which the external network server reaches the radio. One polling loop on
// the CI-V worker thread reads them all and runs the interpreter.
#include "civ/civdevice.h"

#include "radio/uart.h"
#include "app/zlog.h"
#include "app/zsystem.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

const char *const kBluetoothPort = "/dev/rfcomm0";
const char *const kVirtualPort = "/dev/ttyVirtual0";
const int kPortBaud = 19200;
// Passes of 10 ms.
const int kBtSilentPasses = 500; // 5 s of silence closes the Bluetooth port
const int kBtRetryPasses = 100;  // a closed Bluetooth port is tried once a second
const int kRxPhaseDivider = 5;   // the interpreter runs every 50 ms
// A port that takes no more bytes for this long loses the rest of a reply
// rather than stalling the loop (and the stop request) behind it.
const int kWriteBudgetMs = 100;

// The termios speed codes a caller may pass, as line rates for uart_create.
int speedToBaud(int32_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return speed; // already a line rate
    }
}

void writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    int left = bytes.size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteBudgetMs);
    while (left > 0) {
        const ssize_t w = ::write(fd, p, size_t(left));
        if (w > 0) {
            p += w;
            left -= int(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN)
            return; // port gone: nothing is retried
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return;
        pollfd pfd = { fd, POLLOUT, 0 };
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
        if (::poll(&pfd, 1, qMax(1, ms)) < 0 && errno != EINTR)
            return;
    }
}

} // namespace

CivDevice::~CivDevice()
{
    if (m_ownPorts) {
        if (m_fd >= 0)
            ::close(m_fd);
        closeBluetooth();
    }
    closeVirtualPort();
    uart_destroy(m_uart);
    m_uart = nullptr;
}

void CivDevice::setParams(ZParamAdmin *admin, const QString &device, int32_t speed)
{
    m_admin = admin;
    m_device = device;
    uart_destroy(m_uart);
    const std::string path = zsys::path(device.toLocal8Bit().constData());
    m_uart = uart_create(path.c_str(), speedToBaud(speed));
    if (!m_uart || !m_uart->rxBuffer)
        qCWarning(logCivDevice) << "can't create uart:" << device;
}

void CivDevice::attachPorts(int serialFd, int bluetoothFd, int virtualFd)
{
    m_fd = serialFd;
    m_btFd = bluetoothFd;
    m_vFd = virtualFd;
    m_vPeer = virtualFd >= 0;
    m_ownPorts = false;
}

void CivDevice::stop()
{
    m_stop.store(true);
}

void CivDevice::writePorts(const QByteArray &bytes, bool bluetoothOnly)
{
    if (!bluetoothOnly) {
        if (m_fd >= 0)
            writeAll(m_fd, bytes);
        // Without the server on its end, replies would pile up for it.
        if (m_vFd >= 0 && m_vPeer)
            writeAll(m_vFd, bytes);
    }
    if (m_btFd >= 0)
        writeAll(m_btFd, bytes);
}

int CivDevice::readPort(int fd, uint8_t *buf, int size)
{
    ssize_t r;
    do {
        r = ::read(fd, buf, size_t(size));
    } while (r < 0 && errno == EINTR);
    return int(r);
}

void CivDevice::openBluetooth()
{
    const std::string path = zsys::path(kBluetoothPort);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return; // no client (yet): tried again later
    if (uart_configure(fd, kPortBaud) != 0) {
        qCWarning(logCivDevice) << "error in uart parameters";
        ::close(fd);
        return;
    }
    m_btFd = fd;
    m_btEmpty = 0;
    qCDebug(logCivDevice) << "rfcomm opened, fd =" << fd;
}

void CivDevice::closeBluetooth()
{
    if (m_btFd < 0)
        return;
    ::close(m_btFd);
    m_btFd = -1;
    m_btEmpty = 0;
}

// The network server's port: a pseudo-terminal whose other end is published
// as "/dev/ttyVirtual0". Our end is the master, which reads EIO while the
// server does not hold its end open.
void CivDevice::openVirtualPort()
{
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof(name)) != 0) {
        qCWarning(logCivDevice) << "can't create the network server's port:" << strerror(errno);
        if (m >= 0)
            ::close(m);
        return;
    }
    // Raw line on the server's end from the start: with the default echo,
    // our replies would come back to us as requests.
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0 || uart_configure(s, kPortBaud) != 0) {
        qCWarning(logCivDevice) << "can't set up the network server's port" << name;
        if (s >= 0)
            ::close(s);
        ::close(m);
        return;
    }
    ::close(s);

    const QString link = zsys::path(QString::fromLatin1(kVirtualPort));
    const QFileInfo fi(link);
    if (fi.exists() && !fi.isSymLink()) {
        // A node the system made itself: leave it alone.
        qCWarning(logCivDevice) << "not replacing" << link;
        ::close(m);
        return;
    }
    if (fi.isSymLink())
        QFile::remove(link);
    if (!QFile::link(QString::fromLocal8Bit(name), link)) {
        qCWarning(logCivDevice) << "can't publish the network server's port" << link;
        ::close(m);
        return;
    }
    m_vFd = m;
    m_vPeer = false;
    m_vLink = link;
    qCInfo(logCivDevice) << "network server port" << link << "->" << name;
}

void CivDevice::closeVirtualPort()
{
    if (!m_vLink.isEmpty()) {
        QFile::remove(m_vLink);
        m_vLink.clear();
    }
    if (m_vFd >= 0 && m_ownPorts)
        ::close(m_vFd);
    if (m_ownPorts)
        m_vFd = -1;
    m_vPeer = false;
}

void CivDevice::start()
{
    qCInfo(logCivDevice) << this << QThread::currentThreadId() << "started";
    m_ownPorts = true;
    m_fd = -1;
    if (!m_device.isEmpty()) {
        const std::string path = zsys::path(m_device.toLocal8Bit().constData());
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    qCInfo(logCivDevice) << "comm thread created. fd =" << m_fd;
    openVirtualPort();

    uint8_t *wired = m_uart && m_uart->rxBuffer ? m_uart->rxBuffer : m_wiredBuf.data();
    const int wiredSize = m_uart && m_uart->rxBuffer ? int(m_uart->bufferSize) : int(m_wiredBuf.size());
    m_btRetry = 0;
    while (!m_stop.load()) {
        if (m_fd >= 0) {
            const int r = readPort(m_fd, wired, wiredSize);
            if (r > 0)
                receive(wired, r);
        }
        if (m_btFd >= 0) {
            const int r = readPort(m_btFd, m_btBuf, CIV_BT_BUFFER);
            if (r > 0) {
                receive(m_btBuf, r);
                m_btEmpty = 0;
            } else if (++m_btEmpty >= kBtSilentPasses) {
                qCDebug(logCivDevice) << "rfcomm silent, closed";
                closeBluetooth();
                m_btRetry = 1; // the next try in about a second
            }
        } else {
            if (m_btRetry == 0)
                openBluetooth();
            m_btRetry = (m_btRetry + 1) % kBtRetryPasses;
        }
        if (m_vFd >= 0) {
            const int r = readPort(m_vFd, m_btBuf, CIV_BT_BUFFER);
            if (r > 0) {
                m_vPeer = true;
                receive(m_btBuf, r);
            } else {
                m_vPeer = !(r < 0 && errno == EIO);
            }
        }
        if (++m_pollDivider >= kRxPhaseDivider) {
            m_pollDivider = 0;
            slot_rxPhase();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    closeBluetooth();
    closeVirtualPort();
    qCInfo(logCivDevice) << this << "thread exited";
}
