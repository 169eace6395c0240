#ifndef RADIO_SUPPORT_H
#define RADIO_SUPPORT_H

// Shared helpers of the radio-link tests: frames with a chosen trailer, a
// recording I2C bus, the simulator's status line, input-device FIFOs and a
// window that records what the input thread posts to it. Pseudo-terminals
// and the simulator process come from the shared test support.

#include "tests/test_support.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <linux/input.h>
#include <mutex>
#include <thread>
#include <vector>

struct zradio_t;

namespace rtest {

typedef std::vector<uint8_t> Bytes;

// The frame trailer fields a test sets.
struct Trailer {
    uint32_t status = 0;
    uint8_t power = 0, swr = 0, alc = 0;
    uint8_t vext = 0, vbat = 0, batcap = 0;
    uint8_t atu[3] = {0, 0, 0};
    uint32_t micKey = 0;
};

// A CRC-correct frame with a weak tone and the trailer.
Bytes makeFrame(const Trailer &t);

using ztest::Pty;

// An I2C bus socket that answers every transfer with success and records
// the writes: address, data and the push thread's pass count at that moment
// (the push thread waits for the answer, so the count is exact).
class RecordingBus
{
public:
    struct Write {
        uint16_t address;
        Bytes data;
        uint64_t pass;
        qint64 ms; // since the bus started
    };

    RecordingBus(const QString &path, std::atomic<uint64_t> *passes);
    ~RecordingBus();
    bool ok() const { return m_ok; }
    // Snapshot of the writes so far / number of them.
    std::vector<Write> writes();
    size_t count();
    // The next n transfers are answered with -EIO (a lost write).
    void failNext(int n) { m_fail.store(n); }
    void setPasses(std::atomic<uint64_t> *p) { m_passes.store(p); }

private:
    void run();
    bool serve(int fd);

    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_fail{0};
    std::atomic<std::atomic<uint64_t> *> m_passes;
    std::mutex m_mutex;
    std::vector<Write> m_writes;
    QElapsedTimer m_clock;
    std::thread m_thread;
};

// The real zr450-bbsim on a system root, with its status line read.
class Sim : public ztest::Sim
{
public:
    // The 56 register words of the status line, and its tx= and atu= values.
    bool status(uint32_t *words, int *tx = nullptr, int *atu = nullptr);
};

// One input event as the kernel reports it.
input_event inputEvent(uint16_t type, uint16_t code, int32_t value);

// Input-device FIFOs dev/input/event0..4 under a system root, written by
// the test as the kernel would (event then synchronisation report).
class InputDevices
{
public:
    // Creates the FIFOs (before the radio link opens them).
    bool create(const QString &root);
    // Opens the writing ends not yet open (after the radio link opened the
    // reading ends); true once all five are open.
    bool open();
    // Closes the writing ends (the reading ends then see a hang-up).
    void close();
    ~InputDevices();
    bool key(int device, int code, int value);
    bool rel(int device, int code, int value);
    bool raw(int device, const input_event &ev);

private:
    QString m_root;
    int m_fd[5] = {-1, -1, -1, -1, -1};
};

// What an active window received from the input thread.
struct Posted {
    int type;       // QEvent type (KeyPress, KeyRelease, Wheel, 1000, 1001)
    int key;        // key, or the ZRadioEvent value
    int modifiers;
    QString text;
    int delta;      // wheel
};

class RecordingWindow : public QWidget
{
public:
    RecordingWindow();
    QVector<Posted> events;
    // When set, wheel events with Alt tune the front VFO like the main
    // window does.
    bool tuneOnDial = false;
    int countOf(int type, int key) const;
    void clearEvents() { events.clear(); }

protected:
    bool event(QEvent *e) override;
};

// Destroys the radio link when the test function ends, also after a failed
// check (a second link cannot be created while one exists).
struct RadioLink {
    zradio_t *radio;
    explicit RadioLink(zradio_t *r);
    ~RadioLink();
};

// Makes w the active window (offscreen platform).
bool activate(QWidget *w);

} // namespace rtest

#endif
