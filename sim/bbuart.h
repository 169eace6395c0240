#ifndef BBUART_H
#define BBUART_H

#include "sim/bbboot.h"

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

class BbBoard;

// The base-band UART: a pseudo-terminal whose radio end is published as a
// link (dev/ttyS1), streamed with the board's frames at the line rate
// (10 bits per byte). Bytes nobody reads are lost, as on a wire.
//
// It also watches the board's reset and bootloader-select lines, the
// emulated sysfs GPIO files sys/class/gpio/gpio204/value and gpio203/value:
// while 204 is 1 the board is held in reset (no frames); when it goes back
// to 0 the board starts its bootloader if 203 is 0 (bbboot.h), else its
// application. The bootloader reads the radio's bytes at the line rate and
// stores a received image at the given path.
class BbUart
{
public:
    enum Mode { Running, Reset, Bootloader };

    explicit BbUart(BbBoard *board);
    ~BbUart();

    // Creates the pseudo-terminal, publishes linkPath and starts streaming.
    // gpioDir is the system root's sys/class/gpio (its gpio203 and gpio204
    // directories exist); imagePath where a received firmware goes.
    bool start(const QString &linkPath, int baud, const QString &gpioDir = QString(),
               const QString &imagePath = QString());
    void stop();

    // The fault the next bootloader session plays (then none again).
    void setBootFault(BbBoot::Fault fault, int packet);
    Mode mode() const { return m_mode.load(); }
    // "state=... fault=... sessions=N stored=BYTES" for the control socket.
    QString bootStatus() const;

private:
    void run();
    void watchGpio();
    void checkGpio(int64_t now);
    void enterBootloader(int64_t now);
    void runBootloader(int64_t now);
    void endBootloader();

    BbBoard *m_board;
    QString m_link;
    QString m_gpioDir;
    QString m_imagePath;
    int m_master = -1;
    int m_slave = -1; // held open so the line keeps its settings and never hangs up
    int m_baud = 1152000;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    std::atomic<Mode> m_mode{Running};
    int m_notify = -1;       // inotify on the two GPIO directories
    int m_wdReset = -1;
    int m_wdSelect = -1;
    BbBoot m_boot;           // UART thread only
    std::vector<uint8_t> m_rxQueue; // bytes from the radio not yet taken at the line rate
    double m_rxBudget = 0.0;
    int64_t m_lastTick = 0;

    mutable std::mutex m_faultMutex;
    BbBoot::Fault m_fault = BbBoot::NoFault;
    int m_faultPacket = 0;
    int m_sessions = 0;
    qint64 m_stored = -1;
};

#endif
