#include "bbsim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

BbSim::BbSim(const QString &sysroot, QObject *parent)
    : QObject(parent)
    , m_root(QDir(sysroot).absolutePath())
{
}

BbSim::~BbSim()
{
    if (m_control)
        m_control->close();
}

void BbSim::writeIfMissing(const QString &rel, const QByteArray &content)
{
    const QString p = m_root + QLatin1Char('/') + rel;
    QDir().mkpath(QFileInfo(p).absolutePath());
    if (QFileInfo::exists(p))
        return;
    QFile f(p);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
}

bool BbSim::layoutTree()
{
    for (const char *dir : {"dev/input", "etc/zrradio", "etc/NetworkManager/system-connections",
                            "sys/class/backlight/backlight", "sys/class/gpio", "usr/firmware",
                            "usr/share/support", "var/run", "var/log", "run", "tmp", "app"}) {
        if (!QDir().mkpath(m_root + QLatin1Char('/') + QLatin1String(dir))) {
            QTextStream(stderr) << "zr450-bbsim: cannot create " << m_root << "/" << dir << "\n";
            return false;
        }
    }
    // Settings files are created once and then kept, like the radio's own.
    writeIfMissing(QStringLiteral("etc/profile"),
                   "# system-wide shell profile\n"
                   "export PATH=/bin:/sbin:/usr/bin:/usr/sbin\n"
                   "export TZ=Etc/GMT+0\n");
    writeIfMissing(QStringLiteral("etc/zrradio/zrradio.conf"),
                   "[mods]\n"
                   "fullband-tx=0\n"
                   "bands-cfg=0\n");
    writeIfMissing(QStringLiteral("etc/zrradio/man.conf"), "[manufacture]\n");
    writeIfMissing(QStringLiteral("sys/class/backlight/backlight/brightness"), "5\n");
    writeIfMissing(QStringLiteral("sys/class/backlight/backlight/max_brightness"), "10\n");
    return true;
}

bool BbSim::start()
{
    if (!layoutTree())
        return false;

    const QString sock = m_root + QStringLiteral("/run/bbsim.sock");
    QLocalServer::removeServer(sock);
    m_control = new QLocalServer(this);
    if (!m_control->listen(sock)) {
        QTextStream(stderr) << "zr450-bbsim: control socket " << sock << ": " << m_control->errorString() << "\n";
        return false;
    }
    connect(m_control, &QLocalServer::newConnection, this, &BbSim::slot_newControlConnection);
    return true;
}

void BbSim::slot_newControlConnection()
{
    while (QLocalSocket *s = m_control->nextPendingConnection()) {
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QLocalSocket::readyRead, this, [this, s]() {
            while (s->canReadLine()) {
                const QString line = QString::fromUtf8(s->readLine()).trimmed();
                s->write((command(line) + QLatin1Char('\n')).toUtf8());
            }
            // A client that never ends its line must not grow our buffer.
            if (s->bytesAvailable() > 4096)
                s->abort();
        });
    }
}

QString BbSim::command(const QString &line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return QStringLiteral("error empty command");
    return QStringLiteral("error unknown command ") + w.first();
}
