#ifndef BBI2C_H
#define BBI2C_H

#include <QHash>
#include <QObject>
#include <QString>

class BbBoard;
class QLocalServer;
class QLocalSocket;

// The I2C bus stand-in: a Unix stream socket (dev/i2c-0) speaking the
// transfer format of the application's I2C helper (radio/user_i2c.h), with
// the board as the one slave on it.
class BbI2c : public QObject
{
    Q_OBJECT

public:
    BbI2c(BbBoard *board, QObject *parent = nullptr);
    ~BbI2c() override;

    bool start(const QString &socketPath);

    // Runs every complete transfer at the front of buf, appending the
    // replies to reply and removing what was used. Returns false when buf
    // holds something that is not a transfer (the peer is then dropped).
    bool process(QByteArray &buf, QByteArray &reply);

private slots:
    void slot_newConnection();

private:
    BbBoard *m_board;
    QLocalServer *m_server = nullptr;
    QHash<QLocalSocket *, QByteArray> m_pending;
};

#endif
