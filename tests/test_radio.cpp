// Radio link: the STM32 CRC, the frame search (cases and a randomized run),
// the UART reader on a real pseudo-terminal (frame arrival patterns,
// silence, suspend and resume, reports, an unopenable line), the I2C helper
// against failing buses, and the whole link against the real zr450-bbsim.
#include "tests/test_support.h"
#include "radio/zcrc.h"
#include "radio/bbframe.h"
#include "radio/zradio.h"
#include "app/zsystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

typedef std::vector<uint8_t> Bytes;

using ztest::clearLog;
using ztest::logCount;

// --------------------------------------------------------------------- frames

// A CRC-correct frame: a tone at FFT bin k (amplitude a), status and key word.
static Bytes makeFrame(uint32_t status = 0, uint32_t micKey = 0, double k = -10.0, float a = 0.01f,
                       uint32_t salt = 0)
{
    Bytes f(BBFRAME_SIZE, 0);
    for (uint32_t i = 0; i < BBFRAME_SAMPLES; ++i) {
        const float re = a * float(std::cos(2.0 * M_PI * k * i / 512.0));
        const float im = a * float(std::sin(2.0 * M_PI * k * i / 512.0)) + float(salt) * 1e-9f;
        uint32_t u;
        std::memcpy(&u, &re, 4);
        bbframe_put_u32(&f[BBFRAME_OFS_SAMPLES + 8 * i], u);
        std::memcpy(&u, &im, 4);
        bbframe_put_u32(&f[BBFRAME_OFS_SAMPLES + 8 * i + 4], u);
    }
    bbframe_put_u32(&f[BBFRAME_OFS_STATUS], status);
    f[BBFRAME_OFS_VEXT] = 121;
    f[BBFRAME_OFS_VBAT] = 77;
    f[BBFRAME_OFS_BATCAP] = 64;
    bbframe_put_u32(&f[BBFRAME_OFS_MICKEY], micKey);
    bbframe_seal(f.data());
    return f;
}

// Random bytes that contain no sync word (no 0xAA at all).
static Bytes garbage(std::mt19937 &rng, size_t n)
{
    Bytes g(n);
    for (uint8_t &b : g) {
        b = uint8_t(rng());
        if (b == 0xAA)
            b = 0x55;
    }
    return g;
}

static Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The reader's accumulation: append each read, search once a frame's worth
// is there, keep what the search leaves.
struct Accumulator {
    Bytes acc;
    std::vector<Bytes> accepted;
    bbframe_stats_t stats;
    size_t maxKept = 0;

    static void onFrame(const uint8_t *f, void *ctx)
    {
        static_cast<Accumulator *>(ctx)->accepted.emplace_back(f, f + BBFRAME_SIZE);
    }
    void feed(const uint8_t *p, size_t n)
    {
        acc.insert(acc.end(), p, p + n);
        if (acc.size() >= BBFRAME_SIZE) {
            const size_t used = bbframe_search(acc.data(), acc.size(), onFrame, this, &stats);
            acc.erase(acc.begin(), acc.begin() + ptrdiff_t(used));
            maxKept = std::max(maxKept, acc.size());
        }
    }
};

// Bit-by-bit reference of the STM32 CRC.
static uint32_t crcReference(const uint32_t *w, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= w[i];
        for (int b = 0; b < 32; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// The test writes the board's side of the line; the radio's end stays open
// here too, so the line never hangs up between opens. The kernel hands a
// write to the reader in pieces of at most 4095 bytes, so a frame always
// takes several reads.
using ztest::Pty;

static uint64_t framesGood()
{
    bbframe_stats_t st;
    zradio_uartcomm_get_stats(&st);
    return st.frames;
}

// --------------------------------------------------------- failing I2C buses

// A bus socket that misbehaves in scripted ways, one step per request.
class FakeBus
{
public:
    enum Step { CloseAfterRequest, Answer, Silent };

    FakeBus(const QString &path, std::vector<Step> script)
        : m_script(std::move(script))
    {
        m_fd = ztest::unixSocket(path, SOCK_STREAM, true);
        m_ok = m_fd >= 0;
        m_thread = std::thread(&FakeBus::run, this);
    }
    ~FakeBus()
    {
        m_stop = true;
        m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    bool ok() const { return m_ok; }

private:
    void run()
    {
        size_t step = 0;
        while (!m_stop && step < m_script.size()) {
            pollfd p = {m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int c = accept(m_fd, nullptr, nullptr);
            if (c < 0)
                continue;
            while (!m_stop && step < m_script.size()) {
                pollfd q = {c, POLLIN, 0};
                if (poll(&q, 1, 50) <= 0)
                    continue;
                uint8_t buf[512];
                if (read(c, buf, sizeof(buf)) <= 0)
                    break;
                const Step s = m_script[step++];
                if (s == CloseAfterRequest)
                    break;
                if (s == Silent) {
                    // Longer than the helper waits; then hang up.
                    for (int i = 0; i < 30 && !m_stop; ++i)
                        usleep(50000);
                    break;
                }
                const uint8_t reply[4] = {1, 0, 0, 0};
                (void)!::write(c, reply, 4);
            }
            close(c);
        }
    }

    std::vector<Step> m_script;
    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// ------------------------------------------------------------------ the tests

class TestRadio : public QObject
{
    Q_OBJECT

private:
    void setRoot(const QString &root) { ztest::setSysroot(root); }

    static QString controlCommand(const QString &root, const QByteArray &cmd)
    {
        return ztest::simCommand(root, cmd);
    }

    // Collects count spectra from the link's calculator; the last one and
    // its smoothed peak.
    static bool collect(int count, std::vector<float> &s, float &peak)
    {
        s.assign(ZRADIO_FFT_LEN, 0.0f);
        int got = 0;
        uint32_t n = 0;
        QElapsedTimer t;
        t.start();
        while (got < count && t.elapsed() < 10000) {
            if (sacalc_get_spectrum(g_zsacalc, s.data(), &n, &peak))
                ++got;
            else
                QTest::qWait(5);
        }
        return got == count;
    }

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }
    // A failed check returns early: the link of that test must not stay
    // (only one link per process can exist).
    void cleanup()
    {
        if (g_zradio)
            zradio_destroy(g_zradio);
    }
    void cleanupTestCase()
    {
        setRoot(QString());
    }

    void crcValues()
    {
        const uint32_t zero = 0;
        QCOMPARE(zcrc::calCRC32_STM32(&zero, 1), 0xC704DD7Bu);
        QCOMPARE(zcrc::calCRC32_STM32(nullptr, 0), 0xFFFFFFFFu);
        std::mt19937 rng(7);
        for (int len : {1, 2, 3, 17, 203, 1033}) {
            std::vector<uint32_t> w(len);
            for (uint32_t &x : w)
                x = rng();
            const uint32_t ref = crcReference(w.data(), w.size());
            QCOMPARE(zcrc::calCRC32_STM32(w.data(), uint32_t(w.size())), ref);
            // Bytes at an odd address, little-endian.
            Bytes b(4 * w.size() + 1);
            for (size_t i = 0; i < w.size(); ++i)
                bbframe_put_u32(&b[1 + 4 * i], w[i]);
            QCOMPARE(zcrc::calCRC32_STM32_bytes(b.data() + 1, w.size()), ref);
        }
    }

    // The frame search finds every CRC-correct frame wherever it starts,
    // and keeps only an incomplete frame or a possible start of a sync word.
    void frameSearchCases()
    {
        std::mt19937 rng(1);
        const Bytes f1 = makeFrame(0, 1), f2 = makeFrame(0, 2), f3 = makeFrame(0, 3);
        Bytes bad = makeFrame(0, 4);
        bad[2000] ^= 0x01;
        const Bytes syncHead = {0xAA, 0x55, 0x55};

        struct Case {
            const char *name;
            Bytes stream;
            std::vector<uint32_t> keys;
        };
        const std::vector<Case> cases = {
            {"one frame", f1, {1}},
            {"stray bytes before", cat({garbage(rng, 37), f1}), {1}},
            {"two frames together", cat({f1, f2}), {1, 2}},
            {"garbage between", cat({f1, garbage(rng, 999), f2, syncHead, f3}), {1, 2, 3}},
            {"bad crc then good", cat({bad, f2}), {2}},
            {"truncated then good", cat({Bytes(f1.begin(), f1.begin() + 3000), f2}), {2}},
            {"false sync just before", cat({Bytes{0xAA, 0x55, 0x55, 0xAA, 0x01}, f3}), {3}},
            {"only garbage", garbage(rng, 20000), {}},
            {"sync flood then frame", cat({Bytes(4 * 300, 0), f1}), {1}},
        };
        for (const Case &c : cases) {
            Bytes stream = c.stream;
            if (QByteArray(c.name).startsWith("sync flood"))
                for (size_t i = 0; i + 4 <= 1200; i += 4)
                    std::memcpy(&stream[i], bbframe_sync, 4);
            // Whole, and in reads of a few awkward sizes.
            for (size_t chunk : {stream.size(), size_t(1), size_t(3), size_t(4095), size_t(4137), size_t(8272)}) {
                Accumulator a;
                for (size_t i = 0; i < stream.size(); i += chunk)
                    a.feed(stream.data() + i, std::min(chunk, stream.size() - i));
                std::vector<uint32_t> keys;
                for (const Bytes &f : a.accepted)
                    keys.push_back(bbframe_get_u32(&f[BBFRAME_OFS_MICKEY]));
                QVERIFY2(keys == c.keys, qPrintable(QString("%1, reads of %2").arg(c.name).arg(chunk)));
                QVERIFY(a.maxKept < BBFRAME_SIZE);
            }
        }

        // A sync word split across reads survives in the kept tail.
        Accumulator a;
        const Bytes lead = garbage(rng, 5000);
        Bytes s = cat({lead, f1});
        a.feed(s.data(), lead.size() + 2);
        QCOMPARE(a.acc.size(), size_t(3));
        a.feed(s.data() + lead.size() + 2, s.size() - lead.size() - 2);
        QCOMPARE(a.accepted.size(), size_t(1));
        QVERIFY(a.acc.empty());
        QCOMPARE(a.stats.dropped, uint64_t(lead.size()));
    }

    // Randomized streams of good, damaged and cut frames, garbage and sync
    // floods in random read sizes: exactly the intact frames come out, in
    // order, and what is kept stays below one frame.
    void frameSearchFuzz()
    {
        std::mt19937 rng(20240611);
        QElapsedTimer timer;
        timer.start();
        int rounds = 0;
        for (; rounds < 400 && timer.elapsed() < 4000; ++rounds) {
            Bytes stream;
            std::vector<Bytes> expected;
            const int pieces = 1 + int(rng() % 8);
            for (int p = 0; p < pieces; ++p) {
                switch (rng() % 6) {
                case 0:
                case 1: {
                    Bytes f = makeFrame(rng(), rng(), -double(rng() % 200), 0.01f, rng());
                    expected.push_back(f);
                    stream.insert(stream.end(), f.begin(), f.end());
                    break;
                }
                case 2: { // damaged anywhere after the sync word
                    Bytes f = makeFrame(rng(), rng());
                    f[4 + rng() % (BBFRAME_SIZE - 4)] ^= uint8_t(1 + rng() % 255);
                    stream.insert(stream.end(), f.begin(), f.end());
                    break;
                }
                case 3: { // cut short
                    Bytes f = makeFrame(rng(), rng());
                    stream.insert(stream.end(), f.begin(), f.begin() + rng() % BBFRAME_SIZE);
                    break;
                }
                case 4: { // raw random bytes, sync words included by chance
                    const size_t n = rng() % 6000;
                    for (size_t i = 0; i < n; ++i)
                        stream.push_back(uint8_t(rng() % 4 == 0 ? bbframe_sync[i % 4] : rng()));
                    break;
                }
                default: // a run of sync words
                    for (uint32_t i = 0, n = rng() % 200; i < n; ++i)
                        stream.insert(stream.end(), bbframe_sync, bbframe_sync + 4);
                    break;
                }
            }
            Accumulator a;
            size_t i = 0;
            while (i < stream.size()) {
                const size_t n = std::min<size_t>(1 + rng() % 9000, stream.size() - i);
                a.feed(stream.data() + i, n);
                i += n;
            }
            QCOMPARE(a.accepted.size(), expected.size());
            for (size_t k = 0; k < expected.size(); ++k)
                QVERIFY(a.accepted[k] == expected[k]);
            QVERIFY(a.maxKept < BBFRAME_SIZE);
        }
        QVERIFY(rounds >= 50);
    }

    // The reader on a real pseudo-terminal: arrival patterns, reports, the
    // spectrum, silence.
    void readerOnPty()
    {
        QTemporaryDir root;
        setRoot(root.path());
        Pty pty;
        QVERIFY(pty.open());
        QVERIFY(pty.link(root.path() + "/dev/ttyS1"));
        clearLog();

        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QVERIFY(radio);
        QCOMPARE(g_zradio, radio);
        QVERIFY(!zradio_create("/dev/i2c-0", 114)); // one link per process
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart resume.") == 1, 5000);
        QVERIFY(logCount("thread_comm created, id=0x") == 1);
        // No bus socket under this root: logged, and transfers fail cleanly.
        QVERIFY(logCount(QString("can't open %1/dev/i2c-0,").arg(root.path())) == 1);
        uint8_t ident[ZRADIO_IDENT_LEN];
        QCOMPARE(zradio_get_roram(ident), -EINVAL);
        QCOMPARE(zradio_get_roram(nullptr), -EINVAL);
        QCOMPARE(zradio_send_cmd("\x01", 1), -EINVAL);
        QCOMPARE(zradio_read_remote_ram(0, nullptr, 4), -EINVAL);

        // Reports before the first frame: 13.8 V, 8.4 V, 100 %.
        QCOMPARE(zradio_comm_valid(), uint8_t(0));
        QCOMPARE(radio->trailer[0].load(), 0u);
        QCOMPARE(radio->trailer[1].load(), 0u);
        QCOMPARE(radio->trailer[2].load(), 138u | 84u << 8 | 100u << 16 | 24u << 24);
        QVERIFY(zradio_uartcomm_get_fd() >= 0);
        QCOMPARE(zradio_uartcomm_flush(), 0);

        std::mt19937 rng(3);
        uint64_t base = framesGood();
        // One frame (several reads), then silence.
        QVERIFY(pty.write(makeFrame(BBFRAME_ST_TX | BBFRAME_ST_VEXT | BBFRAME_ST_CHARGING | BBFRAME_ST_RESYNC,
                                    0x1234, -10.0, 0.01f)));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), base + 1, 5000);
        QCOMPARE(zradio_comm_valid(), uint8_t(1));
        QCOMPARE(logCount("comm valid"), 1);
        QCOMPARE(radio->trxState.load(), uint8_t(1));
        QCOMPARE(radio->vextFlag.load(), uint8_t(1));
        QCOMPARE(radio->chgFlag.load(), uint8_t(1));
        QCOMPARE(radio->hmicKey.load(), 0x1234u);
        QCOMPARE(zradio_get_resync_flag(), uint8_t(1));
        QCOMPARE(radio->trailer[2].load() & 0xFFFFFFu, 121u | 77u << 8 | 64u << 16);
        // The frame's samples went through the spectrum calculator.
        std::vector<float> s(ZRADIO_FFT_LEN);
        uint32_t count = 0;
        float peak = 0;
        QVERIFY(sacalc_get_spectrum(g_zsacalc, s.data(), &count, &peak));
        QCOMPARE(count, uint32_t(ZRADIO_FFT_LEN));
        QCOMPARE(int(std::max_element(s.begin(), s.end()) - s.begin()), 265);

        // Stray bytes before a frame, in the same burst.
        base = framesGood();
        QVERIFY(pty.write(cat({garbage(rng, 37), makeFrame(0, 5)})));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), base + 1, 5000);
        QCOMPARE(radio->hmicKey.load(), 5u);
        QCOMPARE(radio->trxState.load(), uint8_t(0));
        QCOMPARE(zradio_get_resync_flag(), uint8_t(0));

        // Two frames in one burst, and garbage, a damaged and a cut frame
        // between good ones.
        base = framesGood();
        QVERIFY(pty.write(cat({makeFrame(0, 6), makeFrame(0, 7)})));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), base + 2, 5000);
        QCOMPARE(radio->hmicKey.load(), 7u);
        Bytes damaged = makeFrame(0, 99);
        damaged[100] ^= 0xFF;
        const Bytes cut = makeFrame(0, 98);
        base = framesGood();
        QVERIFY(pty.write(cat({makeFrame(0, 8), garbage(rng, 700), damaged, makeFrame(0, 9),
                               Bytes(cut.begin(), cut.begin() + 2500), makeFrame(0, 10)})));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), base + 3, 5000);
        QCOMPARE(radio->hmicKey.load(), 10u);

        // A flood without a sync word: nothing accepted, memory bounded
        // (the buffer-full path is never needed), the next frame is read.
        base = framesGood();
        for (int i = 0; i < 25; ++i)
            QVERIFY(pty.write(garbage(rng, 8000)));
        QVERIFY(pty.write(makeFrame(0, 11)));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), base + 1, 5000);
        QCOMPARE(logCount("rx buffer full,"), 0);

        // Silence: comm-valid stays about one second, then falls, logged
        // once. (A machine busy enough to hold up the writes above may have
        // let it fall in between, so only what follows counts.)
        clearLog();
        QElapsedTimer quiet;
        quiet.start();
        QTest::qWait(500);
        QCOMPARE(zradio_comm_valid(), uint8_t(1));
        QTRY_COMPARE_WITH_TIMEOUT(zradio_comm_valid(), uint8_t(0), 5000);
        QVERIFY(quiet.elapsed() >= 900);
        QCOMPARE(logCount("comm lost"), 1);

        clearLog();
        zradio_destroy(radio);
        QCOMPARE(logCount("call uart_destroy()"), 1);
        QCOMPARE(logCount("thread_comm exited"), 1);
        QVERIFY(!g_zradio && !g_zuart && !g_zi2c && !g_zsacalc);
        QCOMPARE(zradio_comm_valid(), uint8_t(0));
        QCOMPARE(zradio_uartcomm_get_fd(), -1);
        QCOMPARE(zradio_send_cmd("\x01", 1), -ENODEV);
        zradio_destroy(nullptr);
    }

    // Suspended, the reader reads nothing; on resume what arrived meanwhile
    // is discarded. Each state change is logged once.
    void readerSuspendResume()
    {
        QTemporaryDir root;
        setRoot(root.path());
        Pty pty;
        QVERIFY(pty.open());
        QVERIFY(pty.link(root.path() + "/dev/ttyS1"));
        clearLog();
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart resume.") == 1, 5000);
        QVERIFY(pty.write(makeFrame(0, 1)));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), uint64_t(1), 5000);

        zradio_uartcomm_set_suspend(1);
        QCOMPARE(zradio_uartcomm_get_suspend(), uint8_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart suspend.") == 1, 5000);
        // Two frames: about what a pseudo-terminal holds while nobody reads.
        QVERIFY(pty.write(cat({makeFrame(0, 2), makeFrame(0, 3)})));
        QTest::qWait(1500); // at least one more suspended pass
        QCOMPARE(logCount("uart suspend."), 1);
        QCOMPARE(framesGood(), uint64_t(1));

        zradio_uartcomm_set_suspend(0);
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart resume.") == 2, 5000);
        QTest::qWait(100);
        QCOMPARE(framesGood(), uint64_t(1));
        QVERIFY(pty.write(makeFrame(0, 5)));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), uint64_t(2), 5000);
        QCOMPARE(radio->hmicKey.load(), 5u);
        QCOMPARE(logCount("uart suspend."), 1);
        QCOMPARE(logCount("uart resume."), 2);
        zradio_destroy(radio);
    }

    // The reader sleeps while nothing arrives, and a line whose other end
    // went away (reads give end of file) does not keep it spinning; the
    // link still stops at once.
    void readerSleepsAtRestAndAfterHangUp()
    {
        QTemporaryDir root;
        setRoot(root.path());
        Pty pty;
        QVERIFY(pty.open());
        QVERIFY(pty.link(root.path() + "/dev/ttyS1"));
        clearLog();
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QVERIFY(radio);
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart resume.") == 1, 5000);
        const uint64_t base = framesGood();
        QVERIFY(pty.write(makeFrame(0, 1)));
        QTRY_COMPARE_WITH_TIMEOUT(framesGood(), base + 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(zradio_comm_valid(), uint8_t(0), 5000);

        // At rest: nothing to wake for (a 1 ms loop would have made
        // hundreds of passes).
        uint64_t p0 = radio->readerPasses.load();
        QTest::qWait(500);
        QVERIFY2(radio->readerPasses.load() - p0 <= 2, qPrintable(QString::number(radio->readerPasses.load() - p0)));

        // Hang-up: the far end closes; the line is looked at again only
        // every 100 ms.
        close(pty.master);
        pty.master = -1;
        QTest::qWait(100);
        p0 = radio->readerPasses.load();
        QTest::qWait(500);
        QVERIFY2(radio->readerPasses.load() - p0 <= 20, qPrintable(QString::number(radio->readerPasses.load() - p0)));
        clearLog();
        zradio_destroy(radio);
        QCOMPARE(logCount("thread_comm exited"), 1);
    }

    // A line that cannot be opened: the reader keeps running, reports the
    // time-out about once a second, comm-valid stays 0; teardown is clean.
    void readerWithoutLine()
    {
        QTemporaryDir root;
        setRoot(root.path());
        clearLog();
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QVERIFY(radio);
        QCOMPARE(logCount(QString("can't open %1/dev/ttyS1").arg(root.path())), 1);
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart read time out,") >= 1, 5000);
        QCOMPARE(zradio_comm_valid(), uint8_t(0));
        QCOMPARE(zradio_uartcomm_get_fd(), -1);
        QCOMPARE(zradio_uartcomm_flush(), -EBADF);
        zradio_destroy(radio);
        QCOMPARE(logCount("thread_comm exited"), 1);

        // A line that is no terminal: set-up fails, no buffers, same result.
        QDir().mkpath(root.path() + "/dev");
        QFile f(root.path() + "/dev/ttyS1");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        clearLog();
        radio = zradio_create("/dev/i2c-0", 114);
        QCOMPARE(logCount("error in uart parameters"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(logCount("uart read time out,") >= 1, 5000);
        zradio_destroy(radio);

        uart_t *u = uart_create("/dev/null", 12345);
        QVERIFY(u && !u->rxBuffer);
        uart_destroy(u);
    }

    // The kernel backend on a character device that is no I2C bus, and
    // invalid arguments.
    void i2cKernelBackendErrors()
    {
        clearLog();
        QVERIFY(!ui2c_create("/nonexistent/i2c-9", 0x72));
        QCOMPARE(logCount("can't open /nonexistent/i2c-9,2"), 1);
        zradio_i2c_t *i2c = ui2c_create("/dev/null", 0x72);
        QVERIFY(i2c);
        QVERIFY(!i2c->socket);
        const uint32_t word = 0x12345678;
        QCOMPARE(ui2c_write(i2c, 0x0004, &word, 4), -ENOTTY);
        QCOMPARE(logCount("ui2c_write() ioctrl error, -25 reg=0x0004, data=0x12345678"), 1);
        uint8_t buf[8];
        QCOMPARE(ui2c_read(i2c, 0x0000, buf, 8), -ENOTTY);
        QCOMPARE(logCount("ui2c_read() write offset error,"), 1);
        QCOMPARE(ui2c_read(i2c, 0, nullptr, 8), -EINVAL);
        QCOMPARE(ui2c_write(nullptr, 0, &word, 4), -EINVAL);
        QCOMPARE(ui2c_write(i2c, 0, &word, UI2C_MAX_LEN), -EINVAL);
        ui2c_destroy(i2c);
        ui2c_destroy(nullptr);
    }

    // The socket backend against a bus that hangs up mid-transfer, one that
    // stops answering and one that is gone: errors come back, nothing
    // hangs, and the helper reconnects when the bus is back.
    void i2cSocketBusFailures()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/i2c";
        zradio_i2c_t *i2c = nullptr;
        {
            FakeBus bus(path, {FakeBus::CloseAfterRequest, FakeBus::Answer, FakeBus::Silent, FakeBus::Answer});
            QVERIFY(bus.ok());
            i2c = ui2c_create(path.toLocal8Bit().constData(), 0x72);
            QVERIFY(i2c && i2c->socket);
            const uint32_t w = 1;
            QCOMPARE(ui2c_write(i2c, 0x10, &w, 4), -ECONNRESET);
            QCOMPARE(ui2c_write(i2c, 0x10, &w, 4), 0);
            QElapsedTimer t;
            t.start();
            QCOMPARE(ui2c_write(i2c, 0x10, &w, 4), -ETIMEDOUT);
            QVERIFY(t.elapsed() < 3000);
            QCOMPARE(ui2c_write(i2c, 0x10, &w, 4), 0);
        }
        // The bus is gone (socket file left behind, nobody listening).
        clearLog();
        const uint32_t w = 2;
        QVERIFY(ui2c_write(i2c, 0x10, &w, 4) < 0);
        QCOMPARE(logCount("ui2c_write() ioctrl error,"), 1);
        ui2c_destroy(i2c);
        QVERIFY(!ui2c_create(path.toLocal8Bit().constData(), 0x72));
    }

    // The whole link against the real simulator on a temporary system root.
    void againstSimulator()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        ztest::Sim sim;
        QVERIFY(sim.start(root.path(), 10000));
        QVERIFY(QFileInfo(root.path() + "/dev/ttyS1").isSymLink());

        setRoot(root.path());
        clearLog();
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QVERIFY(radio);
        // This case writes the register block itself.
        radio->pushEnable.store(0);
        QVERIFY(g_zi2c && g_zi2c->socket);
        QTRY_COMPARE_WITH_TIMEOUT(zradio_comm_valid(), uint8_t(1), 10000);
        QVERIFY(radio->vextFlag.load());

        // Identification text over the I2C stand-in.
        char ident[ZRADIO_IDENT_LEN + 1];
        QCOMPARE(zradio_get_ident(ident, sizeof(ident)), 0);
        QVERIFY2(QByteArray(ident).startsWith("ZR450 BASEBAND"), ident);

        // Calibration block: 203 words and their CRC; a changed block is
        // sealed, written, stored with command 0x01 and reads back.
        uint32_t cal[ZRADIO_CALIB_WORDS + 1];
        QCOMPARE(zradio_read_remote_ram(ZRADIO_ADDR_CALIB, cal, ZRADIO_CALIB_LEN), 0);
        QCOMPARE(zcrc::calCRC32_STM32(cal, ZRADIO_CALIB_WORDS), cal[ZRADIO_CALIB_WORDS]);
        cal[5] = 0xCAFE0005;
        cal[ZRADIO_CALIB_WORDS] = zcrc::calCRC32_STM32(cal, ZRADIO_CALIB_WORDS);
        QCOMPARE(zradio_write_remote_ram(ZRADIO_ADDR_CALIB, cal, ZRADIO_CALIB_LEN), 0);
        const uint8_t store = ZRADIO_CMD_STORE_CALIB;
        QCOMPARE(zradio_send_cmd(&store, 1), 0);
        uint32_t back[ZRADIO_CALIB_WORDS + 1] = {};
        QCOMPARE(zradio_read_remote_ram(ZRADIO_ADDR_CALIB, back, ZRADIO_CALIB_LEN), 0);
        QVERIFY(std::memcmp(cal, back, sizeof(cal)) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(root.path() + "/var/lib/zr450-bbsim/calibration.bin").size()
                                     == ZRADIO_CALIB_LEN, 5000);

        // The register block as the push thread sends it: the whole block
        // at address 0, then single words. The board reports what it got.
        uint32_t regs[ZRADIO_REG_WORDS] = {};
        regs[1] = 14270000; // LO: the spectrum centre
        regs[2] = 0;
        regs[55] = 0x00100001;
        QCOMPARE(zradio_write_remote_ram(ZRADIO_ADDR_REGS, regs, sizeof(regs)), 0);
        const uint32_t rxvol = 30;
        QCOMPARE(zradio_write_remote_ram(4 * 14, &rxvol, 4), 0);
        const QString status = controlCommand(root.path(), "status");
        const QStringList f = status.split(' ');
        QCOMPARE(f.size(), 1 + ZRADIO_REG_WORDS + 4);
        QCOMPARE(f[0], QString("ok"));
        QCOMPARE(f[2], QString("00d9be30"));
        QCOMPARE(f[15], QString("0000001e"));
        QCOMPARE(f[56], QString("00100001"));
        QCOMPARE(f[57], QString("tx=0"));
        QCOMPARE(f[58], QString("atu=0"));
        QCOMPARE(f[59], QString("wifi=0"));
        QCOMPARE(f[60], QString("bt=0"));
        QVERIFY(controlCommand(root.path(), "bogus 1 2").startsWith("error"));

        // The carrier at 14.2715 MHz sits 1500 Hz above the LO: right of the
        // centre, inside the receive pass band, at about S9 (-73 dBm).
        std::vector<float> s;
        float peak = 0;
        QVERIFY(collect(20, s, peak));
        int top = int(std::max_element(s.begin() + 257, s.begin() + 272) - s.begin());
        QVERIFY2(top >= 262 && top <= 264, qPrintable(QString::number(top)));
        QVERIFY2(std::fabs(s[top] - (-80.0f)) < 3.0f, qPrintable(QString::number(s[top])));
        QVERIFY2(peak > -84.0f, qPrintable(QString::number(peak)));
        QVERIFY(s[300] < -110.0f); // noise floor

        // Tune the LO 20 kHz down: the carrier moves 20 kHz to the right and
        // the pass band holds only noise.
        const uint32_t lo = 14251500;
        QCOMPARE(zradio_write_remote_ram(4 * 1, &lo, 4), 0);
        QVERIFY(collect(25, s, peak));
        top = int(std::max_element(s.begin() + 340, s.begin() + 375) - s.begin());
        QVERIFY2(top >= 356 && top <= 358, qPrintable(QString::number(top)));
        QVERIFY(s[top] > -84.0f);
        QVERIFY2(peak < -100.0f, qPrintable(QString::number(peak)));

        // Another slave address is not acknowledged; a malformed transfer
        // costs only that connection.
        zradio_i2c_t *other = ui2c_create((root.path() + "/dev/i2c-0").toLocal8Bit().constData(), 0x50);
        QVERIFY(other);
        QCOMPARE(ui2c_write(other, 0, &lo, 4), -ENXIO);
        ui2c_destroy(other);
        {
            QLocalSocket raw;
            raw.connectToServer(root.path() + "/dev/i2c-0");
            QVERIFY(raw.waitForConnected(3000));
            raw.write(QByteArray(64, 'x'));
            raw.flush();
            QTRY_COMPARE_WITH_TIMEOUT(raw.state(), QLocalSocket::UnconnectedState, 5000);
        }
        QCOMPARE(zradio_get_ident(ident, sizeof(ident)), 0);

        bbframe_stats_t st;
        zradio_uartcomm_get_stats(&st);
        QVERIFY(st.frames >= 40);

        // Random transfers and junk on the bus socket, random control lines:
        // the simulator drops bad peers and goes on serving.
        std::mt19937 rng(99);
        for (int i = 0; i < 40; ++i) {
            QLocalSocket raw;
            raw.connectToServer(root.path() + "/dev/i2c-0");
            QVERIFY(raw.waitForConnected(3000));
            QByteArray junk;
            if (i % 2)
                junk = QByteArray("ZI") + char(rng() % 10) + char(rng() % 4 ? 0 : rng());
            for (int k = int(rng() % 400); k > 0; --k)
                junk.append(char(rng()));
            raw.write(junk);
            raw.flush();
            raw.waitForReadyRead(10);
            raw.abort();
        }
        for (int i = 0; i < 20; ++i) {
            QByteArray line;
            for (int k = int(rng() % 60); k > 0; --k)
                line.append(char(0x20 + rng() % 95));
            const QString reply = controlCommand(root.path(), line);
            QVERIFY2(reply.startsWith("error") || reply.startsWith("ok"), qPrintable(reply));
        }
        QCOMPARE(zradio_get_ident(ident, sizeof(ident)), 0);
        QVERIFY(controlCommand(root.path(), "status").startsWith("ok "));

        // The board goes away: comm-valid falls, transfers fail, no hang.
        QVERIFY(sim.stop());
        QTRY_COMPARE_WITH_TIMEOUT(zradio_comm_valid(), uint8_t(0), 5000);
        QVERIFY(zradio_get_roram(ident) < 0);
        zradio_destroy(radio);
        QVERIFY(!QFileInfo(root.path() + "/dev/ttyS1").isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestRadio)
#include "test_radio.moc"
