// CI-V control: the conversions at their edges, the command table with the
// documented examples, the parser against noise, split, merged and endless
// frames (and a randomized run), the idle duties and scope stream, the
// store shared with another thread, the transports on pseudo-terminals, and
// hamlib's rigctl for the IC-705 against the real simulator.
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "tests/test_support.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "app/zsystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <memory>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using ztest::clearLog;
using ztest::drainFd;
using ztest::logCount;

// ------------------------------------------------------------------- helpers

static QByteArray hx(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

static QString dump(const QByteArray &b)
{
    return CivDevice::packetDump(b).trimmed();
}

// Reads from fd until `count` complete CI-V frames (FD-terminated) arrived or
// the time is up.
static QByteArray readFrames(int fd, int count, int ms)
{
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (out.count(char(0xFD)) < count && t.elapsed() < ms) {
        pollfd p = { fd, POLLIN, 0 };
        if (poll(&p, 1, 10) > 0)
            out += drainFd(fd);
    }
    return out;
}

static bool writeAllFd(int fd, const QByteArray &data)
{
    return ztest::writeAll(fd, data.constData(), size_t(data.size()));
}

// A pseudo-terminal whose slave end is published at `link`; the test holds
// the master (the controller's side of the line).
struct TestPty : ztest::Pty {
    bool open(const QString &link) { return Pty::open(NonBlockingMaster) && Pty::link(link); }
};

static QString simControl(const QString &root, const QByteArray &cmd)
{
    return ztest::simCommand(root, cmd);
}

// --------------------------------------------------------------------- tests

class TestCiv : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    ZParamAdmin *m_store = nullptr;
    CivDevice *m_dev = nullptr;
    int m_sock[2] = { -1, -1 }; // [0] the interpreter's port, [1] the controller

    void setRoot(const QString &root) { ztest::setSysroot(root); }

    // One request through the parser; the bytes the controller receives.
    QByteArray ask(const QByteArray &request)
    {
        m_dev->receive(request);
        m_dev->slot_rxPhase();
        return drainFd(m_sock[1]);
    }
    QByteArray askBody(const char *bodyHex)
    {
        return ask(hx("FE FE A4 E0") + hx(bodyHex) + hx("FD"));
    }
    static QByteArray reply(const char *bodyHex, const char *to = "E0")
    {
        return hx("FE FE") + hx(to) + hx("A4") + hx(bodyHex) + hx("FD");
    }

    int wp(const char *key) { return m_store->paramItem("wparam", key).value.toInt(); }
    float wpf(const char *key) { return m_store->paramItem("wparam", key).value.toFloat(); }
    int front(const char *key) { return m_store->vfoFront(key).value.toInt(); }
    void setWp(const char *key, const QVariant &v) { m_store->setParamItem("wparam", key, v); }

    // Every item the interpreter may write still lies in its range.
    void verifyItemsInRange()
    {
        const char *wkeys[] = { "vi", "vm", "sple", "lock", "nbe", "nre", "dnfe", "cmpe", "voxe", "rxvol",
                                "rfg", "sqlthr", "nrthr", "cwtone", "txpwr", "hmicg", "ks", "dnfcnt",
                                "cmplevel", "qsktime", "nbthr", "monilevel", "voxg", "voxag", "bllevel",
                                "datamode", "repeater_tone", "sql_tone", "dtcs", "csql_dv", "rit", "fftref" };
        for (const char *k : wkeys) {
            const zparam_item_t it = m_store->paramItem("wparam", k);
            QVERIFY2(it.value.toDouble() >= it.min.toDouble() && it.value.toDouble() <= it.max.toDouble(),
                     qPrintable(QString("%1 = %2").arg(k, it.value.toString())));
        }
        for (const char *g : { "vfoa", "vfob" }) {
            for (const char *k : { "freq", "mode", "agc", "att", "pre" }) {
                const zparam_item_t it = m_store->paramItem(g, k);
                QVERIFY2(it.value.toInt() >= it.min.toInt() && it.value.toInt() <= it.max.toInt(),
                         qPrintable(QString("%1 %2 = %3").arg(g, k, it.value.toString())));
            }
        }
    }

    // The width rigctl reports for the current filter of a mode (Icom's
    // index back to Hz).
    static QString width(ZParamAdmin *store, int mode)
    {
        const ztwinfilter_t tf = store->twinFilter(mode);
        const float w = std::fabs(qMin(tf.fp1.high, tf.fp2.high) - qMax(tf.fp1.low, tf.fp2.low));
        const int i = CivDevice::filterWidthIndex(w, mode == 6);
        if (mode == 6)
            return QString::number((i + 1) * 200);
        return QString::number(i <= 9 ? (i + 1) * 50 : (i - 4) * 100);
    }

private slots:
    void initTestCase()
    {
        ztest::installLogCapture(20000);
        qRegisterMetaType<int32_t>("int32_t");
        QVERIFY(m_root.isValid());
        QDir().mkpath(m_root.path() + "/app");
        QDir().mkpath(m_root.path() + "/dev");
        setRoot(m_root.path());
        m_store = new ZParamAdmin(nullptr);
        m_dev = new CivDevice(nullptr);
        m_dev->setParams(m_store, QString(), 14);
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, m_sock), 0);
        m_dev->attachPorts(m_sock[0], -1);
    }

    void cleanupTestCase()
    {
        delete m_dev;
        delete m_store;
        close(m_sock[0]);
        close(m_sock[1]);
        setRoot(QString());
    }

    // A test that failed early leaves no radio link behind, and the shared
    // system root in place again.
    void cleanup()
    {
        if (g_zradio)
            zradio_destroy(g_zradio);
        setRoot(m_root.path());
    }

    void init()
    {
        // A known radio: VFO A at 14.074 MHz USB, VFO B at 7.05 MHz LSB.
        setWp("vi", 0);
        setWp("vm", 0);
        m_store->setParamItem("vfoa", "mode", 2);
        m_store->setVfoFront("freq", 14074000);
        m_store->setParamItem("vfob", "mode", 0);
        m_store->setParamItem("vfob", "freq", 7050000);
        m_store->setTwinFilterGroupIndex(0);
        setWp("datamode", 0);
        setWp("sple", 0);
        m_store->txPowerMax = 10.0f;
        m_store->modified = false;
        drainFd(m_sock[1]);
        clearLog();
    }

    // ---- conversions ----

    void frequencyBcd()
    {
        QCOMPARE(dump(CivDevice::freq2bcd(14074000)), QString("00 40 07 14 00"));
        QCOMPARE(dump(CivDevice::freq2bcd(0)), QString("00 00 00 00 00"));
        QCOMPARE(dump(CivDevice::freq2bcd(99999999)), QString("99 99 99 99 00"));
        QCOMPARE(dump(CivDevice::freq2bcd(-5)), QString("00 00 00 00 00"));
        QCOMPARE(CivDevice::bcd2freq(hx("00 40 07 14 00")), 14074000);
        QCOMPARE(CivDevice::bcd2freq(hx("89 67 45 23 01")), 123456789);
        QCOMPARE(CivDevice::bcd2freq(hx("00 40 07 14")), 0); // fewer than 5 bytes
        QCOMPARE(CivDevice::bcd2freq(QByteArray()), 0);
        // Nibbles are not checked; ten digits of 15 saturate instead of
        // overflowing.
        QCOMPARE(CivDevice::bcd2freq(hx("FF FF FF FF FF")), std::numeric_limits<int>::max());
        QCOMPARE(CivDevice::bcd2freq(hx("0A 00 00 00 00")), 10);
        for (int f : { 1, 500000, 1810000, 29999999, 54999990 })
            QCOMPARE(CivDevice::bcd2freq(CivDevice::freq2bcd(f)), f);

        QCOMPARE(dump(CivDevice::int2bcd_2bytes(127)), QString("01 27"));
        QCOMPARE(dump(CivDevice::int2bcd_2bytes(0)), QString("00 00"));
        QCOMPARE(dump(CivDevice::int2bcd_2bytes(9999)), QString("99 99"));
        QCOMPARE(dump(CivDevice::int2bcd_2bytes(12345)), QString("99 99"));
        QCOMPARE(dump(CivDevice::int2bcd_2bytes(-1)), QString("00 00"));
        QCOMPARE(CivDevice::bcd2int_2bytes(hx("02 55")), 255);
        QCOMPARE(CivDevice::bcd2int_2bytes(hx("99 99")), 9999);
        QCOMPARE(CivDevice::bcd2int_2bytes(hx("42")), 42);
        QCOMPARE(CivDevice::bcd2int_2bytes(QByteArray()), 0);
        QCOMPARE(CivDevice::packetDump(hx("FE 0A")), QString(" FE 0A"));
    }

    void modesAndBands()
    {
        const int civ[8] = { 0x00, 0x00, 0x01, 0x01, 0x03, 0x07, 0x02, 0x05 };
        const int data[8] = { 0, 1, 0, 1, 0, 0, 0, 0 };
        for (int m = 0; m < 8; ++m) {
            uint8_t d = 9;
            QCOMPARE(int(CivDevice::zrmode2civmode(m, &d)), civ[m]);
            QCOMPARE(int(d), data[m]);
            QCOMPARE(CivDevice::civmode2zrmode(uint8_t(civ[m]), d), m); // round trip
        }
        uint8_t d = 9;
        QCOMPARE(int(CivDevice::zrmode2civmode(8, &d)), 0xFA);
        QCOMPARE(int(d), 0);
        QCOMPARE(int(CivDevice::zrmode2civmode(-1, nullptr)), 0xFA);
        QCOMPARE(CivDevice::civmode2zrmode(0x00, 5), 1);
        QCOMPARE(CivDevice::civmode2zrmode(0x01, 0xFF), 3);
        for (int c : { 0x04, 0x06, 0x08, 0x17, 0xFF })
            QCOMPARE(CivDevice::civmode2zrmode(uint8_t(c), 0), 8);

        CivDevice &dv = *m_dev;
        const int ex[8] = { 0x00, 0x00, 0x01, 0x01, 0x03, 0x07, 0x02, 0x05 };
        for (int m = 0; m < 8; ++m)
            QCOMPARE(dv.zrm2civm_ex(m), ex[m]);
        QCOMPARE(dv.zrm2civm_ex(9), 0x00);
        const int back[9] = { 0, 2, 6, 4, 0, 7, 7, 5, 0 };
        for (int c = 0; c < 9; ++c)
            QCOMPARE(dv.civm2zrm_ex(c), back[c]);
        // Invokable, as the window's dialogs reach them.
        int r = -1;
        QVERIFY(QMetaObject::invokeMethod(m_dev, "civm2zrm_ex", Qt::DirectConnection, Q_RETURN_ARG(int, r),
                                          Q_ARG(int, 3)));
        QCOMPARE(r, 4);

        const int zr[11] = { 1, 1, 3, 7, 9, 11, 13, 15, 17, 19, 21 };
        for (int c = 0; c <= 10; ++c)
            QCOMPARE(CivDevice::civbs2zrbs(c), zr[c]);
        QCOMPARE(CivDevice::civbs2zrbs(0x10), 21);
        QCOMPARE(CivDevice::civbs2zrbs(-3), 1);
        // The inverse on every ham band; 60 m and the gaps give the band below.
        for (int c = 1; c <= 10; ++c)
            QCOMPARE(CivDevice::zrbs2civbs(CivDevice::civbs2zrbs(c)), c);
        QCOMPARE(CivDevice::zrbs2civbs(5), 2);
        QCOMPARE(CivDevice::zrbs2civbs(8), 3);
        QCOMPARE(CivDevice::zrbs2civbs(0), 1);
        QCOMPARE(CivDevice::zrbs2civbs(22), 10);
        QCOMPARE(CivDevice::zrbs2civbs(99), 10);
    }

    void meterAndWidthScales()
    {
        QCOMPARE(CivDevice::sMeterValue(-124.0f), 0);
        QCOMPARE(CivDevice::sMeterValue(-123.0f), 13);
        QCOMPARE(CivDevice::sMeterValue(-75.0f), 120);
        QCOMPARE(CivDevice::sMeterValue(-15.0f), 242);
        QCOMPARE(CivDevice::sMeterValue(-10.0f), 242);
        QCOMPARE(CivDevice::sMeterValue(std::nanf("")), 0);
        QCOMPARE(CivDevice::swrMeterValue(1.0f), 0);
        QCOMPARE(CivDevice::swrMeterValue(1.5f), 48);
        QCOMPARE(CivDevice::swrMeterValue(2.0f), 80);
        QCOMPARE(CivDevice::swrMeterValue(3.0f), 120);
        QCOMPARE(CivDevice::swrMeterValue(50.0f), 255);
        QCOMPARE(CivDevice::swrMeterValue(0.0f), 0);
        QCOMPARE(CivDevice::swrMeterValue(std::nanf("")), 0);
        QCOMPARE(CivDevice::alcMeterValue(255.0f), 0);
        QCOMPARE(CivDevice::alcMeterValue(0.0f), 120);
        QCOMPARE(CivDevice::alcMeterValue(-1000.0f), 120);
        QCOMPARE(CivDevice::vdMeterValue(5.0f), 75);
        QCOMPARE(CivDevice::vdMeterValue(16.0f), 241);
        QCOMPARE(CivDevice::vdMeterValue(30.0f), 255);
        QCOMPARE(CivDevice::vdMeterValue(-1.0f), 0);
        QCOMPARE(CivDevice::scopeByte(-145.0f), 0);
        QCOMPARE(CivDevice::scopeByte(0.0f), 160);
        QCOMPARE(CivDevice::scopeByte(-200.0f), 0);
        QCOMPARE(CivDevice::scopeByte(20.0f), 160);
        QCOMPARE(CivDevice::scopeByte(std::nanf("")), 0);
        QCOMPARE(CivDevice::scopeByte(std::numeric_limits<float>::infinity()), 160);

        // Icom's width index: 50 Hz steps to 500 Hz, then 100 Hz steps.
        QCOMPARE(int(CivDevice::filterWidthIndex(50, false)), 0);
        QCOMPARE(int(CivDevice::filterWidthIndex(500, false)), 9);
        QCOMPARE(int(CivDevice::filterWidthIndex(600, false)), 10);
        QCOMPARE(int(CivDevice::filterWidthIndex(2400, false)), 28);
        QCOMPARE(int(CivDevice::filterWidthIndex(3600, false)), 40);
        QCOMPARE(int(CivDevice::filterWidthIndex(9000, false)), 49);
        QCOMPARE(int(CivDevice::filterWidthIndex(0, false)), 0);
        QCOMPARE(int(CivDevice::filterWidthIndex(200, true)), 0);
        QCOMPARE(int(CivDevice::filterWidthIndex(6000, true)), 29);
        QCOMPARE(int(CivDevice::filterWidthIndex(20000, true)), 49);
    }

    // ---- the command table ----

    void frequencyAndMode()
    {
        // The documented examples.
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), hx("FE FE E0 A4 03 00 40 07 14 00 FD"));
        QCOMPARE(ask(hx("FE FE A4 E0 05 00 50 07 14 00 FD")), hx("FE FE E0 A4 FB FD"));
        QCOMPARE(front("freq"), 14075000);
        int plo = 0, dlo = 0;
        m_store->loFrequencies(&plo, &dlo);
        QCOMPARE(plo + dlo, 14075000); // the radio really tunes there
        // Any destination is answered, always from A4h, to the sender.
        QCOMPARE(ask(hx("FE FE 94 E0 03 FD")), hx("FE FE E0 A4 03 00 50 07 14 00 FD"));
        QCOMPARE(ask(hx("FE FE A4 E1 03 FD")), hx("FE FE E1 A4 03 00 50 07 14 00 FD"));
        QCOMPARE(int(m_dev->controllerAddress()), 0xE1);
        QCOMPARE(askBody("00 00 00 10 07 00"), reply("FB")); // transceive form
        QCOMPARE(front("freq"), 7100000);
        // Out of the VFO's range: refused, nothing changed.
        QCOMPARE(askBody("05 00 00 00 00 01"), reply("FA"));
        QCOMPARE(askBody("05 99 99 99 99 99"), reply("FA"));
        QCOMPARE(front("freq"), 7100000);
        QVERIFY(askBody("03 00").isEmpty()); // wrong length: unsupported
        QVERIFY(logCount("INFO: Unsupport packet, frame size = 4, packet = A4 E0 03 00") == 1);

        // Mode with the filter group.
        QCOMPARE(askBody("04"), reply("04 01 01"));
        QCOMPARE(askBody("06 03 02"), reply("FB"));
        QCOMPARE(front("mode"), 4);
        QCOMPARE(m_store->twinFilterGroupIndex(), 1);
        QCOMPARE(askBody("04"), reply("04 03 02"));
        QCOMPARE(askBody("01 07 00"), reply("FB")); // filter 0 keeps the group
        QCOMPARE(front("mode"), 5);
        QCOMPARE(askBody("04 04 09"), reply("FB")); // RTTY becomes LSB
        QCOMPARE(front("mode"), 0);
        QCOMPARE(askBody("04"), reply("04 00 01"));
        QCOMPARE(askBody("02"), reply("02 00 00 50 00 00 2D 00 00 00 30 00"));
    }

    void vfoAndSplit()
    {
        // Back to VFO mode restores the VFO that memory mode put aside.
        m_store->setVfoMemoMode(1); // saves the VFOs (no channel: stays in VFO mode)
        setWp("vm", 1);
        m_store->setParamItem("vfoa", "freq", 3550000); // a channel's frequency
        QCOMPARE(askBody("07"), reply("FB"));
        QCOMPARE(wp("vm"), 0);
        QCOMPARE(front("freq"), 14074000);
        m_store->setParamItem("vfoa", "freq", 14074100); // VFO mode: nothing to restore
        QCOMPARE(askBody("07"), reply("FB"));
        QCOMPARE(front("freq"), 14074100);
        m_store->setVfoFront("freq", 14074000);
        QCOMPARE(askBody("07 01"), reply("FB"));
        QCOMPARE(wp("vi"), 1);
        QCOMPARE(front("freq"), 7050000);
        QCOMPARE(askBody("07 00"), reply("FB"));
        QCOMPARE(wp("vi"), 0);
        QCOMPARE(askBody("07 B0"), reply("FB")); // exchange: steps the selection
        QCOMPARE(wp("vi"), 1);
        QCOMPARE(askBody("07 B0"), reply("FB"));
        QCOMPARE(wp("vi"), 0);
        QVERIFY(askBody("07 D0").isEmpty());
        QCOMPARE(askBody("0C"), reply("0C 00 00 00"));

        QCOMPARE(askBody("0F"), reply("0F 00"));
        QCOMPARE(askBody("0F 01"), reply("FB"));
        QCOMPARE(wp("sple"), 1);
        QCOMPARE(askBody("0F"), reply("0F 01"));
        QCOMPARE(askBody("0F 12"), reply("FB")); // duplex sub-commands: OK, nothing changes
        QCOMPARE(wp("sple"), 1);
        QCOMPARE(askBody("0F 05 07"), reply("0F 05 01"));
        QCOMPARE(askBody("0F 00"), reply("FB"));
        QCOMPARE(wp("sple"), 0);
        QCOMPARE(askBody("0F 00 00 00"), reply("FA"));
        QCOMPARE(logCount("CIV SPLT ERROR,frame size="), 1);

        // The selected and the other VFO.
        QCOMPARE(askBody("25 00"), reply("25 00 00 40 07 14 00"));
        QCOMPARE(askBody("25 01"), reply("25 01 00 00 05 07 00"));
        QCOMPARE(askBody("25 01 00 00 10 07 00"), reply("FB"));
        QCOMPARE(m_store->paramItem("vfob", "freq").value.toInt(), 7100000);
        QCOMPARE(askBody("25 00 00 00 20 14 00"), reply("FB"));
        QCOMPARE(front("freq"), 14200000);
        QCOMPARE(askBody("25 01 00 00 00 00 01"), reply("FA")); // 100 MHz
        QVERIFY(askBody("25 00 00").isEmpty());

        QCOMPARE(askBody("26 00"), reply("26 00 01 00 01"));
        QCOMPARE(askBody("26 01"), reply("26 01 00 00 01"));
        QCOMPARE(askBody("26 00 01 01 02"), reply("FB")); // USB with data, filter 2
        QCOMPARE(front("mode"), 3);
        QCOMPARE(m_store->twinFilterGroupIndex(), 1);
        QCOMPARE(askBody("26 00"), reply("26 00 01 01 02"));
        QCOMPARE(askBody("26 01 03 00 09"), reply("FB")); // other VFO CW; filter clamped to 3
        QCOMPARE(m_store->paramItem("vfob", "mode").value.toInt(), 4);
        QCOMPARE(front("mode"), 3);
        QCOMPARE(askBody("26 00 05 00 00"), reply("FB")); // FM, filter 0 taken as 1
        QCOMPARE(front("mode"), 7);
        QCOMPARE(m_store->twinFilterGroupIndex(), 0);
        // RTTY and WFM do not exist here: refused, the mode stays.
        QCOMPARE(askBody("26 00 04 00 01"), reply("FA"));
        QCOMPARE(askBody("26 00 06 00 01"), reply("FA"));
        QCOMPARE(front("mode"), 7);
        QVERIFY(askBody("26 00 01").isEmpty());
        QCOMPARE(logCount("CMD = 0x26, size ="), 1);
    }

    void levels()
    {
        setWp("cwtone", 600);
        QCOMPARE(askBody("14 09"), reply("14 09 01 27"));
        setWp("cwtone", 1200);
        QCOMPARE(askBody("14 09"), reply("14 09 02 55"));
        QCOMPARE(askBody("14 09 00 00"), reply("FB"));
        QCOMPARE(wp("cwtone"), 400); // 300 Hz is below the item's range
        QCOMPARE(askBody("14 09 01 27"), reply("FB"));
        QCOMPARE(wp("cwtone"), 598);

        // Rated 5 W: full scale is level 127, i.e. 4 W (integer scaling).
        m_store->txPowerMax = 5.0f;
        QCOMPARE(askBody("14 0A 02 55"), reply("FB"));
        QCOMPARE(wpf("txpwr"), 4.0f);
        QVERIFY(m_store->modified.exchange(false));
        QCOMPARE(askBody("14 0A"), reply("14 0A 01 02"));
        QCOMPARE(askBody("14 0A 00 00"), reply("FB"));
        QCOMPARE(wpf("txpwr"), 0.1f); // never below the item's minimum
        m_store->txPowerMax = 10.0f;

        setWp("rxvol", 30);
        QCOMPARE(askBody("14 01"), reply("14 01 01 39"));
        QCOMPARE(askBody("14 01 00 76"), reply("FB"));
        QCOMPARE(wp("rxvol"), 16);
        QCOMPARE(askBody("14 01 02 55"), reply("FB"));
        QCOMPARE(wp("rxvol"), 55);
        QCOMPARE(askBody("14 01 03 00"), reply("FA")); // levels end at 0255
        QCOMPARE(wp("rxvol"), 55);
        setWp("ks", 6);
        QCOMPARE(askBody("14 0C"), reply("14 0C 00 00"));
        setWp("ks", 48);
        QCOMPARE(askBody("14 0C"), reply("14 0C 02 55"));
        setWp("ks", 27);
        QCOMPARE(askBody("14 0C"), reply("14 0C 01 27"));
        QCOMPARE(askBody("14 0C 02 55"), reply("FB"));
        QCOMPARE(wp("ks"), 48);
        QCOMPARE(askBody("14 07"), reply("14 07 01 28"));
        QCOMPARE(askBody("14 13"), reply("14 13 00 00"));
        QCOMPARE(askBody("14 42"), reply("14 42 02 55"));
        QCOMPARE(askBody("14 42 01 00"), reply("FB")); // unknown level: OK, nothing set
        setWp("bllevel", 10);
        QCOMPARE(askBody("14 19"), reply("14 19 02 55"));
        QCOMPARE(askBody("14 19 00 00"), reply("FB"));
        QCOMPARE(wp("bllevel"), 1);
        QVERIFY(askBody("14 01 00").isEmpty());
    }

    void metersAndSwitches()
    {
        m_store->signalLevel = -75.0f;
        QCOMPARE(askBody("15 02"), reply("15 02 01 20"));
        m_store->signalLevel = -10.0f;
        QCOMPARE(askBody("15 02"), reply("15 02 02 42"));
        m_store->sqlOpen = 1;
        QCOMPARE(askBody("15 01"), reply("15 01 00 01"));
        m_store->fwdPower = 37.8f;
        QCOMPARE(askBody("15 11"), reply("15 11 00 37"));
        m_store->fwdPower = -3.0f;
        QCOMPARE(askBody("15 11"), reply("15 11 00 00"));
        m_store->swr = 2.0f;
        QCOMPARE(askBody("15 12"), reply("15 12 00 80"));
        m_store->alcLevel = 255.0f;
        QCOMPARE(askBody("15 13"), reply("15 13 00 00"));
        m_store->vsupply = 16.0f;
        QCOMPARE(askBody("15 15"), reply("15 15 02 41"));
        QCOMPARE(askBody("15 05"), reply("15 05 00 00"));
        QCOMPARE(askBody("15 77"), reply("15 77 02 55"));
        m_store->signalLevel = -145.0f;
        m_store->sqlOpen = 0;
        m_store->fwdPower = 0.0f;

        m_store->setVfoFront("agc", 1);
        QCOMPARE(askBody("16 12"), reply("16 12 02"));
        QCOMPARE(askBody("16 12 01"), reply("FB"));
        QCOMPARE(front("agc"), 2);
        QCOMPARE(askBody("16 12 07"), reply("FB"));
        QCOMPARE(front("agc"), 3);
        QCOMPARE(askBody("16 12 00"), reply("FB"));
        QCOMPARE(front("agc"), 0);
        QCOMPARE(askBody("16 02 05"), reply("FB"));
        QCOMPARE(front("pre"), 1);
        QCOMPARE(askBody("16 02"), reply("16 02 01"));
        QCOMPARE(askBody("16 22 01"), reply("FB"));
        QCOMPARE(wp("nbe"), 1);
        QCOMPARE(askBody("16 22"), reply("16 22 01"));
        QCOMPARE(askBody("16 22 02"), reply("FA")); // not a switch value
        QCOMPARE(wp("nbe"), 1);
        QCOMPARE(askBody("16 50 01"), reply("FB"));
        QCOMPARE(wp("lock"), 1);
        QCOMPARE(askBody("16 50 00"), reply("FB"));
        m_store->charging = 1;
        QCOMPARE(askBody("16 60"), reply("16 60 01"));
        QCOMPARE(askBody("16 60 00"), reply("FB"));
        QCOMPARE(int(m_store->charging.load()), 1);
        m_store->charging = 0;
        QCOMPARE(askBody("16 99"), reply("16 99 00"));
        QCOMPARE(askBody("16"), reply("FA"));
        QCOMPARE(askBody("16 22 01 01"), reply("FA"));

        // Attenuator: 00 off, anything else on (Icom peers send 20h).
        QCOMPARE(askBody("11 20"), reply("FB"));
        QCOMPARE(front("att"), 1);
        QCOMPARE(askBody("11"), reply("11 01"));
        QCOMPARE(askBody("11 00"), reply("FB"));
        QCOMPARE(front("att"), 0);
    }

    void items1A()
    {
        QCOMPARE(askBody("1A"), reply("FA"));
        QCOMPARE(askBody("1A 01"), reply("1A 01 05 02")); // 20 m
        setWp("lock", 1);
        QCOMPARE(askBody("1A 05 00 62"), reply("1A 05 01"));
        QCOMPARE(askBody("1A 05 01 23"), reply("1A 05 00"));
        QCOMPARE(askBody("1A 05 00 62 00"), reply("FB"));
        QCOMPARE(wp("lock"), 0);
        QCOMPARE(askBody("1A 05 00 62 07"), reply("FA"));
        QCOMPARE(askBody("1A 05 01 11 07"), reply("FB")); // other items: nothing
        QVERIFY(askBody("1A 05 00 62 00 00").isEmpty()); // not 01 66
        QVERIFY(askBody("1A 05 00").isEmpty());

        QSignalSpy time(m_dev, &CivDevice::sig_setTimeMinSec);
        QSignalSpy utc(m_dev, &CivDevice::sig_setUtcOffset);
        QSignalSpy date(m_dev, &CivDevice::sig_setDate);
        QCOMPARE(askBody("1A 05 01 66 12 34"), reply("FB"));
        QCOMPARE(time.size(), 1);
        QCOMPARE(time.at(0).at(0).toInt(), 12);
        QCOMPARE(time.at(0).at(1).toInt(), 34);
        QCOMPARE(askBody("1A 05 01 70 05 30 01"), reply("FB"));
        QCOMPARE(utc.at(0).at(0).toInt(), -530);
        QCOMPARE(askBody("1A 05 01 70 09 00 00"), reply("FB"));
        QCOMPARE(utc.at(1).at(0).toInt(), 900);
        QCOMPARE(askBody("1A 05 01 65 20 24 03 15"), reply("FB"));
        QCOMPARE(date.size(), 1);
        QCOMPARE(date.at(0).at(0).toInt(), 2024);
        QCOMPARE(date.at(0).at(1).toInt(), 3);
        QCOMPARE(date.at(0).at(2).toInt(), 15);
        QVERIFY(askBody("1A 05 01 66 20 24 03 15").isEmpty());

        // Filter width of the current twin filter, in BCD.
        const ztwinfilter_t tf = m_store->twinFilter();
        const float w = std::fabs(qMin(tf.fp1.high, tf.fp2.high) - qMax(tf.fp1.low, tf.fp2.low));
        const int idx = CivDevice::filterWidthIndex(w, false);
        QCOMPARE(askBody("1A 03"), reply(qPrintable(QString("1A 03 %1%2").arg(idx / 10).arg(idx % 10))));
        QCOMPARE(askBody("1A 03 10"), reply("1A 03 FB"));
        QVERIFY(askBody("1A 03 10 10").isEmpty());

        // Data mode.
        QCOMPARE(askBody("1A 06"), reply("1A 06 00 01"));
        QCOMPARE(askBody("1A 06 01 02"), reply("FB"));
        QCOMPARE(front("mode"), 3);
        QCOMPARE(wp("datamode"), 1);
        QCOMPARE(m_store->twinFilterGroupIndex(), 1);
        QCOMPARE(askBody("1A 06"), reply("1A 06 01 02"));
        QCOMPARE(askBody("1A 06 00 00"), reply("FB"));
        QCOMPARE(front("mode"), 2);
        QCOMPARE(m_store->twinFilterGroupIndex(), 1);
        QCOMPARE(askBody("1A 06 03 01"), reply("FA"));
        QCOMPARE(front("mode"), 2);
        // A data flag left set turns plain USB into USB-DIG when read.
        setWp("datamode", 1);
        QCOMPARE(askBody("1A 06"), reply("1A 06 01 02"));
        QCOMPARE(front("mode"), 3);

        // Band-stack record of 20 m.
        const QByteArray rec = askBody("1A 01 05 01");
        const zparam_memo_t memo = m_store->getBandStackItem(11);
        uint8_t data = 0;
        const uint8_t civ = CivDevice::zrmode2civmode(memo.vfoa.value("mode").value.toInt(), &data);
        QByteArray body = hx("1A 01 05 01") + CivDevice::freq2bcd(memo.vfoa.value("freq").value.toInt());
        body += char(civ);
        body += char(m_store->twinFilterGroupIndex() + 1);
        body += char(data);
        body += hx("00 00 00 08 85 00 08 85 00 00 23 00 00 00 00") + QByteArray("ZR450") + QByteArray(19, ' ');
        QCOMPARE(dump(rec), dump(hx("FE FE E0 A4") + body + hx("FD")));
        QVERIFY(askBody("1A 01 05").isEmpty());
        QCOMPARE(logCount("CMD 1A 01"), 1);
        QVERIFY(askBody("1A 99").isEmpty());
    }

    void tonesTransmitRit()
    {
        setWp("dtcs", 0x123456);
        QCOMPARE(askBody("1B 02"), reply("1B 02 12 34 56"));
        QCOMPARE(askBody("1B 00 00 03 E8"), reply("FB"));
        QCOMPARE(wp("repeater_tone"), 1000);
        QCOMPARE(askBody("1B 01 00 03 E9"), reply("FA"));
        QCOMPARE(askBody("1B 07 63"), reply("FB"));
        QCOMPARE(askBody("1B 07"), reply("1B 07 63"));
        QCOMPARE(askBody("1B 07 64"), reply("FA"));
        QCOMPARE(askBody("1B 05"), reply("1B 05"));
        QCOMPARE(askBody("1B 05 01 02 03"), reply("FB"));
        QVERIFY(askBody("1B 01 01").isEmpty());

        QSignalSpy trx(m_dev, &CivDevice::sig_setTrxStatus);
        QSignalSpy atu(m_dev, &CivDevice::sig_setAtuStatus);
        m_store->trxState = 1;
        m_store->atuActive = 1;
        QCOMPARE(askBody("1C"), reply("1C 01"));
        QCOMPARE(askBody("1C 00"), reply("1C 00 01"));
        QCOMPARE(askBody("1C 01"), reply("1C 01 01"));
        QCOMPARE(askBody("1C 02"), reply("1C 02 00"));
        m_store->trxState = 0;
        m_store->atuActive = 0;
        QCOMPARE(askBody("1C 00 01"), reply("FB"));
        QCOMPARE(askBody("1C 01 02"), reply("FB"));
        QCOMPARE(askBody("1C 05 01"), reply("FB"));
        QCOMPARE(trx.size(), 1);
        QCOMPARE(trx.at(0).at(0).toInt(), 1);
        QCOMPARE(atu.size(), 1);
        QCOMPARE(atu.at(0).at(0).toInt(), 2);
        QCOMPARE(askBody("1D 19"), reply("1D 19 61 00"));
        QVERIFY(askBody("1D 18").isEmpty());
        QCOMPARE(askBody("19 00"), reply("19 00 A4"));
        // Power state, as an IC-705 answers while it is on.
        QCOMPARE(askBody("18"), reply("18 01"));
        QCOMPARE(askBody("18 01"), reply("FB"));
        QCOMPARE(askBody("18 00"), reply("FA"));

        setWp("rit", -1230);
        QCOMPARE(askBody("21 00"), reply("21 00 30 12 01"));
        QCOMPARE(askBody("21 01"), reply("21 01 01"));
        setWp("xit", 0);
        QCOMPARE(askBody("21 02"), reply("21 02 00"));
        QCOMPARE(askBody("21 00 50 04 00"), reply("FB"));
        QCOMPARE(wp("rit"), 450);
        QCOMPARE(askBody("21 00 00 15 01"), reply("FB"));
        QCOMPARE(wp("rit"), -1500);
        QCOMPARE(askBody("21 00 00 20 00"), reply("FA")); // beyond 1.5 kHz
        QCOMPARE(wp("rit"), -1500);
        setWp("rit", 0);
        QCOMPARE(askBody("21 01"), reply("21 01 00"));
        QVERIFY(askBody("21 05").isEmpty());
    }

    void scopeCommandsAndStream()
    {
        QVector<float> trace(CIV_SCOPE_POINTS);
        for (int i = 0; i < trace.size(); ++i)
            trace[i] = -145.0f + float(i % 146);
        m_dev->slot_scopeDataReceiver(trace);
        QByteArray expTrace;
        for (float v : trace)
            expTrace += char(CivDevice::scopeByte(v));
        QCOMPARE(askBody("27 00"), reply("27 00 00 00 01 00 00 00" + expTrace.toHex(' ')));
        QCOMPARE(askBody("27 10"), reply("27 10 01"));
        QCOMPARE(askBody("27 13"), reply("27 13 00"));
        QCOMPARE(askBody("27 16"), reply("27 16 00 00"));
        QCOMPARE(askBody("27 15"), reply("27 15 00 00 00 05 00 00"));
        QCOMPARE(askBody("27 15 01"), reply("27 15 00 00 00 05 00 00"));
        QCOMPARE(askBody("27 19"), reply("27 19 00 00 00 01"));
        QCOMPARE(askBody("27 1A"), reply("27 1A"));
        QCOMPARE(askBody("27 12 01"), reply("FB"));
        QCOMPARE(askBody("27 12 01 02"), reply("FB"));
        QCOMPARE(askBody("27 12 01 02 03 04 05 06"), reply("FB"));
        QCOMPARE(askBody("27 19 00 15 00 00"), reply("FB"));
        QCOMPARE(wp("fftref"), 10);
        QCOMPARE(askBody("27 19 00 07 00 01"), reply("FB"));
        QCOMPARE(wp("fftref"), -7);
        QVERIFY(askBody("27 18 00 07 00 01").isEmpty());
        QVERIFY(askBody("27 12 01 02 03").isEmpty());

        // The stream goes to the Bluetooth port every 100 ms while a trace
        // is ready, never to the wired one.
        int bt[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, bt), 0);
        m_dev->attachPorts(m_sock[0], bt[0]);
        QCOMPARE(askBody("27 11 01"), reply("FB"));
        drainFd(bt[1]);
        QVERIFY(m_dev->scopeStreaming());
        trace.fill(-65.0f);
        int frames = 0;
        for (int i = 0; i < 20; ++i) {
            m_dev->slot_scopeDataReceiver(trace); // ignored while a trace waits
            m_dev->slot_rxPhase();
            const QByteArray got = drainFd(bt[1]);
            if (!got.isEmpty()) {
                ++frames;
                QByteArray exp = hx("FE FE E0 A4 27 00 00 01 01 00") + CivDevice::freq2bcd(front("freq"))
                    + hx("00 00 50 02 00 00") + QByteArray(CIV_SCOPE_POINTS, char(88)) + hx("FD");
                QCOMPARE(got, exp);
            }
        }
        QCOMPARE(frames, 10);
        QVERIFY(drainFd(m_sock[1]).isEmpty());

        // Ten seconds of silence end a CI-V transmission once and stop the
        // stream until it is asked for again.
        QSignalSpy trx(m_dev, &CivDevice::sig_setTrxStatus);
        for (int i = 0; i < 450; ++i)
            m_dev->slot_rxPhase();
        QCOMPARE(trx.size(), 1);
        QCOMPARE(trx.at(0).at(0).toInt(), 0);
        QCOMPARE(logCount("civ timeout."), 1);
        QCOMPARE(logCount("flush rfcomm I/O buffer."), 1);
        QVERIFY(!m_dev->scopeStreaming());
        drainFd(bt[1]);
        m_dev->slot_scopeDataReceiver(trace);
        m_dev->slot_rxPhase();
        m_dev->slot_rxPhase();
        QVERIFY(drainFd(bt[1]).isEmpty());
        QCOMPARE(askBody("27 11 01"), reply("FB"));
        QVERIFY(m_dev->scopeStreaming());
        QCOMPARE(m_dev->idleCount(), 1);

        m_dev->attachPorts(m_sock[0], -1);
        close(bt[0]);
        close(bt[1]);
        QByteArray body;
        m_dev->loadScopeData(body);
        QCOMPARE(body.size(), 6 + 5 + 6 + CIV_SCOPE_POINTS);
    }

    // ---- the parser ----

    void parserFraming()
    {
        const QByteArray freqReply = reply("03 00 40 07 14 00");
        // Noise around a frame, a frame split byte by byte over calls, and
        // three frames in one read.
        QCOMPARE(ask(hx("00 13 FD 77 FE FE A4 E0 03 FD 55")), freqReply);
        const QByteArray req = hx("FE FE A4 E0 03 FD");
        for (int i = 0; i < req.size() - 1; ++i)
            QVERIFY(ask(req.mid(i, 1)).isEmpty());
        QCOMPARE(ask(req.right(1)), freqReply);
        QCOMPARE(ask(req + hx("FE FE A4 E0 04 FD") + req), freqReply + reply("04 01 01") + freqReply);

        // A third FE belongs to the frame: FE A4 E0 03 has the command E0h.
        QVERIFY(ask(hx("FE FE FE A4 E0 03 FD")).isEmpty());
        QCOMPARE(m_dev->parserState(), 0);
        QVERIFY(ask(hx("FE FE FE 94 E0 03 FD")).isEmpty());
        QCOMPARE(logCount("frame size = 4, packet = FE 94 E0 03"), 1);
        // A lone FE keeps the parser hunting for the second; bytes between
        // are lost.
        QCOMPARE(ask(hx("FE 03 FD 04 FE A4 E0 03 FD")), freqReply);
        QVERIFY(ask(hx("FE 11 22")).isEmpty());
        QCOMPARE(m_dev->parserState(), 1);
        QCOMPARE(ask(hx("FE A4 E0 03 FD")), freqReply);

        // Frames of 0 and 1 bytes: no reply; 2 bytes: NG to the sender.
        QVERIFY(ask(hx("FE FE FD")).isEmpty());
        QVERIFY(ask(hx("FE FE E0 FD")).isEmpty());
        QCOMPARE(ask(hx("FE FE A4 E2 FD")), reply("FA", "E2"));
        // Our own replies heard back on an echoing bus are not requests.
        QVERIFY(ask(hx("FE FE E0 A4 04 03 01 FD")).isEmpty());
        QCOMPARE(front("mode"), 2);
        QCOMPARE(ask(req), freqReply);
    }

    void unsupportedLogIsBounded()
    {
        m_dev->receive(hx("00"));
        for (int i = 0; i < 200; ++i)
            m_dev->slot_rxPhase(); // a quiet line starts a fresh allowance
        clearLog();
        QByteArray flood;
        for (int i = 0; i < 300; ++i)
            flood += hx("FE FE A4 E0 99 FD");
        for (int i = 0; i < 3; ++i)
            QVERIFY(ask(flood).isEmpty());
        QCOMPARE(logCount("INFO: Unsupport packet"), CIV_UNSUPPORTED_LOG_MAX);
        QCOMPARE(logCount("further unsupported packets not logged"), 1);
        for (int i = 0; i < 200; ++i)
            m_dev->slot_rxPhase(); // ten quiet seconds
        QVERIFY(ask(hx("FE FE A4 E0 99 FD")).isEmpty());
        QCOMPARE(logCount("INFO: Unsupport packet"), CIV_UNSUPPORTED_LOG_MAX + 1);
    }

    void parserEndlessFrames()
    {
        // A frame that never ends is dropped at the length limit; the next
        // frame is answered.
        QByteArray junk(5000, char(0x11));
        QVERIFY(ask(hx("FE FE") + junk).isEmpty());
        QVERIFY(m_dev->frameLength() <= CIV_FRAME_MAX);
        QVERIFY(logCount("civ frame too long, dropped") >= 1);
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), reply("03 00 40 07 14 00"));
        // A limit falling on a preamble still resynchronises.
        QVERIFY(ask(hx("FE FE") + QByteArray(CIV_FRAME_MAX, char(0x22)) + hx("FE A4 E0 03 FD")).isEmpty());
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), reply("03 00 40 07 14 00"));

        // More than 10240 pending bytes are discarded before parsing, a
        // partial frame with them; the parser resynchronises.
        clearLog();
        m_dev->receive(hx("FE FE A4 E0 03 FD"));
        m_dev->receive(QByteArray(20000, char(0x42)));
        QCOMPARE(m_dev->pendingBytes(), 0);
        QCOMPARE(logCount("civ rxbuffer full!"), 1);
        m_dev->slot_rxPhase();
        QVERIFY(drainFd(m_sock[1]).isEmpty());
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), reply("03 00 40 07 14 00"));
    }

    void parserFuzz()
    {
        // Random bytes, random frames of random commands and lengths, cut
        // at random places: no crash, bounded buffers, every item in range,
        // and a clean request is still answered afterwards.
        std::mt19937 rng(1234);
        const uint8_t cmds[] = { 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0C, 0x0F, 0x11, 0x14,
                                 0x15, 0x16, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x21, 0x25, 0x26, 0x27 };
        QElapsedTimer t;
        t.start();
        int frames = 0;
        for (int round = 0; round < 4000 && t.elapsed() < 4000; ++round) {
            QByteArray in;
            const int parts = 1 + int(rng() % 6);
            for (int p = 0; p < parts; ++p) {
                switch (rng() % 4) {
                case 0: { // noise
                    const int n = int(rng() % 40);
                    for (int i = 0; i < n; ++i)
                        in += char(rng() % 4 == 0 ? 0xFE : rng() & 0xFF);
                    break;
                }
                default: { // a frame of a known command with random data
                    QByteArray f = hx("FE FE A4 E0");
                    const uint8_t cmd = cmds[rng() % sizeof(cmds)];
                    f += char(cmd);
                    const int n = int(rng() % 8);
                    for (int i = 0; i < n; ++i) {
                        uint8_t b = uint8_t(rng() & 0xFF);
                        if (b == 0xFD)
                            b = 0x99;
                        f += char(b);
                    }
                    // 1A 01 b r reads the band stack from the database: too
                    // slow for thousands of rounds (it has its own test).
                    if (cmd == 0x1A && f.size() >= 6 && uint8_t(f.at(5)) == 0x01)
                        f[5] = 0x03;
                    f += char(0xFD);
                    in += f;
                    ++frames;
                    break;
                }
                }
            }
            // Cut the input at random places over several calls.
            int pos = 0;
            while (pos < in.size()) {
                const int n = 1 + int(rng() % 32);
                m_dev->receive(in.mid(pos, n));
                pos += n;
                if (rng() % 2)
                    m_dev->slot_rxPhase();
            }
            m_dev->slot_rxPhase();
            drainFd(m_sock[1]);
            QVERIFY(m_dev->frameLength() <= CIV_FRAME_MAX);
            QVERIFY(m_dev->pendingBytes() == 0);
        }
        QVERIFY(frames > 1000);
        verifyItemsInRange();
        m_dev->receive(hx("FD FD")); // end whatever frame the noise left open
        m_dev->slot_rxPhase();
        drainFd(m_sock[1]);
        m_store->setVfoFront("freq", 14074000);
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), reply("03 00 40 07 14 00"));
    }

    // The interpreter on its own thread while the GUI thread works on the
    // same store and feeds scope traces.
    void sharedWithGuiThread()
    {
        int bt[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, bt), 0);
        m_dev->attachPorts(m_sock[0], bt[0]);
        std::atomic<bool> stop{ false };
        std::atomic<int> answered{ 0 };
        std::thread worker([&]() {
            const QByteArray reqs = hx("FE FE A4 E0 03 FD FE FE A4 E0 14 01 00 76 FD FE FE A4 E0 26 00 01 01 02 FD"
                                       "FE FE A4 E0 25 01 00 00 05 07 00 FD FE FE A4 E0 27 11 01 FD"
                                       "FE FE A4 E0 1A 06 01 01 FD FE FE A4 E0 16 12 01 FD FE FE A4 E0 07 B0 FD");
            while (!stop.load()) {
                m_dev->receive(reqs);
                m_dev->slot_rxPhase();
                answered += drainFd(m_sock[1]).count(char(0xFD));
                drainFd(bt[1]);
            }
        });
        QElapsedTimer t;
        t.start();
        QVector<float> trace(CIV_SCOPE_POINTS, -90.0f);
        int i = 0;
        while (t.elapsed() < 1000) {
            m_store->setVfoFront("freq", 7000000 + (i % 100) * 1000);
            m_store->modifyParamItem("wparam", "rxvol", (i & 1) ? 1 : -1);
            m_store->setVfoFront("mode", i % 8);
            (void)m_store->vfoFront("freq");
            trace[i % CIV_SCOPE_POINTS] = -float(i % 140);
            m_dev->slot_scopeDataReceiver(trace);
            ++i;
        }
        stop = true;
        worker.join();
        QVERIFY(answered.load() > 100);
        m_dev->attachPorts(m_sock[0], -1);
        close(bt[0]);
        close(bt[1]);
        setWp("vi", 0);
        verifyItemsInRange();
    }

    // ---- transports ----

    void transports()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir().mkpath(root.path() + "/dev");
        QDir().mkpath(root.path() + "/app");
        setRoot(root.path());
        TestPty wired;
        QVERIFY(wired.open(root.path() + "/dev/ttyS2"));
        clearLog();

        std::unique_ptr<CivDeviceAdmin> admin(new CivDeviceAdmin(nullptr));
        CivDevice *dev = admin->device();
        QSignalSpy trx(dev, &CivDevice::sig_setTrxStatus);
        dev->setParams(m_store, "/dev/ttyS2", B19200);
        emit admin->start();

        // The wired port answers; no Bluetooth port exists yet.
        const QByteArray req = hx("FE FE A4 E0 03 FD");
        QVERIFY(write(wired.master, req.constData(), size_t(req.size())) == req.size());
        QByteArray got = readFrames(wired.master, 1, 3000);
        QCOMPARE(got, reply("03 00 40 07 14 00"));

        // The network server's port is published while the loop runs.
        const QString vlink = root.path() + "/dev/ttyVirtual0";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(vlink).isSymLink(), 3000);
        const int server = ::open(vlink.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(server >= 0);
        QVERIFY(write(server, req.constData(), size_t(req.size())) == req.size());
        // Replies go to every open port.
        QCOMPARE(readFrames(server, 1, 3000), reply("03 00 40 07 14 00"));
        QCOMPARE(readFrames(wired.master, 1, 3000), reply("03 00 40 07 14 00"));
        QVERIFY(write(wired.master, "\xFE\xFE\xA4\xE0\x1C\x00\x01\xFD", 8) == 8);
        QCOMPARE(readFrames(server, 1, 3000), reply("FB"));
        QTRY_COMPARE_WITH_TIMEOUT(trx.size(), 1, 3000);
        QCOMPARE(trx.at(0).at(0).toInt(), 1);
        ::close(server);

        // A Bluetooth client appears: the port is opened within about a
        // second and answered like the others.
        TestPty bt;
        QVERIFY(bt.open(root.path() + "/dev/rfcomm0"));
        QTRY_VERIFY_WITH_TIMEOUT(dev->bluetoothFd() >= 0, 3000);
        QVERIFY(write(bt.master, req.constData(), size_t(req.size())) == req.size());
        QCOMPARE(readFrames(bt.master, 1, 3000), reply("03 00 40 07 14 00"));
        drainFd(wired.master);

        // A burst of 20000 bytes without FD between two interpreter runs is
        // discarded as a whole.
        QByteArray burst = hx("FE FE A4 E0 03") + QByteArray(20000, char(0x33));
        QVERIFY(writeAllFd(wired.master, burst));
        QTRY_VERIFY_WITH_TIMEOUT(logCount("civ rxbuffer full!") + logCount("civ frame too long") >= 1, 3000);
        QVERIFY(write(wired.master, req.constData(), size_t(req.size())) == req.size());
        QCOMPARE(readFrames(wired.master, 1, 3000), reply("03 00 40 07 14 00"));

        // Stopping returns within a few tens of milliseconds and takes the
        // network server's port away.
        QElapsedTimer t;
        t.start();
        admin.reset();
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!QFileInfo(vlink).exists() && !QFileInfo(vlink).isSymLink());
        QVERIFY(logCount("thread exited") == 1);
        setRoot(m_root.path());
    }

    void bluetoothReconnect()
    {
        // A silent Bluetooth client is disconnected after 5 s and the port
        // reopened within about a second; the wired port may be missing.
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir().mkpath(root.path() + "/dev");
        setRoot(root.path());
        TestPty bt;
        QVERIFY(bt.open(root.path() + "/dev/rfcomm0"));
        clearLog();
        std::unique_ptr<CivDeviceAdmin> admin(new CivDeviceAdmin(nullptr));
        CivDevice *dev = admin->device();
        dev->setParams(m_store, "/dev/ttyS2", B19200);
        QCOMPARE(logCount("can't create uart:"), 1);
        emit admin->start();
        QTRY_VERIFY_WITH_TIMEOUT(dev->bluetoothFd() >= 0, 2000);
        QCOMPARE(dev->serialFd(), -1);
        QTRY_COMPARE_WITH_TIMEOUT(logCount("rfcomm silent, closed"), 1, 7000);
        QTRY_COMPARE_WITH_TIMEOUT(logCount("rfcomm opened"), 2, 3000);
        const QByteArray req = hx("FE FE A4 E0 04 FD");
        QVERIFY(write(bt.master, req.constData(), size_t(req.size())) == req.size());
        QCOMPARE(readFrames(bt.master, 1, 3000), reply("04 01 01"));
        admin.reset();
        setRoot(m_root.path());
    }

    // ---- hamlib's rigctl for the IC-705, against the real simulator ----

    void rigctlAgainstSimulator()
    {
        const QString rigctl = QStandardPaths::findExecutable("rigctl");
        QVERIFY2(!rigctl.isEmpty(), "rigctl (Debian package libhamlib-utils) is not installed");
        QTemporaryDir root;
        QVERIFY(root.isValid());
        ztest::Sim sim;
        QVERIFY(sim.start(root.path(), 10000));
        for (const char *l : { "/dev/ttyS2", "/dev/ttyS2.host", "/dev/rfcomm0", "/dev/rfcomm0.host" })
            QVERIFY2(QFileInfo(root.path() + l).isSymLink(), l);

        // The CI-V stack with a real radio link and its store.
        setRoot(root.path());
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QVERIFY(radio && radio->param);
        ZParamAdmin *store = radio->param;
        QTRY_COMPARE_WITH_TIMEOUT(zradio_comm_valid(), uint8_t(1), 10000);
        std::unique_ptr<CivDeviceAdmin> admin(new CivDeviceAdmin(nullptr));
        QList<int> pttRequests;
        // What the main window does with a transmit request.
        connect(admin->device(), &CivDevice::sig_setTrxStatus, this, [&](int32_t flag) {
            pttRequests << flag;
            zradio_set_civptt(uint8_t(flag & 0xFF));
        });
        admin->device()->setParams(store, "/dev/ttyS2", B19200);
        emit admin->start();

        // Runs rigctl with the commands; its output lines.
        auto run = [&](const QString &port, const QStringList &cmds) {
            QProcess p;
            p.setProcessChannelMode(QProcess::SeparateChannels);
            // Without its cache rigctl asks the radio for every read.
            p.start(rigctl, QStringList{ "-m", "3085", "-r", root.path() + port, "-s", "19200", "-C",
                                         "cache_timeout=0" } + cmds);
            QElapsedTimer t;
            t.start();
            // The window's update tick: the settings go to the board.
            while (p.state() != QProcess::NotRunning && t.elapsed() < 30000) {
                QTest::qWait(20);
                zradio_update_params();
            }
            if (p.state() != QProcess::NotRunning) {
                p.kill();
                p.waitForFinished(1000);
            }
            const QString err = QString::fromLocal8Bit(p.readAllStandardError());
            if (!err.trimmed().isEmpty())
                qWarning().noquote() << "rigctl:" << err;
            return QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        };

        for (const QString &port : { QStringLiteral("/dev/ttyS2.host"), QStringLiteral("/dev/rfcomm0.host") }) {
            pttRequests.clear();
            store->signalLevel = -75.0f; // S9 as the window would store it
            store->setParamItem("wparam", "txpwr", 5.0f);
            store->setParamItem("wparam", "sple", 0);
            if (port.contains("rfcomm")) {
                // The Bluetooth port closes after 5 s of silence: be heard
                // first, so the session below finds it open.
                const int fd = ::open(qPrintable(root.path() + port), O_RDWR | O_NOCTTY | O_NONBLOCK);
                QVERIFY(fd >= 0);
                termios tio;
                tcgetattr(fd, &tio);
                cfmakeraw(&tio);
                tcsetattr(fd, TCSANOW, &tio);
                QByteArray got;
                for (int i = 0; i < 30 && got.isEmpty(); ++i) {
                    QVERIFY(writeAllFd(fd, hx("FE FE A4 E0 03 FD")));
                    got = readFrames(fd, 1, 200);
                }
                ::close(fd);
                QVERIFY(!got.isEmpty());
            }

            const QStringList out = run(port, { "F", "7074000", "f", "M", "LSB", "0", "m", "M", "CW", "0", "m",
                                                "M", "AM", "0", "m", "M", "FM", "0", "m", "M", "PKTUSB", "0", "m",
                                                "M", "USB", "0", "m", "S", "1", "VFOB", "s", "S", "0", "VFOA",
                                                "s", "l", "RFPOWER", "L", "RFPOWER", "0.3", "l", "RFPOWER",
                                                "l", "STRENGTH", "T", "1" });
            // Modes with their pass-band widths (the twin filters' overlaps
            // in Icom's width index; rigctl takes FM widths from its own
            // table), split, the power level (1 W steps: 0.3 of 10 W sets
            // 2 W) and S9 on the S-meter.
            QCOMPARE(out.join(' ').replace(QRegularExpression("FM [0-9]+"), "FM w"),
                     QString("7074000 LSB 2700 CW %1 AM %2 FM w PKTUSB 2700 USB 2700 1 VFOB 0 VFOA "
                             "0.498039 0.200000 0")
                         .arg(width(store, 4), width(store, 6)));
            QCOMPARE(store->vfoFront("freq").value.toInt(), 7074000);
            QCOMPARE(store->vfoFront("mode").value.toInt(), 2);
            QCOMPARE(store->paramItem("wparam", "sple").value.toInt(), 0);
            QCOMPARE(store->paramItem("wparam", "txpwr").value.toFloat(), 2.0f);

            // The transmit request reaches the radio link, the board
            // transmits and the CAT program reads it back.
            QTRY_VERIFY_WITH_TIMEOUT(pttRequests.contains(1), 3000);
            QCOMPARE(int(radio->civPtt.load()), 1);
            auto txReported = [&]() {
                zradio_update_params();
                return simControl(root.path(), "status").contains(" tx=1 ");
            };
            QTRY_VERIFY_WITH_TIMEOUT(txReported(), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(int(store->trxState.load()), 1, 3000);
            QCOMPARE(run(port, { "t", "T", "0" }), QStringList{ "1" });
            QTRY_COMPARE_WITH_TIMEOUT(pttRequests.last(), 0, 3000);
            QCOMPARE(int(radio->civPtt.load()), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!txReported(), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(int(store->trxState.load()), 0, 3000);
            QCOMPARE(run(port, { "t" }), QStringList{ "0" });
        }

        admin.reset();
        zradio_destroy(radio);
        QVERIFY(sim.stop());
        setRoot(m_root.path());
    }
};

QTEST_GUILESS_MAIN(TestCiv)
#include "test_civ.moc"
