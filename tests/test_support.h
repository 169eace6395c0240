#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

// Helpers shared by the tests and benchmarks: the process log kept in
// memory, system roots, files and descriptors, pseudo-terminals, the real
// simulator as a child process, and threads that are stopped and joined on
// every way out of a test function (a failed check returns early).

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <pthread.h>
#include <thread>
#include <vector>

namespace ztest {

// ------------------------------------------------------------------- log

// Keeps every message of the process (up to maxLines) instead of printing
// it; ZR450_TEST_VERBOSE=1 prints them to stderr as well.
void installLogCapture(int maxLines = 200000);
// Drops every message (benchmarks).
void silenceLog();
void clearLog();
QStringList logLines();
// Number of kept lines that contain text.
int logCount(const QString &text);
bool logContains(const QString &text);

// ----------------------------------------------------------- system root

// Maps the system paths under root (empty: the real ones) and tells the
// system layer.
void setSysroot(const QString &root);

// A fresh temporary system root for one test, left again at its end; the
// parameter store's files live in root/app.
class Sysroot
{
public:
    Sysroot();
    ~Sysroot();
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString appDir() const { return m_dir.path() + QStringLiteral("/app"); }
    QString dbFile() const { return appDir() + QStringLiteral("/zparam.db"); }
    // Writes a file at a system path below the root.
    void writeFile(const QString &systemPath, const QByteArray &data) const;

private:
    QTemporaryDir m_dir;
};

// ------------------------------------------------ files and descriptors

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);
QString readText(const QString &path);
// Creates the parent directories; false when the file cannot be written.
bool writeFile(const QString &path, const QByteArray &data);

// Everything readable now on a non-blocking descriptor.
QByteArray drainFd(int fd);
// Writes all of data: retries after EINTR, and on a non-blocking descriptor
// waits for room for up to timeoutMs.
bool writeAll(int fd, const void *data, size_t size, int timeoutMs = 3000);
// A local socket of the type (SOCK_STREAM, SOCK_SEQPACKET) bound and
// listening at path (a file left there is replaced), or connected to it;
// -1 on failure.
int unixSocket(const QString &path, int type, bool listening);

// ------------------------------------------------------ pseudo-terminal

// A pseudo-terminal pair in raw mode; the test holds the master (the far
// end of the line). With KeepSlave the slave end stays open here too, so
// the line never hangs up between the program's opens.
struct Pty {
    enum Flag { KeepSlave = 1, NonBlockingMaster = 2 };

    int master = -1;
    int slave = -1;
    QString name;     // the slave's device
    QString linkPath; // where link() published it

    bool open(int flags = KeepSlave);
    // Publishes the slave as a symbolic link at path (parents created);
    // removed again with the pair.
    bool link(const QString &path);
    bool write(const void *data, size_t size);
    bool write(const std::vector<uint8_t> &b) { return write(b.data(), b.size()); }
    bool write(const QByteArray &b) { return write(b.constData(), size_t(b.size())); }
    ~Pty();
};

// ------------------------------------------------------------ simulator

// One line to the control socket of a simulator running on root; its reply
// line, empty when none came within replyMs.
QString simCommand(const QString &root, const QByteArray &line, int replyMs = 3000);

// The real zr450-bbsim on a system root, as a child process; terminated at
// the latest when this ends.
class Sim
{
public:
    ~Sim();
    // Starts it and waits up to waitMs for its control socket.
    bool start(const QString &root, int waitMs = 15000);
    QString command(const QByteArray &line, int replyMs = 5000) const;
    // Terminates it; true when it ended within 5 s (false when it was no
    // longer running).
    bool stop();
    QString root() const { return m_root; }
    QProcess &process() { return m_proc; }

private:
    QString m_root;
    QProcess m_proc;
};

// ---------------------------------------------------------------- threads

// Runs a function on every way out of a scope.
class AtExit
{
public:
    explicit AtExit(std::function<void()> f) : m_f(std::move(f)) {}
    ~AtExit()
    {
        if (m_f)
            m_f();
    }
    AtExit(const AtExit &) = delete;
    AtExit &operator=(const AtExit &) = delete;

private:
    std::function<void()> m_f;
};

// Sets the stop flag (if any) and joins the thread on every way out of a
// scope, so a failed check that returns early does not end the process in
// std::terminate. Joining by hand before stays allowed.
class Joiner
{
public:
    explicit Joiner(std::thread &t, std::atomic<bool> *stop = nullptr) : m_t(t), m_stop(stop) {}
    ~Joiner();
    Joiner(const Joiner &) = delete;
    Joiner &operator=(const Joiner &) = delete;

private:
    std::thread &m_t;
    std::atomic<bool> *m_stop;
};

// CPU time a thread has used, in seconds (benchmarks).
double threadCpuSeconds(pthread_t t);

} // namespace ztest

#endif
