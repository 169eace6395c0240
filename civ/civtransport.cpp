// The CI-V transports: the wired port "/dev/ttyS2", the Bluetooth serial
// port "/dev/rfcomm0" and the pseudo-terminal "/dev/ttyVirtual0" through
// which the external network server reaches the radio. One loop on the
// CI-V worker thread waits on them all (poll) and runs the interpreter every
// 50 ms; at rest it wakes only for that.
#include "civ/civdevice.h"

#include "civ/civcommands.h"

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
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char *const kBluetoothPort = "/dev/rfcomm0";
const char *const kVirtualPort = "/dev/ttyVirtual0";
const int kPortBaud = 19200;
using Clock = std::chrono::steady_clock;
const auto kPeriod = std::chrono::milliseconds(CIV_PERIOD_MS); // the interpreter's period
// Counted in interpreter runs rather than by the clock: a loop held up for
// seconds (a loaded machine) has not heard silence, its client's bytes are
// waiting to be read.
const int kBtSilentRuns = 5000 / CIV_PERIOD_MS; // 5 s of silence close the Bluetooth port
const auto kBtRetry = std::chrono::seconds(1);  // a closed Bluetooth port is tried once a second
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
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void CivDevice::setParams(ZParamAdmin *admin, const QString &device, int32_t speed)
{
    m_admin = admin;
    m_commands->setStore(admin);
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
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        ssize_t w;
        do {
            w = ::write(m_wakeFd, &one, sizeof(one));
        } while (w < 0 && errno == EINTR);
    }
}

void CivDevice::writePorts(const QByteArray &bytes, bool streamOnly)
{
    // The scope stream skips the wired port: at 19200 baud it could not
    // carry a 500-byte frame every 100 ms.
    if (!streamOnly && m_fd >= 0)
        writeAll(m_fd, bytes);
    // Without the server on its end, bytes would pile up for it.
    if (m_vFd >= 0 && m_vPeer)
        writeAll(m_vFd, bytes);
    if (m_btFd >= 0)
        writeAll(m_btFd, bytes);
}

int CivDevice::readPort(int fd, uint8_t *buf, int size)
{
    ssize_t r;
    do {
        r = ::read(fd, buf, size_t(size));
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : int(r);
}

int CivDevice::pullPort(int fd, uint8_t *buf, int size)
{
    const int r = readPort(fd, buf, size);
    if (r > 0)
        receive(buf, r);
    return r;
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
    if (!m_btQuiet)
        qCDebug(logCivDevice) << "rfcomm opened, fd =" << fd;
}

void CivDevice::closeBluetooth()
{
    if (m_btFd < 0)
        return;
    ::close(m_btFd);
    m_btFd = -1;
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

    Clock::time_point now = Clock::now();
    Clock::time_point nextRun = now + kPeriod;
    int btSilentRuns = 0;
    Clock::time_point btNextTry = now; // the first try at once
    // A port that reports a hang-up (nobody on its far end) would end every
    // wait at once: it is left out of the wait until the next interpreter
    // run, which reads it once.
    bool wiredHup = false;
    bool btHup = false;
    m_btQuiet = false;
    m_btSilentCloses = 0;
    auto btHeard = [&] {
        btSilentRuns = 0;
        if (m_btQuiet)
            qCDebug(logCivDevice) << "rfcomm heard, fd =" << m_btFd;
        m_btQuiet = false;
    };
    while (!m_stop.load()) {
        pollfd fds[4];
        int count = 0;
        int iWake = -1, iWired = -1, iBt = -1, iVirtual = -1;
        if (m_wakeFd >= 0) {
            iWake = count;
            fds[count++] = { m_wakeFd, POLLIN, 0 };
        }
        if (m_fd >= 0 && !wiredHup) {
            iWired = count;
            fds[count++] = { m_fd, POLLIN, 0 };
        }
        if (m_btFd >= 0 && !btHup) {
            iBt = count;
            fds[count++] = { m_btFd, POLLIN, 0 };
        }
        // The server's port is a master, which hangs up while the server
        // does not hold its end: waited on only while the server is there.
        if (m_vFd >= 0 && m_vPeer) {
            iVirtual = count;
            fds[count++] = { m_vFd, POLLIN, 0 };
        }
        // Rounded up: a wait cut to 0 ms would spin through the last
        // fraction of a millisecond.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextRun - now).count();
        int wait = int(qBound<qint64>(0, left, CIV_PERIOD_MS));
        if (m_wakeFd < 0)
            wait = qMin(wait, 10); // without the wake-up, stop() is seen by polling
        if (::poll(fds, nfds_t(count), wait) > 0) {
            const short gone = POLLHUP | POLLERR | POLLNVAL;
            if (iWake >= 0 && (fds[iWake].revents & POLLIN)) {
                uint64_t v;
                (void)!::read(m_wakeFd, &v, sizeof(v));
            }
            if (iWired >= 0 && fds[iWired].revents) {
                const int r = (fds[iWired].revents & POLLIN) ? pullPort(m_fd, wired, wiredSize) : 0;
                if (r <= 0 && (fds[iWired].revents & gone))
                    wiredHup = true;
            }
            if (iBt >= 0 && fds[iBt].revents) {
                const int r = (fds[iBt].revents & POLLIN) ? pullPort(m_btFd, m_btBuf, CIV_BT_BUFFER) : 0;
                if (r > 0)
                    btHeard();
                else if (fds[iBt].revents & gone)
                    btHup = true;
            }
            if (iVirtual >= 0 && fds[iVirtual].revents) {
                const int r = (fds[iVirtual].revents & POLLIN) ? pullPort(m_vFd, m_btBuf, CIV_BT_BUFFER) : 0;
                if (r <= 0 && (r == -EIO || (fds[iVirtual].revents & gone)))
                    m_vPeer = false;
            }
        }
        now = Clock::now();
        if (now < nextRun)
            continue;

        // The interpreter's run, every 50 ms. Before it, the ports left out
        // of the wait are read once, and the Bluetooth port is closed after
        // 5 s (100 runs) of silence or tried again once a second while
        // closed.
        if (m_fd >= 0 && wiredHup) {
            pullPort(m_fd, wired, wiredSize);
            wiredHup = false;
        }
        if (m_btFd >= 0 && btHup) {
            if (pullPort(m_btFd, m_btBuf, CIV_BT_BUFFER) > 0)
                btHeard();
            btHup = false;
        }
        if (m_vFd >= 0 && !m_vPeer) {
            // Reads EIO while nobody holds the other end.
            const int r = pullPort(m_vFd, m_btBuf, CIV_BT_BUFFER);
            m_vPeer = r != -EIO;
        }
        if (m_btFd >= 0 && ++btSilentRuns >= kBtSilentRuns) {
            if (!m_btQuiet)
                qCDebug(logCivDevice) << "rfcomm silent, closed";
            m_btQuiet = true;
            ++m_btSilentCloses;
            closeBluetooth();
            btNextTry = now + kBtRetry;
        } else if (m_btFd < 0 && now >= btNextTry) {
            openBluetooth();
            btNextTry = now + kBtRetry;
            btSilentRuns = 0;
            btHup = false;
        }
        slot_rxPhase();
        nextRun += kPeriod;
        if (nextRun <= now)
            nextRun = now + kPeriod; // held up: no burst of runs to catch up
    }

    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    closeBluetooth();
    closeVirtualPort();
    qCInfo(logCivDevice) << this << "thread exited";
}
