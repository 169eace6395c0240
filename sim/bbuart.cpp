#include "sim/bbuart.h"

#include "sim/bbboard.h"
#include "sim/bbpty.h"
#include "radio/bbframe.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

BbUart::BbUart(BbBoard *board)
    : m_board(board)
{
}

BbUart::~BbUart()
{
    stop();
}

bool BbUart::start(const QString &linkPath, int baud)
{
    m_baud = baud;
    m_master = bbpty_open(linkPath, 0, &m_slave);
    if (m_master < 0)
        return false;
    m_link = linkPath;
    m_stop = false;
    m_thread = std::thread(&BbUart::run, this);
    return true;
}

void BbUart::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_link.isEmpty()) {
        QFile::remove(m_link);
        m_link.clear();
    }
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
    m_slave = m_master = -1;
}

void BbUart::run()
{
    using clock = std::chrono::steady_clock;
    const double bytesPerSecond = m_baud / 10.0;
    const auto t0 = clock::now();
    uint64_t sent = 0;
    std::vector<uint8_t> frame(BBFRAME_SIZE);
    size_t framePos = BBFRAME_SIZE;
    auto next = t0;

    while (!m_stop) {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        const auto now = clock::now();
        if (now - next > std::chrono::milliseconds(100))
            next = now; // we were stopped for a while: do not try to catch up tick by tick
        const double elapsed = std::chrono::duration<double>(now - t0).count();
        uint64_t due = uint64_t(elapsed * bytesPerSecond);
        // After a long stall send at most two frames' worth at once; the rest
        // of the line time is simply gone.
        if (due > sent + 2 * BBFRAME_SIZE)
            sent = due - 2 * BBFRAME_SIZE;
        while (sent < due && !m_stop) {
            if (framePos == BBFRAME_SIZE) {
                m_board->makeFrame(frame.data());
                framePos = 0;
            }
            const size_t chunk = std::min<uint64_t>(due - sent, BBFRAME_SIZE - framePos);
            ssize_t w = write(m_master, frame.data() + framePos, chunk);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                w = ssize_t(chunk); // nobody reads: the bytes are lost
            framePos += size_t(w);
            sent += uint64_t(w);
        }
    }
}
