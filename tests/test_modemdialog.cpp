// The modem dialog: its faces, keys and knob, the settings it applies to
// the modem host, sending (the send states, the transmit signal and the echo
// tick by tick) and receiving (squelch, decoded text) against the sound-card
// stand-in played by the test; the launch from the operating screen with its
// shrunk panadapter; and the whole way through the real simulator: its
// stations decoded on screen, messages sent from the message page and
// measured (and decoded) by the simulator, CW keyed on its key line.
#include "tests/panels_support.h"
#include "tests/radio_support.h"
#include "tests/test_support.h"

#include "app/zsystem.h"
#include "modem/cw_dem.h"
#include "modem/dialogmodem.h"
#include "modem/tools/modem_harness.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"
#include "modem/zmodem_wav.h"
#include "modem/zrmodem.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "radio/zradioevent.h"
#include "sim/alsa/zsimaudio.h"
#include "spectrum/zscopegl.h"
#include "ui/mainwidget.h"
#include "ui/zdrawscope.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

using pantest::sendKey;
using pantest::tapKey;
using pantest::turnKnob;
using ztest::logCount;

namespace {

const QString W = QStringLiteral("wparam");

// A group key as the input thread posts it: Ctrl+digit, press only.
void groupKey(QWidget *w, int digit)
{
    sendKey(w, QEvent::KeyPress, Qt::Key_0 + digit, Qt::ControlModifier, QStringLiteral("^%1").arg(digit));
}

// What the display shows, as one line of text: wrapped lines joined, line
// feeds received marked as spaces, normalised like the decoders' output.
QByteArray shownText(DialogModem *d)
{
    QString s = d->display()->toPlainText();
    s.replace(QChar(0x21B2), QLatin1Char(' '));
    s.remove(QLatin1Char('\n'));
    return zmh::normalise(s.toLatin1());
}

// The colour of the first character of `text` on the display.
QColor colourOf(DialogModem *d, const QString &text)
{
    QTextDocument *doc = d->display()->document();
    const QTextCursor found = doc->find(text);
    if (found.isNull())
        return QColor();
    QTextCursor c(doc);
    c.setPosition(found.selectionStart() + 1);
    return c.charFormat().foreground().color();
}

// " MODEM: RTTY, RSSI: 42, WPM:25" -> 42 (rssi) / 25 (wpm); -1 when absent.
int titleField(DialogModem *d, const char *name)
{
    const QRegularExpression re(QStringLiteral("%1:\\s*(\\d+)").arg(QLatin1String(name)));
    const QRegularExpressionMatch m = re.match(d->titleLabel()->text());
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Plays unit-scale audio to the stand-in's capture in real time, topping
// its queue up as it drains (it holds at most 10 s); bounded.
bool playToCapture(zsimaudio_t *peer, const std::vector<float> &hostScale)
{
    std::vector<float> v(hostScale.size());
    for (size_t i = 0; i < v.size(); i++)
        v[i] = hostScale[i] / 32767.0f;
    size_t pos = 0;
    QElapsedTimer t;
    t.start();
    const qint64 limit = qint64(v.size() * 1000 / 16000) * 3 + 10000;
    while (pos < v.size() && t.elapsed() < limit) {
        if (zsimaudio_capture_queued(peer) < 32000) {
            const size_t n = std::min<size_t>(16000, v.size() - pos);
            pos += zsimaudio_write_capture_mono(peer, v.data() + pos, n);
        }
        QTest::qWait(20);
    }
    return pos == v.size();
}

// Waits until everything queued at the capture has been handed out, the
// host has processed `blocks` more blocks than at `from`, and a few more
// after that (the audio in transit); bounded.
bool waitProcessed(zsimaudio_t *peer, ZRModem *m, uint64_t from, uint64_t blocks, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && (zsimaudio_capture_queued(peer) > 0 || m->blocksProcessed.load() < from + blocks))
        QTest::qWait(20);
    const uint64_t then = m->blocksProcessed.load() + 6;
    while (t.elapsed() < ms && m->blocksProcessed.load() < then)
        QTest::qWait(20);
    return m->blocksProcessed.load() >= then;
}

// Everything the stand-in has of the transmit audio now (left channel, on
// the host's 16-bit scale).
std::vector<float> takePlayback(zsimaudio_t *peer)
{
    std::vector<float> out;
    std::vector<int16_t> buf(2 * 1024);
    size_t n;
    while ((n = zsimaudio_read_playback(peer, buf.data(), 1024, 0)) > 0)
        for (size_t i = 0; i < n; i++)
            out.push_back(buf[2 * i]);
    return out;
}

// The dialog on a fresh system root, its sound card played by the test.
// Store values are set before the dialog is built when `prepare` asks.
struct Bench {
    ztest::Sysroot root;
    zsimaudio_t *peer = nullptr;
    std::unique_ptr<ZParamAdmin> store;
    rtest::RecordingWindow parent;
    DialogModem *d = nullptr;

    explicit Bench(const std::function<void(ZParamAdmin *)> &prepare = {}, bool startIt = true)
    {
        peer = zsimaudio_create(root.path().toLocal8Bit().constData());
        // The Morse sender's key line: a plain file collects its events.
        root.writeFile(QStringLiteral("/dev/gpiochip0"), QByteArray());
        store.reset(new ZParamAdmin(nullptr));
        if (prepare)
            prepare(store.get());
        parent.resize(800, 480);
        d = new DialogModem(&parent, store.get(), 0, 263, 800, 217);
        if (startIt) {
            d->start();
            // The host's two threads log their start when they run, which
            // may be after start() returns: tests that look at the log from
            // here on see nothing of it.
            const auto running = [] {
                return logCount(QStringLiteral("ZRModem::thread_dem created")) > 0 &&
                       logCount(QStringLiteral("ZRModem::thread_mod created")) > 0;
            };
            if (d->modem() && !QTest::qWaitFor(running, 10000))
                qWarning("the modem host's threads did not start");
        }
    }
    ~Bench()
    {
        delete d;
        store.reset();
        if (peer)
            zsimaudio_destroy(peer);
    }
    void set(const char *key, const QVariant &v) { store->setParamItem(W, QLatin1String(key), v); }
    int item(const char *key) { return store->paramItem(W, QLatin1String(key)).value.toInt(); }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; i++)
            d->slot_updateStatus();
    }
};

// The operating screen with the real modem dialog; `whileOpen` runs inside
// the dialog's modal loop (then the dialog is closed if it is still open).
class ModemWindow : public MainWidget
{
public:
    int opened = 0;
    QRect area;
    std::function<void(DialogModem *)> whileOpen;

    using MainWidget::scopeRect;

protected:
    QDialog *createModemDialog(const QRect &a) override
    {
        ++opened;
        area = a;
        QDialog *dlg = MainWidget::createModemDialog(a);
        auto *dm = qobject_cast<DialogModem *>(dlg);
        if (dm) {
            auto f = whileOpen;
            QTimer::singleShot(0, dm, [f, dm]() {
                if (f)
                    f(dm);
                if (dm->isVisible())
                    dm->close();
            });
        }
        return dlg;
    }
};

// With ZR450_UI_SHOTS naming a directory, the screen as the operator sees
// it is saved there.
void shot(const char *name)
{
    const QString dir = qEnvironmentVariable("ZR450_UI_SHOTS");
    if (dir.isEmpty() || !QGuiApplication::primaryScreen())
        return;
    QCoreApplication::processEvents();
    QDir().mkpath(dir);
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/" + QLatin1String(name) + ".png");
}

// "key=value" of a control reply.
double field(const QString &reply, const QString &key)
{
    for (const QString &w : reply.split(' '))
        if (w.startsWith(key + '='))
            return w.mid(key.size() + 1).toDouble();
    return -1;
}

int runProcess(const QString &program, const QStringList &args, QByteArray *out)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return -1;
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 60000)
        p.waitForFinished(100);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
        return -1;
    }
    *out = p.readAllStandardOutput();
    return p.exitCode();
}

} // namespace

class TestModemDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariable("ALSA_CONFIG_PATH").contains(QLatin1String("zr450-alsa.conf")),
                 "ALSA_CONFIG_PATH must name the generated zr450-alsa.conf (set by CTest)");
        ztest::installLogCapture();
        qRegisterMetaType<int32_t>("int32_t");
        qRegisterMetaType<uint8_t>("uint8_t");
    }

    void init() { ztest::clearLog(); }

    // ------------------------------------------------ faces and layout

    void facesFollowModeAndLayer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("second");
        QTest::addColumn<QStringList>("faces");
        QTest::newRow("BPSK") << 0 << false
                              << QStringList{"FUNC\n1/2", "MODE\nBPSK", "FC\n1000 Hz", "RATE\nPSK31", ""};
        QTest::newRow("RTTY") << 1 << false
                              << QStringList{"FUNC\n1/2", "MODE\nRTTY", "FC\n1000 Hz", "RATE\n45.45 bps", "SHIFT\n170 Hz"};
        QTest::newRow("CW") << 2 << false << QStringList{"FUNC\n1/2", "MODE\nCW", "TONE\n800", "SPEED\n15 WPM", ""};
        QTest::newRow("second layer") << 1 << true << QStringList{"FUNC\n2/2", "AFC\nOFF", "SQL\n0", "CLEAR", "EXIT"};
    }

    void facesFollowModeAndLayer()
    {
        QFETCH(int, mode);
        QFETCH(bool, second);
        QFETCH(QStringList, faces);
        Bench b([mode](ZParamAdmin *s) { s->setParamItem(W, "mdmmode", mode); });
        if (second)
            tapKey(b.d, Qt::Key_F1);
        for (int i = 0; i < 5; i++)
            QVERIFY2(b.d->buttonFace(i).startsWith(faces.at(i)),
                     qPrintable(QString("F%1: %2").arg(i + 1).arg(b.d->buttonFace(i))));
        // Display, title and keys fit the panel without overlapping, and
        // the display keeps five lines of its font.
        QString why;
        QVERIFY2(pantest::childrenFitWithoutOverlap(b.d, &why), qPrintable(why));
        QVERIFY(b.d->display()->height() >= 5 * QFontMetrics(b.d->display()->font()).lineSpacing());
        QCOMPARE(b.d->display()->document()->maximumBlockCount(), 5);
        QCOMPARE(b.d->functionButtonCount(), 5);
        QVERIFY(b.d->titleLabel()->text().startsWith(QStringLiteral(" MODEM: %1, RSSI:").arg(ZRModem::modeName(mode))));
        pantest::saveShot(b.d, QStringLiteral("modem-%1%2").arg(mode).arg(second ? "-2" : ""));
    }

    // ------------------------------------------------ settings

    // Every setting reaches the modem host once when it changes, logged;
    // ticks without a change apply and log nothing.
    void settingsApplyOnlyWhenChanged()
    {
        Bench b;
        ZRModem *m = b.d->modem();
        QVERIFY(m);
        QCOMPARE(logCount("pskRate"), 1);
        QCOMPARE(logCount("rttyRate"), 1);
        QCOMPARE(logCount("rttyShift"), 1);
        QCOMPARE(rtty_dem_get_samples_per_bit(m->rttyDem), unsigned(std::lround(16000 / 45.45)));
        ztest::clearLog();
        b.tick(5);
        b.d->updateButtons();
        QVERIFY2(ztest::logLines().isEmpty(), qPrintable(ztest::logLines().join('\n')));

        b.set("pskrate", 2);
        b.tick(3);
        QCOMPARE(logCount("pskRate"), 1);
        QCOMPARE(m->pskDem->rateIndex(), 2);
        // (The RTTY demodulator applies its rate with its next block: in RTTY.)
        b.set("mdmmode", 1);
        b.set("rttyrate", 4); // 75
        b.set("rttyshift", 9); // 850
        b.tick(3);
        QCOMPARE(logCount("rttyRate"), 1);
        QCOMPARE(logCount("rttyShift"), 1);
        QTRY_COMPARE(rtty_dem_get_samples_per_bit(m->rttyDem), unsigned(std::lround(16000 / 75.0)));
        b.set("modemsql", 40);
        b.set("modemafc", 1);
        b.set("modemfc", 1500);
        b.tick();
        QCOMPARE(m->sqlThreshold.load(), 40.0f);
        QCOMPARE(m->afcEnable.load(), uint8_t(1));
        QCOMPARE(m->fc(), 1500.0f);
        QCOMPARE(logCount("new lo phase="), 1);
        QCOMPARE(m->mode.load(), int(ZRModem::ModeRTTY));

        // CW: the carrier is the CW pitch, and back in RTTY the modem carrier.
        b.set("mdmmode", 2);
        b.set("cwtone", 650);
        b.tick(3);
        QCOMPARE(m->mode.load(), int(ZRModem::ModeCW));
        QCOMPARE(m->fc(), 650.0f);
        QCOMPARE(logCount("cwtone"), 1);
        QTRY_COMPARE(cw_dem_get_cwtone(m->cwDem), 650.0f);
        b.set("mdmmode", 1);
        b.tick();
        QCOMPARE(m->fc(), 1500.0f);
        QCOMPARE(logCount("new lo phase="), 2);
        ztest::clearLog();
        b.tick(5);
        QVERIFY2(ztest::logLines().isEmpty(), qPrintable(ztest::logLines().join('\n')));
    }

    // ------------------------------------------------ keys and knobs

    void keysSelectAndKnobSteps_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("second");
        QTest::addColumn<int>("fkey");     // 1..5
        QTest::addColumn<QString>("key");  // item the knob then steps
        QTest::addColumn<int>("onPress");  // its value after the key
        QTest::addColumn<int>("turn");     // knob counts (negative: clockwise)
        QTest::addColumn<int>("after");
        QTest::newRow("mode steps on F2") << 0 << false << 2 << "mdmmode" << 1 << -1 << 2;
        QTest::newRow("carrier") << 0 << false << 3 << "modemfc" << 1000 << -1 << 1001;
        QTest::newRow("CW pitch") << 2 << false << 3 << "cwtone" << 800 << -1 << 810;
        QTest::newRow("CW speed") << 2 << false << 4 << "ks" << 15 << 1 << 14;
        QTest::newRow("PSK rate") << 0 << false << 4 << "pskrate" << 0 << -1 << 1;
        QTest::newRow("RTTY rate") << 1 << false << 4 << "rttyrate" << 1 << -1 << 2;
        QTest::newRow("RTTY shift") << 1 << false << 5 << "rttyshift" << 3 << 1 << 2;
        QTest::newRow("AFC steps on F2") << 0 << true << 2 << "modemafc" << 1 << -1 << 0;
        QTest::newRow("squelch") << 0 << true << 3 << "modemsql" << 0 << -1 << 1;
    }

    void keysSelectAndKnobSteps()
    {
        QFETCH(int, mode);
        QFETCH(bool, second);
        QFETCH(int, fkey);
        QFETCH(QString, key);
        QFETCH(int, onPress);
        QFETCH(int, turn);
        QFETCH(int, after);
        Bench b([mode](ZParamAdmin *s) { s->setParamItem(W, "mdmmode", mode); });
        if (second)
            tapKey(b.d, Qt::Key_F1);
        QCOMPARE(b.d->layer(), second ? 1 : 0);
        tapKey(b.d, Qt::Key_F1 + fkey - 1);
        QCOMPARE(b.d->selectedKey(), key);
        QCOMPARE(b.d->selectedFunctionButton(), fkey - 1);
        QCOMPARE(b.item(key.toLatin1()), onPress);
        b.parent.clearEvents();
        turnKnob(b.d, turn);
        QCOMPARE(b.item(key.toLatin1()), after);
        // The tuning dial always tunes the radio: it goes to the main window.
        turnKnob(b.d, 1, Qt::AltModifier);
        QCOMPARE(b.item(key.toLatin1()), after);
        QTRY_COMPARE(b.parent.countOf(QEvent::Wheel, 0), 1);
        // The face shows the new value at once.
        QVERIFY2(b.d->buttonFace(fkey - 1).contains(b.store->paramItem(W, key).valueForDisp())
                     || key == "modemfc" || key == "ks" || key == "modemsql",
                 qPrintable(b.d->buttonFace(fkey - 1)));
        // F1 goes to the other layer and nothing stays selected: the knob
        // is the main window's again.
        tapKey(b.d, Qt::Key_F1);
        QCOMPARE(b.d->selectedItem(), 0);
        turnKnob(b.d, -1);
        QTRY_COMPARE(b.parent.countOf(QEvent::Wheel, 0), 2);
        QCOMPARE(b.item(key.toLatin1()), after);
    }

    // Message page, group keys, and the keys the panel passes on.
    void messagePageAndGroupKeys()
    {
        Bench b([](ZParamAdmin *s) {
            s->setParamItem(W, "msg01", QStringLiteral("CQ CQ DE ZR450 <K>"));
            s->setParamItem(W, "msg02", QStringLiteral("SECOND"));
            s->setParamItem(W, "msg03", QString());
            s->setParamItem(W, "msg05", QStringLiteral("<K>"));
        });
        b.d->statusTimer()->stop();
        b.d->show();
        groupKey(b.d, 4);
        QCOMPARE(b.d->buttonPage(), int(DialogModem::PageMessages));
        QVERIFY2(b.d->buttonFace(0).startsWith("MSG 1\nCQ CQ DE ZR"), qPrintable(b.d->buttonFace(0)));
        QCOMPARE(b.d->buttonFace(2), QStringLiteral("MSG 3\n<EMPTY>"));
        QCOMPARE(b.d->buttonFace(4), QStringLiteral("MSG 5\n<K>"));
        // An empty message sends nothing; a stored one is taken.
        tapKey(b.d, Qt::Key_F3);
        QCOMPARE(b.d->sendState(), int(DialogModem::SendIdle));
        tapKey(b.d, Qt::Key_F1);
        QCOMPARE(b.d->sendState(), int(DialogModem::SendPosted));
        QCOMPARE(b.d->sendingMessage(), QStringLiteral("CQ CQ DE ZR450 <K>"));
        // While one is on its way another is not taken.
        groupKey(b.d, 4);
        QCOMPARE(b.d->buttonPage(), int(DialogModem::PageFunctions));
        groupKey(b.d, 4);
        tapKey(b.d, Qt::Key_F2);
        QCOMPARE(b.d->sendingMessage(), QStringLiteral("CQ CQ DE ZR450 <K>"));
        // Ctrl+2 leaves the message page, then closes the panel.
        groupKey(b.d, 2);
        QCOMPARE(b.d->buttonPage(), int(DialogModem::PageFunctions));
        QVERIFY(b.d->isVisible());
        QCOMPARE(b.parent.countOf(QEvent::KeyPress, Qt::Key_2), 0);
        groupKey(b.d, 2);
        QVERIFY(!b.d->isVisible());
        QCOMPARE(b.parent.countOf(QEvent::KeyPress, Qt::Key_2), 0);
        // Ctrl+1, 3 and 5 close it and reach the main window.
        for (int g : {1, 3, 5}) {
            b.d->show();
            groupKey(b.d, g);
            QVERIFY(!b.d->isVisible());
            QTRY_COMPARE(b.parent.countOf(QEvent::KeyPress, Qt::Key_0 + g), 1);
        }
        // Front-panel presses and unused keys go on to the main window.
        {
            ZRadioEvent e(ZRadioEvent::LongPress, 209);
            QCoreApplication::sendEvent(b.d, &e);
            ZRadioEvent s(ZRadioEvent::ShortPress, 207);
            QCoreApplication::sendEvent(b.d, &s);
        }
        QTRY_COMPARE(b.parent.countOf(ZRadioEvent::LongPress, 209), 1);
        QTRY_COMPARE(b.parent.countOf(ZRadioEvent::ShortPress, 207), 1);
        tapKey(b.d, Qt::Key_PageUp);
        QTRY_COMPARE(b.parent.countOf(QEvent::KeyPress, Qt::Key_PageUp), 1);
        // Second layer: CLEAR empties the display, EXIT closes.
        b.d->show();
        b.d->putDispChar(QStringLiteral("ABC"));
        tapKey(b.d, Qt::Key_F1);
        tapKey(b.d, Qt::Key_F4);
        QVERIFY(b.d->display()->toPlainText().isEmpty());
        QCOMPARE(b.d->selectedFunctionButton(), -1); // CLEAR is no item to adjust
        tapKey(b.d, Qt::Key_F5);
        QVERIFY(!b.d->isVisible());
    }

    // ------------------------------------------------ display

    void displayWrapsAndKeepsFiveLines()
    {
        Bench b;
        b.d->statusTimer()->stop();
        QTextEdit *t = b.d->display();
        const QFontMetrics fm(t->font());
        const int limit = t->width() - 49;
        b.d->putDispChar(QString(40, QLatin1Char('A')));
        for (int i = 0; i < 60; i++)
            b.d->putDispChar(QStringLiteral("B"));
        b.d->putDispChar(QStringLiteral("\nC"));
        QTextDocument *doc = t->document();
        QVERIFY(doc->blockCount() >= 3 && doc->blockCount() <= 5);
        for (QTextBlock blk = doc->begin(); blk.isValid(); blk = blk.next())
            QVERIFY2(fm.horizontalAdvance(blk.text()) <= limit + fm.maxWidth(), qPrintable(blk.text()));
        QCOMPARE(doc->lastBlock().text(), QStringLiteral("C"));
        // Nothing is lost at a wrap: the text reads on.
        QVERIFY(shownText(b.d).startsWith(QByteArray(40, 'A') + QByteArray(60, 'B') + 'C'));
        for (int i = 0; i < 20; i++)
            b.d->putDispChar(QString(30, QLatin1Char('x')) + QLatin1Char('\n'));
        QCOMPARE(doc->blockCount(), 5);
        QCOMPARE(colourOf(b.d, "xxx"), DialogModem::receiveColor());
    }

    // ------------------------------------------------ sending

    void postingTransmitsForTheMessageOnly_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("RTTY") << 1;
        QTest::newRow("BPSK31") << 0;
    }

    // Step by step: the post at the first tick after the key, transmit on
    // at the next one, on as long as the modulator has anything to send
    // (trailer included), off at the first tick after it has finished; the
    // echo follows and the audio played is the message.
    void postingTransmitsForTheMessageOnly()
    {
        QFETCH(int, mode);
        const QString text = QStringLiteral("CQ DE ZR450 TEST");
        Bench b([&](ZParamAdmin *s) {
            s->setParamItem(W, "mdmmode", mode);
            s->setParamItem(W, "msg02", text);
        });
        QVERIFY(b.peer);
        b.d->statusTimer()->stop();
        ZRModem *m = b.d->modem();
        QVERIFY(zsimaudio_wait_clients(b.peer, ZSIMAUDIO_PLAYBACK, 1, 5000));
        QSignalSpy trx(b.d, &DialogModem::sig_setTrxStatus);
        b.d->putDispChar(QStringLiteral("rx"));
        groupKey(b.d, 4);
        tapKey(b.d, Qt::Key_F2);
        QCOMPARE(b.d->sendState(), int(DialogModem::SendPosted));
        takePlayback(b.peer);

        b.tick();
        QCOMPARE(b.d->sendState(), int(DialogModem::SendWaiting));
        QCOMPARE(m->transmitFlag(), uint8_t(1));
        QCOMPARE(trx.count(), 0);
        b.tick();
        QCOMPARE(b.d->sendState(), int(DialogModem::SendTransmitting));
        QCOMPARE(trx.count(), 1);
        QCOMPARE(trx.at(0).at(0).value<uint8_t>(), uint8_t(1));

        auto busy = [&]() {
            return mode == 1 ? rtty_mod_is_active(m->rttyMod) != 0 : m->pskMod->isActive();
        };
        std::vector<float> played;
        QElapsedTimer t;
        t.start();
        bool sawEcho = false;
        int ticks = 0;
        for (;;) {
            QVERIFY2(t.elapsed() < 30000, "the transmission does not end");
            const bool flag = m->transmitFlag();
            b.tick();
            ticks++;
            // Still sending after the tick: it was during it, and the flag
            // only falls once the modulator is idle.
            if (busy())
                QCOMPARE(b.d->reportedTransmit(), uint8_t(1));
            if (!flag) {
                // The first tick that sees the flag down turns transmit off.
                QCOMPARE(b.d->reportedTransmit(), uint8_t(0));
                break;
            }
            sawEcho = sawEcho || shownText(b.d).contains("CQ DE");
            const std::vector<float> p = takePlayback(b.peer);
            played.insert(played.end(), p.begin(), p.end());
            QTest::qWait(20);
        }
        QVERIFY(ticks > 10);
        QCOMPARE(trx.count(), 2);
        QCOMPARE(trx.at(1).at(0).value<uint8_t>(), uint8_t(0));
        QCOMPARE(b.d->sendState(), int(DialogModem::SendIdle));
        QVERIFY(sawEcho);
        // The message on a line of its own in the transmit colour, then the
        // receive colour again.
        const QStringList lines = b.d->display()->toPlainText().split('\n');
        QVERIFY2(lines.size() >= 3 && lines.at(0) == "rx" && lines.at(1) == text, qPrintable(lines.join('|')));
        QCOMPARE(colourOf(b.d, text), DialogModem::transmitColor());
        b.d->putDispChar(QStringLiteral("after"));
        QCOMPARE(colourOf(b.d, "after"), DialogModem::receiveColor());
        b.tick(3);
        QCOMPARE(trx.count(), 2);

        QTest::qWait(300);
        const std::vector<float> rest = takePlayback(b.peer);
        played.insert(played.end(), rest.begin(), rest.end());
        const QByteArray back = mode == 1 ? zmh::normalise(zmh::decode_rtty(played, 1000, 45.45f, 170))
                                          : zmh::normalise(zmh::decode_psk(played, 1000, 0, true));
        QVERIFY2(back.contains(text.toLatin1()), back.constData());
    }

    // CW: the sender keys the line, the dialog never asks the radio to
    // transmit; the decoders hear silence until the sender has finished.
    void cwNeverRaisesTheTransmitSignal()
    {
        Bench b([](ZParamAdmin *s) {
            s->setParamItem(W, "mdmmode", 2);
            s->setParamItem(W, "ks", 40); // 30 ms units
            s->setParamItem(W, "msg01", QStringLiteral("EE TT"));
            s->setParamItem(W, "msg02", QStringLiteral("TEST TEST TEST"));
        });
        QSignalSpy trx(b.d, &DialogModem::sig_setTrxStatus);
        ZRModem *m = b.d->modem();
        groupKey(b.d, 4);
        tapKey(b.d, Qt::Key_F1);
        QTRY_VERIFY(b.d->morseBusy());
        QCOMPARE(m->rxScale.load(), 0.0f);
        QVERIFY(!b.d->postMessage(QStringLiteral("E")));
        QElapsedTimer t;
        t.start();
        while (b.d->sendState() != DialogModem::SendIdle && t.elapsed() < 15000) {
            if (b.d->morseBusy())
                QCOMPARE(m->rxScale.load(), 0.0f);
            QCOMPARE(m->transmitFlag(), uint8_t(0));
            QTest::qWait(10);
        }
        QCOMPARE(b.d->sendState(), int(DialogModem::SendIdle));
        QVERIFY(!b.d->morseBusy());
        QCOMPARE(m->rxScale.load(), 1.0f);
        QCOMPARE(trx.count(), 0);
        QCOMPARE(b.d->reportedTransmit(), uint8_t(0));
        QVERIFY2(shownText(b.d).contains("EE TT"), shownText(b.d).constData());
        QCOMPARE(colourOf(b.d, "EE TT"), DialogModem::transmitColor());
        QTRY_COMPARE(logCount("MorseSender Destroyed"), 1);
        // The key line went down once per element and ended up.
        const QStringList events = ztest::readText(b.root.path() + "/dev/gpiochip0").split('\n', Qt::SkipEmptyParts);
        int downs = 0;
        for (const QString &e : events)
            downs += e.endsWith(QLatin1String(" 203 0")) ? 1 : 0;
        QCOMPARE(downs, 4);
        QVERIFY(events.last().endsWith(QLatin1String(" 203 1")));

        // Closing while the sender keys: the line ends up and the sender's
        // thread is gone; the radio was never asked to transmit.
        ztest::clearLog();
        tapKey(b.d, Qt::Key_F2);
        QTRY_VERIFY(shownText(b.d).contains("EE TTT"));
        delete b.d;
        b.d = nullptr;
        QTRY_COMPARE(logCount("MorseSender Destroyed"), 1);
        QCOMPARE(trx.count(), 0);
        QVERIFY(ztest::readText(b.root.path() + "/dev/gpiochip0").trimmed().endsWith(QLatin1String(" 203 1")));
        QCOMPARE(logCount("dem thread joined."), 1);
    }

    // A panel closed while it transmits lets the radio go back to receive;
    // the host's threads are joined and the sound card released.
    void closingEndsTransmissionAndReleasesTheCard()
    {
        Bench b([](ZParamAdmin *s) { s->setParamItem(W, "mdmmode", 1); });
        QVERIFY(zsimaudio_wait_clients(b.peer, ZSIMAUDIO_CAPTURE, 1, 5000));
        QVERIFY(zsimaudio_wait_clients(b.peer, ZSIMAUDIO_PLAYBACK, 1, 5000));
        QSignalSpy trx(b.d, &DialogModem::sig_setTrxStatus);
        b.d->show();
        b.d->postMessage(QStringLiteral("RYRYRYRYRYRYRYRYRYRYRYRYRYRY"));
        QTRY_COMPARE(b.d->reportedTransmit(), uint8_t(1));
        QCOMPARE(trx.count(), 1);
        b.d->close();
        QCOMPARE(trx.count(), 2);
        QCOMPARE(trx.at(1).at(0).value<uint8_t>(), uint8_t(0));
        b.d->slot_updateStatus(); // a tick still due before it goes
        QCOMPARE(trx.count(), 2);
        delete b.d;
        b.d = nullptr;
        QCOMPARE(trx.count(), 2);
        QCOMPARE(logCount("dem thread joined."), 1);
        QCOMPARE(logCount("mod thread joined."), 1);
        QTRY_COMPARE(zsimaudio_clients(b.peer, ZSIMAUDIO_CAPTURE), 0);
        QTRY_COMPARE(zsimaudio_clients(b.peer, ZSIMAUDIO_PLAYBACK), 0);
    }

    // ------------------------------------------------ receiving

    void receivedTextIsShownAsItArrives_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("rate");   // pskrate or rttyrate index
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("want");
        QTest::newRow("RTTY 45.45") << 1 << 1 << QByteArray("RYRY DE ZR450 TEST") << QByteArray("DE ZR450 TEST");
        QTest::newRow("BPSK31") << 0 << 0 << QByteArray("cq de zr450 test") << QByteArray("CQ DE ZR450 TEST");
        // Faster than ten characters a second: all of it is shown at once,
        // none dropped.
        QTest::newRow("BPSK125")
            << 0 << 2 << QByteArray("the quick brown fox jumps over the lazy dog 0123456789 again and again and again")
            << QByteArray("THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 AGAIN AND AGAIN AND AGAIN");
        QTest::newRow("CW 25 WPM") << 2 << 0 << QByteArray("VVV VVV DE ZR450 TEST VVV") << QByteArray("DE ZR450 TEST");
    }

    void receivedTextIsShownAsItArrives()
    {
        QFETCH(int, mode);
        QFETCH(int, rate);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, want);
        Bench b([&](ZParamAdmin *s) {
            s->setParamItem(W, "mdmmode", mode);
            s->setParamItem(W, mode == 1 ? "rttyrate" : "pskrate", rate);
            s->setParamItem(W, "modemfc", 1500);
            s->setParamItem(W, "cwtone", 700);
        });
        b.d->statusTimer()->stop();
        ZRModem *m = b.d->modem();
        QVERIFY(zsimaudio_wait_clients(b.peer, ZSIMAUDIO_CAPTURE, 1, 5000));
        const std::vector<float> sig = mode == 1 ? zmh::rtty_signal(text, 1500, 45.45f, 170)
                                     : mode == 0 ? zmh::psk_signal(QString::fromLatin1(text), 1500, rate)
                                                 : zmh::cw_signal(text, 25, 700);
        const std::vector<float> x = zmh::channel(sig, 30, 100, 7, 0.5, 1.0);
        // A capture overrun (a busy machine holding up the capture thread)
        // cuts samples out of the signal; such a pass is repeated, at most
        // three times. An undisturbed pass must show the text.
        bool shown = false;
        for (int attempt = 0; attempt < 3 && !shown; attempt++) {
            ztest::clearLog();
            const uint64_t from = m->blocksProcessed.load();
            QVERIFY(playToCapture(b.peer, x));
            QVERIFY(waitProcessed(b.peer, m, from, x.size() / 1024, 20000));
            if (attempt == 0)
                QVERIFY(b.d->display()->toPlainText().isEmpty());
            b.tick();
            shown = shownText(b.d).contains(want);
            if (!shown && ztest::logCount(QStringLiteral("modem capture overrun")) == 0)
                break;
        }
        QVERIFY2(shown, shownText(b.d).constData());
        QCOMPARE(colourOf(b.d, QString::fromLatin1(want.left(2))), DialogModem::receiveColor());
        if (mode == 2)
            QVERIFY2(titleField(b.d, "WPM") >= 22 && titleField(b.d, "WPM") <= 28, qPrintable(b.d->titleLabel()->text()));
    }

    // With the squelch closed decoded characters are dropped, not shown and
    // not kept for later.
    void nothingIsShownWhileTheSquelchIsClosed()
    {
        Bench b([](ZParamAdmin *s) {
            s->setParamItem(W, "mdmmode", 0);
            s->setParamItem(W, "modemsql", 100); // never opens again once closed
        });
        b.d->statusTimer()->stop();
        ZRModem *m = b.d->modem();
        QVERIFY(zsimaudio_wait_clients(b.peer, ZSIMAUDIO_CAPTURE, 1, 5000));
        const std::vector<float> x = zmh::channel(zmh::psk_signal("cq cq de zr450 test", 1000, 0), 30, 100, 3);
        uint64_t from = m->blocksProcessed.load();
        QVERIFY(playToCapture(b.peer, x));
        QVERIFY(waitProcessed(b.peer, m, from, x.size() / 1024, 20000));
        QCOMPARE(m->sqlClosed.load(), uint8_t(1));
        b.tick(3);
        QVERIFY2(b.d->display()->toPlainText().isEmpty(), qPrintable(b.d->display()->toPlainText()));
        // Opened: the next text is shown, nothing of the earlier one.
        b.set("modemsql", 20);
        b.tick();
        from = m->blocksProcessed.load();
        const std::vector<float> y = zmh::channel(zmh::psk_signal("cq cq de zr450 again", 1000, 0), 30, 100, 4);
        QVERIFY(playToCapture(b.peer, y));
        QVERIFY(waitProcessed(b.peer, m, from, y.size() / 1024, 20000));
        QCOMPARE(m->sqlClosed.load(), uint8_t(0));
        b.tick();
        QVERIFY2(shownText(b.d).contains("DE ZR450 AGAIN"), shownText(b.d).constData());
        QVERIFY(!shownText(b.d).contains("TEST"));
    }

    // ------------------------------------------------ title and scope

    void titleAndScopeMarkersFollowTheMode()
    {
        ZDrawScope scope;
        Bench b([](ZParamAdmin *s) { s->setParamItem(W, "modemfc", 1500); }, false);
        b.d->setAudioScope(&scope);
        b.d->start();
        b.d->statusTimer()->stop();
        auto at = [&](const char *name) {
            for (const ZDrawScope::Marker &mk : scope.markers())
                if (mk.name == QLatin1String(name))
                    return mk.hz;
            return -1.0f;
        };
        QCOMPARE(scope.markers().size(), 1);
        QCOMPARE(at("marker1"), 1500.0f);
        QCOMPARE(scope.markers().first().color, QColor(Qt::red));
        QVERIFY(QRegularExpression("^ MODEM: BPSK, RSSI:[ \\d]{2}\\d$").match(b.d->titleLabel()->text()).hasMatch());
        b.set("mdmmode", 1);
        b.tick();
        QCOMPARE(at("marker1"), 1415.0f);
        QCOMPARE(at("marker2"), 1585.0f);
        b.set("rttyshift", 9); // 850
        b.tick();
        QCOMPARE(at("marker1"), 1075.0f);
        QCOMPARE(at("marker2"), 1925.0f);
        QVERIFY(QRegularExpression("^ MODEM: RTTY, RSSI:[ \\d]{2}\\d$").match(b.d->titleLabel()->text()).hasMatch());
        b.set("mdmmode", 2);
        b.set("cwtone", 700);
        b.tick();
        QCOMPARE(scope.markers().size(), 1);
        QCOMPARE(at("marker1"), 700.0f);
        QVERIFY2(QRegularExpression("^ MODEM: CW, RSSI:[ \\d]{2}\\d, WPM:\\d+$").match(b.d->titleLabel()->text()).hasMatch(),
                 qPrintable(b.d->titleLabel()->text()));
        delete b.d;
        b.d = nullptr;
        QVERIFY(scope.markers().isEmpty());
    }

    // ------------------------------------------------ launch

    // Group 1, F1: the panadapter shrinks and the audio spectrum stands
    // beside it while the dialog sits below; every release opens it again;
    // afterwards the screen is as before.
    void launchedFromGroupOneF1()
    {
        ztest::Sysroot root;
        ModemWindow w;
        w.updateTimer()->stop();
        w.clockTimer()->stop();
        w.slot_timerUpdate();
        QVERIFY(rtest::activate(&w));
        const QRect scopeBefore = w.scope()->geometry();
        const QRect audioBefore = w.audioScope()->geometry();
        QCOMPARE(scopeBefore, QRect(0, 176, 800, 250));
        bool checked = false;
        w.whileOpen = [&](DialogModem *d) {
            QCOMPARE(w.scope()->geometry(), QRect(0, 176, 600, 87));
            QCOMPARE(w.scope()->fftHeightRatio(), 0.65f);
            QCOMPARE(w.scope()->labelFont().pointSize(), 10);
            QCOMPARE(w.audioScope()->geometry(), QRect(600, 176, 199, 87));
            QVERIFY(w.audioScope()->isVisible());
            const QPoint origin = w.mapToGlobal(QPoint(0, 0));
            QCOMPARE(d->geometry(), QRect(origin.x(), origin.y() + 263, 800, 217));
            QVERIFY(d->isModal());
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(d));
            // The markers on the audio spectrum, the transmit state to the
            // radio link.
            QVERIFY(!w.audioScope()->markers().isEmpty());
            ztest::clearLog();
            emit d->sig_setTrxStatus(1);
            QCOMPARE(logCount("modem trx: 1"), 1);
            emit d->sig_setTrxStatus(0);
            shot("modem-launched");
            // Its own EXIT (second layer) closes it.
            tapKey(d, Qt::Key_F1);
            tapKey(d, Qt::Key_F5);
            QVERIFY(!d->isVisible());
            checked = true;
        };
        groupKey(&w, 2);
        QCOMPARE(w.currentGroup(), 1);
        tapKey(&w, Qt::Key_F1);
        QVERIFY(checked);
        QCOMPARE(w.opened, 1);
        QCOMPARE(w.scope()->geometry(), scopeBefore);
        QCOMPARE(w.scope()->fftHeightRatio(), 0.5f);
        QCOMPARE(w.scope()->labelFont().pointSize(), 12);
        QCOMPARE(w.audioScope()->geometry(), audioBefore);
        QVERIFY(w.audioScope()->isHidden());
        pantest::flushDeletes();
        QVERIFY(w.audioScope()->markers().isEmpty());
        QCOMPARE(w.findChildren<DialogModem *>().size(), 0);
        // Not a toggle: the next release opens it again.
        checked = false;
        w.whileOpen = [&](DialogModem *) { checked = true; };
        tapKey(&w, Qt::Key_F1);
        QVERIFY(checked);
        QCOMPARE(w.opened, 2);
        pantest::flushDeletes();
        QCOMPARE(w.findChildren<DialogModem *>().size(), 0);
    }

    // ------------------------------------------------ simulator

    // The operating screen on the simulator's board, tuned to 14.070 MHz USB
    // where its three stations are heard; the dialog opened and operated
    // from the front panel.
    void operatingThroughTheSimulator()
    {
        ztest::Sysroot root;
        rtest::Sim sim;
        QVERIFY(sim.start(root.path()));
        ModemWindow w;
        QVERIFY(rtest::activate(&w));
        ZParamAdmin *s = w.paramAdmin();
        uint32_t regs[ZRADIO_REG_WORDS];
        QTRY_VERIFY_WITH_TIMEOUT(sim.status(regs) && regs[ZRADIO_WORD_REFRESH] == ZRADIO_REFRESH_MARK, 20000);
        s->setParamItem(W, "vi", 0);
        s->setVfoFront("mode", 2);
        s->setVfoFront("freq", 14070000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.command("stations"),
                                  QStringLiteral("ok cw=14070600:600 rtty=14072000:2000 psk=14071200:1200"), 10000);
        s->setParamItem(W, "msg02", QStringLiteral("CQ DE ZR450 RTTY TEST"));
        s->setParamItem(W, "msg03", QStringLiteral("cq de zr450 psk test"));
        s->setParamItem(W, "msg04", QStringLiteral("TEST"));
        s->setParamItem(W, "ks", 20);
        s->setParamItem(W, "modemsql", 0);
        bool done = false;
        w.whileOpen = [&](DialogModem *d) {
            session(d, s, sim, root.path());
            done = true;
        };
        QVERIFY(sim.command("key 198 100").startsWith("ok")); // APP: group 1
        QTRY_COMPARE(w.currentGroup(), 1);
        QVERIFY(sim.command("key 204 100").startsWith("ok")); // F1
        QTRY_VERIFY_WITH_TIMEOUT(w.opened == 1 && done, 300000);
        QVERIFY(!w.findChild<DialogModem *>() || !w.findChild<DialogModem *>()->isVisible());
        QCOMPARE(w.scope()->geometry(), QRect(0, 176, 800, 250));
        QTRY_VERIFY_WITH_TIMEOUT(sim.status(regs, nullptr) && !sim.command("status").contains("tx=1"), 5000);
    }

private:
    // One message sent from the message page and measured by the simulator.
    // *clean: no playback underrun disturbed it, and its audio was checked.
    void sendFromMessagePage(DialogModem *d, rtest::Sim &sim, const QString &root, int mode, int fkey,
                             const QByteArray &text, bool *clean)
    {
        *clean = false;
        auto key = [&](int code) { QVERIFY(sim.command(QByteArray("key ") + QByteArray::number(code) + " 100").startsWith("ok")); };
        ztest::clearLog();
        QCOMPARE(sim.command("txaudio reset"), QStringLiteral("ok"));
        key(199); // MSG: the message page
        QTRY_COMPARE(d->buttonPage(), int(DialogModem::PageMessages));
        key(fkey);
        QTRY_VERIFY(d->sendState() != DialogModem::SendIdle);
        bool keyed = false;
        QElapsedTimer t;
        t.start();
        while (d->sendState() != DialogModem::SendIdle && t.elapsed() < 60000) {
            keyed = keyed || sim.command("status").contains("tx=1");
            QTest::qWait(50);
        }
        QCOMPARE(d->sendState(), int(DialogModem::SendIdle));
        QVERIFY(keyed);
        // Receive again once the audio is out; the board stops with it.
        QTRY_VERIFY_WITH_TIMEOUT(sim.command("status").contains("tx=0"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(field(sim.command("txaudio"), "on"), 0.0, 5000);
        for (int i = 0; i < 5; i++) {
            QVERIFY(sim.command("status").contains("tx=0"));
            QTest::qWait(50);
        }
        key(199); // back to the function page
        QTRY_COMPARE(d->buttonPage(), int(DialogModem::PageFunctions));
        QVERIFY2(shownText(d).contains(zmh::normalise(text)), shownText(d).constData());

        const QString tx = sim.command("txaudio");
        const std::vector<float> expect = mode == 1 ? zmh::rtty_signal(text, 1000, 45.45f, 170)
                                                    : zmh::psk_signal(QString::fromLatin1(text), 1000, 0);
        const double expectMs = 1000.0 * double(expect.size()) / 16000.0;
        // Transmitting while it sounded (the switch-over aside).
        QVERIFY2(field(tx, "tx_ms") >= field(tx, "active_ms") - 1500 && field(tx, "tx_ms") > 0.5 * field(tx, "active_ms"),
                 qPrintable(tx));
        QVERIFY2(field(tx, "active_ms") > 0.5 * expectMs, qPrintable(tx + QString(" expect %1").arg(expectMs)));
        if (ztest::logCount(QStringLiteral("modem playback underrun")) > 0) {
            qWarning("playback underrun during the transmission: %s", qPrintable(tx));
            return;
        }
        // Undisturbed: one burst as long as the message's audio, which
        // decodes to the message.
        QCOMPARE(field(tx, "bursts"), 1.0);
        QVERIFY2(std::fabs(field(tx, "last_ms") - expectMs) < 250, qPrintable(tx + QString(" expect %1").arg(expectMs)));
        const QString saved = sim.command("txaudio save");
        QVERIFY2(saved.startsWith("ok file=tmp/txaudio.wav"), qPrintable(saved));
        const QString wav = root + "/tmp/txaudio.wav";
        std::vector<float> x;
        zwav_info_t info;
        QString err;
        QCOMPARE(zwav_read(wav, &x, &info, &err), 0);
        const QByteArray back = mode == 1 ? zmh::normalise(zmh::decode_rtty(x, 1000, 45.45f, 170))
                                          : zmh::normalise(zmh::decode_psk(x, 1000, 0, true));
        QVERIFY2(back.contains(zmh::normalise(text)), back.constData());
        if (mode == 1) {
            const QString mm = QStandardPaths::findExecutable("minimodem");
            QVERIFY2(!mm.isEmpty(), "minimodem (Debian package minimodem) is not installed");
            QByteArray out;
            QCOMPARE(runProcess(mm, {"--rx", "rtty", "-q", "-R", "16000", "-M", "1085", "-S", "915", "-f", wav}, &out), 0);
            QVERIFY2(zmh::normalise(out).contains(zmh::normalise(text)), out.constData());
        }
        *clean = true;
    }

    // Everything the operator does while the dialog is open.
    void session(DialogModem *d, ZParamAdmin *s, rtest::Sim &sim, const QString &root)
    {
        auto key = [&](int code) { QVERIFY(sim.command(QByteArray("key ") + QByteArray::number(code) + " 100").startsWith("ok")); };
        auto clear = [&]() {
            key(204); // F1: second layer
            QTRY_COMPARE(d->layer(), 1);
            d->putDispChar(QStringLiteral("\n#OLD#"));
            key(210); // F4: CLEAR
            QTRY_VERIFY(!d->display()->toPlainText().contains(QLatin1String("#OLD#")));
            key(204);
            QTRY_COMPARE(d->layer(), 0);
        };
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(d));

        // PSK31 at 1200 Hz; the level falls when the carrier leaves it.
        s->setParamItem(W, "mdmmode", 0);
        s->setParamItem(W, "modemfc", 1200);
        clear();
        QTRY_VERIFY2_WITH_TIMEOUT(shownText(d).contains("CQ DE ZR450 K"), shownText(d).constData(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(titleField(d, "RSSI") > 40, 5000);
        shot("modem-psk");
        s->setParamItem(W, "modemfc", 1600);
        QTRY_VERIFY2_WITH_TIMEOUT(titleField(d, "RSSI") < 15, qPrintable(d->titleLabel()->text()), 10000);

        // RTTY at 2000 Hz, 45.45 Bd, 170 Hz.
        s->setParamItem(W, "mdmmode", 1);
        s->setParamItem(W, "modemfc", 2000);
        clear();
        QTRY_VERIFY2_WITH_TIMEOUT(shownText(d).contains("RYRY CQ DE ZR450 K"), shownText(d).constData(), 30000);
        shot("modem-rtty");

        // CW at 600 Hz: the speed in the title; the level follows the pitch.
        s->setParamItem(W, "mdmmode", 2);
        s->setParamItem(W, "cwtone", 600);
        clear();
        QTRY_VERIFY2_WITH_TIMEOUT(shownText(d).contains("VVV DE ZR450"), shownText(d).constData(), 40000);
        QTRY_VERIFY2_WITH_TIMEOUT(std::abs(titleField(d, "WPM") - 25) <= 2, qPrintable(d->titleLabel()->text()), 10000);
        int onStation = 0;
        QTRY_VERIFY_WITH_TIMEOUT((onStation = titleField(d, "RSSI")) > 0, 5000);
        shot("modem-cw");
        // Tuned away, only the receiver's noise is left.
        s->setVfoFront("freq", 14050000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.command("stations"), QStringLiteral("ok cw=14070600:- rtty=14072000:- psk=14071200:-"),
                                  5000);
        QTRY_VERIFY2_WITH_TIMEOUT(titleField(d, "RSSI") * 3 < onStation,
                                  qPrintable(QString("%1 / %2").arg(d->titleLabel()->text()).arg(onStation)), 10000);
        // The dial and the front-panel keys of the screen keep working
        // while the dialog is open.
        QVERIFY(sim.command("dial 3").startsWith("ok"));
        QTRY_VERIFY(s->vfoFront("freq").value.toInt() > 14050000);
        const int agc = s->vfoFront("agc").value.toInt();
        key(214); // AGC
        QTRY_VERIFY(s->vfoFront("agc").value.toInt() != agc);
        QCOMPARE(QApplication::activeWindow(), static_cast<QWidget *>(d));
        s->setVfoFront("freq", 14070000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.command("stations"),
                                  QStringLiteral("ok cw=14070600:600 rtty=14072000:2000 psk=14071200:1200"), 5000);

        // Sending RTTY and BPSK31 from the message page at 1000 Hz.
        struct Send {
            int mode;
            int fkey; // front-panel code of the message's key
            QByteArray text;
        };
        const Send sends[] = {{1, 205, "CQ DE ZR450 RTTY TEST"}, {0, 206, "cq de zr450 psk test"}};
        for (const Send &snd : sends) {
            s->setParamItem(W, "mdmmode", snd.mode);
            s->setParamItem(W, "modemfc", 1000);
            QTRY_COMPARE(d->modem()->fc(), 1000.0f);
            // The content is checked on a transmission the machine did not
            // disturb: a playback underrun (a busy machine holding up the
            // modulator thread) puts gaps into the audio. Bounded attempts.
            bool clean = false;
            for (int attempt = 0; attempt < 3 && !clean; attempt++) {
                sendFromMessagePage(d, sim, root, snd.mode, snd.fkey, snd.text, &clean);
                if (QTest::currentTestFailed())
                    return;
            }
            if (!clean)
                qWarning("every %s transmission had playback underruns; its audio was not decoded",
                         snd.mode == 1 ? "RTTY" : "BPSK");
        }

        // CW from the message page at 20 WPM: keyed on the key line, the
        // radio never asked to transmit by the dialog, the decoders deaf
        // meanwhile, back to idle when the sender is done.
        s->setParamItem(W, "mdmmode", 2);
        QTRY_COMPARE(d->modem()->mode.load(), int(ZRModem::ModeCW));
        QCOMPARE(sim.command("cwkey reset"), QStringLiteral("ok"));
        QSignalSpy trx(d, &DialogModem::sig_setTrxStatus);
        key(199);
        QTRY_COMPARE(d->buttonPage(), int(DialogModem::PageMessages));
        key(210); // F4: "TEST"
        QTRY_VERIFY(d->morseBusy());
        QElapsedTimer t;
        t.start();
        while (d->morseBusy() && t.elapsed() < 20000) {
            QCOMPARE(d->modem()->rxScale.load(), 0.0f);
            QTest::qWait(20);
        }
        QTRY_COMPARE(d->sendState(), int(DialogModem::SendIdle));
        QCOMPARE(d->modem()->rxScale.load(), 1.0f);
        QCOMPARE(trx.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(field(sim.command("cwkey"), "downs"), 6.0, 3000); // T E S(3) T
        const QString cw = sim.command("cwkey");
        QCOMPARE(field(cw, "level"), 1.0);
        // T, E, three dots and T: ten units of key-down at 60 ms.
        QVERIFY2(std::fabs(field(cw, "down_ms") / 10.0 - 60.0) < 9.0, qPrintable(cw));
        QVERIFY2(shownText(d).contains("TEST"), shownText(d).constData());
        shot("modem-cw-sent");

        // MSG leaves the message page, APP then closes the dialog.
        key(199);
        QTRY_COMPARE(d->buttonPage(), int(DialogModem::PageFunctions));
        key(198);
        QTRY_VERIFY(!d->isVisible());
    }
};

QTEST_MAIN(TestModemDialog)
#include "test_modemdialog.moc"
