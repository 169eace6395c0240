#ifndef BBUART_H
#define BBUART_H

#include <QString>

#include <atomic>
#include <thread>

class BbBoard;

// The base-band UART: a pseudo-terminal whose radio end is published as a
// link (dev/ttyS1), streamed with the board's frames at the line rate
// (10 bits per byte). Bytes nobody reads are lost, as on a wire.
class BbUart
{
public:
    explicit BbUart(BbBoard *board);
    ~BbUart();

    // Creates the pseudo-terminal, publishes linkPath and starts streaming.
    bool start(const QString &linkPath, int baud);
    void stop();

private:
    void run();

    BbBoard *m_board;
    QString m_link;
    int m_master = -1;
    int m_slave = -1; // held open so the line keeps its settings and never hangs up
    int m_baud = 1152000;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

#endif
