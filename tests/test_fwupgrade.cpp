// Base-band firmware upgrade: the XMODEM CRC and packets, the sender
// against a scripted receiver (start requests however they arrive, NAK,
// CAN, wrong answers, time-outs) and against lrzsz's receiver, the
// bootloader start with its GPIO sequence against a scripted board, the
// simulator's bootloader checking packets, the dialog's list, keys, knob
// and layout, and whole upgrades through the dialog against the real
// simulator with each injected fault.
#include "tests/test_support.h"
#include "app/zsystem.h"
#include "radio/bbframe.h"
#include "radio/uifwupgrade.h"
#include "radio/xmodem.h"
#include "radio/zradio.h"
#include "sim/bbboot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using ztest::clearLog;
using ztest::logCount;

typedef std::vector<uint8_t> Bytes;

namespace {

QByteArray randomImage(int size, uint32_t seed)
{
    std::mt19937 rng(seed);
    QByteArray b(size, 0);
    for (char &c : b)
        c = char(rng());
    return b;
}

QByteArray padded(const QByteArray &image)
{
    QByteArray p = image;
    const int rest = p.size() % XMODEM_BLOCK;
    if (rest)
        p.append(QByteArray(XMODEM_BLOCK - rest, char(XMODEM_PAD)));
    return p;
}

// The next byte on fd within ms, or -1.
int readByteFrom(int fd, int ms)
{
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return -1;
    uint8_t b;
    return read(fd, &b, 1) == 1 ? b : -1;
}

// Exactly n bytes from fd within ms each, or fewer.
Bytes readBytes(int fd, size_t n, int ms)
{
    Bytes out;
    while (out.size() < n) {
        const int b = readByteFrom(fd, ms);
        if (b < 0)
            break;
        out.push_back(uint8_t(b));
    }
    return out;
}

// A scripted XMODEM receiver on the far end of a pseudo-terminal: it sends
// the start bytes (each entry one write), then checks and acknowledges
// every packet, answering `answer` instead of ACK at packet answerAt.
struct Receiver {
    int fd = -1;
    QList<QByteArray> start{QByteArray("C")};
    int answerAt = 0;
    uint8_t answer = XMODEM_NAK;
    QByteArray beforeFirstAck; // written just before the first ACK

    // Results.
    std::atomic<bool> done{false};
    int packets = 0;
    bool eot = false;
    bool packetsValid = true;
    QByteArray data;
    std::thread thread;

    void run()
    {
        thread = std::thread([this]() {
            for (const QByteArray &b : start) {
                ztest::writeAll(fd, b.constData(), size_t(b.size()));
                usleep(20000);
            }
            for (;;) {
                const int h = readByteFrom(fd, 10000);
                if (h < 0)
                    break;
                if (h == XMODEM_EOT) {
                    eot = true;
                    const uint8_t ack = XMODEM_ACK;
                    ztest::writeAll(fd, &ack, 1);
                    break;
                }
                if (h != XMODEM_STX) {
                    packetsValid = false;
                    continue;
                }
                const Bytes rest = readBytes(fd, XMODEM_PACKET - 1, 10000);
                if (rest.size() != XMODEM_PACKET - 1) {
                    packetsValid = false;
                    break;
                }
                ++packets;
                const uint16_t crc = uint16_t(rest[2 + XMODEM_BLOCK] << 8 | rest[3 + XMODEM_BLOCK]);
                if (rest[0] != uint8_t(packets) || rest[1] != uint8_t(~packets)
                    || BbBoot::crc16(rest.data() + 2, XMODEM_BLOCK) != crc)
                    packetsValid = false;
                data.append(reinterpret_cast<const char *>(rest.data() + 2), XMODEM_BLOCK);
                uint8_t a = XMODEM_ACK;
                if (packets == answerAt)
                    a = answer;
                if (packets == 1 && !beforeFirstAck.isEmpty())
                    ztest::writeAll(fd, beforeFirstAck.constData(), size_t(beforeFirstAck.size()));
                ztest::writeAll(fd, &a, 1);
                if (a != XMODEM_ACK)
                    break;
            }
            done = true;
        });
    }
    ~Receiver()
    {
        if (thread.joinable())
            thread.join();
    }
};

// A wire between pseudo-terminal masters: what is written at `a` arrives
// at `toB`, what is written at `fromB` arrives at `a`, each byte delayMs
// after it was sent, in order.
class Wire
{
public:
    Wire(int a, int toB, int fromB, int delayMs)
        : m_thread([this, a, toB, fromB, delayMs]() {
            struct Chunk {
                QElapsedTimer sent;
                QByteArray data;
            };
            QList<Chunk> queue[2]; // to b, to a
            while (!m_stop) {
                pollfd p[2] = {{a, POLLIN, 0}, {fromB, POLLIN, 0}};
                poll(p, 2, 1);
                char buf[4096];
                for (int i = 0; i < 2; ++i) {
                    if (!(p[i].revents & POLLIN))
                        continue;
                    const ssize_t n = read(p[i].fd, buf, sizeof(buf));
                    if (n > 0) {
                        Chunk c;
                        c.sent.start();
                        c.data = QByteArray(buf, int(n));
                        queue[i] << c;
                    }
                }
                for (int i = 0; i < 2; ++i) {
                    while (!queue[i].isEmpty() && queue[i].first().sent.elapsed() >= delayMs) {
                        const QByteArray d = queue[i].takeFirst().data;
                        ztest::writeAll(i == 0 ? toB : a, d.constData(), size_t(d.size()));
                    }
                }
            }
        })
    {
    }
    ~Wire()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Appended lines of the system root's command log.
QStringList commands(const QString &root)
{
    return ztest::readText(root + "/var/log/commands.log").split('\n', Qt::SkipEmptyParts);
}

const QStringList kStartSequence = {
    "echo 203 > /sys/class/gpio/export",
    "echo \"out\" > /sys/class/gpio/gpio203/direction",
    "echo 0 > /sys/class/gpio/gpio203/value",
    "echo 204 > /sys/class/gpio/export",
    "echo \"out\" > /sys/class/gpio/gpio204/direction",
    "echo 1 > /sys/class/gpio/gpio204/value",
    "echo 0 > /sys/class/gpio/gpio204/value",
    "echo 204 > /sys/class/gpio/unexport",
    "echo 1 > /sys/class/gpio/gpio203/value",
    "echo 203 > /sys/class/gpio/unexport",
};

// True when bytes containing `what` (anything, when empty) arrive on the
// non-blocking fd within ms.
bool waitForBytes(int fd, const QByteArray &what, int ms)
{
    QElapsedTimer t;
    t.start();
    QByteArray got;
    while (t.elapsed() < ms) {
        got += ztest::drainFd(fd);
        if (what.isEmpty() ? !got.isEmpty() : got.contains(what))
            return true;
        pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, 20);
    }
    return false;
}

uint64_t framesGood()
{
    bbframe_stats_t st;
    zradio_uartcomm_get_stats(&st);
    return st.frames;
}

QPushButton *button(UiFwUpgrade &d, int f)
{
    return d.findChild<QPushButton *>(QStringLiteral("Button_F%1").arg(f));
}

void pressKey(QWidget *w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(w, &release);
}

void turnKnob(QWidget *w, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWheelEvent e(QPointF(10, 10), QPointF(10, 10), QPoint(0, 0), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

// Everything the dialog reported while it ran.
struct DialogRecord {
    QStringList titles;
    QList<int> progress;
    QElapsedTimer clock;
    qint64 writingMs = -1; // first "Writing Flash"
    qint64 endMs = -1;     // "Done" or "Failed"
    void attach(UiFwUpgrade &d)
    {
        clock.start();
        QObject::connect(&d, &UiFwUpgrade::sig_titleChanged, [this](const QString &t) {
            if (titles.isEmpty() || titles.last() != t)
                titles << t;
            if (t == QLatin1String("Writing Flash") && writingMs < 0)
                writingMs = clock.elapsed();
            if (t == QLatin1String("Done") || t == QLatin1String("Failed"))
                endMs = clock.elapsed();
        });
        QObject::connect(d.findChild<QProgressBar *>("progressUpgrade"), &QProgressBar::valueChanged,
                         [this](int v) { progress << v; });
    }
};

// The radio link on a running simulator, with a firmware file in place.
struct SimLink {
    ztest::Sysroot root;
    ztest::Sim sim;
    zradio_t *radio = nullptr;

    bool up()
    {
        if (!sim.start(root.path(), 15000))
            return false;
        ztest::setSysroot(root.path());
        radio = zradio_create("/dev/i2c-0", 114);
        if (!radio)
            return false;
        QElapsedTimer t;
        t.start();
        while (!zradio_comm_valid() && t.elapsed() < 15000)
            QTest::qWait(20);
        return zradio_comm_valid();
    }
    ~SimLink()
    {
        zradio_destroy(radio);
        ztest::setSysroot(QString());
    }
};

} // namespace

class TestFwUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }
    void init()
    {
        clearLog();
    }

    // The XMODEM CRC (the sender's table and the simulator's bit loop).
    void crc16_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("crc");
        QTest::newRow("1024 zero bytes") << QByteArray(1024, 0) << 0x0000;
        QTest::newRow("abc") << QByteArray("abc") << 0x9DD6;
        QTest::newRow("123456789") << QByteArray("123456789") << 0x31C3;
        QTest::newRow("nothing") << QByteArray() << 0x0000;
    }
    void crc16()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, crc);
        const uint8_t *p = reinterpret_cast<const uint8_t *>(data.constData());
        QCOMPARE(int(xmodem_crc16(p, size_t(data.size()))), crc);
        QCOMPARE(int(BbBoot::crc16(p, size_t(data.size()))), crc);
    }

    // An image goes out as packets of 1024 bytes (the last padded with
    // 0xFF), numbered from 1 modulo 256, each acknowledged, then EOT.
    void imageAsPackets_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("packets");
        QTest::newRow("2048 bytes: two packets") << 2048 << 2;
        QTest::newRow("2049 bytes: three, the last one byte and 1023 of 0xFF") << 2049 << 3;
        QTest::newRow("one byte") << 1 << 1;
        QTest::newRow("300000 bytes: packet numbers wrap") << 300000 << 293;
    }
    void imageAsPackets()
    {
        QFETCH(int, size);
        QFETCH(int, packets);
        ztest::Pty pty;
        QVERIFY(pty.open());
        Receiver rx;
        rx.fd = pty.master;
        rx.run();
        const QByteArray image = randomImage(size, uint32_t(size));
        Xmodem x(pty.slave);
        QList<int> progress;
        connect(&x, &Xmodem::sig_sendProgress, [&](int p) { progress << p; });
        QVERIFY2(x.sendFile(image.constData(), image.size()), qPrintable(ztest::logLines().join('\n')));
        rx.thread.join();
        QCOMPARE(rx.packets, packets);
        QVERIFY(rx.packetsValid);
        QVERIFY(rx.eot);
        QCOMPARE(rx.data, padded(image));
        if (size == 2049)
            QCOMPARE(rx.data.mid(2048), QByteArray(1, image.at(2048)) + QByteArray(1023, char(0xFF)));
        QCOMPARE(progress.size(), packets + 1);
        QCOMPARE(progress.first(), 0);
        QCOMPARE(progress.last(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(logCount("1k xmodem send finished."), 1);
    }

    // The receiver's start request, however the bytes arrive; a start
    // request repeated before the first answer is no answer.
    void startRequest_data()
    {
        QTest::addColumn<QList<QByteArray>>("start");
        QTest::addColumn<QByteArray>("beforeFirstAck");
        QTest::newRow("C alone") << QList<QByteArray>{"C"} << QByteArray();
        QTest::newRow("lower-case c") << QList<QByteArray>{"c"} << QByteArray();
        QTest::newRow("C after another byte, one read") << QList<QByteArray>{"KC"} << QByteArray();
        QTest::newRow("another byte, then C in a read of its own") << QList<QByteArray>{"K", "C"} << QByteArray();
        QTest::newRow("C repeated") << QList<QByteArray>{"C", "C", "C"} << QByteArray();
        QTest::newRow("C again before the first ACK") << QList<QByteArray>{"C"} << QByteArray("C");
    }
    void startRequest()
    {
        QFETCH(QList<QByteArray>, start);
        QFETCH(QByteArray, beforeFirstAck);
        ztest::Pty pty;
        QVERIFY(pty.open());
        Receiver rx;
        rx.fd = pty.master;
        rx.start = start;
        rx.beforeFirstAck = beforeFirstAck;
        rx.run();
        const QByteArray image = randomImage(3000, 7);
        Xmodem x(pty.slave);
        QVERIFY2(x.sendFile(image.constData(), image.size()), qPrintable(ztest::logLines().join('\n')));
        rx.thread.join();
        QCOMPARE(rx.data, padded(image));
        QCOMPARE(logCount("1k xmodem start."), 1);
    }

    // Every failure ends the transfer at once, without sending again.
    void failures_data()
    {
        QTest::addColumn<int>("answerAt");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("log");
        QTest::newRow("NAK for the first packet") << 1 << int(XMODEM_NAK) << "1k xmodem bad packet, pn= 1";
        QTest::newRow("NAK for the third packet") << 3 << int(XMODEM_NAK) << "1k xmodem bad packet, pn= 3";
        QTest::newRow("CAN") << 2 << int(XMODEM_CAN) << "1k xmodem transfer canceled.";
        QTest::newRow("a wrong answer") << 1 << int('Z') << "1k xmodem error, = 0x5A";
    }
    void failures()
    {
        QFETCH(int, answerAt);
        QFETCH(int, answer);
        QFETCH(QString, log);
        ztest::Pty pty;
        QVERIFY(pty.open());
        Receiver rx;
        rx.fd = pty.master;
        rx.answerAt = answerAt;
        rx.answer = uint8_t(answer);
        rx.run();
        const QByteArray image = randomImage(5000, 3);
        Xmodem x(pty.slave);
        QVERIFY(!x.sendFile(image.constData(), image.size()));
        rx.thread.join();
        QCOMPARE(logCount(log), 1);
        QCOMPARE(rx.packets, answerAt);
        // Nothing after the failed packet: no repeat, no EOT.
        QCOMPARE(readByteFrom(pty.master, 200), -1);
        QVERIFY(!rx.eot);
    }

    // No start request: the time-out, or the bytes that came instead; an
    // empty image is refused before anything is sent.
    void noStart()
    {
        ztest::Pty pty;
        QVERIFY(pty.open());
        const QByteArray image = randomImage(100, 1);
        Xmodem x(pty.slave);
        x.setWaitPeriods(1);
        QVERIFY(!x.sendFile(image.constData(), image.size()));
        QCOMPARE(logCount("1k xmodem timeout."), 1);
        QVERIFY(ztest::writeAll(pty.master, "xy", 2));
        QVERIFY(!x.sendFile(image.constData(), image.size()));
        QCOMPARE(logCount("1k xmodem error, = 0x79"), 1);
        QVERIFY(!x.sendFile(image.constData(), 0));
        QVERIFY(!x.sendFile(nullptr, 10));
        QCOMPARE(readByteFrom(pty.master, 100), -1);
    }

    // The independent peer: lrzsz's XMODEM receiver (rx -c) gets the image
    // padded with 0xFF to whole packets.
    void againstLrzszReceiver_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("2049 bytes") << 2049;
        QTest::newRow("100 KB") << 100 * 1024 + 17;
    }
    void againstLrzszReceiver()
    {
        QFETCH(int, size);
        const QString rxPath = QStandardPaths::findExecutable("rx");
        QVERIFY2(!rxPath.isEmpty(), "lrzsz's rx is missing (./zr installs it)");
        QTemporaryDir dir;
        // The sender on one pseudo-terminal, rx reading another and writing
        // a third, and between them a wire with a little delay. rx clears
        // its input right after each answer, which on a real line comes
        // before the next packet can; and as it ends it drains and then
        // flushes its line, which on a pseudo-terminal (nothing to drain)
        // would also throw away its last answer if it went out the same way.
        ztest::Pty radio, peerIn, peerOut;
        QVERIFY(radio.open());
        QVERIFY(peerIn.open());
        QVERIFY(peerOut.open());
        Wire wire(radio.master, peerIn.master, peerOut.master, 2);
        QProcess rx;
        rx.setWorkingDirectory(dir.path());
        rx.setStandardInputFile(peerIn.name);
        rx.setStandardOutputFile(peerOut.name);
        rx.start(rxPath, {"-c", "-b", "-q", "received.bin"});
        QVERIFY(rx.waitForStarted(5000));
        const QByteArray image = randomImage(size, 11);
        Xmodem x(radio.slave);
        std::atomic<bool> ok{false};
        std::thread sender([&]() { ok = x.sendFile(image.constData(), image.size()); });
        ztest::Joiner join(sender);
        QVERIFY(rx.waitForFinished(60000));
        sender.join();
        QVERIFY2(ok, qPrintable(ztest::logLines().join('\n')));
        QCOMPARE(rx.exitCode(), 0);
        QCOMPARE(ztest::readFile(dir.path() + "/received.bin"), padded(image));
    }

    // The bootloader start against a scripted board: the reader is
    // suspended, the GPIO sequence goes through the command runner in
    // order, the "A" is waited for past what was on the line before.
    void bootloaderStart()
    {
        ztest::Sysroot root;
        ztest::Pty pty;
        QVERIFY(pty.open());
        QVERIFY(pty.link(root.path() + "/dev/ttyS1"));
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        ztest::AtExit destroy([radio]() { zradio_destroy(radio); });
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart resume.") == 1, 5000);
        // Frame bytes on the line before the reset are no answer.
        QVERIFY(pty.write(QByteArray(300, char(0xAA))));
        std::atomic<bool> stop{false};
        std::thread board([&]() {
            while (!stop && !commands(root.path()).contains("echo 204 > /sys/class/gpio/unexport"))
                usleep(2000);
            ztest::writeAll(pty.master, "A", 1);
        });
        ztest::Joiner join(board, &stop);
        QVERIFY(zradio_start_xmodem());
        QCOMPARE(commands(root.path()), kStartSequence);
        QCOMPARE(logCount("start IAP ok"), 1);
        QCOMPARE(logCount("wrong ack,"), 0);
        QCOMPARE(zradio_uartcomm_get_suspend(), uint8_t(1));
        QCOMPARE(logCount("uart suspend."), 1);
        zradio_uartcomm_set_suspend(0);
        QTRY_VERIFY(logCount("uart resume.") == 2);
    }

    // Fifty wrong answers, or none: the start fails, line 203 is given
    // back; the waits make the fifty take at least five seconds.
    void bootloaderStartFails_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("count");
        QTest::newRow("fifty wrong acknowledgement bytes") << QByteArray(60, 'x') << "wrong ack, 0x78" << 50;
        QTest::newRow("no answer") << QByteArray() << "IAP timeout" << 1;
    }
    void bootloaderStartFails()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, log);
        QFETCH(int, count);
        ztest::Sysroot root;
        ztest::Pty pty;
        QVERIFY(pty.open());
        QVERIFY(pty.link(root.path() + "/dev/ttyS1"));
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        ztest::AtExit destroy([radio]() { zradio_destroy(radio); });
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart resume.") == 1, 5000);
        std::atomic<bool> stop{false};
        std::thread board([&]() {
            while (!stop && !commands(root.path()).contains("echo 204 > /sys/class/gpio/unexport"))
                usleep(2000);
            ztest::writeAll(pty.master, answer.constData(), size_t(answer.size()));
        });
        ztest::Joiner join(board, &stop);
        QElapsedTimer t;
        t.start();
        QVERIFY(!zradio_start_xmodem());
        const qint64 ms = t.elapsed();
        QCOMPARE(logCount(log), count);
        QCOMPARE(logCount("start IAP ok"), 0);
        QCOMPARE(commands(root.path()), kStartSequence);
        if (count == 50) {
            QVERIFY2(ms >= 100 + 1000 + 49 * 100, qPrintable(QString::number(ms)));
            qInfo("fifty wrong bytes: start failed after %lld ms", ms);
        }
        zradio_uartcomm_set_suspend(0);
    }

    // The simulator's bootloader, spoken to by hand: entered by the reset
    // pulse with line 203 low; "A"; erase and start answered; the packet
    // number, its complement and the CRC are checked (NAK), a repeated
    // packet is acknowledged and stored once; EOT stores the image and the
    // board runs again.
    void simulatorBootloaderChecksPackets()
    {
        ztest::Sysroot root;
        ztest::Sim sim;
        QVERIFY(sim.start(root.path()));
        ztest::setSysroot(root.path());
        ztest::AtExit unset([]() { ztest::setSysroot(QString()); });
        const int fd = open(QFile::encodeName(root.path() + "/dev/ttyS1").constData(),
                            O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(fd >= 0);
        ztest::AtExit closeFd([fd]() { close(fd); });
        QVERIFY(waitForBytes(fd, QByteArray(), 5000)); // frames

        for (const char *c : {"echo 203 > /sys/class/gpio/export", "echo 0 > /sys/class/gpio/gpio203/value",
                              "echo 1 > /sys/class/gpio/gpio204/value"})
            zsys::run(c);
        QTRY_VERIFY(sim.command("bootloader").contains("state=reset"));
        QTest::qWait(50);
        ztest::drainFd(fd);
        zsys::run("echo 0 > /sys/class/gpio/gpio204/value");
        // The bootloader has a few seconds' patience: answered at once.
        QCOMPARE(readByteFrom(fd, 5000), int('A'));
        QVERIFY(sim.command("bootloader").contains("state=bootloader"));

        const uint8_t erase = ZRADIO_IAP_ERASE, startCmd = ZRADIO_IAP_START;
        QVERIFY(ztest::writeAll(fd, &erase, 1));
        QCOMPARE(readByteFrom(fd, 5000), int('K'));
        QVERIFY(ztest::writeAll(fd, &startCmd, 1));
        QCOMPARE(readByteFrom(fd, 2000), int('K'));
        QCOMPARE(readByteFrom(fd, 2000), int('C'));

        const QByteArray d1 = randomImage(1024, 21), d2 = randomImage(128, 22);
        auto send = [&](const Bytes &packet) {
            return ztest::writeAll(fd, packet.data(), packet.size()) ? readByteFrom(fd, 3000) : -2;
        };
        auto make = [](int pn, const QByteArray &d) {
            Bytes p(XMODEM_PACKET);
            xmodem_build_packet(p.data(), pn, reinterpret_cast<const uint8_t *>(d.constData()), size_t(d.size()));
            return p;
        };
        Bytes badCrc = make(1, d1);
        badCrc[XMODEM_PACKET - 1] ^= 0x01;
        Bytes badComplement = make(1, d1);
        badComplement[2] ^= 0x10;
        QCOMPARE(send(badCrc), int(XMODEM_NAK));
        QCOMPARE(send(badComplement), int(XMODEM_NAK));
        QCOMPARE(send(make(2, d1)), int(XMODEM_NAK)); // out of order
        QCOMPARE(send(make(1, d1)), int(XMODEM_ACK));
        QCOMPARE(send(make(1, d1)), int(XMODEM_ACK)); // repeated: stored once
        // A 128-byte packet (SOH) is taken too.
        Bytes small(3 + 128 + 2);
        small[0] = XMODEM_SOH;
        small[1] = 2;
        small[2] = uint8_t(~2);
        std::memcpy(small.data() + 3, d2.constData(), 128);
        const uint16_t crc = BbBoot::crc16(small.data() + 3, 128);
        small[131] = uint8_t(crc >> 8);
        small[132] = uint8_t(crc);
        QCOMPARE(send(small), int(XMODEM_ACK));
        const uint8_t eot = XMODEM_EOT;
        QVERIFY(ztest::writeAll(fd, &eot, 1));
        QCOMPARE(readByteFrom(fd, 3000), int(XMODEM_ACK));
        QTRY_VERIFY(sim.command("bootloader").contains("state=running"));
        QCOMPARE(ztest::readFile(root.path() + "/var/lib/zr450-bbsim/firmware.bin"), d1 + d2);
        QVERIFY(sim.command("bootloader").contains(QString("stored=%1").arg(1024 + 128)));
        // Frames again.
        QVERIFY(waitForBytes(fd, QByteArray("\xAA\x55\x55\xAA", 4), 5000));
    }

    // The dialog on its own: regular "*.zrf" files of /usr/firmware in
    // name order, the first selected; PREV/NEXT on F1/F2, the knob; the
    // blank F3; QUIT on F5; everything inside 800 x 480 without overlaps;
    // a screenshot for the eye.
    void dialogListKeysAndLayout()
    {
        ztest::Sysroot root;
        const QString fw = root.path() + "/usr/firmware";
        QVERIFY(ztest::writeFile(fw + "/b.zrf", "bb"));
        QVERIFY(ztest::writeFile(fw + "/a.zrf", "aa"));
        QVERIFY(ztest::writeFile(fw + "/notes.txt", "x"));
        QVERIFY(ztest::writeFile(fw + "/upper.ZRF", "x"));
        QVERIFY(QFile::link(fw + "/a.zrf", fw + "/link.zrf"));
        QVERIFY(QDir().mkpath(fw + "/dir.zrf"));
        QCOMPARE(mkfifo(QFile::encodeName(fw + "/fifo.zrf").constData(), 0600), 0);

        UiFwUpgrade d;
        QCOMPARE(d.firmwareFiles(), QStringList({"a.zrf", "b.zrf"}));
        QCOMPARE(d.selectedIndex(), 0);
        QCOMPARE(d.progress(), 0);
        QVERIFY(d.title().startsWith("Firmware Upgrade: "));
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));

        pressKey(&d, Qt::Key_F2);
        QCOMPARE(d.selectedIndex(), 1);
        pressKey(&d, Qt::Key_F2);
        QCOMPARE(d.selectedIndex(), 1);
        pressKey(&d, Qt::Key_F1);
        QCOMPARE(d.selectedIndex(), 0);
        pressKey(&d, Qt::Key_F2, Qt::ControlModifier); // not a function key
        QCOMPARE(d.selectedIndex(), 0);
        turnKnob(&d, -120);
        QCOMPARE(d.selectedIndex(), 1);
        turnKnob(&d, 120);
        QCOMPARE(d.selectedIndex(), 0);
        turnKnob(&d, -120, Qt::AltModifier); // the tuning dial
        QCOMPARE(d.selectedIndex(), 0);
        QVERIFY(!button(d, 3)->isEnabled());
        QCOMPARE(button(d, 1)->text(), QString("PREV"));
        QCOMPARE(button(d, 2)->text(), QString("NEXT"));
        QCOMPARE(button(d, 4)->text(), QString("UPGRADE"));
        QCOMPARE(button(d, 5)->text(), QString("QUIT"));

        // Layout: every part inside the screen, none overlapping another,
        // texts fit their buttons.
        QCOMPARE(d.size(), QSize(800, 480));
        QList<QWidget *> parts;
        for (QWidget *w : d.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            parts << w;
        QVERIFY(parts.size() >= 8);
        for (int i = 0; i < parts.size(); ++i) {
            QVERIFY2(QRect(0, 0, 800, 480).contains(parts[i]->geometry()), qPrintable(parts[i]->objectName()));
            for (int j = i + 1; j < parts.size(); ++j)
                QVERIFY2(!parts[i]->geometry().intersects(parts[j]->geometry()),
                         qPrintable(parts[i]->objectName() + " / " + parts[j]->objectName()));
        }
        for (int f = 1; f <= 5; ++f) {
            QPushButton *b = button(d, f);
            QVERIFY(b->fontMetrics().horizontalAdvance(b->text()) + 8 < b->width());
        }
        const QString shot = qEnvironmentVariable("ZR450_SHOT_DIR", QDir::tempPath()) + "/uifwupgrade.png";
        QVERIFY(d.grab().save(shot));
        qInfo("screenshot: %s", qPrintable(shot));

        pressKey(&d, Qt::Key_F5);
        QTRY_VERIFY(!d.isVisible());
    }

    // Without the directory the list is empty and UPGRADE does nothing; a
    // file that is empty or cannot be read is refused with "Failed" before
    // the board is reset (no GPIO command, the reader keeps reading).
    void dialogRefusesBadFiles()
    {
        ztest::Sysroot root;
        ztest::setSysroot(root.path());
        ztest::AtExit unset([]() { ztest::setSysroot(QString()); });
        {
            UiFwUpgrade none;
            QVERIFY(none.firmwareFiles().isEmpty());
            QCOMPARE(none.selectedIndex(), -1);
            const QString before = none.title();
            pressKey(&none, Qt::Key_F4);
            QCOMPARE(none.title(), before);
        }
        const QString fw = root.path() + "/usr/firmware";
        QVERIFY(ztest::writeFile(fw + "/empty.zrf", QByteArray()));
        QVERIFY(ztest::writeFile(fw + "/locked.zrf", "data"));
        QVERIFY(QFile::setPermissions(fw + "/locked.zrf", QFileDevice::Permissions()));
        const bool root0 = QFile(fw + "/locked.zrf").open(QIODevice::ReadOnly); // root reads anyway
        UiFwUpgrade d;
        QVERIFY(d.firmwareFiles().contains("empty.zrf"));
        d.upgradeFirmware(fw + "/empty.zrf");
        QCOMPARE(d.title(), QString("Firmware Upgrade: Failed"));
        QVERIFY(d.isIdle());
        d.upgradeFirmware(fw + "/missing.zrf");
        QCOMPARE(logCount("can not open firmware file: missing.zrf"), 1);
        QCOMPARE(d.title(), QString("Firmware Upgrade: Failed"));
        if (!root0) {
            d.upgradeFirmware(fw + "/locked.zrf");
            QCOMPARE(logCount("can not open firmware file: locked.zrf"), 1);
        }
        QVERIFY(commands(root.path()).isEmpty());
        QVERIFY(button(d, 4)->isEnabled());
    }

    // A whole upgrade through the dialog against the simulator: the title
    // goes "Erasing Flash", "Writing Flash" with the bar moving, "Done";
    // the stored image is the file padded to whole packets; frames come
    // back.
    void upgradeThroughSimulator()
    {
        SimLink l;
        QVERIFY(l.up());
        const QByteArray image = randomImage(100 * 1024 + 3, 5);
        QVERIFY(ztest::writeFile(l.root.path() + "/usr/firmware/test.zrf", image));
        UiFwUpgrade d;
        DialogRecord rec;
        rec.attach(d);
        d.show();
        QCOMPARE(d.firmwareFiles(), QStringList({"test.zrf"}));
        // A picture of the transfer half way, for the eye.
        const QString shot = qEnvironmentVariable("ZR450_SHOT_DIR", QDir::tempPath()) + "/uifwupgrade-writing.png";
        connect(d.findChild<QProgressBar *>("progressUpgrade"), &QProgressBar::valueChanged, &d, [&](int v) {
            if (v >= 40 && v < 45)
                d.grab().save(shot);
        });
        QElapsedTimer t;
        t.start();
        pressKey(&d, Qt::Key_F4);
        QVERIFY(!d.isIdle());
        QVERIFY(!button(d, 5)->isEnabled());
        pressKey(&d, Qt::Key_F5); // QUIT is off during the transfer
        d.close();
        QVERIFY(d.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(d.isIdle(), 90000);
        qInfo("upgrade of %d bytes took %lld ms", image.size(), t.elapsed());
        QCOMPARE(rec.titles.first(), QString("Erasing Flash"));
        QCOMPARE(rec.titles.last(), QString("Done"));
        QVERIFY(rec.titles.contains("Writing Flash"));
        QVERIFY(!rec.titles.contains("Failed"));
        QVERIFY(rec.progress.size() >= 10);
        QCOMPARE(rec.progress.last(), 100);
        QVERIFY(std::is_sorted(rec.progress.begin(), rec.progress.end()));
        QCOMPARE(ztest::readFile(l.root.path() + "/var/lib/zr450-bbsim/firmware.bin"), padded(image));
        QVERIFY(button(d, 5)->isEnabled());
        QVERIFY(!button(d, 3)->isEnabled());
        // The link reads frames again.
        QCOMPARE(zradio_uartcomm_get_suspend(), uint8_t(0));
        const uint64_t f0 = framesGood();
        QTRY_VERIFY_WITH_TIMEOUT(framesGood() > f0 + 5, 10000);
        QVERIFY(zradio_comm_valid());
        // Transfer speed: from the start of the XMODEM transfer to its end,
        // against the line's 115200 bytes/s.
        const double seconds = double(rec.endMs - rec.writingMs) / 1000.0;
        qInfo("XMODEM transfer: %d bytes in %.2f s = %.0f bytes/s (%.0f %% of the line rate)", padded(image).size(),
              seconds, padded(image).size() / seconds, 100.0 * padded(image).size() / seconds / 115200.0);
    }

    // Each injected fault ends in "Failed" with its log line, nothing is
    // stored, and the frames come back.
    void faultEndsInFailed_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QString>("log");
        QTest::newRow("NAK at packet 5") << QByteArray("bootloader nak 5") << "1k xmodem bad packet, pn= 5";
        QTest::newRow("CAN at packet 3") << QByteArray("bootloader can 3") << "1k xmodem transfer canceled.";
        QTest::newRow("silent bootloader") << QByteArray("bootloader silent") << "IAP timeout";
        QTest::newRow("wrong acknowledgement bytes") << QByteArray("bootloader wrongack") << "start xmodem failed!";
    }
    void faultEndsInFailed()
    {
        QFETCH(QByteArray, fault);
        QFETCH(QString, log);
        SimLink l;
        QVERIFY(l.up());
        QVERIFY(ztest::writeFile(l.root.path() + "/usr/firmware/test.zrf", randomImage(20 * 1024, 9)));
        QVERIFY(l.sim.command(fault).startsWith("ok"));
        UiFwUpgrade d;
        DialogRecord rec;
        rec.attach(d);
        d.show();
        pressKey(&d, Qt::Key_F4);
        QTRY_VERIFY_WITH_TIMEOUT(d.isIdle(), 60000);
        QCOMPARE(rec.titles.last(), QString("Failed"));
        QCOMPARE(d.title(), QString("Firmware Upgrade: Failed"));
        QVERIFY2(logCount(log) >= 1, qPrintable(ztest::logLines().join('\n')));
        QCOMPARE(logCount("finished."), 1);
        QCOMPARE(zradio_uartcomm_get_suspend(), uint8_t(0));
        QVERIFY(!QFileInfo::exists(l.root.path() + "/var/lib/zr450-bbsim/firmware.bin"));
        // The board gives up its bootloader; the link reads frames again.
        const uint64_t f0 = framesGood();
        QTRY_VERIFY_WITH_TIMEOUT(framesGood() > f0 + 5, 20000);
        QVERIFY(l.sim.command("bootloader").contains("state=running"));
        QVERIFY(button(d, 4)->isEnabled());
    }
};

QTEST_MAIN(TestFwUpgrade)
#include "test_fwupgrade.moc"
