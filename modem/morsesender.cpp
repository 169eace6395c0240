#include "modem/morsesender.h"

#include "modem/morsetable.h"
#include "app/zlog.h"
#include "app/zsystem.h"

#include <gpiod.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

uint64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

// The key line: the GPIO through libgpiod on the radio, the stand-in file
// described in morsesender.h under a system root.
class KeyLine
{
public:
    ~KeyLine() { release(); }

    // Requests the line as an output at level 1; logs and returns false when
    // any step fails.
    bool request()
    {
        if (!zsys::sysroot().isEmpty())
            return requestStandIn();
        m_chip = gpiod_chip_open_by_name(MorseSender::kChipName);
        if (!m_chip) {
            qCDebug(logModem) << "can't open chip" << MorseSender::kChipName;
            return false;
        }
        m_line = gpiod_chip_get_line(m_chip, MorseSender::kLineOffset);
        if (!m_line) {
            qCDebug(logModem) << "can't get gpio line" << MorseSender::kLineOffset;
            return false;
        }
        if (gpiod_line_request_output(m_line, "morsesender", 1) < 0) {
            m_line = nullptr;
            qCDebug(logModem) << "can't request line direction";
            return false;
        }
        m_requested = true;
        return true;
    }

    void set(int level)
    {
        if (m_requested && m_line) {
            gpiod_line_set_value(m_line, level);
        } else if (m_fd >= 0) {
            writeEvent(level);
        }
    }

    void release()
    {
        if (m_requested && m_line)
            gpiod_line_release(m_line);
        m_line = nullptr;
        m_requested = false;
        if (m_chip)
            gpiod_chip_close(m_chip);
        m_chip = nullptr;
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    bool requestStandIn()
    {
        const std::string chip = zsys::path("/dev/gpiochip0");
        m_fd = open(chip.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            qCDebug(logModem) << "can't open chip" << MorseSender::kChipName;
            return false;
        }
        if (!writeEvent(1)) {
            qCDebug(logModem) << "can't request line direction";
            close(m_fd);
            m_fd = -1;
            return false;
        }
        return true;
    }

    bool writeEvent(int level)
    {
        char buf[64];
        const int n = std::snprintf(buf, sizeof buf, "%llu %u %d\n", (unsigned long long)monotonicNs(),
                                    MorseSender::kLineOffset, level);
        ssize_t w;
        do {
            w = write(m_fd, buf, size_t(n));
        } while (w < 0 && errno == EINTR);
        if (w == n)
            return true;
        // A full FIFO (reader behind) loses the event; the keying goes on.
        if (w < 0 && errno == EAGAIN && !m_dropLogged) {
            m_dropLogged = true;
            qCDebug(logModem) << "morse key line: reader behind, events dropped";
        }
        return w < 0 && errno == EAGAIN;
    }

    gpiod_chip *m_chip = nullptr;
    gpiod_line *m_line = nullptr;
    bool m_requested = false;
    int m_fd = -1;
    bool m_dropLogged = false;
};

// Sleeps until absolute deadlines on the monotonic clock.
class Pacer
{
public:
    Pacer() : m_deadline(monotonicNs()) {}

    void wait(uint64_t ms)
    {
        m_deadline += ms * 1000000ull;
        // Far behind (the thread was held up): start counting afresh rather
        // than clipping the next elements to catch up.
        const uint64_t now = monotonicNs();
        if (now > m_deadline + ms * 1000000ull)
            m_deadline = now;
        timespec ts;
        ts.tv_sec = time_t(m_deadline / 1000000000ull);
        ts.tv_nsec = long(m_deadline % 1000000000ull);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }

private:
    uint64_t m_deadline;
};

} // namespace

MorseSender::MorseSender(QObject *parent)
    : QObject(parent)
{
}

MorseSender::~MorseSender()
{
    qCDebug(logModem) << "MorseSender Destroyed";
}

void MorseSender::setUnit(uint32_t ms)
{
    m_unit.store(ms);
}

uint32_t MorseSender::unit() const
{
    return m_unit.load();
}

void MorseSender::slot_worker(QString text)
{
    m_text = text;
    qCDebug(logModem) << "morse text:" << m_text;

    KeyLine key;
    if (key.request()) {
        const uint64_t u = m_unit.load();
        Pacer pace;
        while (!m_text.isEmpty() && !m_stop.load(std::memory_order_acquire)) {
            const QChar qc = m_text.at(0);
            m_text.remove(0, 1);
            const char c = qc.unicode() > 255 ? char(0) : char(qc.unicode());
            if (c == ' ') {
                pace.wait(7 * u);
            } else {
                const QString code = MorseTable::toMorseCode(c);
                for (const QChar e : code) {
                    key.set(0);
                    pace.wait(e == QLatin1Char('-') ? 3 * u : u);
                    key.set(1);
                    pace.wait(u);
                }
                qCDebug(logModem) << "morse char:" << c << code;
                pace.wait(3 * u);
            }
            emit sig_sentChar(c);
        }
    }
    key.release();
    emit sig_finish();
}

void MorseSender::slot_stop()
{
    qCDebug(logModem) << "stop morse sender";
    m_stop.store(1, std::memory_order_release);
}
