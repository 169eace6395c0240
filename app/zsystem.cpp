#include "app/zsystem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QTextStream>
#include <QDebug>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace zsys {

namespace {

QMutex g_rootMutex;
QString g_root;
bool g_rootRead = false;

QMutex g_cmdLogMutex;

QString readRoot()
{
    const QByteArray env = qgetenv("ZR450_SYSROOT");
    if (env.isEmpty())
        return QString();
    QString root = QDir::cleanPath(QDir(QString::fromLocal8Bit(env)).absolutePath());
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

void logCommand(const QString &root, const QString &command)
{
    QMutexLocker lock(&g_cmdLogMutex);
    QDir().mkpath(root + QStringLiteral("/var/log"));
    QFile f(root + QStringLiteral("/var/log/commands.log"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        qWarning() << "command log not writable:" << f.fileName() << f.errorString();
        return;
    }
    QTextStream out(&f);
    out << command << "\n";
}

// The place under the system root that an emulated command may change, or
// an empty string. Only absolute paths are emulated (anything else would be
// relative to the host's working directory), and ".." must not lead out of
// the root: "/../home" is not part of the radio's file system.
QString emulatedTarget(const QString &p)
{
    if (!p.startsWith(QLatin1Char('/')))
        return QString();
    const QString root = sysroot();
    const QString mapped = QDir::cleanPath(path(p));
    const QString inside = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (mapped != root && !mapped.startsWith(inside)) {
        qWarning() << "emulated command leaves the system root, ignored:" << p;
        return QString();
    }
    return mapped;
}

void writeEmulated(const QString &target, const QString &text, bool append)
{
    const QString mapped = emulatedTarget(target);
    if (mapped.isEmpty())
        return;
    QFileInfo fi(mapped);
    QDir().mkpath(fi.absolutePath());
    QFile f(mapped);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate);
    if (!f.open(mode)) {
        qWarning() << "emulated write failed:" << mapped << f.errorString();
        return;
    }
    f.write(text.toUtf8());
    f.close();

    // The kernel creates a GPIO line's files when the line is exported.
    if (target == QLatin1String("/sys/class/gpio/export")) {
        bool ok = false;
        const int line = text.trimmed().toInt(&ok);
        if (ok && line >= 0) {
            const QString dir = path(QStringLiteral("/sys/class/gpio/gpio%1").arg(line));
            QDir().mkpath(dir);
            for (const char *name : {"value", "direction"}) {
                QFile g(dir + QLatin1Char('/') + QLatin1String(name));
                if (!g.exists() && g.open(QIODevice::WriteOnly))
                    g.write(name[0] == 'v' ? "0\n" : "in\n");
            }
        }
    }
}

void removeOne(const QString &mapped, bool recursive)
{
    // Never remove the system root itself.
    if (mapped.isEmpty() || mapped == sysroot())
        return;
    QFileInfo fi(mapped);
    if (fi.isDir() && !fi.isSymLink()) {
        if (recursive)
            QDir(mapped).removeRecursively();
    } else if (fi.exists() || fi.isSymLink()) {
        QFile::remove(mapped);
    }
}

void removeEmulated(const QStringList &args)
{
    bool recursive = false;
    bool options = true;
    for (const QString &a : args) {
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (a.contains(QLatin1Char('r')) || a.contains(QLatin1Char('R')))
                recursive = true;
            continue;
        }
        // A wildcard in the last component ("dir/*") stands for the names
        // the shell would give it: the directory's entries, hidden ones
        // left out unless the pattern itself starts with a dot.
        const int slash = a.lastIndexOf(QLatin1Char('/'));
        const QString last = a.mid(slash + 1);
        if (slash > 0 && (last.contains(QLatin1Char('*')) || last.contains(QLatin1Char('?')))) {
            const QString dir = emulatedTarget(a.left(slash));
            if (dir.isEmpty())
                continue;
            QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
            if (last.startsWith(QLatin1Char('.')))
                filters |= QDir::Hidden;
            const QStringList names = QDir(dir).entryList(QStringList(last), filters);
            for (const QString &name : names)
                removeOne(dir + QLatin1Char('/') + name, recursive);
            continue;
        }
        removeOne(emulatedTarget(a), recursive);
    }
}

// ---- The network server's service script ----------------------------------
//
// Off the radio "/usr/share/support/wfserverd start|stop" is played here.
// With Debian's wfview installed and a settings file in place, the real
// server runs: on a copy of the settings file whose serial port is the
// system root's "/dev/ttyVirtual0", logging to var/log/wfserver.log, its
// pid in the pid file the application watches. Otherwise only the pid file
// stands for the server.

const char *const kWfserverBinary = "/usr/bin/wfserver";
const char *const kWfserverPidFile = "/var/run/wfserver.pid";
// Start and stop come from the command dialog's worker thread and from
// "reboot": one at a time.
QMutex g_wfserverMutex;

// A process that exists and has not ended (a zombie has ended).
bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

// The pid in the pid file when it names a running wfserver, else 0. The
// executable is checked, so a stale file never gets an unrelated host
// process signalled.
qint64 runningWfserver(const QString &pidFile)
{
    QFile f(pidFile);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = QString::fromLatin1(f.readLine(32)).trimmed().toLongLong(&ok);
    if (!ok || pid <= 1 || !processAlive(pid))
        return 0;
    char exe[512];
    const ssize_t n = ::readlink(QStringLiteral("/proc/%1/exe").arg(pid).toLocal8Bit().constData(), exe,
                                 sizeof(exe) - 1);
    if (n <= 0)
        return 0;
    exe[n] = 0;
    const QString binary = QFileInfo(QString::fromLatin1(kWfserverBinary)).canonicalFilePath();
    return !binary.isEmpty() && QString::fromLocal8Bit(exe) == binary ? pid : 0;
}

void writePidFile(const QString &pidFile, qint64 pid)
{
    QDir().mkpath(QFileInfo(pidFile).absolutePath());
    QFile f(pidFile);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(QByteArray::number(pid) + "\n");
}

// The real server on a copy of the settings file; its pid, or 0 when it
// could not be started.
qint64 launchWfserver()
{
    const QString ini = path(QStringLiteral("/etc/zrradio/wfserver.ini"));
    if (!QFileInfo(QString::fromLatin1(kWfserverBinary)).isExecutable() || !QFileInfo::exists(ini))
        return 0;
    const QString dir = path(QStringLiteral("/var/run/wfserver"));
    QDir().mkpath(dir);
    QDir().mkpath(path(QStringLiteral("/var/log")));
    const QString copy = dir + QStringLiteral("/wfserver.ini");
    QFile::remove(copy);
    if (!QFile::copy(ini, copy)) {
        qWarning() << "emulated wfserverd: can't copy" << ini;
        return 0;
    }
    {
        // The radio's serial ports are named as on the radio ("ttyVirtual0"
        // or "/dev/ttyVirtual0"); the server off the radio opens the
        // system root's.
        QSettings settings(copy, QSettings::IniFormat);
        const int radios = qBound(1, settings.value(QStringLiteral("Radios/size"), 1).toInt(), 16);
        for (int i = 1; i <= radios; ++i) {
            const QString key = QStringLiteral("Radios/%1/SerialPortRadio").arg(i);
            QString port = settings.value(key).toString();
            if (port.isEmpty())
                continue;
            if (!port.startsWith(QLatin1Char('/')))
                port = QStringLiteral("/dev/") + port;
            const QString mapped = emulatedTarget(port);
            if (mapped.isEmpty())
                return 0;
            settings.setValue(key, mapped);
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            qWarning() << "emulated wfserverd: can't write" << copy;
            return 0;
        }
    }
    QProcess proc;
    proc.setProgram(QString::fromLatin1(kWfserverBinary));
    proc.setArguments({ QStringLiteral("-s"), copy, QStringLiteral("-l"),
                        path(QStringLiteral("/var/log/wfserver.log")), QStringLiteral("-d") });
    proc.setWorkingDirectory(dir);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setStandardOutputFile(path(QStringLiteral("/var/log/wfserver.out")), QIODevice::Append);
    proc.setStandardErrorFile(path(QStringLiteral("/var/log/wfserver.out")), QIODevice::Append);
    qint64 pid = 0;
    if (!proc.startDetached(&pid) || pid <= 0) {
        qWarning() << "emulated wfserverd: can't start" << kWfserverBinary;
        return 0;
    }
    return pid;
}

void stopWfserver(const QString &pidFile)
{
    const qint64 pid = runningWfserver(pidFile);
    if (pid > 0) {
        ::kill(pid_t(pid), SIGTERM);
        // The server closes its ports and ends within about a second.
        for (int i = 0; i < 250 && processAlive(pid); ++i)
            usleep(20000);
        if (processAlive(pid)) {
            qWarning() << "emulated wfserverd: server did not stop, killed";
            ::kill(pid_t(pid), SIGKILL);
            for (int i = 0; i < 50 && processAlive(pid); ++i)
                usleep(20000);
        }
    }
    QFile::remove(pidFile);
}

void emulateWfserverd(const QString &action)
{
    QMutexLocker lock(&g_wfserverMutex);
    const QString pidFile = path(QString::fromLatin1(kWfserverPidFile));
    if (action == QLatin1String("stop") || action == QLatin1String("restart"))
        stopWfserver(pidFile);
    if (action == QLatin1String("start") || action == QLatin1String("restart")) {
        if (runningWfserver(pidFile) > 0)
            return; // already running: no second server on the same ports
        qint64 pid = launchWfserver();
        if (pid <= 0)
            pid = qint64(getpid()) + 1; // no server here: the pid file alone
        writePidFile(pidFile, pid);
    }
}

void emulate(const QStringList &words)
{
    if (words.isEmpty())
        return;

    // Pull redirections out of the argument list.
    QStringList args;
    QString target;
    bool append = false;
    for (int i = 0; i < words.size(); ++i) {
        const QString &w = words.at(i);
        if ((w == QLatin1String(">") || w == QLatin1String(">>")) && i + 1 < words.size()) {
            append = (w == QLatin1String(">>"));
            target = words.at(++i);
        } else if (w.size() >= 2 && w.at(0).isDigit() && (w.endsWith(QLatin1Char('>')) || w.endsWith(QLatin1Char('&')))) {
            ++i; // redirection of another descriptor: its target is dropped
        } else {
            args << w;
        }
    }
    if (args.isEmpty())
        return;
    const QString cmd = args.takeFirst();

    if (cmd == QLatin1String("echo") || cmd == QLatin1String("printf")) {
        bool newline = cmd == QLatin1String("echo");
        if (newline && !args.isEmpty() && args.first() == QLatin1String("-n")) {
            newline = false;
            args.removeFirst();
        }
        if (!target.isEmpty())
            writeEmulated(target, args.join(QLatin1Char(' ')) + (newline ? QStringLiteral("\n") : QString()), append);
    } else if (cmd == QLatin1String("rm")) {
        removeEmulated(args);
    } else if (cmd == QLatin1String("poweroff") || cmd == QLatin1String("reboot")) {
        // The radio loses power here: leave at once, as the hardware would,
        // and with it the services that ran beside the application.
        qWarning() << "emulated" << cmd << ": application ends";
        emulateWfserverd(QStringLiteral("stop"));
        fflush(nullptr);
        _exit(0);
    } else if (cmd == QLatin1String("/usr/share/support/wfserverd")) {
        emulateWfserverd(args.value(0));
    }
    // Everything else (date, hwclock, sync, source, socat, ...) only leaves
    // its line in the command log.
}

// "echo '<text>' | socat - UNIX-CONNECT:/path" (the wireless daemon's
// command line): the text and echo's newline go to the Unix socket at that
// path under the system root, as the pipe would deliver them; then, like
// socat, it waits half a second at most for the other side to finish.
// False when the line has another form. A socket that nobody serves fails
// silently, as socat's exit status is not looked at either.
bool emulateSocketPipe(const QString &command)
{
    static const QString kSocat = QStringLiteral("| socat - UNIX-CONNECT:");
    const int bar = command.lastIndexOf(kSocat);
    if (bar < 0)
        return false;
    const QString target = command.mid(bar + kSocat.size()).trimmed();
    const QList<QStringList> left = splitCommandLine(command.left(bar));
    if (left.size() != 1 || left.first().value(0) != QLatin1String("echo") || target.contains(QLatin1Char(' ')))
        return false;
    QStringList words = left.first().mid(1);
    bool newline = true;
    if (!words.isEmpty() && words.first() == QLatin1String("-n")) {
        newline = false;
        words.removeFirst();
    }
    const QByteArray payload = (words.join(QLatin1Char(' ')) + (newline ? QStringLiteral("\n") : QString())).toUtf8();

    const QByteArray sock = QFile::encodeName(emulatedTarget(target));
    sockaddr_un addr = {};
    if (sock.isEmpty() || size_t(sock.size()) >= sizeof addr.sun_path)
        return true;
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, sock.constData(), size_t(sock.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        for (qint64 sent = 0; sent < payload.size();) {
            const ssize_t n = send(fd, payload.constData() + sent, size_t(payload.size() - sent), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            sent += n;
        }
        shutdown(fd, SHUT_WR);
        timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long remaining = 500 - long((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
            pollfd p = {fd, POLLIN, 0};
            if (remaining <= 0 || poll(&p, 1, int(remaining)) <= 0)
                break;
            char buf[256];
            if (read(fd, buf, sizeof buf) <= 0)
                break;
        }
    }
    close(fd);
    return true;
}

} // namespace

void reload()
{
    QMutexLocker lock(&g_rootMutex);
    g_root = readRoot();
    g_rootRead = true;
}

QString sysroot()
{
    QMutexLocker lock(&g_rootMutex);
    if (!g_rootRead) {
        g_root = readRoot();
        g_rootRead = true;
    }
    return g_root;
}

QString path(const QString &systemPath)
{
    const QString root = sysroot();
    if (root.isEmpty() || !systemPath.startsWith(QLatin1Char('/')))
        return systemPath;
    if (systemPath == root || systemPath.startsWith(root + QLatin1Char('/')))
        return systemPath;
    return root + systemPath;
}

std::string path(const char *systemPath)
{
    if (!systemPath)
        return std::string();
    return path(QString::fromLocal8Bit(systemPath)).toLocal8Bit().toStdString();
}

QString appDir()
{
    const QString root = sysroot();
    if (!root.isEmpty()) {
        const QString dir = root + QStringLiteral("/app");
        QDir().mkpath(dir);
        return dir;
    }
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

int run(const QString &command)
{
    const QString root = sysroot();
    if (root.isEmpty())
        return std::system(command.toLocal8Bit().constData());

    // The line is logged once its effect is in place, so whoever sees it in
    // the log also sees the changed files; a power-off is logged first, as
    // the process ends inside it.
    const QList<QStringList> cmds = splitCommandLine(command);
    bool endsProcess = false;
    for (const QStringList &words : cmds)
        endsProcess |= words.value(0) == QLatin1String("poweroff") || words.value(0) == QLatin1String("reboot");
    if (endsProcess)
        logCommand(root, command);
    if (!emulateSocketPipe(command))
        for (const QStringList &words : cmds)
            emulate(words);
    if (!endsProcess)
        logCommand(root, command);
    return 0;
}

QString quote(const QString &word)
{
    QString out = QStringLiteral("'");
    for (const QChar c : word) {
        if (c == QLatin1Char('\''))
            out += QStringLiteral("'\\''");
        else
            out += c;
    }
    out += QLatin1Char('\'');
    return out;
}

QList<QStringList> splitCommandLine(const QString &command)
{
    QList<QStringList> result;
    QStringList words;
    QString word;
    bool inWord = false;

    auto endWord = [&]() {
        if (inWord)
            words << word;
        word.clear();
        inWord = false;
    };
    auto endCommand = [&]() {
        endWord();
        if (!words.isEmpty())
            result << words;
        words.clear();
    };

    const int n = command.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = command.at(i);
        if (c == QLatin1Char('\'')) {
            inWord = true;
            int j = i + 1;
            while (j < n && command.at(j) != QLatin1Char('\''))
                word += command.at(j++);
            i = j;
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            int j = i + 1;
            while (j < n && command.at(j) != QLatin1Char('"')) {
                if (command.at(j) == QLatin1Char('\\') && j + 1 < n
                    && QStringLiteral("\"\\$`").contains(command.at(j + 1)))
                    ++j;
                word += command.at(j++);
            }
            i = j;
        } else if (c == QLatin1Char('\\')) {
            inWord = true;
            if (i + 1 < n)
                word += command.at(++i);
        } else if (c == QLatin1Char(';') || c == QLatin1Char('\n') || c == QLatin1Char('&') || c == QLatin1Char('|')) {
            endCommand();
            if (i + 1 < n && (command.at(i + 1) == c))
                ++i;
        } else if (c == QLatin1Char('>')) {
            // "2>" and "2>&1" redirect other descriptors: kept apart as "N>"
            // so the emulation can ignore them.
            QString fd;
            if (inWord && word.size() == 1 && word.at(0).isDigit()) {
                fd = word;
                word.clear();
                inWord = false;
            }
            endWord();
            QString op = QStringLiteral(">");
            if (i + 1 < n && command.at(i + 1) == QLatin1Char('>')) {
                op = QStringLiteral(">>");
                ++i;
            }
            if (i + 1 < n && command.at(i + 1) == QLatin1Char('&')) {
                // ">&N": duplicate a descriptor, the target is the number.
                ++i;
                fd = fd.isEmpty() ? QStringLiteral("1") : fd;
                op = QStringLiteral("&");
            }
            words << ((fd.isEmpty() || fd == QLatin1String("1")) && op != QLatin1String("&") ? op : fd + op);
        } else if (c.isSpace()) {
            endWord();
        } else {
            inWord = true;
            word += c;
        }
    }
    endCommand();
    return result;
}

} // namespace zsys
