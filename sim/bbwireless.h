#ifndef BBWIRELESS_H
#define BBWIRELESS_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QSocketNotifier;

// The wireless-manager daemon of a system root. It takes the application's
// command objects, one JSON object per line, on the socket tmp/wlmng.sock
// (one object per connection, as the radio's socat command line sends
// them) and on the FIFO tmp/wireless_cmd_pipe, and keeps the last WiFi
// ("set_wifi") and Bluetooth ("set_bt") enables it was given. Both start
// off until a command says otherwise.
class BbWireless : public QObject
{
    Q_OBJECT

public:
    explicit BbWireless(QObject *parent = nullptr);
    ~BbWireless() override;

    bool start(const QString &sysroot);

    bool wifiEnabled() const { return m_wifi; }
    bool btEnabled() const { return m_bt; }
    // Commands taken so far (malformed ones included).
    int commandCount() const { return m_commands; }
    // " wifi=0|1 bt=0|1", the end of the simulator's status line.
    QString statusText() const;

private:
    void newConnection();
    void fifoReadable();
    // Applies one line; false for anything that is not a known command.
    bool apply(const QByteArray &line);

    QLocalServer *m_server = nullptr;
    QSocketNotifier *m_fifoNotifier = nullptr;
    QString m_fifoPath;
    int m_fifo = -1;
    int m_fifoKeep = -1; // our own writer: the FIFO never reads as ended
    QByteArray m_fifoBuffer;
    bool m_wifi = false;
    bool m_bt = false;
    int m_commands = 0;
};

#endif
