#include "tests/test_support.h"

#include "app/zsystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace ztest {

// ------------------------------------------------------------------- log

namespace {

// A standard lock, so thread checkers see it.
std::mutex g_logMutex;
QStringList g_log;
int g_logMax = 200000;
bool g_verbose = false;

void captureHandler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_log.size() < g_logMax)
        g_log << msg;
    if (g_verbose)
        fprintf(stderr, "%s\n", qPrintable(msg));
}

void silentHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

void installLogCapture(int maxLines)
{
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logMax = maxLines;
    }
    g_verbose = qEnvironmentVariableIntValue("ZR450_TEST_VERBOSE") != 0;
    qInstallMessageHandler(captureHandler);
}

void silenceLog()
{
    qInstallMessageHandler(silentHandler);
}

void clearLog()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.clear();
}

QStringList logLines()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_log;
}

int logCount(const QString &text)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    int n = 0;
    for (const QString &l : qAsConst(g_log))
        n += l.contains(text) ? 1 : 0;
    return n;
}

bool logContains(const QString &text)
{
    return logCount(text) > 0;
}

// ----------------------------------------------------------- system root

void setSysroot(const QString &root)
{
    if (root.isEmpty())
        qunsetenv("ZR450_SYSROOT");
    else
        qputenv("ZR450_SYSROOT", root.toLocal8Bit());
    zsys::reload();
}

Sysroot::Sysroot()
{
    setSysroot(m_dir.path());
}

Sysroot::~Sysroot()
{
    setSysroot(QString());
}

void Sysroot::writeFile(const QString &systemPath, const QByteArray &data) const
{
    ztest::writeFile(m_dir.path() + systemPath, data);
}

// ------------------------------------------------ files and descriptors

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString readText(const QString &path)
{
    return QString::fromUtf8(readFile(path));
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray drainFd(int fd)
{
    QByteArray out;
    char buf[4096];
    for (;;) {
        const ssize_t r = read(fd, buf, sizeof(buf));
        if (r <= 0)
            break;
        out.append(buf, int(r));
    }
    return out;
}

bool writeAll(int fd, const void *data, size_t size, int timeoutMs)
{
    const char *p = static_cast<const char *>(data);
    size_t done = 0;
    QElapsedTimer t;
    t.start();
    while (done < size) {
        const ssize_t w = ::write(fd, p + done, size - done);
        if (w > 0) {
            done += size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || t.elapsed() >= timeoutMs)
            return false;
        pollfd q = {fd, POLLOUT, 0};
        poll(&q, 1, 10);
    }
    return true;
}

int unixSocket(const QString &path, int type, bool listening)
{
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    if (p.isEmpty() || size_t(p.size()) >= sizeof(sa.sun_path))
        return -1;
    std::memcpy(sa.sun_path, p.constData(), size_t(p.size()));
    const int s = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    bool ok;
    if (listening) {
        ::unlink(sa.sun_path);
        ok = bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0 && listen(s, 4) == 0;
    } else {
        ok = ::connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0;
    }
    if (!ok) {
        close(s);
        return -1;
    }
    return s;
}

// ------------------------------------------------------ pseudo-terminal

bool Pty::open(int flags)
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | ((flags & NonBlockingMaster) ? O_NONBLOCK : 0));
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    name = QString::fromLocal8Bit(ptsname(master));
    slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio;
    if (slave < 0 || tcgetattr(slave, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    const bool raw = tcsetattr(slave, TCSANOW, &tio) == 0;
    if (!(flags & KeepSlave)) {
        ::close(slave);
        slave = -1;
    }
    return raw;
}

bool Pty::link(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    if (!QFile::link(name, path))
        return false;
    linkPath = path;
    return true;
}

bool Pty::write(const void *data, size_t size)
{
    return writeAll(master, data, size);
}

Pty::~Pty()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
}

// ------------------------------------------------------------ simulator

QString simCommand(const QString &root, const QByteArray &line, int replyMs)
{
    QLocalSocket s;
    s.connectToServer(root + QStringLiteral("/run/bbsim.sock"));
    if (!s.waitForConnected(3000))
        return QString();
    s.write(line + "\n");
    s.flush();
    QElapsedTimer t;
    t.start();
    while (!s.canReadLine() && t.elapsed() < replyMs)
        s.waitForReadyRead(50);
    return QString::fromUtf8(s.readLine()).trimmed();
}

Sim::~Sim()
{
    if (m_proc.state() != QProcess::NotRunning && !stop()) {
        m_proc.kill();
        m_proc.waitForFinished(2000);
    }
}

bool Sim::start(const QString &root, int waitMs)
{
    m_root = root;
    m_proc.setProcessChannelMode(QProcess::ForwardedChannels);
    m_proc.start(QStringLiteral(ZR_BINARY_DIR "/sim/zr450-bbsim"), {QStringLiteral("--sysroot"), root});
    if (!m_proc.waitForStarted(5000))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs) {
        if (QFileInfo::exists(root + QStringLiteral("/run/bbsim.sock")))
            return true;
        QTest::qWait(20);
    }
    return false;
}

QString Sim::command(const QByteArray &line, int replyMs) const
{
    return simCommand(m_root, line, replyMs);
}

bool Sim::stop()
{
    m_proc.terminate();
    return m_proc.waitForFinished(5000);
}

// ---------------------------------------------------------------- threads

Joiner::~Joiner()
{
    if (m_stop)
        m_stop->store(true);
    if (m_t.joinable())
        m_t.join();
}

double threadCpuSeconds(pthread_t t)
{
    clockid_t cid;
    timespec ts = {};
    if (pthread_getcpuclockid(t, &cid) != 0 || clock_gettime(cid, &ts) != 0)
        return 0.0;
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace ztest
