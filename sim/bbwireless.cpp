#include "sim/bbwireless.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTextStream>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A line is one small JSON object; anything longer is not a command.
const int kMaxLine = 4096;

} // namespace

BbWireless::BbWireless(QObject *parent)
    : QObject(parent)
{
}

BbWireless::~BbWireless()
{
    if (m_server)
        m_server->close();
    delete m_fifoNotifier;
    if (m_fifo >= 0)
        close(m_fifo);
    if (m_fifoKeep >= 0)
        close(m_fifoKeep);
    if (!m_fifoPath.isEmpty())
        QFile::remove(m_fifoPath);
}

bool BbWireless::start(const QString &sysroot)
{
    const QString tmp = sysroot + QStringLiteral("/tmp");
    QDir().mkpath(tmp);
    const QString sock = tmp + QStringLiteral("/wlmng.sock");
    QLocalServer::removeServer(sock);
    m_server = new QLocalServer(this);
    if (!m_server->listen(sock)) {
        QTextStream(stderr) << "zr450-bbsim: wireless daemon socket " << sock << ": " << m_server->errorString() << "\n";
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &BbWireless::newConnection);

    m_fifoPath = tmp + QStringLiteral("/wireless_cmd_pipe");
    const QByteArray fifo = QFile::encodeName(m_fifoPath);
    QFile::remove(m_fifoPath);
    if (mkfifo(fifo.constData(), 0600) != 0
        || (m_fifo = open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0
        || (m_fifoKeep = open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        QTextStream(stderr) << "zr450-bbsim: wireless daemon FIFO " << m_fifoPath << ": " << strerror(errno) << "\n";
        return false;
    }
    m_fifoNotifier = new QSocketNotifier(m_fifo, QSocketNotifier::Read, this);
    connect(m_fifoNotifier, &QSocketNotifier::activated, this, &BbWireless::fifoReadable);
    return true;
}

QString BbWireless::statusText() const
{
    return QStringLiteral(" wifi=%1 bt=%2").arg(m_wifi ? 1 : 0).arg(m_bt ? 1 : 0);
}

bool BbWireless::apply(const QByteArray &line)
{
    ++m_commands;
    const QJsonObject o = QJsonDocument::fromJson(line.trimmed()).object();
    const QString action = o.value(QStringLiteral("action")).toString();
    const QJsonValue enabled = o.value(QStringLiteral("enabled"));
    if (!enabled.isBool())
        return false;
    if (action == QLatin1String("set_wifi"))
        m_wifi = enabled.toBool();
    else if (action == QLatin1String("set_bt"))
        m_bt = enabled.toBool();
    else
        return false;
    return true;
}

void BbWireless::newConnection()
{
    while (QLocalSocket *s = m_server->nextPendingConnection()) {
        connect(s, &QLocalSocket::readyRead, this, [this, s]() {
            if (!s->canReadLine()) {
                if (s->bytesAvailable() > kMaxLine)
                    s->abort();
                return;
            }
            s->setProperty("handled", true);
            const bool ok = apply(s->readLine(kMaxLine));
            s->write(ok ? "{\"result\":\"ok\"}\n" : "{\"result\":\"error\"}\n");
            // One command per connection: the sender's socat ends here.
            s->disconnectFromServer();
        });
        // A sender that ends without a newline still meant its object.
        connect(s, &QLocalSocket::disconnected, this, [this, s]() {
            if (!s->property("handled").toBool() && s->bytesAvailable() > 0)
                apply(s->readAll().left(kMaxLine));
            s->deleteLater();
        });
    }
}

void BbWireless::fifoReadable()
{
    char buf[1024];
    ssize_t n;
    while ((n = read(m_fifo, buf, sizeof buf)) > 0) {
        m_fifoBuffer.append(buf, int(n));
        int nl;
        while ((nl = m_fifoBuffer.indexOf('\n')) >= 0) {
            apply(m_fifoBuffer.left(nl));
            m_fifoBuffer.remove(0, nl + 1);
        }
        if (m_fifoBuffer.size() > kMaxLine)
            m_fifoBuffer.clear();
    }
}
