#include "sim/bbi2c.h"

#include "sim/bbboard.h"
#include "radio/user_i2c.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

#include <cerrno>
#include <vector>

namespace {

uint16_t u16(const QByteArray &b, int at)
{
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

void putI32(QByteArray &out, int32_t v)
{
    const uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i)
        out.append(char(u >> (8 * i)));
}

struct Msg {
    uint16_t addr, flags, len;
    int dataAt; // write data offset in the request
};

} // namespace

BbI2c::BbI2c(BbBoard *board, QObject *parent)
    : QObject(parent)
    , m_board(board)
{
}

BbI2c::~BbI2c()
{
    if (m_server)
        m_server->close();
}

bool BbI2c::start(const QString &socketPath)
{
    QLocalServer::removeServer(socketPath);
    m_server = new QLocalServer(this);
    if (!m_server->listen(socketPath)) {
        QTextStream(stderr) << "zr450-bbsim: I2C socket " << socketPath << ": " << m_server->errorString() << "\n";
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &BbI2c::slot_newConnection);
    return true;
}

void BbI2c::slot_newConnection()
{
    while (QLocalSocket *s = m_server->nextPendingConnection()) {
        m_pending.insert(s, QByteArray());
        connect(s, &QLocalSocket::disconnected, this, [this, s]() {
            m_pending.remove(s);
            s->deleteLater();
        });
        connect(s, &QLocalSocket::readyRead, this, [this, s]() {
            QByteArray &buf = m_pending[s];
            buf.append(s->readAll());
            QByteArray reply;
            const bool ok = process(buf, reply);
            if (!reply.isEmpty())
                s->write(reply);
            if (!ok) {
                QTextStream(stderr) << "zr450-bbsim: malformed I2C transfer, dropping the client\n";
                m_pending.remove(s);
                s->abort();
            }
        });
    }
}

bool BbI2c::process(QByteArray &buf, QByteArray &reply)
{
    for (;;) {
        if (buf.size() < 4)
            return true;
        if (buf.at(0) != 'Z' || buf.at(1) != 'I' || buf.at(3) != char(0))
            return false;
        const int count = uint8_t(buf[2]);
        if (count < 1 || count > UI2C_MAX_MSGS)
            return false;
        // Parse the headers; wait for more bytes while incomplete.
        std::vector<Msg> msgs;
        int at = 4;
        for (int i = 0; i < count; ++i) {
            if (buf.size() < at + 6)
                return true;
            Msg m = {u16(buf, at), u16(buf, at + 2), u16(buf, at + 4), 0};
            at += 6;
            if (m.len > UI2C_MAX_LEN || (m.flags & ~UI2C_FLAG_READ))
                return false;
            if (!(m.flags & UI2C_FLAG_READ)) {
                m.dataAt = at;
                at += m.len;
                if (buf.size() < at)
                    return true;
            }
            msgs.push_back(m);
        }

        // The board acts on the messages in order; a message to another
        // address is not acknowledged and ends the transfer.
        QByteArray data;
        int32_t result = count;
        for (const Msg &m : msgs) {
            int rc;
            if (m.flags & UI2C_FLAG_READ) {
                QByteArray chunk(m.len, 0);
                rc = m_board->i2cRead(m.addr, reinterpret_cast<uint8_t *>(chunk.data()), m.len);
                data.append(chunk);
            } else {
                rc = m_board->i2cWrite(m.addr, reinterpret_cast<const uint8_t *>(buf.constData()) + m.dataAt, m.len);
            }
            if (rc < 0) {
                result = rc;
                break;
            }
        }
        putI32(reply, result);
        if (result >= 0)
            reply.append(data);
        buf.remove(0, at);
    }
}
