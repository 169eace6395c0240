#include "sim/bbuart.h"

#include "sim/bbboard.h"
#include "sim/bbpty.h"
#include "radio/bbframe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

int64_t now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The line's value as the emulated sysfs file holds it: 0, 1, or -1.
int read_line(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray v = f.read(16).trimmed();
    return v == "1" ? 1 : (v == "0" ? 0 : -1);
}

const char *fault_name(BbBoot::Fault f)
{
    switch (f) {
    case BbBoot::NakAt: return "nak";
    case BbBoot::CanAt: return "can";
    case BbBoot::Silent: return "silent";
    case BbBoot::WrongAck: return "wrongack";
    default: return "none";
    }
}

// Most the bootloader keeps of what the radio sent and it has not taken
// yet (the radio waits for an answer after every packet).
const size_t kRxQueueLimit = 65536;

} // namespace

BbUart::BbUart(BbBoard *board)
    : m_board(board)
{
}

BbUart::~BbUart()
{
    stop();
}

bool BbUart::start(const QString &linkPath, int baud, const QString &gpioDir, const QString &imagePath)
{
    m_baud = baud;
    m_gpioDir = gpioDir;
    m_imagePath = imagePath;
    m_master = bbpty_open(linkPath, 0, &m_slave);
    if (m_master < 0)
        return false;
    m_link = linkPath;
    watchGpio();
    m_stop = false;
    m_thread = std::thread(&BbUart::run, this);
    return true;
}

void BbUart::watchGpio()
{
    if (m_gpioDir.isEmpty())
        return;
    m_notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_notify < 0) {
        QTextStream(stderr) << "zr450-bbsim: no inotify, the GPIO lines are not watched\n";
        return;
    }
    // IN_MODIFY between the close events keeps two writes in a row from
    // being merged into one event.
    const uint32_t mask = IN_CLOSE_WRITE | IN_MODIFY;
    m_wdReset = inotify_add_watch(m_notify, QFile::encodeName(m_gpioDir + QStringLiteral("/gpio204")).constData(), mask);
    m_wdSelect = inotify_add_watch(m_notify, QFile::encodeName(m_gpioDir + QStringLiteral("/gpio203")).constData(), mask);
    if (m_wdReset < 0 || m_wdSelect < 0)
        QTextStream(stderr) << "zr450-bbsim: cannot watch " << m_gpioDir << ": " << strerror(errno) << "\n";
}

void BbUart::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_link.isEmpty()) {
        QFile::remove(m_link);
        m_link.clear();
    }
    if (m_notify >= 0)
        close(m_notify);
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
    m_notify = m_slave = m_master = -1;
}

void BbUart::setBootFault(BbBoot::Fault fault, int packet)
{
    std::lock_guard<std::mutex> lock(m_faultMutex);
    m_fault = fault;
    m_faultPacket = packet;
}

QString BbUart::bootStatus() const
{
    static const char *const modes[] = {"running", "reset", "bootloader"};
    std::lock_guard<std::mutex> lock(m_faultMutex);
    QString fault = QString::fromLatin1(fault_name(m_fault));
    if (m_fault == BbBoot::NakAt || m_fault == BbBoot::CanAt)
        fault += QStringLiteral(",%1").arg(m_faultPacket);
    return QStringLiteral("state=%1 fault=%2 sessions=%3 stored=%4")
        .arg(QLatin1String(modes[m_mode.load()]), fault)
        .arg(m_sessions)
        .arg(m_stored);
}

void BbUart::checkGpio(int64_t now)
{
    if (m_notify < 0)
        return;
    alignas(inotify_event) char buf[4096];
    int resetWrites = 0;
    for (;;) {
        const ssize_t n = read(m_notify, buf, sizeof(buf));
        if (n <= 0)
            break;
        for (ssize_t off = 0; off + ssize_t(sizeof(inotify_event)) <= n;) {
            const inotify_event *ev = reinterpret_cast<const inotify_event *>(buf + off);
            if (ev->wd == m_wdReset && (ev->mask & IN_CLOSE_WRITE) && ev->len > 0
                && std::strcmp(ev->name, "value") == 0)
                ++resetWrites;
            off += ssize_t(sizeof(inotify_event) + ev->len);
        }
    }
    if (resetWrites == 0)
        return;
    const int reset = read_line(m_gpioDir + QStringLiteral("/gpio204/value"));
    if (reset == 1) {
        if (m_mode.load() != Reset)
            m_mode = Reset; // a bootloader session ends with the reset
    } else if (reset == 0 && (m_mode.load() == Reset || resetWrites >= 2)) {
        // Out of reset. Two writes seen at once mean the 1 of a pulse was
        // overwritten before we looked: nothing else writes the reset line
        // twice.
        if (read_line(m_gpioDir + QStringLiteral("/gpio203/value")) == 0)
            enterBootloader(now);
        else
            m_mode = Running;
    }
}

void BbUart::enterBootloader(int64_t now)
{
    // What the radio wrote while the board was running is gone.
    tcflush(m_master, TCIFLUSH);
    m_rxQueue.clear();
    m_rxBudget = 0.0;
    BbBoot::Fault fault;
    int packet;
    {
        std::lock_guard<std::mutex> lock(m_faultMutex);
        fault = m_fault;
        packet = m_faultPacket;
        m_fault = BbBoot::NoFault; // one session each
        m_faultPacket = 0;
        ++m_sessions;
    }
    m_boot.begin(now, fault, packet);
    m_mode = Bootloader;
    QTextStream(stdout) << "zr450-bbsim: bootloader started (fault " << fault_name(fault) << ")" << Qt::endl;
}

void BbUart::endBootloader()
{
    if (m_boot.complete()) {
        const QByteArray image = m_boot.image();
        QDir().mkpath(QFileInfo(m_imagePath).absolutePath());
        const QString tmp = m_imagePath + QStringLiteral(".part");
        QFile f(tmp);
        if (!m_imagePath.isEmpty() && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && f.write(image) == image.size()) {
            f.close();
            QFile::remove(m_imagePath);
            QFile::rename(tmp, m_imagePath);
            std::lock_guard<std::mutex> lock(m_faultMutex);
            m_stored = image.size();
        }
        QTextStream(stdout) << "zr450-bbsim: bootloader: image of " << image.size() << " bytes stored" << Qt::endl;
    } else {
        QTextStream(stdout) << "zr450-bbsim: bootloader ended without an image (" << m_boot.endReason() << ")" << Qt::endl;
    }
    m_mode = Running;
}

void BbUart::runBootloader(int64_t now)
{
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(m_master, buf, sizeof(buf));
        if (n <= 0)
            break;
        if (m_rxQueue.size() + size_t(n) <= kRxQueueLimit)
            m_rxQueue.insert(m_rxQueue.end(), buf, buf + n);
    }
    // The bytes arrive at the line rate, not at the speed of the
    // pseudo-terminal.
    m_rxBudget += double(now - m_lastTick) * m_baud / 10000.0;
    const size_t take = std::min(m_rxQueue.size(), size_t(m_rxBudget));
    m_rxBudget -= double(take);
    std::vector<uint8_t> out;
    m_boot.feed(m_rxQueue.data(), take, now, out);
    m_rxQueue.erase(m_rxQueue.begin(), m_rxQueue.begin() + ptrdiff_t(take));
    if (m_rxQueue.empty())
        m_rxBudget = 0.0; // an idle line saves no time for later
    m_boot.tick(now, out);
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t w = write(m_master, out.data() + done, out.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            break; // nobody reads: the bytes are lost
        done += size_t(w);
    }
    if (m_boot.done())
        endBootloader();
}

void BbUart::run()
{
    using clock = std::chrono::steady_clock;
    const double bytesPerSecond = m_baud / 10.0;
    const auto t0 = clock::now();
    uint64_t sent = 0;
    std::vector<uint8_t> frame(BBFRAME_SIZE);
    size_t framePos = BBFRAME_SIZE;
    auto next = t0;
    m_lastTick = now_ms();

    while (!m_stop) {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        const auto now = clock::now();
        if (now - next > std::chrono::milliseconds(100))
            next = now; // we were stopped for a while: do not try to catch up tick by tick
        const int64_t nowMs = now_ms();
        checkGpio(nowMs);
        const double elapsed = std::chrono::duration<double>(now - t0).count();
        uint64_t due = uint64_t(elapsed * bytesPerSecond);
        if (m_mode.load() != Running) {
            // Held in reset or in the bootloader: no frames; the next one
            // starts whole.
            sent = due;
            framePos = BBFRAME_SIZE;
            if (m_mode.load() == Bootloader)
                runBootloader(nowMs);
            m_lastTick = nowMs;
            continue;
        }
        m_lastTick = nowMs;
        // After a long stall send at most two frames' worth at once; the rest
        // of the line time is simply gone.
        if (due > sent + 2 * BBFRAME_SIZE)
            sent = due - 2 * BBFRAME_SIZE;
        while (sent < due && !m_stop) {
            if (framePos == BBFRAME_SIZE) {
                m_board->makeFrame(frame.data());
                framePos = 0;
            }
            const size_t chunk = std::min<uint64_t>(due - sent, BBFRAME_SIZE - framePos);
            ssize_t w = write(m_master, frame.data() + framePos, chunk);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                w = ssize_t(chunk); // nobody reads: the bytes are lost
            framePos += size_t(w);
            sent += uint64_t(w);
        }
    }
}
