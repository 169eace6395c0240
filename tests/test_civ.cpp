// CI-V control: the conversions at their edges, the command table request
// by request (each row named after its request), the parser against noise,
// split, merged and endless frames (and a randomized run), the idle duties
// and scope stream, the store shared with another thread, the transports on
// pseudo-terminals, and hamlib's rigctl for the IC-705 against the real
// simulator.
#include "civ/civcommands.h"
#include "civ/civconvert.h"
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "civ/civmorse.h"
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
#include <functional>
#include <memory>
#include <fcntl.h>
#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
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

static QByteArray hx(const QString &text)
{
    return hx(text.toLatin1().constData());
}

static QString dump(const QByteArray &b)
{
    return civconv::packetDump(b).trimmed();
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

static QString hamlibTool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

// One field "name=value" of a simulator reply, -1 when it is missing.
static double cwkeyField(const QString &reply, const char *name)
{
    const QString key = QString::fromLatin1(name) + QLatin1Char('=');
    for (const QString &w : reply.split(QLatin1Char(' '))) {
        if (w.startsWith(key))
            return w.mid(key.size()).toDouble();
    }
    return -1;
}

// One request on a port of the simulator (the controller's end), as a CAT
// program sends it; the reply, empty when none came within ms.
static QByteArray civExchange(const QString &portPath, const QByteArray &request, int ms = 5000)
{
    const int fd = ::open(qPrintable(portPath), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return QByteArray();
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    QByteArray got;
    if (writeAllFd(fd, request))
        got = readFrames(fd, 1, ms);
    ::close(fd);
    return got;
}

// Brings a port of the simulator to rest before a CAT program opens it:
// nothing of ours is left in flight. A reply that comes later than its
// reader waited would otherwise reach the next program as the answer to
// its own request. Requests of different commands are sent until one is
// answered, each waiting longer than the one before (the Bluetooth port
// may be closed for a moment, and requests sent then are never answered);
// the interpreter answers a port in order, so once the last one sent is
// answered, the earlier ones have been answered or lost. Bounded at ~20 s.
static bool settlePort(const QString &portPath)
{
    const int fd = ::open(qPrintable(portPath), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    static const char *const kRequests[] = { "03", "04", "02", "19 00", "18", "0C", "1D 19" };
    static const int kWaitMs[] = { 500, 1000, 2000, 3000, 4000, 5000, 5000 };
    bool settled = false;
    QByteArray pending;
    for (int i = 0; i < 7 && !settled; ++i) {
        const QByteArray cmd = hx(kRequests[i]);
        if (!writeAllFd(fd, hx("FE FE A4 E0") + cmd + hx("FD")))
            break;
        const QByteArray answer = hx("FE FE E0 A4") + cmd;
        QElapsedTimer t;
        t.start();
        while (!settled && t.elapsed() < kWaitMs[i]) {
            pollfd p = { fd, POLLIN, 0 };
            if (poll(&p, 1, 10) <= 0)
                continue;
            pending += drainFd(fd);
            // Whole frames only; an earlier request's reply is dropped.
            int end;
            while (!settled && (end = pending.indexOf(char(0xFD))) >= 0) {
                settled = pending.left(end).startsWith(answer);
                pending.remove(0, end + 1);
            }
        }
    }
    ::close(fd);
    return settled;
}

// hamlib's rigctl for the IC-705 with the commands on a port of the
// simulator; its output lines. While it runs, the window's update tick
// sends the settings to the board. Without its cache rigctl asks the radio
// for every read. Its patience is longer than its 1 s default: on a loaded
// machine a reply can come later than that, and hamlib then sends the
// request again and takes the late answer to the first one as the reply to
// its next request (a width read answered by a mode reply reads as the
// mode's default width). On the Bluetooth port it is 3 s: a request sent
// while the port is closed for silence (a slow start of rigctl) is lost,
// and hamlib has to send it again well within the 10 s of silence that end
// a CI-V transmission.
static QStringList rigctl(const QString &portPath, const QStringList &cmds)
{
    if (!settlePort(portPath))
        qWarning().noquote() << "port not at rest before rigctl:" << portPath;
    const bool bluetooth = portPath.contains(QLatin1String("rfcomm"));
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(hamlibTool("rigctl"),
            QStringList{ "-m", "3085", "-r", portPath, "-s", "19200", "-C",
                         bluetooth ? "cache_timeout=0,timeout=3000,retry=5" : "cache_timeout=0,timeout=10000" }
                + cmds);
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 90000) {
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
}

// hamlib's network daemon on a port of the simulator, listening on
// loopback; *tcpPort is where.
static bool startRigctld(QProcess &daemon, const QString &rigctld, const QString &portPath, int *tcpPort)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        // A free port: taken by a listening socket, released, then given to
        // the daemon (another program taking it in between makes the
        // daemon fail, and the next attempt takes another).
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0
            || ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            if (s >= 0)
                ::close(s);
            return false;
        }
        *tcpPort = ntohs(a.sin_port);
        ::close(s);
        daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon.start(rigctld, QStringList{ "-m", "3085", "-r", portPath, "-s", "19200", "-T", "127.0.0.1", "-t",
                                           QString::number(*tcpPort), "-C", "cache_timeout=0,timeout=10000" });
        if (!daemon.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 15000 && daemon.state() == QProcess::Running) {
            const int c = ::socket(AF_INET, SOCK_STREAM, 0);
            const bool up = c >= 0 && ::connect(c, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0;
            if (c >= 0)
                ::close(c);
            if (up)
                return true;
            QTest::qWait(50);
        }
        daemon.kill();
        daemon.waitForFinished(2000);
    }
    return false;
}

// A client of rigctld with the extended protocol ("+"): every answer ends
// with an "RPRT n" line.
class RigctldClient
{
public:
    ~RigctldClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connect(int tcpPort)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return false;
        timeval tv = { 30, 0 }; // a request is answered in far less
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(tcpPort));
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0;
    }
    // The answer's lines up to and with "RPRT n"; what came when the
    // connection failed or went quiet.
    QStringList ask(const char *cmd)
    {
        const QByteArray line = QByteArray(cmd) + '\n';
        QStringList out;
        if (!ztest::writeAll(m_fd, line.constData(), size_t(line.size())))
            return out;
        for (;;) {
            const int nl = m_buf.indexOf('\n');
            if (nl >= 0) {
                out << QString::fromLatin1(m_buf.left(nl));
                m_buf.remove(0, nl + 1);
                if (out.last().startsWith(QLatin1String("RPRT ")))
                    return out;
                continue;
            }
            char b[512];
            const ssize_t r = ::recv(m_fd, b, sizeof(b), 0);
            if (r <= 0)
                return out;
            m_buf.append(b, int(r));
        }
    }

private:
    int m_fd = -1;
    QByteArray m_buf;
};

// The simulator and the CI-V stack on a real radio link with its store, as
// the main window has them: transmit requests go to the radio link.
class SimRadio : public QObject
{
public:
    QTemporaryDir root;
    ztest::Sim sim;
    zradio_t *radio = nullptr;
    ZParamAdmin *store = nullptr;
    std::unique_ptr<CivDeviceAdmin> admin;
    QList<int> ptt; // the transmit requests, in order

    ~SimRadio() override
    {
        admin.reset();
        if (radio)
            zradio_destroy(radio);
        sim.stop();
    }

    bool start()
    {
        if (!root.isValid() || !sim.start(root.path(), 10000))
            return false;
        ztest::setSysroot(root.path());
        radio = zradio_create("/dev/i2c-0", 114);
        if (!radio || !radio->param)
            return false;
        store = radio->param;
        QElapsedTimer t;
        t.start();
        while (!zradio_comm_valid() && t.elapsed() < 10000)
            QTest::qWait(20);
        if (!zradio_comm_valid())
            return false;
        admin.reset(new CivDeviceAdmin(nullptr));
        // What the main window does with a transmit request.
        QObject::connect(admin->device(), &CivDevice::sig_setTrxStatus, this, [this](int32_t flag) {
            ptt << flag;
            zradio_set_civptt(uint8_t(flag & 0xFF));
        });
        admin->device()->setParams(store, "/dev/ttyS2", B19200);
        emit admin->start();
        return true;
    }

    QString path(const char *p) const { return root.path() + QLatin1String(p); }

    // The board transmits (or not) as the simulator sees it, and its report
    // has reached the store.
    bool transmitting(bool on)
    {
        return store->trxState.load() == (on ? 1 : 0)
            && ztest::simCommand(root.path(), "status").contains(on ? " tx=1 " : " tx=0 ");
    }

    // A request on the port until it is answered: the Bluetooth port, shut
    // after 5 s of silence, is open again.
    bool wakePort(const QString &portPath) { return settlePort(portPath); }

    // Waits (at most 20 s) for a condition the board or the window brings
    // about. Ten seconds of silence on the line would end a CI-V
    // transmission (and five close the Bluetooth port), so meanwhile the
    // frequency is asked for once a second, as a CAT program keying the
    // radio does; each request is answered before the next one starts.
    bool waitWhileKeyed(const QString &portPath, const std::function<bool()> &done)
    {
        QElapsedTimer t, quiet;
        t.start();
        quiet.start();
        while (!done()) {
            if (t.elapsed() > 20000)
                return false;
            if (quiet.elapsed() > 1000) {
                civExchange(portPath, hx("FE FE A4 E0 03 FD"));
                quiet.restart();
            }
            QTest::qWait(20);
            zradio_update_params();
        }
        return true;
    }
};

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
    // A request or reply of a table row: a whole frame when it starts with
    // FE FE, else the body of a request from E0h (a reply to E0h); "-" is
    // no reply.
    static QByteArray rowRequest(const QString &text)
    {
        const QString t = text.trimmed();
        return t.startsWith(QLatin1String("FE FE")) ? hx(t) : hx("FE FE A4 E0") + hx(t) + hx("FD");
    }
    static QByteArray rowReply(const QString &text)
    {
        const QString t = text.trimmed();
        if (t == QLatin1String("-"))
            return QByteArray();
        return t.startsWith(QLatin1String("FE FE")) ? hx(t) : hx("FE FE E0 A4") + hx(t) + hx("FD");
    }

    int wp(const char *key) { return m_store->paramItem("wparam", key).value.toInt(); }
    float wpf(const char *key) { return m_store->paramItem("wparam", key).value.toFloat(); }
    int front(const char *key) { return m_store->vfoFront(key).value.toInt(); }
    void setWp(const char *key, const QVariant &v) { m_store->setParamItem("wparam", key, v); }

    // ---- State of the radio as a table row writes it ----
    //
    // "key=value;key=value": front.X the front VFO's item X, vfoa.X and
    // vfob.X a VFO's item, group the filter group index of the front mode,
    // txmax the rated power, the live readings signal, sqlopen, fwd, swr,
    // alc, vsupply, charging, trx and atu, any other key an item of
    // "wparam". Checks only: modified (the changed-from-outside flag, read
    // and cleared), lo (physical LO + digital offset), ctrl (the controller
    // address).
    static QList<QPair<QString, QString>> parseState(const QString &state)
    {
        QList<QPair<QString, QString>> out;
        for (const QString &part : state.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const int eq = part.indexOf(QLatin1Char('='));
            if (eq > 0)
                out << qMakePair(part.left(eq).trimmed(), part.mid(eq + 1).trimmed());
        }
        return out;
    }
    static double number(const QString &v)
    {
        bool ok = false;
        const qlonglong i = v.toLongLong(&ok, 0);
        return ok ? double(i) : v.toDouble();
    }
    // The group and key of a store item in a row, false for the others.
    static bool storeItem(const QString &name, QString *group, QString *key)
    {
        for (const char *g : { "vfoa", "vfob" }) {
            if (name.startsWith(QLatin1String(g) + QLatin1Char('.'))) {
                *group = QLatin1String(g);
                *key = name.mid(5);
                return true;
            }
        }
        static const QStringList others = { "group", "txmax", "signal", "sqlopen", "fwd", "swr", "alc",
                                            "vsupply", "charging", "trx", "atu", "modified", "lo", "ctrl" };
        if (name.startsWith(QLatin1String("front.")) || others.contains(name))
            return false;
        *group = QStringLiteral("wparam");
        *key = name;
        return true;
    }

    void applyState(const QString &state)
    {
        for (const auto &kv : parseState(state)) {
            const QString &k = kv.first;
            const double v = number(kv.second);
            QString group, key;
            if (k.startsWith(QLatin1String("front."))) {
                m_store->setVfoFront(k.mid(6), int(v));
            } else if (storeItem(k, &group, &key)) {
                const zparam_item_t it = m_store->paramItem(group, key);
                QVERIFY2(it.name == key, qPrintable("no item " + k));
                if (it.def.userType() == QMetaType::Float)
                    m_store->setParamItem(group, key, float(v));
                else
                    m_store->setParamItem(group, key, int(v));
            } else if (k == QLatin1String("group")) {
                m_store->setTwinFilterGroupIndex(int(v));
            } else if (k == QLatin1String("txmax")) {
                m_store->txPowerMax = float(v);
            } else if (k == QLatin1String("signal")) {
                m_store->signalLevel = float(v);
            } else if (k == QLatin1String("sqlopen")) {
                m_store->sqlOpen = uint8_t(v);
            } else if (k == QLatin1String("fwd")) {
                m_store->fwdPower = float(v);
            } else if (k == QLatin1String("swr")) {
                m_store->swr = float(v);
            } else if (k == QLatin1String("alc")) {
                m_store->alcLevel = float(v);
            } else if (k == QLatin1String("vsupply")) {
                m_store->vsupply = float(v);
            } else if (k == QLatin1String("charging")) {
                m_store->charging = uint8_t(v);
            } else if (k == QLatin1String("trx")) {
                m_store->trxState = uint8_t(v);
            } else if (k == QLatin1String("atu")) {
                m_store->atuActive = uint8_t(v);
            } else {
                QFAIL(qPrintable("unknown state key " + k));
            }
        }
    }

    void verifyState(const QString &state)
    {
        for (const auto &kv : parseState(state)) {
            const QString &k = kv.first;
            const double want = number(kv.second);
            double got;
            bool exactFloat = false;
            QString group, key;
            if (k.startsWith(QLatin1String("front."))) {
                got = m_store->vfoFront(k.mid(6)).value.toDouble();
            } else if (storeItem(k, &group, &key)) {
                const zparam_item_t it = m_store->paramItem(group, key);
                got = it.value.toDouble();
                exactFloat = it.def.userType() == QMetaType::Float;
            } else if (k == QLatin1String("group")) {
                got = m_store->twinFilterGroupIndex();
            } else if (k == QLatin1String("modified")) {
                got = m_store->modified.exchange(false) ? 1 : 0;
            } else if (k == QLatin1String("lo")) {
                int plo = 0, dlo = 0;
                m_store->loFrequencies(&plo, &dlo);
                got = double(plo) + dlo;
            } else if (k == QLatin1String("ctrl")) {
                got = m_dev->controllerAddress();
            } else if (k == QLatin1String("charging")) {
                got = m_store->charging.load();
            } else {
                QFAIL(qPrintable("unknown state key " + k));
            }
            const bool same = exactFloat ? qFuzzyCompare(float(got) + 1.0f, float(want) + 1.0f) : got == want;
            QVERIFY2(same, qPrintable(QString("%1 is %2, expected %3").arg(k).arg(got).arg(kv.second)));
        }
    }

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
        const int i = civconv::filterWidthIndex(w, mode == zrnamespace::ModeAM);
        if (mode == zrnamespace::ModeAM)
            return QString::number((i + 1) * 200);
        return QString::number(i <= 9 ? (i + 1) * 50 : (i - 4) * 100);
    }

    // A table row of the command tests: requests and their replies step by
    // step ("|" between steps), the state before, the state after (one set
    // of checks after the last step, or one per step) and a log line the
    // row must write once.
    static void commandColumns()
    {
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("logged");
    }
    static void row(const char *name, const char *requests, const char *replies, const char *before = "",
                    const char *after = "", const char *logged = "")
    {
        QTest::newRow(name) << QString(requests) << QString(replies) << QString(before) << QString(after)
                            << QString(logged);
    }
    void runCommandRow()
    {
        QFETCH(QString, requests);
        QFETCH(QString, replies);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, logged);
        applyState(before);
        if (QTest::currentTestFailed())
            return;
        m_store->modified = false;
        clearLog();
        const QStringList steps = requests.split(QLatin1Char('|'));
        const QStringList answers = replies.split(QLatin1Char('|'));
        QStringList checks = after.split(QLatin1Char('|'));
        if (checks.size() == 1) {
            checks = QStringList();
            for (int i = 0; i < steps.size(); ++i)
                checks << (i == steps.size() - 1 ? after : QString());
        }
        QCOMPARE(answers.size(), steps.size());
        QCOMPARE(checks.size(), steps.size());
        for (int i = 0; i < steps.size(); ++i) {
            const QByteArray got = ask(rowRequest(steps.at(i)));
            QVERIFY2(dump(got) == dump(rowReply(answers.at(i))),
                     qPrintable(QString("%1: got \"%2\", expected \"%3\"")
                                    .arg(steps.at(i).trimmed(), dump(got), dump(rowReply(answers.at(i))))));
            verifyState(checks.at(i));
            if (QTest::currentTestFailed())
                return;
        }
        if (!logged.isEmpty())
            QCOMPARE(logCount(logged), 1);
        verifyItemsInRange();
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
        // A known radio: VFO A at 14.074 MHz USB, VFO B at 7.05 MHz LSB,
        // quiet meters, receiving.
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
        m_store->signalLevel = -145.0f;
        m_store->sqlOpen = 0;
        m_store->fwdPower = 0.0f;
        m_store->swr = 0.0f;
        m_store->alcLevel = 0.0f;
        m_store->vsupply = 0.0f;
        m_store->charging = 0;
        m_store->trxState = 0;
        m_store->atuActive = 0;
        m_store->modified = false;
        m_dev->setScopeStreaming(false);
        // RIT and XIT off, their switches as the front panel left them: a
        // non-zero offset read once settles a switch left by a test.
        for (const char *k : { "rit", "xit" }) {
            setWp(k, 1);
            askBody(k[0] == 'r' ? "21 01" : "21 02");
            setWp(k, 0);
        }
        drainFd(m_sock[1]);
        clearLog();
    }

    // ---- conversions ----

    void frequencyToBcd_data()
    {
        QTest::addColumn<int>("freq");
        QTest::addColumn<QString>("bcd");
        QTest::newRow("14.074 MHz") << 14074000 << "00 40 07 14 00";
        QTest::newRow("0 Hz") << 0 << "00 00 00 00 00";
        QTest::newRow("99.999999 MHz") << 99999999 << "99 99 99 99 00";
        QTest::newRow("negative is 0") << -5 << "00 00 00 00 00";
    }
    void frequencyToBcd()
    {
        QFETCH(int, freq);
        QFETCH(QString, bcd);
        QCOMPARE(dump(civconv::freq2bcd(freq)), bcd);
    }

    void bcdToFrequency_data()
    {
        QTest::addColumn<QString>("bcd");
        QTest::addColumn<int>("freq");
        QTest::newRow("14.074 MHz") << "00 40 07 14 00" << 14074000;
        QTest::newRow("ten digits") << "89 67 45 23 01" << 123456789;
        QTest::newRow("fewer than 5 bytes") << "00 40 07 14" << 0;
        QTest::newRow("nothing") << "" << 0;
        // Nibbles are not checked; ten digits of 15 saturate instead of
        // overflowing.
        QTest::newRow("nibbles of 15 saturate") << "FF FF FF FF FF" << std::numeric_limits<int>::max();
        QTest::newRow("nibble A counts 10") << "0A 00 00 00 00" << 10;
    }
    void bcdToFrequency()
    {
        QFETCH(QString, bcd);
        QFETCH(int, freq);
        QCOMPARE(civconv::bcd2freq(hx(bcd)), freq);
    }

    void frequencyRoundTrip()
    {
        for (int f : { 1, 500000, 1810000, 29999999, 54999990 })
            QCOMPARE(civconv::bcd2freq(civconv::freq2bcd(f)), f);
    }

    void levelToBcd_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("bcd");
        QTest::newRow("127") << 127 << "01 27";
        QTest::newRow("0") << 0 << "00 00";
        QTest::newRow("9999") << 9999 << "99 99";
        QTest::newRow("12345 clamps") << 12345 << "99 99";
        QTest::newRow("-1 clamps") << -1 << "00 00";
    }
    void levelToBcd()
    {
        QFETCH(int, value);
        QFETCH(QString, bcd);
        QCOMPARE(dump(civconv::int2bcd_2bytes(value)), bcd);
    }

    void bcdToLevel_data()
    {
        QTest::addColumn<QString>("bcd");
        QTest::addColumn<int>("value");
        QTest::newRow("02 55") << "02 55" << 255;
        QTest::newRow("99 99") << "99 99" << 9999;
        QTest::newRow("one byte") << "42" << 42;
        QTest::newRow("nothing") << "" << 0;
    }
    void bcdToLevel()
    {
        QFETCH(QString, bcd);
        QFETCH(int, value);
        QCOMPARE(civconv::bcd2int_2bytes(hx(bcd)), value);
    }

    void packetDumpFormat() { QCOMPARE(civconv::packetDump(hx("FE 0A")), QString(" FE 0A")); }

    void radioModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("civ");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("readCode"); // of the 04 read
        QTest::newRow("LSB") << 0 << 0x00 << 0 << 0x00;
        QTest::newRow("LSB-DIG") << 1 << 0x00 << 1 << 0x00;
        QTest::newRow("USB") << 2 << 0x01 << 0 << 0x01;
        QTest::newRow("USB-DIG") << 3 << 0x01 << 1 << 0x01;
        QTest::newRow("CW") << 4 << 0x03 << 0 << 0x03;
        QTest::newRow("CWR") << 5 << 0x07 << 0 << 0x07;
        QTest::newRow("AM") << 6 << 0x02 << 0 << 0x02;
        QTest::newRow("NFM") << 7 << 0x05 << 0 << 0x05;
    }
    void radioModes()
    {
        QFETCH(int, mode);
        QFETCH(int, civ);
        QFETCH(int, data);
        QFETCH(int, readCode);
        uint8_t d = 9;
        QCOMPARE(int(civconv::zrmode2civmode(mode, &d)), civ);
        QCOMPARE(int(d), data);
        QCOMPARE(civconv::civmode2zrmode(uint8_t(civ), d), mode); // round trip
        QCOMPARE(m_dev->zrm2civm_ex(mode), readCode);
    }

    void modesTheRadioHasNot()
    {
        uint8_t d = 9;
        QCOMPARE(int(civconv::zrmode2civmode(8, &d)), 0xFA);
        QCOMPARE(int(d), 0);
        QCOMPARE(int(civconv::zrmode2civmode(-1, nullptr)), 0xFA);
        QCOMPARE(civconv::civmode2zrmode(0x00, 5), 1);
        QCOMPARE(civconv::civmode2zrmode(0x01, 0xFF), 3);
        for (int c : { 0x04, 0x06, 0x08, 0x17, 0xFF })
            QCOMPARE(civconv::civmode2zrmode(uint8_t(c), 0), 8);
        QCOMPARE(m_dev->zrm2civm_ex(9), 0x00);
    }

    // The mode set by 01/04/06: RTTY is LSB, WFM is FM, unknown codes LSB.
    void modeSetTable_data()
    {
        QTest::addColumn<int>("civ");
        QTest::addColumn<int>("mode");
        const int back[9] = { 0, 2, 6, 4, 0, 7, 7, 5, 0 };
        const char *names[9] = { "LSB", "USB", "AM", "CW", "RTTY", "FM", "WFM", "CW-R", "RTTY-R" };
        for (int c = 0; c < 9; ++c)
            QTest::newRow(names[c]) << c << back[c];
    }
    void modeSetTable()
    {
        QFETCH(int, civ);
        QFETCH(int, mode);
        QCOMPARE(m_dev->civm2zrm_ex(civ), mode);
    }

    void modeTablesInvokable()
    {
        // Invokable, as the window's dialogs reach them.
        int r = -1;
        QVERIFY(QMetaObject::invokeMethod(m_dev, "civm2zrm_ex", Qt::DirectConnection, Q_RETURN_ARG(int, r),
                                          Q_ARG(int, 3)));
        QCOMPARE(r, 4);
    }

    void bandCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("index");
        const int zr[11] = { 1, 1, 3, 7, 9, 11, 13, 15, 17, 19, 21 };
        for (int c = 0; c <= 10; ++c)
            QTest::newRow(qPrintable(QString("code %1").arg(c))) << c << zr[c];
        QTest::newRow("code 10h (BCD 10) clamps") << 0x10 << 21;
        QTest::newRow("code -3 clamps") << -3 << 1;
    }
    void bandCodes()
    {
        QFETCH(int, code);
        QFETCH(int, index);
        QCOMPARE(civconv::civbs2zrbs(code), index);
        // The inverse on every ham band.
        if (code >= 1 && code <= 10)
            QCOMPARE(civconv::zrbs2civbs(index), code);
    }

    void bandIndexToCode_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        // 60 m and the gaps give the band below.
        QTest::newRow("60 m") << 5 << 2;
        QTest::newRow("between 40 m and 30 m") << 8 << 3;
        QTest::newRow("below 160 m") << 0 << 1;
        QTest::newRow("above 6 m") << 22 << 10;
        QTest::newRow("far above") << 99 << 10;
    }
    void bandIndexToCode()
    {
        QFETCH(int, index);
        QFETCH(int, code);
        QCOMPARE(civconv::zrbs2civbs(index), code);
    }

    void meterScales_data()
    {
        QTest::addColumn<QString>("meter");
        QTest::addColumn<float>("reading");
        QTest::addColumn<int>("value");
        const float nan = std::nanf("");
        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("S below -123 dBm") << "s" << -124.0f << 0;
        QTest::newRow("S -123 dBm") << "s" << -123.0f << 13;
        QTest::newRow("S9 -75 dBm") << "s" << -75.0f << 120;
        QTest::newRow("S -15 dBm") << "s" << -15.0f << 242;
        QTest::newRow("S -10 dBm") << "s" << -10.0f << 242;
        QTest::newRow("S NaN") << "s" << nan << 0;
        QTest::newRow("SWR 1") << "swr" << 1.0f << 0;
        QTest::newRow("SWR 1.5") << "swr" << 1.5f << 48;
        QTest::newRow("SWR 2") << "swr" << 2.0f << 80;
        QTest::newRow("SWR 3") << "swr" << 3.0f << 120;
        QTest::newRow("SWR 50") << "swr" << 50.0f << 255;
        QTest::newRow("SWR 0") << "swr" << 0.0f << 0;
        QTest::newRow("SWR NaN") << "swr" << nan << 0;
        QTest::newRow("ALC 255") << "alc" << 255.0f << 0;
        QTest::newRow("ALC 0") << "alc" << 0.0f << 120;
        QTest::newRow("ALC -1000") << "alc" << -1000.0f << 120;
        QTest::newRow("Vd 5 V") << "vd" << 5.0f << 75;
        QTest::newRow("Vd 16 V") << "vd" << 16.0f << 241;
        QTest::newRow("Vd 30 V") << "vd" << 30.0f << 255;
        QTest::newRow("Vd -1 V") << "vd" << -1.0f << 0;
        QTest::newRow("Po 0 W") << "po" << 0.0f << 0;
        QTest::newRow("Po 0.1 W") << "po" << 0.1f << 4;
        QTest::newRow("Po 0.5 W") << "po" << 0.5f << 21;
        QTest::newRow("Po 2.7 W") << "po" << 2.7f << 99;
        QTest::newRow("Po 4 W") << "po" << 4.0f << 124;
        QTest::newRow("Po 5 W, half scale") << "po" << 5.0f << 143;
        QTest::newRow("Po 7.5 W") << "po" << 7.5f << 183;
        QTest::newRow("Po 10 W, full scale") << "po" << 10.0f << 213;
        QTest::newRow("Po 12 W") << "po" << 12.0f << 255;
        QTest::newRow("Po 37.8 W") << "po" << 37.8f << 255;
        QTest::newRow("Po NaN") << "po" << nan << 0;
        QTest::newRow("scope -145 dBm") << "scope" << -145.0f << 0;
        QTest::newRow("scope 0 dBm") << "scope" << 0.0f << 160;
        QTest::newRow("scope -200 dBm") << "scope" << -200.0f << 0;
        QTest::newRow("scope 20 dBm") << "scope" << 20.0f << 160;
        QTest::newRow("scope NaN") << "scope" << nan << 0;
        QTest::newRow("scope infinity") << "scope" << inf << 160;
    }
    void meterScales()
    {
        QFETCH(QString, meter);
        QFETCH(float, reading);
        QFETCH(int, value);
        int got = -1;
        if (meter == "s")
            got = civconv::sMeterValue(reading);
        else if (meter == "swr")
            got = civconv::swrMeterValue(reading);
        else if (meter == "alc")
            got = civconv::alcMeterValue(reading);
        else if (meter == "vd")
            got = civconv::vdMeterValue(reading);
        else if (meter == "po")
            got = civconv::powerMeterValue(reading);
        else
            got = civconv::scopeByte(reading);
        QCOMPARE(got, value);
    }

    // Icom's width index: 50 Hz steps to 500 Hz, then 100 Hz steps; AM and
    // FM in 200 Hz steps.
    void filterWidthIndex_data()
    {
        QTest::addColumn<float>("width");
        QTest::addColumn<bool>("amOrFm");
        QTest::addColumn<int>("index");
        QTest::newRow("50 Hz") << 50.0f << false << 0;
        QTest::newRow("500 Hz") << 500.0f << false << 9;
        QTest::newRow("600 Hz") << 600.0f << false << 10;
        QTest::newRow("2400 Hz") << 2400.0f << false << 28;
        QTest::newRow("3600 Hz") << 3600.0f << false << 40;
        QTest::newRow("9000 Hz clamps") << 9000.0f << false << 49;
        QTest::newRow("0 Hz") << 0.0f << false << 0;
        QTest::newRow("AM 200 Hz") << 200.0f << true << 0;
        QTest::newRow("AM 6000 Hz") << 6000.0f << true << 29;
        QTest::newRow("AM 20000 Hz clamps") << 20000.0f << true << 49;
    }
    void filterWidthIndex()
    {
        QFETCH(float, width);
        QFETCH(bool, amOrFm);
        QFETCH(int, index);
        QCOMPARE(int(civconv::filterWidthIndex(width, amOrFm)), index);
    }

    // ---- the command table, request by request ----

    void frequencyAndMode_data()
    {
        commandColumns();
        // The documented examples.
        row("03 read frequency", "FE FE A4 E0 03 FD", "FE FE E0 A4 03 00 40 07 14 00 FD");
        row("05 set frequency 14.075 MHz", "FE FE A4 E0 05 00 50 07 14 00 FD", "FE FE E0 A4 FB FD", "",
            "front.freq=14075000;lo=14075000"); // the radio really tunes there
        // Any destination is answered, always from A4h, to the sender.
        row("03 to destination 94h", "FE FE 94 E0 03 FD", "FE FE E0 A4 03 00 50 07 14 00 FD",
            "front.freq=14075000");
        row("03 from controller E1h", "FE FE A4 E1 03 FD", "FE FE E1 A4 03 00 50 07 14 00 FD",
            "front.freq=14075000", "ctrl=0xE1");
        row("00 set frequency (transceive form)", "00 00 00 10 07 00", "FB", "", "front.freq=7100000");
        // Out of the VFO's range: refused, nothing changed.
        row("05 set 100 MHz refused", "05 00 00 00 00 01", "FA", "front.freq=7100000", "front.freq=7100000");
        row("05 set beyond the digits refused", "05 99 99 99 99 99", "FA", "front.freq=7100000",
            "front.freq=7100000");
        // The limits the radio tunes, for every way of setting a frequency.
        row("05 set 100 kHz refused: below what the radio tunes", "05 00 00 10 00 00", "FA", "",
            "front.freq=14074000");
        row("00 set 100 kHz refused", "00 00 00 10 00 00", "FA", "", "front.freq=14074000");
        row("05 set 500 kHz, the lowest tuned", "05 00 00 50 00 00", "FB", "", "front.freq=500000;lo=500000");
        row("05 set 499.99 kHz refused", "05 90 99 49 00 00", "FA", "", "front.freq=14074000");
        row("05 set 55 MHz, the highest tuned", "05 00 00 00 55 00", "FB", "", "front.freq=55000000");
        row("05 set 55.00001 MHz refused", "05 10 00 00 55 00", "FA", "", "front.freq=14074000");
        row("03 with a data byte unsupported", "03 00", "-", "", "",
            "INFO: Unsupport packet, frame size = 4, packet = A4 E0 03 00");

        // Mode with the filter group.
        row("04 read mode", "04", "04 01 01");
        row("06 set CW with filter 2", "06 03 02 | 04", "FB | 04 03 02", "", "front.mode=4;group=1 |");
        row("01 set CW-R with filter 0 keeps the group", "01 07 00", "FB", "front.mode=4;group=1",
            "front.mode=5;group=1");
        row("04 set RTTY becomes LSB", "04 04 09 | 04", "FB | 04 00 01", "front.mode=5", "front.mode=0 |");
        row("02 read band edges", "02", "02 00 00 50 00 00 2D 00 00 00 30 00");
    }
    void frequencyAndMode() { runCommandRow(); }

    void vfoAndSplit_data()
    {
        commandColumns();
        row("07 01 selects VFO B", "07 01", "FB", "", "vi=1;front.freq=7050000");
        row("07 00 selects VFO A", "07 00", "FB", "vi=1", "vi=0;front.freq=14074000");
        row("07 B0 exchange steps the selection", "07 B0 | 07 B0", "FB | FB", "", "vi=1 | vi=0");
        row("07 D0 unsupported", "07 D0", "-");
        row("0C read offset", "0C", "0C 00 00 00");

        row("0F read split off", "0F", "0F 00");
        row("0F 01 split on", "0F 01 | 0F", "FB | 0F 01", "", "sple=1 |");
        row("0F 12 duplex sub-command: OK, nothing changes", "0F 12", "FB", "sple=1", "sple=1");
        row("0F 05 07 read with data", "0F 05 07", "0F 05 01", "sple=1");
        row("0F 00 split off", "0F 00", "FB", "sple=1", "sple=0");
        row("0F with two data bytes refused", "0F 00 00 00", "FA", "", "", "CIV SPLT ERROR,frame size=");

        // The selected and the other VFO.
        row("25 00 read selected VFO", "25 00", "25 00 00 40 07 14 00");
        row("25 01 read other VFO", "25 01", "25 01 00 00 05 07 00");
        row("25 01 set other VFO", "25 01 00 00 10 07 00", "FB", "", "vfob.freq=7100000");
        row("25 00 set selected VFO", "25 00 00 00 20 14 00", "FB", "", "front.freq=14200000");
        row("25 01 set 100 MHz refused", "25 01 00 00 00 00 01", "FA", "", "vfob.freq=7050000");
        row("25 01 set 100 kHz refused", "25 01 00 00 10 00 00", "FA", "", "vfob.freq=7050000");
        row("25 00 set 100 kHz refused", "25 00 00 00 10 00 00", "FA", "", "front.freq=14074000");
        row("25 01 set 500 kHz", "25 01 00 00 50 00 00", "FB", "", "vfob.freq=500000");
        row("25 01 refused, 07 01 tunes the other VFO where it was", "25 01 00 00 10 00 00 | 07 01", "FA | FB", "",
            "| vi=1;front.freq=7050000;lo=7050000");
        row("25 00 with one data byte unsupported", "25 00 00", "-");

        row("26 00 read selected VFO mode", "26 00", "26 00 01 00 01");
        row("26 01 read other VFO mode", "26 01", "26 01 00 00 01");
        row("26 00 set USB data filter 2", "26 00 01 01 02 | 26 00", "FB | 26 00 01 01 02", "",
            "front.mode=3;group=1 |");
        row("26 01 set other VFO CW, filter clamped to 3", "26 01 03 00 09", "FB", "front.mode=3",
            "vfob.mode=4;front.mode=3;group=2");
        row("26 00 set FM, filter 0 taken as 1", "26 00 05 00 00", "FB", "", "front.mode=7;group=0");
        // RTTY and WFM do not exist here: refused, the mode stays.
        row("26 00 set RTTY refused", "26 00 04 00 01", "FA", "front.mode=7", "front.mode=7");
        row("26 00 set WFM refused", "26 00 06 00 01", "FA", "front.mode=7", "front.mode=7");
        row("26 00 with one data byte unsupported", "26 00 01", "-", "", "", "CMD = 0x26, size =");
    }
    void vfoAndSplit() { runCommandRow(); }

    void levels_data()
    {
        commandColumns();
        row("14 09 read CW pitch 600 Hz", "14 09", "14 09 01 27", "cwtone=600");
        row("14 09 read CW pitch 1200 Hz", "14 09", "14 09 02 55", "cwtone=1200");
        row("14 09 set 0: 300 Hz is below the item", "14 09 00 00", "FB", "", "cwtone=400");
        row("14 09 set 127", "14 09 01 27", "FB", "", "cwtone=598");

        // Transmit power: full scale is the rated maximum, in 0.1 W.
        row("14 0A set full scale rated 5 W", "14 0A 02 55 | 14 0A", "FB | 14 0A 02 55", "txmax=5",
            "txpwr=5.0;modified=1 |");
        row("14 0A set 0 keeps the item's minimum", "14 0A 00 00", "FB", "txmax=5", "txpwr=0.1");
        row("14 0A set 0 at 10 W keeps the item's minimum", "14 0A 00 00", "FB", "txmax=10", "txpwr=0.1");
        row("14 0A set 0.1 W at 10 W", "14 0A 00 03", "FB", "txmax=10", "txpwr=0.1");
        row("14 0A set half scale at 10 W", "14 0A 01 28", "FB", "txmax=10", "txpwr=5.0");
        row("14 0A set 127 (hamlib's 0.5) at 10 W", "14 0A 01 27", "FB", "txmax=10", "txpwr=5.0");
        row("14 0A set 0.3 of 10 W", "14 0A 00 76", "FB", "txmax=10", "txpwr=3.0");
        row("14 0A set full scale at 10 W", "14 0A 02 55", "FB", "txmax=10", "txpwr=10.0");
        row("14 0A set 0.1 W at 5 W", "14 0A 00 05", "FB", "txmax=5", "txpwr=0.1");
        row("14 0A set half scale at 5 W", "14 0A 01 28", "FB", "txmax=5", "txpwr=2.5");
        row("14 0A read 0.1 W at 10 W", "14 0A", "14 0A 00 03", "txmax=10;txpwr=0.1");
        row("14 0A read 5 W at 10 W", "14 0A", "14 0A 01 28", "txmax=10;txpwr=5");
        row("14 0A read 10 W at 10 W", "14 0A", "14 0A 02 55", "txmax=10;txpwr=10");
        row("14 0A read 0.1 W at 5 W", "14 0A", "14 0A 00 05", "txmax=5;txpwr=0.1");
        row("14 0A read 2.5 W at 5 W", "14 0A", "14 0A 01 28", "txmax=5;txpwr=2.5");
        row("14 0A read 5 W at 5 W", "14 0A", "14 0A 02 55", "txmax=5;txpwr=5");
        row("14 0A read above the rated power", "14 0A", "14 0A 02 55", "txmax=5;txpwr=8");

        row("14 01 read AF gain", "14 01", "14 01 01 39", "rxvol=30");
        row("14 01 set 76", "14 01 00 76", "FB", "", "rxvol=16");
        row("14 01 set 255", "14 01 02 55", "FB", "", "rxvol=55");
        row("14 01 set 300 refused: levels end at 0255", "14 01 03 00", "FA", "rxvol=55", "rxvol=55");
        row("14 0C read keyer 6 WPM", "14 0C", "14 0C 00 00", "ks=6");
        row("14 0C read keyer 48 WPM", "14 0C", "14 0C 02 55", "ks=48");
        row("14 0C read keyer 27 WPM", "14 0C", "14 0C 01 27", "ks=27");
        row("14 0C set 255", "14 0C 02 55", "FB", "ks=27", "ks=48");
        row("14 07 read twin PBT", "14 07", "14 07 01 28");
        row("14 13 read", "14 13", "14 13 00 00");
        row("14 42 read unknown level", "14 42", "14 42 02 55");
        row("14 42 set unknown level: OK, nothing set", "14 42 01 00", "FB");
        row("14 19 read backlight", "14 19", "14 19 02 55", "bllevel=10");
        row("14 19 set 0", "14 19 00 00", "FB", "bllevel=10", "bllevel=1");
        row("14 01 with one level byte unsupported", "14 01 00", "-");
    }
    void levels() { runCommandRow(); }

    void meters_data()
    {
        commandColumns();
        row("15 02 S-meter at S9", "15 02", "15 02 01 20", "signal=-75");
        row("15 02 S-meter at -10 dBm", "15 02", "15 02 02 42", "signal=-10");
        row("15 01 squelch open", "15 01", "15 01 00 01", "sqlopen=1");
        // Forward power on the Po scale (213 is the rated 10 W), not in whole watts.
        row("15 11 forward power 2.7 W", "15 11", "15 11 00 99", "fwd=2.7");
        row("15 11 forward power 10 W", "15 11", "15 11 02 13", "fwd=10");
        row("15 11 negative forward power", "15 11", "15 11 00 00", "fwd=-3");
        row("15 12 SWR 2", "15 12", "15 12 00 80", "swr=2");
        row("15 13 ALC", "15 13", "15 13 00 00", "alc=255");
        row("15 15 supply 16 V", "15 15", "15 15 02 41", "vsupply=16");
        row("15 05 read", "15 05", "15 05 00 00");
        row("15 77 unknown meter", "15 77", "15 77 02 55");
    }
    void meters() { runCommandRow(); }

    void switches_data()
    {
        commandColumns();
        row("16 12 read AGC slow", "16 12", "16 12 02", "front.agc=1");
        row("16 12 01 sets AGC fast", "16 12 01", "FB", "front.agc=1", "front.agc=2");
        row("16 12 07 sets AGC auto", "16 12 07", "FB", "front.agc=1", "front.agc=3");
        row("16 12 00 sets AGC off", "16 12 00", "FB", "front.agc=3", "front.agc=0");
        row("16 02 05 preamplifier on", "16 02 05 | 16 02", "FB | 16 02 01", "front.pre=0", "front.pre=1 |");
        row("16 22 01 noise blanker on", "16 22 01 | 16 22", "FB | 16 22 01", "nbe=0", "nbe=1 |");
        row("16 22 02 refused: not a switch value", "16 22 02", "FA", "nbe=1", "nbe=1");
        row("16 50 lock on and off", "16 50 01 | 16 50 00", "FB | FB", "lock=0", "lock=1 | lock=0");
        row("16 60 battery charging read, not set", "16 60 | 16 60 00", "16 60 01 | FB", "charging=1",
            "charging=1");
        row("16 99 read unknown switch", "16 99", "16 99 00");
        row("16 alone refused", "16", "FA");
        row("16 with two data bytes refused", "16 22 01 01", "FA");
        // Attenuator: 00 off, anything else on (Icom peers send 20h).
        row("11 20 attenuator on, 11 00 off", "11 20 | 11 | 11 00", "FB | 11 01 | FB", "front.att=0",
            "front.att=1 | | front.att=0");
    }
    void switches() { runCommandRow(); }

    void items1A_data()
    {
        commandColumns();
        row("1A alone refused", "1A", "FA");
        row("1A 01 band of the front VFO (20 m)", "1A 01", "1A 01 05 02");
        row("1A 01 05 with too few bytes unsupported", "1A 01 05", "-", "", "", "CMD 1A 01");
        row("1A 05 00 62 read lock", "1A 05 00 62", "1A 05 01", "lock=1");
        row("1A 05 01 23 read another item", "1A 05 01 23", "1A 05 00", "lock=1");
        row("1A 05 00 62 00 sets lock off", "1A 05 00 62 00", "FB", "lock=1", "lock=0");
        row("1A 05 00 62 07 refused", "1A 05 00 62 07", "FA", "lock=0", "lock=0");
        row("1A 05 01 11 07 other items: nothing", "1A 05 01 11 07", "FB");
        row("1A 05 00 62 00 00 unsupported: not 01 66", "1A 05 00 62 00 00", "-");
        row("1A 05 00 unsupported", "1A 05 00", "-");
        row("1A 05 01 66 with a date's length unsupported", "1A 05 01 66 20 24 03 15", "-");
        row("1A 03 10 set width: nothing changes", "1A 03 10", "1A 03 FB");
        row("1A 03 10 10 unsupported", "1A 03 10 10", "-");
        row("1A 99 unsupported", "1A 99", "-");

        // Data mode.
        row("1A 06 read data mode", "1A 06", "1A 06 00 01");
        row("1A 06 01 02 data on with filter 2", "1A 06 01 02 | 1A 06", "FB | 1A 06 01 02", "",
            "front.mode=3;datamode=1;group=1 |");
        row("1A 06 00 00 data off keeps the group", "1A 06 00 00", "FB", "front.mode=3;datamode=1;group=1",
            "front.mode=2;datamode=0;group=1");
        row("1A 06 03 01 refused", "1A 06 03 01", "FA", "front.mode=2", "front.mode=2");
        // A data flag left set turns plain USB into USB-DIG when read.
        row("1A 06 read turns USB into USB-DIG", "1A 06", "1A 06 01 02", "datamode=1;group=1", "front.mode=3");
    }
    void items1A() { runCommandRow(); }

    void tonesTransmitRit_data()
    {
        commandColumns();
        row("1B 02 read DTCS", "1B 02", "1B 02 12 34 56", "dtcs=0x123456");
        row("1B 00 set repeater tone", "1B 00 00 03 E8", "FB", "", "repeater_tone=1000");
        row("1B 01 set squelch tone out of range", "1B 01 00 03 E9", "FA");
        row("1B 07 set and read", "1B 07 63 | 1B 07", "FB | 1B 07 63", "", "csql_dv=99 |");
        row("1B 07 64 refused", "1B 07 64", "FA");
        row("1B 05 read another tone", "1B 05", "1B 05");
        row("1B 05 set another tone: nothing", "1B 05 01 02 03", "FB");
        row("1B 01 01 unsupported", "1B 01 01", "-");

        row("1C read transmit", "1C | 1C 00", "1C 01 | 1C 00 01", "trx=1");
        row("1C 01 read tuner", "1C 01", "1C 01 01", "atu=1");
        row("1C 02 read", "1C 02", "1C 02 00", "trx=1;atu=1");
        row("1D 19 read", "1D 19", "1D 19 61 00");
        row("1D 18 unsupported", "1D 18", "-");
        row("19 00 transceiver ID", "19 00", "19 00 A4");
        // Power state, as an IC-705 answers while it is on.
        row("18 read power state", "18", "18 01");
        row("18 01 power on: OK", "18 01", "FB");
        row("18 00 power off refused", "18 00", "FA");

        row("21 00 read RIT -1230 Hz", "21 00", "21 00 30 12 01", "rit=-1230");
        row("21 01 read RIT on", "21 01", "21 01 01", "rit=-1230");
        row("21 02 read XIT off", "21 02", "21 02 00", "xit=0");
        row("21 00 set +450 Hz", "21 00 50 04 00", "FB", "", "rit=450");
        row("21 00 set -1500 Hz", "21 00 00 15 01", "FB", "", "rit=-1500");
        row("21 00 set beyond 1.5 kHz refused", "21 00 00 20 00", "FA", "rit=-1500", "rit=-1500");
        row("21 01 read RIT off", "21 01", "21 01 00", "rit=0");
        row("21 05 unsupported", "21 05", "-");
        // The switches: off keeps the offset aside, on brings it back.
        row("21 01 00 switches RIT off, the offset kept", "21 01 00 | 21 01 | 21 00", "FB | 21 01 00 | 21 00 50 04 00",
            "rit=450", "rit=0 | | rit=0");
        row("21 01 01 switches RIT on again", "21 01 00 | 21 01 01 | 21 01", "FB | FB | 21 01 01", "rit=-1230",
            "rit=0 | rit=-1230 |");
        row("21 01 01 at offset 0 reads on", "21 01 01 | 21 01 | 21 01 00 | 21 01", "FB | 21 01 01 | FB | 21 01 00",
            "rit=0", "rit=0");
        row("21 01 00 when RIT is off: OK, nothing changes", "21 01 00 | 21 01", "FB | 21 01 00", "rit=0", "rit=0");
        row("21 00 while RIT is off waits for the switch", "21 01 00 | 21 00 00 12 01 | 21 00 | 21 01 01",
            "FB | FB | 21 00 00 12 01 | FB", "rit=450", "rit=0 | rit=0 | | rit=-1200");
        row("21 00 beyond 1.5 kHz refused while RIT is off", "21 01 00 | 21 00 00 20 00 | 21 01 01", "FB | FA | FB",
            "rit=450", "| rit=0 | rit=450");
        row("21 02 switches XIT off and on", "21 02 00 | 21 02 | 21 02 01 | 21 02", "FB | 21 02 00 | FB | 21 02 01",
            "xit=-300", "xit=0 | | xit=-300 |");
        row("21 01 02 refused: not a switch value", "21 01 02", "FA", "rit=450", "rit=450");
        row("21 02 with two data bytes unsupported", "21 02 01 01", "-");

        // Send Morse: refusals (keying has its own tests).
        row("17 without text refused", "17", "FA");
        row("17 with only a space refused", "17 20", "FA");
        row("17 with nothing the Morse table knows refused", "17 23 25 26", "FA");
        row("17 with 31 characters refused",
            "17 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45 45", "FA");
        row("17 FF with nothing being sent: OK", "17 FF", "FB");
    }
    void tonesTransmitRit() { runCommandRow(); }

    void scopeCommands_data()
    {
        commandColumns();
        row("27 10 read", "27 10", "27 10 01");
        row("27 13 read", "27 13", "27 13 00");
        row("27 16 read", "27 16", "27 16 00 00");
        row("27 15 read span", "27 15", "27 15 00 00 00 05 00 00");
        row("27 15 01 read span", "27 15 01", "27 15 00 00 00 05 00 00");
        row("27 19 read reference", "27 19", "27 19 00 00 00 01");
        row("27 1A read other", "27 1A", "27 1A");
        row("27 12 01 set", "27 12 01", "FB");
        row("27 12 01 02 set", "27 12 01 02", "FB");
        row("27 12 with six data bytes set", "27 12 01 02 03 04 05 06", "FB");
        row("27 19 set reference +15 clamps to 10", "27 19 00 15 00 00", "FB", "", "fftref=10");
        row("27 19 set reference -7", "27 19 00 07 00 01", "FB", "", "fftref=-7");
        row("27 18 with a reference's length unsupported", "27 18 00 07 00 01", "-");
        row("27 12 with three data bytes unsupported", "27 12 01 02 03", "-");
    }
    void scopeCommands() { runCommandRow(); }

    // ---- requests that need more than a table row ----

    void vfoModeBringsBackTheVfos()
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
    }

    // Requests the window carries out: signals with their arguments.
    void requestsForTheWindow_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("signal");
        QTest::addColumn<QList<int>>("args");
        QTest::newRow("1A 05 01 66 sets the time") << "1A 05 01 66 12 34" << "time" << QList<int>{ 12, 34 };
        QTest::newRow("1A 05 01 70 UTC offset west") << "1A 05 01 70 05 30 01" << "utc" << QList<int>{ -530 };
        QTest::newRow("1A 05 01 70 UTC offset east") << "1A 05 01 70 09 00 00" << "utc" << QList<int>{ 900 };
        QTest::newRow("1A 05 01 65 sets the date") << "1A 05 01 65 20 24 03 15" << "date"
                                                   << QList<int>{ 2024, 3, 15 };
        QTest::newRow("1C 00 01 transmit") << "1C 00 01" << "trx" << QList<int>{ 1 };
        QTest::newRow("1C 01 02 tune") << "1C 01 02" << "atu" << QList<int>{ 2 };
        QTest::newRow("1C 05 01 neither") << "1C 05 01" << "" << QList<int>{};
    }
    void requestsForTheWindow()
    {
        QFETCH(QString, request);
        QFETCH(QString, signal);
        QFETCH(QList<int>, args);
        QSignalSpy time(m_dev, &CivDevice::sig_setTimeMinSec);
        QSignalSpy utc(m_dev, &CivDevice::sig_setUtcOffset);
        QSignalSpy date(m_dev, &CivDevice::sig_setDate);
        QSignalSpy trx(m_dev, &CivDevice::sig_setTrxStatus);
        QSignalSpy atu(m_dev, &CivDevice::sig_setAtuStatus);
        QCOMPARE(askBody(qPrintable(request)), reply("FB"));
        const QMap<QString, QSignalSpy *> spies = { { "time", &time }, { "utc", &utc }, { "date", &date },
                                                    { "trx", &trx }, { "atu", &atu } };
        for (auto it = spies.constBegin(); it != spies.constEnd(); ++it) {
            QCOMPARE(it.value()->size(), it.key() == signal ? 1 : 0);
            if (it.key() != signal)
                continue;
            QList<int> got;
            for (const QVariant &v : it.value()->at(0))
                got << v.toInt();
            QCOMPARE(got, args);
        }
    }

    // Every 0.1 W step of both ratings survives a read and a set: what a
    // CAT program reads back, it can set again unchanged.
    void powerLevelRoundTrip_data()
    {
        QTest::addColumn<float>("rated");
        QTest::newRow("10 W") << 10.0f;
        QTest::newRow("5 W") << 5.0f;
    }
    void powerLevelRoundTrip()
    {
        QFETCH(float, rated);
        m_store->txPowerMax = rated;
        for (int tenths = 1; tenths <= int(rated * 10); ++tenths) {
            const float w = float(tenths) / 10.0f;
            setWp("txpwr", w);
            const QByteArray level = askBody("14 0A").mid(6, 2);
            QCOMPARE(askBody(qPrintable("14 0A " + level.toHex(' '))), reply("FB"));
            QVERIFY2(qFuzzyCompare(wpf("txpwr"), w), qPrintable(QString("%1 W read as %2, set back as %3")
                                                                     .arg(w).arg(dump(level)).arg(wpf("txpwr"))));
        }
    }

    // An offset set on the front panel while RIT is switched off from the
    // port is the operator's: RIT reads on with it.
    void ritSwitchGivesWayToThePanel()
    {
        setWp("rit", 450);
        QCOMPARE(askBody("21 01 00"), reply("FB"));
        QCOMPARE(wp("rit"), 0);
        setWp("rit", -200); // the RIT knob
        QCOMPARE(askBody("21 01"), reply("21 01 01"));
        QCOMPARE(askBody("21 00"), reply("21 00 00 02 01"));
        QCOMPARE(askBody("21 01 00"), reply("FB"));
        QCOMPARE(askBody("21 01 01"), reply("FB"));
        QCOMPARE(wp("rit"), -200);
    }

    // The keyer speed "ks" as the Morse sender's element length.
    void morseUnit_data()
    {
        QTest::addColumn<int>("wpm");
        QTest::addColumn<int>("unit");
        QTest::newRow("5 WPM") << 5 << 240;
        QTest::newRow("15 WPM") << 15 << 80;
        QTest::newRow("20 WPM") << 20 << 60;
        QTest::newRow("40 WPM") << 40 << 30;
        QTest::newRow("50 WPM") << 50 << 24;
        QTest::newRow("60 WPM keys at 50") << 60 << 24;
        QTest::newRow("3 WPM keys at 5") << 3 << 240;
    }
    void morseUnit()
    {
        QFETCH(int, wpm);
        QFETCH(int, unit);
        QCOMPARE(int(CivMorse::unitOf(wpm)), unit);
    }

    // The key line's changes as the Morse sender's stand-in writes them
    // under a system root: "<t_ns> 203 <level>" lines.
    static QList<int> keyLevels(const QString &file)
    {
        QList<int> levels;
        for (const QByteArray &line : ztest::readFile(file).split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w.size() == 3 && w[1] == "203")
                levels << w[2].toInt();
        }
        return levels;
    }
    bool morseIdle()
    {
        QElapsedTimer t;
        t.start();
        while (m_dev->commands().morse().busy() && t.elapsed() < 20000)
            QThread::msleep(10);
        return !m_dev->commands().morse().busy();
    }

    // 17h keys the text at the keyer speed; a text sent while one is keyed
    // follows it.
    void morseKeyedAndQueued()
    {
        const QString chip = m_root.path() + "/dev/gpiochip0";
        QVERIFY(ztest::writeFile(chip, QByteArray()));
        ztest::AtExit removeChip([&] { QFile::remove(chip); });
        setWp("ks", 50);
        QCOMPARE(askBody("17 43 51 20 54 45 53 54"), reply("FB")); // "CQ TEST"
        QCOMPARE(askBody("17 45"), reply("FB"));                   // "E", queued
        QCOMPARE(askBody("17 54 23"), reply("FB"));                // "T#": '#' has no pattern
        QVERIFY(morseIdle());
        const QList<int> levels = keyLevels(chip);
        // Per text the line is requested (1), then each element is down (0)
        // and up (1): C Q T E S T 14 elements, E 1, T 1.
        QCOMPARE(levels.count(0), 14 + 1 + 1);
        QCOMPARE(levels.count(1), 3 + 14 + 1 + 1);
        QCOMPARE(levels.last(), 1);
    }

    // 17 FF stops the text after its current character and drops the
    // queue; a queue that is full refuses more. At 5 WPM a text takes tens
    // of seconds, far longer than the requests below, whatever the load.
    void morseStoppedAndQueueBounded()
    {
        const QString chip = m_root.path() + "/dev/gpiochip0";
        QVERIFY(ztest::writeFile(chip, QByteArray()));
        ztest::AtExit removeChip([&] { QFile::remove(chip); });
        setWp("ks", 5);
        const char *zeros = "17 30 30 30 30 30 30 30 30 30 30"; // "0000000000": 5 dashes each
        QCOMPARE(askBody(zeros), reply("FB"));
        QCOMPARE(askBody(zeros), reply("FB"));
        QCOMPARE(askBody("17 FF"), reply("FB"));
        QVERIFY(morseIdle());
        // Whole characters of the first text (none when the stop came before
        // it started), the key up at the end, the second text dropped.
        const QList<int> levels = keyLevels(chip);
        const int downs = levels.count(0);
        QVERIFY2(downs % 5 == 0 && downs < 50, qPrintable(QString::number(downs)));
        QVERIFY(levels.isEmpty() || levels.last() == 1);
        QVERIFY(levels.count(1) <= 1 + downs); // one request of the line at most

        const char *dots = "17 45 45 45 45 45 45 45 45 45 45"; // "EEEEEEEEEE": a stop ends it soon
        int accepted = 0;
        for (int i = 0; i < CivMorse::kQueueMax + 4; ++i)
            accepted += askBody(dots) == reply("FB");
        // The queue holds kQueueMax texts behind the one being keyed (which
        // may or may not have left it yet).
        QVERIFY2(accepted >= CivMorse::kQueueMax && accepted <= CivMorse::kQueueMax + 1,
                 qPrintable(QString::number(accepted)));
        // Once while the keyer is busy, not per refusal.
        QCOMPARE(logCount("civ morse queue full, text refused"), 1);
        QCOMPARE(askBody("17 FF"), reply("FB"));
        QVERIFY(morseIdle());
    }

    void filterWidthOfTheStore()
    {
        // Filter width of the current twin filter, in BCD.
        const ztwinfilter_t tf = m_store->twinFilter();
        const float w = std::fabs(qMin(tf.fp1.high, tf.fp2.high) - qMax(tf.fp1.low, tf.fp2.low));
        const int idx = civconv::filterWidthIndex(w, false);
        QCOMPARE(askBody("1A 03"), reply(qPrintable(QString("1A 03 %1%2").arg(idx / 10).arg(idx % 10))));
    }

    void bandStackRecord()
    {
        // Band-stack record of 20 m.
        const QByteArray rec = askBody("1A 01 05 01");
        const zparam_memo_t memo = m_store->getBandStackItem(11);
        uint8_t data = 0;
        const uint8_t civ = civconv::zrmode2civmode(memo.vfoa.value("mode").value.toInt(), &data);
        QByteArray body = hx("1A 01 05 01") + civconv::freq2bcd(memo.vfoa.value("freq").value.toInt());
        body += char(civ);
        body += char(m_store->twinFilterGroupIndex() + 1);
        body += char(data);
        body += hx("00 00 00 08 85 00 08 85 00 00 23 00 00 00 00") + QByteArray("ZR450") + QByteArray(19, ' ');
        QCOMPARE(dump(rec), dump(hx("FE FE E0 A4") + body + hx("FD")));
    }

    void scopeTraceAndStream()
    {
        QVector<float> trace(CIV_SCOPE_POINTS);
        for (int i = 0; i < trace.size(); ++i)
            trace[i] = -145.0f + float(i % 146);
        m_dev->slot_scopeDataReceiver(trace);
        QByteArray expTrace;
        for (float v : trace)
            expTrace += char(civconv::scopeByte(v));
        QCOMPARE(askBody("27 00"), reply("27 00 00 00 01 00 00 00" + expTrace.toHex(' ')));

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
                QByteArray exp = hx("FE FE E0 A4 27 00 00 01 01 00") + civconv::freq2bcd(front("freq"))
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

    // The network server's port carries the scope stream as well, once a
    // controller switches it on with 27 10 01 and 27 11 01: one frame per
    // two 50 ms phases while a trace is ready, as on the Bluetooth port;
    // the wired port gets none.
    void scopeStreamReachesTheServerPort()
    {
        int srv[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, srv), 0);
        m_dev->attachPorts(m_sock[0], -1, srv[0]);
        ztest::AtExit closeServer([&] {
            m_dev->attachPorts(m_sock[0], -1);
            close(srv[0]);
            close(srv[1]);
        });
        QVector<float> trace(CIV_SCOPE_POINTS, -65.0f);
        QCOMPARE(askBody("27 11 00"), reply("FB"));
        QVERIFY(!m_dev->scopeStreaming());
        drainFd(srv[1]);
        for (int i = 0; i < 4; ++i) {
            m_dev->slot_scopeDataReceiver(trace);
            m_dev->slot_rxPhase();
        }
        QVERIFY(drainFd(srv[1]).isEmpty());

        QCOMPARE(askBody("27 10 01"), reply("FB"));
        QCOMPARE(askBody("27 11 01"), reply("FB"));
        QVERIFY(m_dev->scopeStreaming());
        drainFd(srv[1]);
        drainFd(m_sock[1]);
        const QByteArray exp = hx("FE FE E0 A4 27 00 00 01 01 00") + civconv::freq2bcd(front("freq"))
            + hx("00 00 50 02 00 00") + QByteArray(CIV_SCOPE_POINTS, char(88)) + hx("FD");
        int frames = 0;
        for (int i = 0; i < 20; ++i) {
            m_dev->slot_scopeDataReceiver(trace);
            m_dev->slot_rxPhase();
            const QByteArray got = drainFd(srv[1]);
            if (!got.isEmpty()) {
                ++frames;
                QCOMPARE(got, exp);
            }
        }
        QCOMPARE(frames, 10);
        QVERIFY(drainFd(m_sock[1]).isEmpty());
        QCOMPARE(askBody("27 11 00"), reply("FB"));
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

        // FEh never occurs in a request: a third FE lengthens the preamble
        // (noise ending in FE before a request looks the same).
        QCOMPARE(ask(hx("FE FE FE A4 E0 03 FD")), freqReply);
        QCOMPARE(m_dev->parserState(), 0);
        QCOMPARE(ask(hx("FE FE FE 94 E0 03 FD")), freqReply);
        QCOMPARE(logCount("packet = FE"), 0);
        // A single FE inside a frame stays in it: not a request of ours.
        QVERIFY(ask(hx("FE FE A4 FE E0 03 FD")).isEmpty());
        QCOMPARE(logCount("frame size = 4, packet = A4 FE E0 03"), 1);
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

    // Line noise, or a controller that stopped in the middle of a frame,
    // leaves a frame without its end; the next request starts with a new
    // FE FE and is answered.
    void requestAfterLineNoiseIsAnswered()
    {
        const QByteArray freqReply = reply("03 00 40 07 14 00");
        std::mt19937 rng(4711);
        for (int burst = 0; burst < 300; ++burst) {
            QByteArray noise;
            const int n = 1 + int(rng() % 64);
            for (int i = 0; i < n; ++i) {
                uint8_t b = uint8_t(rng() % 4 == 0 ? 0xFE : rng() & 0xFF);
                if (b == 0xFD)
                    b = 0x33; // no end of frame: nothing the noise says is taken as a request
                noise += char(b);
            }
            QVERIFY(ask(noise).isEmpty());
            QVERIFY2(ask(hx("FE FE A4 E0 03 FD")) == freqReply,
                     qPrintable("after noise" + civconv::packetDump(noise)));
            QCOMPARE(m_dev->parserState(), 0);
        }
        // A controller that died mid-frame: its half request changes nothing.
        QVERIFY(ask(hx("FE FE A4 E0 05 00 50")).isEmpty());
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), freqReply);
        QCOMPARE(front("freq"), 14074000);
        // Noise ending in FEh, split from the request.
        QVERIFY(ask(hx("FE FE 12 34 FE")).isEmpty());
        QCOMPARE(ask(hx("FE FE A4 E0 03 FD")), freqReply);
        // A longer preamble inside a frame still starts the request.
        QCOMPARE(ask(hx("FE FE 77 FE FE FE FE A4 E0 03 FD")), freqReply);
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

        // Stopping ends the loop and takes the network server's port away.
        admin.reset();
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
        QTRY_COMPARE_WITH_TIMEOUT(logCount("rfcomm silent, closed"), 1, 15000);
        // While the client stays silent the port is opened and closed again
        // every few seconds; the log has the first round only.
        QTRY_VERIFY_WITH_TIMEOUT(dev->bluetoothSilentCloses() >= 2, 20000);
        QCOMPARE(logCount("rfcomm silent, closed"), 1);
        QCOMPARE(logCount("rfcomm opened"), 1);
        QCOMPARE(logCount("rfcomm"), 2);
        // Reopened, it answers; the client heard is logged once.
        QTRY_VERIFY_WITH_TIMEOUT(dev->bluetoothFd() >= 0, 5000);
        const QByteArray req = hx("FE FE A4 E0 04 FD");
        QByteArray got;
        for (int i = 0; i < 20 && got.isEmpty(); ++i) {
            // A request written while the port was being closed is lost.
            QVERIFY(write(bt.master, req.constData(), size_t(req.size())) == req.size());
            got = readFrames(bt.master, 1, 3000);
        }
        QCOMPARE(got.right(8), reply("04 01 01"));
        QTRY_COMPARE_WITH_TIMEOUT(logCount("rfcomm heard"), 1, 3000);
        admin.reset();
        setRoot(m_root.path());
    }

    // ---- hamlib's rigctl and rigctld for the IC-705, against the real simulator ----

    void rigctlAgainstSimulator()
    {
        QVERIFY2(!hamlibTool("rigctl").isEmpty(), "rigctl (Debian package libhamlib-utils) is not installed");
        SimRadio r;
        QVERIFY(r.start());
        for (const char *l : { "/dev/ttyS2", "/dev/ttyS2.host", "/dev/rfcomm0", "/dev/rfcomm0.host" })
            QVERIFY2(QFileInfo(r.path(l)).isSymLink(), l);
        ZParamAdmin *store = r.store;
        // Rated 10 W, as the board reports it.
        store->txPowerMax = 10.0f;

        for (const char *portName : { "/dev/ttyS2.host", "/dev/rfcomm0.host" }) {
            const QString port = r.path(portName);
            r.ptt.clear();
            store->signalLevel = -75.0f; // S9 as the window would store it
            store->setParamItem("wparam", "txpwr", 5.0f);
            store->setParamItem("wparam", "sple", 0);
            // The Bluetooth port closes after 5 s of silence: be heard
            // first, so the session below finds it open.
            QVERIFY(r.wakePort(port));

            const QStringList out = rigctl(port, { "F", "7074000", "f", "M", "LSB", "0", "m", "M", "CW", "0", "m",
                                                   "M", "AM", "0", "m", "M", "FM", "0", "m", "M", "PKTUSB", "0",
                                                   "m", "M", "USB", "0", "m", "S", "1", "VFOB", "s", "S", "0",
                                                   "VFOA", "s", "l", "RFPOWER", "L", "RFPOWER", "0.3", "l",
                                                   "RFPOWER", "L", "RFPOWER", "0.5", "l", "RFPOWER", "l",
                                                   "STRENGTH", "T", "1" });
            // Modes with their pass-band widths (the twin filters' overlaps
            // in Icom's width index; rigctl takes FM widths from its own
            // table), split, the power level (5 W of 10 W is level 128;
            // 0.3 of full scale sets 3 W, 0.5 sets 5 W) and S9 on the
            // S-meter.
            QCOMPARE(out.join(' ').replace(QRegularExpression("FM [0-9]+"), "FM w"),
                     QString("7074000 LSB 2700 CW %1 AM %2 FM w PKTUSB 2700 USB 2700 1 VFOB 0 VFOA "
                             "0.501961 0.301961 0.501961 0")
                         .arg(width(store, zrnamespace::ModeCW), width(store, zrnamespace::ModeAM)));
            QCOMPARE(store->vfoFront("freq").value.toInt(), 7074000);
            QCOMPARE(store->vfoFront("mode").value.toInt(), 2);
            QCOMPARE(store->paramItem("wparam", "sple").value.toInt(), 0);
            QCOMPARE(store->paramItem("wparam", "txpwr").value.toFloat(), 5.0f);

            // The transmit request reaches the radio link, the board
            // transmits and the CAT program reads it back.
            QVERIFY(r.waitWhileKeyed(port, [&] { return r.ptt.contains(1); }));
            QCOMPARE(int(r.radio->civPtt.load()), 1);
            QVERIFY(r.waitWhileKeyed(port, [&] { return r.transmitting(true); }));
            QCOMPARE(rigctl(port, { "t", "T", "0" }), QStringList{ "1" });
            QVERIFY(r.waitWhileKeyed(port, [&] { return !r.ptt.isEmpty() && r.ptt.last() == 0; }));
            QCOMPARE(int(r.radio->civPtt.load()), 0);
            QVERIFY(r.waitWhileKeyed(port, [&] { return r.transmitting(false); }));
            QCOMPARE(rigctl(port, { "t" }), QStringList{ "0" });
        }
    }

    // A logger and WSJT-X through hamlib's network daemon on the wired
    // port: two clients poll frequency, mode, split and PTT every 100 ms
    // while the third sets the frequency, the split transmit frequency and
    // PKTUSB and keys PTT 20 times. Every key reaches the board and
    // returns; no request fails; once the settings are made, every read
    // shows them.
    void rigctldServesLoggerAndWsjtx()
    {
        const QString rigctld = hamlibTool("rigctld");
        QVERIFY2(!rigctld.isEmpty(), "rigctld (Debian package libhamlib-utils) is not installed");
        SimRadio r;
        QVERIFY(r.start());
        r.store->setVfoFront("freq", 7074000);
        r.store->setVfoFront("mode", 2);
        r.store->setParamItem("wparam", "sple", 0);

        QProcess daemon;
        int tcpPort = 0;
        QVERIFY(startRigctld(daemon, rigctld, r.path("/dev/ttyS2.host"), &tcpPort));
        ztest::AtExit stopDaemon([&] {
            daemon.terminate();
            if (!daemon.waitForFinished(5000)) {
                daemon.kill();
                daemon.waitForFinished(2000);
            }
        });

        std::atomic<bool> stop{ false };
        std::atomic<bool> set{ false }; // the WSJT-X client's settings are made
        std::atomic<int> polls{ 0 };
        std::atomic<int> keyed{ 0 };
        std::mutex faultsMutex;
        QStringList faults;
        auto fault = [&](const QString &what) {
            std::lock_guard<std::mutex> lock(faultsMutex);
            if (faults.size() < 20)
                faults << what;
        };

        auto poller = [&](int id) {
            RigctldClient c;
            if (!c.connect(tcpPort)) {
                fault(QString("poller %1: no connection").arg(id));
                return;
            }
            while (!stop.load()) {
                // Reads asked after the settings were answered show them.
                const bool after = set.load();
                const QStringList f = c.ask("+f"), m = c.ask("+m"), s = c.ask("+s"), t = c.ask("+t");
                for (const QStringList *x : { &f, &m, &s, &t }) {
                    if (x->isEmpty() || x->last() != "RPRT 0")
                        fault(QString("poller %1: %2").arg(id).arg(x->join('|')));
                }
                if (after) {
                    if (!f.contains("Frequency: 14074000"))
                        fault(QString("poller %1: %2").arg(id).arg(f.join('|')));
                    if (!m.contains("Mode: PKTUSB"))
                        fault(QString("poller %1: %2").arg(id).arg(m.join('|')));
                    if (!s.contains("Split: 1") || !s.contains("TX VFO: VFOB"))
                        fault(QString("poller %1: %2").arg(id).arg(s.join('|')));
                }
                if (!t.contains("PTT: 0") && !t.contains("PTT: 1"))
                    fault(QString("poller %1: %2").arg(id).arg(t.join('|')));
                ++polls;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        };

        std::atomic<bool> wsjtxDone{ false };
        QByteArray splitReply;
        auto wsjtx = [&]() {
            ztest::AtExit done([&] { wsjtxDone = true; });
            RigctldClient c;
            if (!c.connect(tcpPort)) {
                fault("wsjtx: no connection");
                return;
            }
            for (const char *cmd : { "+F 14074000", "+S 1 VFOB", "+I 14075500", "+M PKTUSB 0" }) {
                const QStringList a = c.ask(cmd);
                if (a.isEmpty() || a.last() != "RPRT 0") {
                    fault(QString("wsjtx %1: %2").arg(cmd, a.join('|')));
                    return;
                }
            }
            set = true;
            // The board's transmit report, as the window keeps it in the
            // store, and as the simulator sees the board.
            auto waitTx = [&](bool on) {
                QElapsedTimer t;
                t.start();
                while (t.elapsed() < 20000 && !stop.load()) {
                    if (r.store->trxState.load() == (on ? 1 : 0) && r.transmitting(on))
                        return true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                return false;
            };
            for (int k = 0; k < 20 && !stop.load(); ++k) {
                QStringList a = c.ask("+T 1");
                if (a.isEmpty() || a.last() != "RPRT 0" || !waitTx(true)) {
                    fault(QString("wsjtx key %1 on: %2").arg(k).arg(a.join('|')));
                    return;
                }
                a = c.ask("+t");
                if (!a.contains("PTT: 1"))
                    fault(QString("wsjtx key %1 read: %2").arg(k).arg(a.join('|')));
                a = c.ask("+T 0");
                if (a.isEmpty() || a.last() != "RPRT 0" || !waitTx(false)) {
                    fault(QString("wsjtx key %1 off: %2").arg(k).arg(a.join('|')));
                    return;
                }
                ++keyed;
            }
            // The split transmit frequency as the radio has it (25 01): the
            // daemon answers "i" from its own cache.
            const QStringList a = c.ask("+W \\0xFE\\0xFE\\0xA4\\0xE0\\0x25\\0x01\\0xFD 12");
            for (const QString &line : a) {
                if (line.startsWith("Reply: "))
                    splitReply = QByteArray::fromHex(QString(line.mid(7)).remove("\\0x").section(' ', 0, 0).toLatin1());
            }
        };

        std::thread p1(poller, 1), p2(poller, 2), w(wsjtx);
        ztest::Joiner j1(p1, &stop), j2(p2, &stop), jw(w, &stop);
        // The window: transmit requests go to the radio link (queued to this
        // thread), the update tick sends the settings to the board.
        QElapsedTimer t;
        t.start();
        while (!wsjtxDone.load() && t.elapsed() < 240000) {
            QTest::qWait(20);
            zradio_update_params();
        }
        stop = true;
        w.join();
        p1.join();
        p2.join();

        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QCOMPARE(keyed.load(), 20);
        QVERIFY(polls.load() > 10);
        QCOMPARE(r.ptt.count(1), 20);
        QCOMPARE(r.ptt.count(0), 20);
        QCOMPARE(dump(splitReply), dump(hx("FE FE E0 A4 25 01 00 55 07 14 00 FD")));
        QCOMPARE(r.store->vfoFront("freq").value.toInt(), 14074000);
        QCOMPARE(r.store->vfoFront("mode").value.toInt(), int(zrnamespace::ModeUSBDig));
        QCOMPARE(r.store->paramItem("vfob", "freq").value.toInt(), 14075500);
        QCOMPARE(r.store->paramItem("wparam", "sple").value.toInt(), 1);
    }

    // The same session with rigctl on the Bluetooth port: the settings,
    // then 20 keys, each read back while the board transmits.
    void rigctlKeysTwentyTimesOnBluetooth()
    {
        QVERIFY2(!hamlibTool("rigctl").isEmpty(), "rigctl (Debian package libhamlib-utils) is not installed");
        SimRadio r;
        QVERIFY(r.start());
        const QString port = r.path("/dev/rfcomm0.host");
        r.store->setParamItem("wparam", "sple", 0);
        QVERIFY(r.wakePort(port));
        QCOMPARE(rigctl(port, { "F", "14074000", "S", "1", "VFOB", "I", "14075500", "M", "PKTUSB", "0", "f", "m",
                                "s", "T", "1" }),
                 (QStringList{ "14074000", "PKTUSB", "2700", "1", "VFOB" }));
        for (int k = 0; k < 20; ++k) {
            QVERIFY2(r.waitWhileKeyed(port, [&] { return r.transmitting(true); }), qPrintable(QString::number(k)));
            QCOMPARE(rigctl(port, { "t", "T", "0" }), QStringList{ "1" });
            QVERIFY2(r.waitWhileKeyed(port, [&] { return r.transmitting(false); }), qPrintable(QString::number(k)));
            QCOMPARE(rigctl(port, k < 19 ? QStringList{ "t", "T", "1" } : QStringList{ "t" }), QStringList{ "0" });
        }
        QCOMPARE(r.ptt.count(1), 20);
        QCOMPARE(r.ptt.count(0), 20);
        // The split transmit frequency as the radio has it.
        QCOMPARE(dump(civExchange(port, hx("FE FE A4 E0 25 01 FD"))), dump(hx("FE FE E0 A4 25 01 00 55 07 14 00 FD")));
        QCOMPARE(r.store->vfoFront("freq").value.toInt(), 14074000);
        QCOMPARE(r.store->paramItem("vfob", "freq").value.toInt(), 14075500);
    }

    // "b" keys the simulator's CW key line with the message at the keyer
    // speed; the RIT and XIT switches round-trip, an offset switched off
    // comes back.
    void rigctlSendsMorseAndSwitchesRit()
    {
        QVERIFY2(!hamlibTool("rigctl").isEmpty(), "rigctl (Debian package libhamlib-utils) is not installed");
        SimRadio r;
        QVERIFY(r.start());
        const QString port = r.path("/dev/ttyS2.host");
        r.store->setParamItem("wparam", "ks", 40);
        QCOMPARE(simControl(r.root.path(), "cwkey reset"), QStringLiteral("ok"));
        QCOMPARE(rigctl(port, { "b", "CQ TEST" }), QStringList{});
        // C Q T E S T: 4 + 4 + 1 + 1 + 3 + 1 key-downs, 28 units of 30 ms.
        auto key = [&](const char *name) { return cwkeyField(simControl(r.root.path(), "cwkey"), name); };
        QVERIFY(r.waitWhileKeyed(port, [&] { return key("downs") >= 14 && !r.admin->device()->commands().morse().busy(); }));
        QCOMPARE(key("downs"), 14.0);
        QCOMPARE(key("level"), 1.0);

        r.store->setParamItem("wparam", "rit", 0);
        r.store->setParamItem("wparam", "xit", 0);
        QCOMPARE(rigctl(port, { "U", "RIT", "1", "u", "RIT", "U", "RIT", "0", "u", "RIT", "U", "XIT", "1", "u", "XIT",
                                "U", "XIT", "0", "u", "XIT" }),
                 (QStringList{ "1", "0", "1", "0" }));
        QCOMPARE(rigctl(port, { "J", "500", "U", "RIT", "0", "u", "RIT", "j", "U", "RIT", "1", "u", "RIT", "j" }),
                 (QStringList{ "0", "500", "1", "500" }));
        QCOMPARE(r.store->paramItem("wparam", "rit").value.toInt(), 500);
    }
};

QTEST_GUILESS_MAIN(TestCiv)
#include "test_civ.moc"
