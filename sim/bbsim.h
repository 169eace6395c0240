#ifndef BBSIM_H
#define BBSIM_H

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The base-band board and the radio's peripherals, played on a system root.
class BbSim : public QObject
{
    Q_OBJECT

public:
    explicit BbSim(const QString &sysroot, QObject *parent = nullptr);
    ~BbSim() override;

    // Creates the system root's tree and opens the control socket.
    bool start();

    // Answers one control-socket command line.
    QString command(const QString &line);

private slots:
    void slot_newControlConnection();

private:
    bool layoutTree();
    void writeIfMissing(const QString &rel, const QByteArray &content);

    QString m_root;
    QLocalServer *m_control = nullptr;
};

#endif
