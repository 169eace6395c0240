#ifndef MORSESENDER_H
#define MORSESENDER_H

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

// Sends text as Morse code by keying the transmitter through a GPIO line:
// libgpiod's "gpiochip0", line 203, driven 0 for key down and 1 for key up.
// The owner moves the sender to a thread of its own, sets the unit, and
// starts slot_worker through a queued signal; slot_stop is called directly
// from the owner's thread and takes effect before the next character.
//
// Timing per unit u (ms): dot 1u down, dash 3u down, 1u up after each
// element, 3u more after each character, 7u for a space. Edges are timed
// against absolute deadlines, so sleeping late on one does not stretch the
// ones after it.
//
// Key-line stand-in. With a system root (ZR450_SYSROOT) no GPIO is touched:
// the chip "/dev/gpiochip0" maps to $ZR450_SYSROOT/dev/gpiochip0, which the
// simulator creates as a FIFO and reads (a regular file there collects the
// events instead, as the tests use it). Requesting the line opens it
// write-only and non-blocking: a missing file, or a FIFO nobody reads, is
// the chip that cannot be opened. Every change of the line's level is one
// text line, written in a single write() (atomic on a FIFO):
//
//     "<t> <offset> <level>\n"      e.g. "81234567890123 203 0\n"
//
//   t       CLOCK_MONOTONIC time of the change in nanoseconds, decimal
//   offset  the line offset on the chip, 203
//   level   1 key up (also written once when the line is requested), 0 key down
//
// Closing the file releases the line. If the reader falls behind and the
// FIFO is full, events are dropped rather than waited for.
class MorseSender : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *kChipName = "gpiochip0";
    static constexpr unsigned kLineOffset = 203;

    explicit MorseSender(QObject *parent = nullptr);
    ~MorseSender() override;

    // Element length in milliseconds (1200 / WPM); 30 until set.
    void setUnit(uint32_t ms);
    uint32_t unit() const;

signals:
    void sig_finish();
    void sig_txCounter(uint32_t count);
    void sig_sentChar(char c);

public slots:
    void slot_worker(QString text);
    void slot_stop();

private:
    QString m_text;
    std::atomic<uint8_t> m_stop{0};
    std::atomic<uint32_t> m_unit{30};
};

#endif
