#include "sim/bbsim.h"

#include "sim/bbaudio.h"
#include "sim/bbboard.h"
#include "sim/bbciv.h"
#include "sim/bbi2c.h"
#include "sim/bbinput.h"
#include "sim/bbuart.h"
#include "sim/bbwireless.h"

#include <QCoreApplication>
#include <QTimer>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

BbSim::BbSim(const QString &sysroot, QObject *parent)
    : QObject(parent)
    , m_root(QDir(sysroot).absolutePath())
    , m_board(new BbBoard)
{
}

BbSim::~BbSim()
{
    if (m_control)
        m_control->close();
    // The bus, the input devices and the UART use the board, which goes with
    // the members.
    m_board->setPowerOffHandler(nullptr);
    delete m_i2c;
    m_i2c = nullptr;
    delete m_input;
    m_input = nullptr;
    if (m_uart)
        m_uart->stop();
    if (m_civ)
        m_civ->stop();
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
                            "usr/share/support", "var/run", "var/log", "var/lib/zr450-bbsim", "run", "tmp", "app"}) {
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
    // The board's bootloader-select and reset lines, as their exported
    // sysfs files (the UART stand-in watches them): the board runs its
    // application.
    writeIfMissing(QStringLiteral("sys/class/gpio/gpio203/value"), "1\n");
    writeIfMissing(QStringLiteral("sys/class/gpio/gpio203/direction"), "out\n");
    writeIfMissing(QStringLiteral("sys/class/gpio/gpio204/value"), "0\n");
    writeIfMissing(QStringLiteral("sys/class/gpio/gpio204/direction"), "out\n");
    return true;
}

bool BbSim::start()
{
    if (!layoutTree())
        return false;

    m_board->setCalibrationFile(m_root + QStringLiteral("/var/lib/zr450-bbsim/calibration.bin"));
    m_uart.reset(new BbUart(m_board.get()));
    if (!m_uart->start(m_root + QStringLiteral("/dev/ttyS1"), m_baud, m_root + QStringLiteral("/sys/class/gpio"),
                       m_root + QStringLiteral("/") + QLatin1String(kFirmwareImage)))
        return false;
    m_civ.reset(new BbCiv);
    if (!m_civ->start(m_root + QStringLiteral("/dev"), { QStringLiteral("ttyS2"), QStringLiteral("rfcomm0") }))
        return false;
    m_i2c = new BbI2c(m_board.get(), this);
    if (!m_i2c->start(m_root + QStringLiteral("/dev/i2c-0")))
        return false;
    m_audio.reset(new BbAudio(m_board.get()));
    if (!m_audio->start(m_root))
        return false;

    m_input = new BbInput(m_board.get(), this);
    if (!m_input->start(m_root))
        return false;
    m_wireless = new BbWireless(this);
    if (!m_wireless->start(m_root))
        return false;
    // The power-off bit: the board switches the radio off, the simulator
    // ends (a moment later, so the bus write that set it is answered).
    m_board->setPowerOffHandler([this]() {
        QMetaObject::invokeMethod(this, [this]() {
            QTextStream(stdout) << "zr450-bbsim: power-off requested, exiting\n";
            QTimer::singleShot(200, QCoreApplication::instance(), &QCoreApplication::quit);
        }, Qt::QueuedConnection);
    });

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
    QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return QStringLiteral("error empty command");
    const QString name = w.takeFirst();
    // One handler per command.
    using Handler = QString (BbSim::*)(const QStringList &);
    static const struct {
        const char *name;
        Handler handler;
    } kCommands[] = {
        {"status", &BbSim::cmdStatus},
        {"key", &BbSim::cmdKey},
        {"dial", &BbSim::cmdDial},
        {"knob", &BbSim::cmdKnob},
        {"mfk", &BbSim::cmdMfk},
        {"mic", &BbSim::cmdMic},
        {"supply", &BbSim::cmdSupply},
        {"battery", &BbSim::cmdBattery},
        {"bootloader", &BbSim::cmdBootloader},
    };
    for (const auto &c : kCommands)
        if (name == QLatin1String(c.name))
            return (this->*c.handler)(w);
    // Sound card and key line: txaudio, cwkey, stations (bbaudio.h).
    QString reply;
    if (m_audio && m_audio->command(name, w, &reply))
        return reply;
    return QStringLiteral("error unknown command ") + name.left(32);
}

// "ok", the 56 register words as last written over I2C, then the
// transmitting and tuner-busy states and the wireless daemon's enables.
QString BbSim::cmdStatus(const QStringList &args)
{
    if (!args.isEmpty())
        return QStringLiteral("error status takes no arguments");
    QString out = QStringLiteral("ok");
    for (uint32_t v : m_board->registers())
        out += QStringLiteral(" %1").arg(v, 8, 16, QLatin1Char('0'));
    const BbTxState tx = m_board->txState();
    out += QStringLiteral(" tx=%1 atu=%2").arg(tx.tx ? 1 : 0).arg(tx.tuning ? 1 : 0);
    if (m_wireless)
        out += m_wireless->statusText();
    return out;
}

// "bootloader": the UART's state, the fault the next bootloader session
// plays, the sessions so far and the size of the last stored image.
// "bootloader nak N" / "can N": that answer to the Nth packet; "silent": no
// answer at all; "wrongack": wrong bytes in place of the "A"; "none".
QString BbSim::cmdBootloader(const QStringList &args)
{
    if (!m_uart)
        return QStringLiteral("error no uart");
    if (!args.isEmpty()) {
        const QString f = args.at(0);
        bool ok = true;
        const int n = args.value(1).toInt(&ok);
        if ((f == QLatin1String("nak") || f == QLatin1String("can")) && args.size() == 2 && ok && n >= 1)
            m_uart->setBootFault(f == QLatin1String("nak") ? BbBoot::NakAt : BbBoot::CanAt, n);
        else if (f == QLatin1String("silent") && args.size() == 1)
            m_uart->setBootFault(BbBoot::Silent, 0);
        else if (f == QLatin1String("wrongack") && args.size() == 1)
            m_uart->setBootFault(BbBoot::WrongAck, 0);
        else if (f == QLatin1String("none") && args.size() == 1)
            m_uart->setBootFault(BbBoot::NoFault, 0);
        else
            return QStringLiteral("error usage: bootloader [nak N|can N|silent|wrongack|none]");
    }
    return QStringLiteral("ok ") + m_uart->bootStatus();
}
