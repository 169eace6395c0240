#ifndef BBSIM_H
#define BBSIM_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class BbAudio;
class BbBoard;
class BbCiv;
class BbI2c;
class BbInput;
class BbUart;
class BbWireless;
class QLocalServer;
class QLocalSocket;

// The base-band board and the radio's peripherals, played on a system root.
class BbSim : public QObject
{
    Q_OBJECT

public:
    explicit BbSim(const QString &sysroot, QObject *parent = nullptr);
    ~BbSim() override;

    // UART line rate (bits per second, 10 bits per byte); before start().
    void setBaud(int baud) { m_baud = baud; }

    // Creates the system root's tree, the UART and I2C stand-ins, the sound
    // card and key line (bbaudio.h) and the control socket.
    bool start();

    // Answers one control-socket command line (the sound card's and key
    // line's commands are listed in bbaudio.h).
    QString command(const QString &line);

    BbBoard *board() const { return m_board.get(); }

    // Where, under the system root, a firmware image received by the
    // bootloader is stored.
    static constexpr const char *kFirmwareImage = "var/lib/zr450-bbsim/firmware.bin";

private slots:
    void slot_newControlConnection();

private:
    bool layoutTree();
    void writeIfMissing(const QString &rel, const QByteArray &content);
    QString cmdStatus(const QStringList &args);
    // Front-panel input, supply and battery (bbsim_input.cpp).
    QString cmdKey(const QStringList &args);
    QString cmdDial(const QStringList &args);
    QString cmdKnob(const QStringList &args);
    QString cmdMfk(const QStringList &args);
    QString cmdMic(const QStringList &args);
    QString cmdSupply(const QStringList &args);
    QString cmdBattery(const QStringList &args);
    // The base-band bootloader's state and fault injection.
    QString cmdBootloader(const QStringList &args);
    QString turn(int device, const QStringList &args);

    QString m_root;
    int m_baud = 1152000;
    std::unique_ptr<BbBoard> m_board;
    std::unique_ptr<BbUart> m_uart;
    std::unique_ptr<BbCiv> m_civ; // the CI-V serial-port pairs
    std::unique_ptr<BbAudio> m_audio; // sound card and key line (bbaudio.h)
    BbI2c *m_i2c = nullptr;
    BbInput *m_input = nullptr;
    QLocalServer *m_control = nullptr;
    BbWireless *m_wireless = nullptr; // the wireless-manager daemon (bbwireless.h)
};

#endif
