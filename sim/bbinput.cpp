#include "sim/bbinput.h"

#include "sim/bbboard.h"

#include <QTextStream>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <climits>
#include <linux/input.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

const int kPowerKey = 116;

input_event make_event(uint16_t type, uint16_t code, int32_t value)
{
    input_event ev;
    std::memset(&ev, 0, sizeof(ev));
    timeval tv;
    gettimeofday(&tv, nullptr);
    ev.input_event_sec = tv.tv_sec;
    ev.input_event_usec = tv.tv_usec;
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return ev;
}

} // namespace

BbInput::BbInput(BbBoard *board, QObject *parent)
    : QObject(parent)
    , m_board(board)
{
}

BbInput::~BbInput()
{
    for (int &fd : m_fd) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

QString BbInput::relPath(Device device) const
{
    return QStringLiteral("dev/input/event%1").arg(int(device));
}

bool BbInput::start(const QString &root)
{
    m_root = root;
    // A reader that goes away must cost a failed write, not the process.
    signal(SIGPIPE, SIG_IGN);
    for (int i = 0; i < DeviceCount; ++i) {
        const QByteArray p = (root + QLatin1Char('/') + relPath(Device(i))).toLocal8Bit();
        struct stat st;
        if (lstat(p.constData(), &st) == 0) {
            if (S_ISFIFO(st.st_mode))
                continue;
            unlink(p.constData());
        }
        if (mkfifo(p.constData(), 0666) != 0) {
            QTextStream(stderr) << "zr450-bbsim: cannot create " << p << ": " << strerror(errno) << "\n";
            return false;
        }
    }
    return true;
}

int BbInput::writer(Device device)
{
    if (m_fd[device] >= 0)
        return m_fd[device];
    const QByteArray p = (m_root + QLatin1Char('/') + relPath(device)).toLocal8Bit();
    // Non-blocking: without a reader this fails with ENXIO instead of
    // waiting for the application.
    m_fd[device] = open(p.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return m_fd[device];
}

// Writes whole events in one write (at most PIPE_BUF bytes, so it is atomic
// and the reader never sees half an event). A reader that went away since the
// last command is given one reconnect.
QString BbInput::send(Device device, const void *data, size_t len)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = writer(device);
        if (fd < 0) {
            if (errno == ENXIO)
                return QStringLiteral("error no reader on %1").arg(relPath(device));
            return QStringLiteral("error %1: %2").arg(relPath(device), QString::fromLocal8Bit(strerror(errno)));
        }
        const ssize_t w = write(fd, data, len);
        if (w == ssize_t(len))
            return QString();
        const int err = errno;
        if (w < 0 && err == EPIPE) {
            close(fd);
            m_fd[device] = -1;
            continue;
        }
        if (w < 0 && err == EAGAIN)
            return QStringLiteral("error %1 is full").arg(relPath(device));
        return QStringLiteral("error %1: short write").arg(relPath(device));
    }
    return QStringLiteral("error no reader on %1").arg(relPath(device));
}

QString BbInput::key(int code, int ms)
{
    const Device dev = code == kPowerKey ? Power : Keys;
    const input_event press[2] = {make_event(EV_KEY, uint16_t(code), 1), make_event(EV_SYN, SYN_REPORT, 0)};
    const QString err = send(dev, press, sizeof(press));
    if (!err.isEmpty())
        return err;
    // Only the release of the latest press of a key counts: a second
    // command for the same key extends the hold.
    const quint64 gen = ++m_generation;
    m_keyHold[code] = gen;
    QTimer::singleShot(ms, this, [this, code, gen, dev]() {
        if (m_keyHold.value(code) != gen)
            return;
        m_keyHold.remove(code);
        const input_event release[2] = {make_event(EV_KEY, uint16_t(code), 0), make_event(EV_SYN, SYN_REPORT, 0)};
        const QString e = send(dev, release, sizeof(release));
        if (!e.isEmpty())
            QTextStream(stderr) << "zr450-bbsim: release of key " << code << ": " << e << "\n";
    });
    return QStringLiteral("ok key %1 %2").arg(code).arg(ms);
}

QString BbInput::turn(Device device, int steps)
{
    static const uint16_t kCode[DeviceCount] = {0, REL_X, REL_Y, REL_Z, 0};
    // Clockwise counts per encoder (see the header).
    static const int kClockwise[DeviceCount] = {0, 1, -1, -1, 0};
    if (device != Dial && device != Knob && device != Mfk)
        return QStringLiteral("error not an encoder");
    const int one = steps > 0 ? kClockwise[device] : -kClockwise[device];
    int left = steps > 0 ? steps : -steps;
    // Chunks of whole steps no larger than PIPE_BUF, so each write is
    // all or nothing.
    const int perChunk = int(PIPE_BUF / (2 * sizeof(input_event)));
    while (left > 0) {
        const int n = qMin(left, perChunk);
        QByteArray chunk;
        for (int i = 0; i < n; ++i) {
            const input_event ev[2] = {make_event(EV_REL, kCode[device], one), make_event(EV_SYN, SYN_REPORT, 0)};
            chunk.append(reinterpret_cast<const char *>(ev), sizeof(ev));
        }
        const QString err = send(device, chunk.constData(), size_t(chunk.size()));
        if (!err.isEmpty())
            return err;
        left -= n;
    }
    return QStringLiteral("ok %1").arg(steps);
}

QString BbInput::mic(uint32_t code, int ms)
{
    m_board->setMicKey(code);
    const quint64 gen = ++m_micGeneration;
    QTimer::singleShot(ms, this, [this, gen]() {
        if (gen == m_micGeneration)
            m_board->setMicKey(0);
    });
    return QStringLiteral("ok mic %1 %2").arg(code).arg(ms);
}
