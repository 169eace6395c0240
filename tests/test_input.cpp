// Front-panel input: the long-press timing and table, key, knob and wheel
// events from input-device FIFOs through the real input thread to an active
// window, the mode, tune-step and small-knob keys on the store, the
// hand-microphone key sequences, short and long presses with their
// thresholds (power key included), the power key's database save against a
// busy GUI thread, randomized input, and the whole path from the real
// simulator's control socket.
#include "tests/params_support.h"
#include "tests/radio_support.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "radio/zradioevent.h"
#include "app/zsystem.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <random>
#include <thread>
#include <unistd.h>

using namespace rtest;

namespace {

std::atomic<int> g_short{0};
std::atomic<int> g_long{0};
void onShortRec() { g_short++; }
void onLongRec() { g_long++; }
void nothing() {}
// Holds the input thread up, as a busy machine may.
void stallInputThread() { usleep(1500 * 1000); }

// The hand-microphone key word as the UART reader publishes it from a frame
// trailer (the input thread is woken by a change).
struct MicKey {
    zradio_t *radio;
    MicKey &operator=(uint32_t code)
    {
        zradio_input_set_mic_key(radio, code);
        return *this;
    }
};

lpkey_t *entry(zradio_t *radio, int code)
{
    for (lpkey_t &k : radio->lpkeys)
        if (k.code == code)
            return &k;
    return nullptr;
}

// A radio link on a fresh system root with input FIFOs and an active
// recording window.
struct Link {
    ztest::Sysroot root;
    InputDevices dev;
    RecordingWindow win;
    zradio_t *radio = nullptr;
    ZParamAdmin *store = nullptr;

    bool up()
    {
        if (!dev.create(root.path()))
            return false;
        radio = zradio_create("/dev/i2c-0", 114);
        if (!radio || !radio->param)
            return false;
        store = radio->param;
        // The input thread opens the reading ends shortly after creation.
        QElapsedTimer t;
        t.start();
        bool opened = false;
        while (!(opened = dev.open()) && t.elapsed() < 5000)
            QTest::qWait(10);
        return opened && activate(&win);
    }
    ~Link()
    {
        zradio_destroy(radio);
    }
    // Presses a key on a device for ms milliseconds.
    void hold(int device, int code, int ms)
    {
        dev.key(device, code, 1);
        QTest::qWait(ms);
        dev.key(device, code, 0);
    }
};

} // namespace

class TestInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }

    // lpkey_t::timing pass by pass: a press reports a long press on the
    // pass after `threshold` counted passes, a release before that a short
    // one; a long press suppresses the short one; unrelated events do not
    // stop the count; codes compare on their low 8 bits; code 0 is off.
    void longPressTiming()
    {
        for (unsigned threshold : {1000u, 3000u, 5u}) {
            lpkey_t k;
            k.code = 208;
            k.threshold = threshold;
            k.onShort.store(onShortRec);
            k.onLong.store(onLongRec);
            g_short = g_long = 0;
            // The press is the first counted pass; the pass after the
            // threshold-th reports.
            k.timing(inputEvent(EV_KEY, 208, 1));
            for (unsigned i = 1; i < threshold; ++i)
                k.timing(i % 7 ? inputEvent(EV_SYN, 0, 0) : inputEvent(EV_KEY, 30, 1));
            QCOMPARE(k.count, threshold);
            QCOMPARE(g_long.load(), 0);
            k.timing(inputEvent(EV_SYN, 0, 0));
            QCOMPARE(g_long.load(), 1);
            for (int i = 0; i < 5000; ++i)
                k.timing(inputEvent(EV_KEY, 208, 2)); // held (repeats) after firing
            k.timing(inputEvent(EV_KEY, 208, 0));
            QCOMPARE(g_long.load(), 1);
            QCOMPARE(g_short.load(), 0);

            // Released on the pass that would have reported the long one:
            // short.
            k.timing(inputEvent(EV_KEY, 208 + 256, 1));
            for (unsigned i = 1; i < threshold; ++i)
                k.timing(inputEvent(EV_KEY, 208 + 256, 1));
            k.timing(inputEvent(EV_KEY, 208, 0));
            QCOMPARE(g_short.load(), 1);
            QCOMPARE(g_long.load(), 1);
            // The kept release event reports nothing more.
            for (int i = 0; i < 10; ++i)
                k.timing(inputEvent(EV_KEY, 208, 0));
            QCOMPARE(g_short.load(), 1);
        }
        lpkey_t off;
        off.onShort.store(onShortRec);
        off.timing(inputEvent(EV_KEY, 0, 1));
        off.timing(inputEvent(EV_KEY, 0, 0));
        QCOMPARE(g_short.load(), 1);
    }

    void longPressTable()
    {
        lpkey_t t[ZRADIO_LPKEYS];
        zradio_lpkeys_init(t);
        const int codes[ZRADIO_LPKEYS] = {213, 207, 214, 208, 192, 198, 193, 199, 200, 194, 116, 216, 209};
        for (int i = 0; i < ZRADIO_LPKEYS; ++i) {
            QCOMPARE(t[i].code, codes[i]);
            QCOMPARE(t[i].threshold, codes[i] == 116 ? 3000u : 1000u);
            const bool group = codes[i] >= 192 && codes[i] <= 200 && codes[i] != 195 && codes[i] != 196
                && codes[i] != 197;
            QCOMPARE(t[i].onShort.load() != nullptr, group || codes[i] == 116);
            QCOMPARE(t[i].onLong.load() != nullptr, codes[i] == 116);
        }
        QVERIFY(t[10].onShort.load() == &_click_pwr);
        QVERIFY(t[10].onLong.load() == &_longpress_pwr);
    }

    // Keys, mode keys, tune step, knob selector, small knob, dial and
    // multi-function knob through the input thread.
    void keysAndKnobs()
    {
        Link l;
        QVERIFY(l.up());
        ZParamAdmin *s = l.store;
        RecordingWindow &w = l.win;

        // Key table: press and release events with their texts.
        l.hold(0, 195, 50);
        QTRY_COMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_Play), 1);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_Play), 1);
        QCOMPARE(w.events[0].text, QString("BIULT-IN"));
        QCOMPARE(l.radio->iptt.load(), uint8_t(0));
        l.dev.key(0, 195, 1);
        QTRY_COMPARE(l.radio->iptt.load(), uint8_t(1));
        l.dev.key(0, 195, 0);
        QTRY_COMPARE(l.radio->iptt.load(), uint8_t(0));
        w.clearEvents();
        l.hold(0, 196, 30);
        l.hold(0, 197, 30);
        l.hold(0, 204, 30);
        l.hold(0, 211, 30);
        l.hold(0, 218, 30);
        QTRY_COMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_Enter), 1);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_PageDown), 1);
        QCOMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_PageDown), 0);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_PageUp), 1);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_F1), 1);
        QCOMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_F1), 1);
        QCOMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_F5), 1);
        QCOMPARE(w.events.last().text, QString("ENTER"));

        // Group key: short press -> Ctrl+1 "^1".
        w.clearEvents();
        l.hold(0, 192, 50);
        QTRY_COMPARE(w.countOf(QEvent::KeyPress, Qt::Key_1), 1);
        QCOMPARE(w.events[0].modifiers, int(Qt::ControlModifier));
        QCOMPARE(w.events[0].text, QString("^1"));

        // Mode keys.
        struct { int key, from, to; } modes[] = {
            {203, 0, 1}, {203, 1, 2}, {203, 2, 3}, {203, 3, 0}, {203, 4, 0}, {203, 7, 0},
            {202, 4, 5}, {202, 5, 4}, {202, 0, 4}, {201, 6, 7}, {201, 7, 6}, {201, 2, 6},
        };
        for (const auto &m : modes) {
            s->setMode(m.from);
            l.radio->modeChanged.store(0);
            l.hold(0, m.key, 20);
            QTRY_COMPARE(l.radio->modeChanged.load(), uint8_t(1));
            QCOMPARE(s->mode(), m.to);
        }

        // Tune step: one item step up, wrapping, only in VFO mode.
        s->setParamItem("wparam", "vm", 0);
        s->setParamItem("wparam", "ts", 2);
        l.hold(0, 215, 20);
        QTRY_COMPARE(s->tuneStep(), 3);
        l.hold(0, 215, 20);
        QTRY_COMPARE(s->tuneStep(), 1);
        s->setParamItem("wparam", "vm", 1);
        l.hold(0, 215, 20);
        l.hold(0, 212, 20); // a later key proves the earlier one was handled
        QTRY_COMPARE(l.radio->knobSelector.load(), 1);
        QCOMPARE(s->tuneStep(), 1);
        s->setParamItem("wparam", "vm", 0);

        // Selector 1 (squelch): a count of +3 is one step down, -2 one up.
        s->setParamItem("wparam", "sqlthr", 50);
        l.dev.rel(2, REL_Y, 3);
        QTRY_COMPARE(s->paramItem("wparam", "sqlthr").value.toInt(), 49);
        l.dev.rel(2, REL_Y, -2);
        QTRY_COMPARE(s->paramItem("wparam", "sqlthr").value.toInt(), 50);
        // Selector 2 (RF gain), then wrapping back to 0 (volume).
        l.hold(0, 212, 20);
        QTRY_COMPARE(l.radio->knobSelector.load(), 2);
        s->setParamItem("wparam", "rfg", 100);
        l.dev.rel(2, REL_Y, 1);
        QTRY_COMPARE(s->paramItem("wparam", "rfg").value.toInt(), 99);
        l.hold(0, 212, 20);
        QTRY_COMPARE(l.radio->knobSelector.load(), 0);
        const int vol = s->rxVolum();
        l.radio->volChanged.store(0);
        for (int i = 0; i < 4; ++i)
            l.dev.rel(2, REL_Y, -1);
        QTRY_COMPARE(s->rxVolum(), vol + 4);
        QCOMPARE(l.radio->volChanged.load(), uint8_t(1));

        // Dial and multi-function knob: wheel events with the raw counts.
        w.clearEvents();
        l.dev.rel(1, REL_X, 2);
        l.dev.rel(3, REL_Z, -1);
        QTRY_COMPARE(w.events.size(), 2);
        int dial = 0, mfk = 1;
        if (w.events[0].modifiers == 0)
            std::swap(dial, mfk);
        QCOMPARE(w.events[dial].type, int(QEvent::Wheel));
        QCOMPARE(w.events[dial].delta, -2);
        QCOMPARE(w.events[dial].modifiers, int(Qt::AltModifier));
        QCOMPARE(w.events[mfk].delta, -1);
        QCOMPARE(w.events[mfk].modifiers, 0);

        // No active window: the events are dropped.
        w.hide();
        QApplication::setActiveWindow(nullptr);
        QTRY_VERIFY(QApplication::activeWindow() == nullptr);
        w.clearEvents();
        l.hold(0, 204, 20);
        l.dev.rel(1, REL_X, 1);
        l.hold(0, 203, 20);
        QTest::qWait(200);
        QVERIFY(w.events.isEmpty());
    }

    // Short and long presses through the input thread, with their
    // thresholds counted in passes of at least 1 ms each.
    void pressesAndThresholds()
    {
        Link l;
        QVERIFY(l.up());
        RecordingWindow &w = l.win;

        // Pressed and released within 0.5 s: one event 1000, no 1001.
        l.hold(0, 208, 300);
        QTRY_COMPARE(w.countOf(ZRadioEvent::ShortPress, 208), 1);
        QTest::qWait(1300);
        QCOMPARE(w.countOf(ZRadioEvent::LongPress, 208), 0);
        QCOMPARE(w.countOf(ZRadioEvent::ShortPress, 208), 1);

        // Held: one 1001 after at least a second, nothing on release.
        w.clearEvents();
        QElapsedTimer t;
        t.start();
        l.dev.key(0, 208, 1);
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(ZRadioEvent::LongPress, 208), 1, 10000);
        QVERIFY2(t.elapsed() >= 1000, qPrintable(QString::number(t.elapsed())));
        qInfo("long press of 208 reported after %lld ms", t.elapsed());
        l.dev.key(0, 208, 0);
        QTest::qWait(200);
        QCOMPARE(w.events.size(), 1);

        // A release read in the same pass as another device's event is not
        // lost (it would turn into a long press).
        for (int i = 0; i < 5; ++i) {
            w.clearEvents();
            l.dev.key(0, 214, 1);
            QTest::qWait(100);
            l.dev.key(0, 214, 0);
            l.dev.rel(1, REL_X, 1);
            l.dev.rel(3, REL_Z, 1);
            QTRY_COMPARE(w.countOf(ZRadioEvent::ShortPress, 214), 1);
        }
        QTest::qWait(1300);
        QCOMPARE(w.countOf(ZRadioEvent::LongPress, 214), 0);

        // The power key, with recorders in place of its callbacks: 2 s is
        // still a short press, a long one needs at least 3 s.
        lpkey_t *pwr = entry(l.radio, 116);
        QVERIFY(pwr);
        g_short = g_long = 0;
        pwr->onShort.store(onShortRec);
        pwr->onLong.store(onLongRec);
        l.hold(4, 116, 2000);
        QTRY_COMPARE(g_short.load(), 1);
        QCOMPARE(g_long.load(), 0);
        t.restart();
        l.dev.key(4, 116, 1);
        QTRY_COMPARE_WITH_TIMEOUT(g_long.load(), 1, 15000);
        QVERIFY2(t.elapsed() >= 3000, qPrintable(QString::number(t.elapsed())));
        l.dev.key(4, 116, 0);
        QTest::qWait(100);
        QCOMPARE(g_short.load(), 1);
        QCOMPARE(g_long.load(), 1);
    }

    // The input thread sleeps while nothing happens; devices whose writers
    // went away (a hang-up) do not keep it spinning and are opened anew,
    // after which their keys work again.
    void sleepsAtRestAndReopensDevices()
    {
        Link l;
        QVERIFY(l.up());
        RecordingWindow &w = l.win;
        QTest::qWait(100);
        uint64_t p0 = l.radio->inputPasses.load();
        QTest::qWait(500);
        QCOMPARE(l.radio->inputPasses.load(), p0);

        l.dev.close();
        QTest::qWait(100);
        p0 = l.radio->inputPasses.load();
        QTest::qWait(500);
        QVERIFY2(l.radio->inputPasses.load() - p0 <= 10, qPrintable(QString::number(l.radio->inputPasses.load() - p0)));
        QTRY_VERIFY_WITH_TIMEOUT(l.dev.open(), 10000);
        l.hold(2, 204, 20);
        QTRY_COMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_F1), 1);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_F1), 1);
    }

    // A release the input thread reads late (it was held up past the
    // long-press time meanwhile) is still the short press it was, not a
    // long one; a key still held after such a hold-up reports its long
    // press.
    void aReleaseReadLateStaysShort()
    {
        Link l;
        QVERIFY(l.up());
        RecordingWindow &w = l.win;
        entry(l.radio, 192)->onShort.store(stallInputThread);
        l.dev.key(0, 208, 1);
        QTest::qWait(50);
        l.hold(1, 192, 10); // its callback holds the thread up for 1.5 s
        QTest::qWait(300);
        l.dev.key(0, 208, 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(ZRadioEvent::ShortPress, 208), 1, 10000);
        QCOMPARE(w.countOf(ZRadioEvent::LongPress, 208), 0);

        w.clearEvents();
        l.dev.key(0, 214, 1);
        QTest::qWait(50);
        l.hold(1, 192, 10);
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(ZRadioEvent::LongPress, 214), 1, 10000);
        l.dev.key(0, 214, 0);
        QTest::qWait(200);
        QCOMPARE(w.countOf(ZRadioEvent::ShortPress, 214), 0);
    }

    // The hand-microphone key word from the frame trailer.
    void microphoneKeys()
    {
        Link l;
        QVERIFY(l.up());
        RecordingWindow &w = l.win;
        MicKey mic{l.radio};

        mic = 97;
        QTRY_COMPARE(w.events.size(), 1);
        mic = 0;
        QTRY_COMPARE(w.events.size(), 2);
        QCOMPARE(w.events[0].type, int(QEvent::KeyPress));
        QCOMPARE(w.events[0].key, int(Qt::Key_4));
        QCOMPARE(w.events[0].text, QString("4"));
        QCOMPARE(w.events[1].type, int(QEvent::KeyRelease));
        QCOMPARE(w.events[1].key, int(Qt::Key_4));
        QCOMPARE(w.events[1].text, QString("4"));

        // 97 then 98 directly: two presses, no release of Key_4.
        w.clearEvents();
        mic = 97;
        QTRY_COMPARE(w.events.size(), 1);
        mic = 98;
        QTRY_COMPARE(w.events.size(), 2);
        QCOMPARE(w.events[1].type, int(QEvent::KeyPress));
        QCOMPARE(w.events[1].key, int(Qt::Key_5));
        mic = 0;
        QTRY_COMPARE(w.events.size(), 3);
        QCOMPARE(w.events[2].type, int(QEvent::KeyRelease));
        QCOMPARE(w.events[2].key, int(Qt::Key_5));
        QCOMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_4), 0);

        // Modifiers and texts; unknown codes post nothing. Each word stays
        // until its event has arrived: the input thread reads the word once
        // a pass, and on a loaded machine a fixed pause may end before it
        // ran (a word it never saw would change the sequence).
        w.clearEvents();
        const struct { uint32_t code; int events; } words[] = {
            {104, 1}, {0, 2}, {5, 2}, {0, 2}, {40, 3}, {0, 4}, {132, 5}, {0, 6}};
        for (const auto &word : words) {
            mic = word.code;
            QTest::qWait(20);
            QTRY_COMPARE(w.events.size(), word.events);
        }
        QCOMPARE(w.events[0].key, int(Qt::Key_F));
        QCOMPARE(w.events[0].modifiers, int(Qt::ControlModifier));
        QCOMPARE(w.events[0].text, QString("HMIC-F"));
        QCOMPARE(w.events[2].text, QString("HMIC-Enter"));
        QCOMPARE(w.events[4].key, int(Qt::Key_Up));

        // TUNE and X also act as the front-panel keys 209 and 207.
        w.clearEvents();
        mic = 196;
        QTest::qWait(200);
        mic = 0;
        QTRY_COMPARE(w.countOf(ZRadioEvent::ShortPress, 207), 1);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_X), 1);
        QCOMPARE(w.countOf(QEvent::KeyRelease, Qt::Key_X), 1);
        w.clearEvents();
        mic = 194;
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(ZRadioEvent::LongPress, 209), 1, 10000);
        mic = 0;
        QTest::qWait(100);
        QCOMPARE(w.countOf(ZRadioEvent::ShortPress, 209), 0);

        // From TUNE straight to another key: that ends the TUNE press too,
        // so no long press of 209 follows.
        w.clearEvents();
        mic = 194;
        QTest::qWait(100);
        mic = 97;
        QTest::qWait(1500);
        mic = 0;
        QTest::qWait(100);
        QCOMPARE(w.countOf(ZRadioEvent::LongPress, 209), 0);
        QCOMPARE(w.countOf(ZRadioEvent::ShortPress, 209), 1);
    }

    // The power key's own callbacks: a short press saves the database and
    // toggles the screen, on the input thread, while this (GUI) thread and
    // a CI-V-like thread keep using the store.
    void powerKeySavesAndToggles()
    {
        Link l;
        QVERIFY(l.up());
        ZParamAdmin *s = l.store;
        const QString log = l.root.path() + "/var/log/commands.log";
        s->setParamItem("wparam", "bllevel", 4);
        s->setParamItem("wparam", "rxvol", 41);

        std::atomic<bool> stop{false};
        std::thread civ([&]() {
            while (!stop) {
                s->modifyParamItem("wparam", "rfg", 1, -1, zrnamespace::ModifyWrap);
                s->paramItem("wparam", "nbe");
            }
        });
        // A failed check returns early: the thread must still be joined.
        ztest::Joiner joiner(civ, &stop);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&]() {
            zradio_update_params();
            s->modifyParamItem("wparam", "sqlthr", 1, -1, zrnamespace::ModifyWrap);
        });
        tick.start(5);

        l.hold(4, 116, 100);
        QTRY_VERIFY_WITH_TIMEOUT(ztest::readText(log).contains("echo 0 > /sys/class/backlight/backlight/brightness"), 20000);
        QTRY_COMPARE(l.radio->screenOff.load(), uint8_t(1));
        QTRY_COMPARE(ztest::readText(l.root.path() + "/sys/class/backlight/backlight/brightness"), QString("0\n"));
        l.hold(4, 116, 100);
        QTRY_COMPARE_WITH_TIMEOUT(l.radio->screenOff.load(), uint8_t(0), 20000);
        QTRY_VERIFY(ztest::readText(log).contains("echo 7 > /sys/class/backlight/backlight/brightness"));

        // Saves on other threads at the same time as the GUI thread works.
        std::thread saver([&]() {
            for (int i = 0; i < 3; ++i)
                _click_pwr();
        });
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QTest::qWait(10);
        saver.join();
        tick.stop();
        stop = true;
        civ.join();
        QCOMPARE(l.radio->screenOff.load(), uint8_t(1));
        ptest::DbFile db(l.root.dbFile());
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toInt(), 41);
    }

    // Random events on every device and random microphone words: nothing
    // breaks, the store's values stay in their ranges, and the link still
    // answers a key press afterwards.
    void randomInput()
    {
        Link l;
        QVERIFY(l.up());
        ZParamAdmin *s = l.store;
        lpkey_t *pwr = entry(l.radio, 116);
        pwr->onShort.store(nothing);
        pwr->onLong.store(nothing);
        std::mt19937 rng(5);
        QElapsedTimer t;
        t.start();
        int sent = 0;
        while (t.elapsed() < 1500) {
            const int dev = int(rng() % 5);
            input_event e = inputEvent(uint16_t(rng() % 4), uint16_t(rng() % 300), int32_t(rng()) >> (rng() % 31));
            if (rng() % 3 == 0)
                e = inputEvent(EV_KEY, uint16_t(190 + rng() % 30), int32_t(rng() % 3));
            if (l.dev.raw(dev, e))
                ++sent;
            if (rng() % 20 == 0)
                zradio_input_set_mic_key(l.radio, (rng() % 2) ? uint32_t(rng()) : uint32_t(rng() % 256));
            if (sent % 5 == 0)
                QTest::qWait(5);
        }
        zradio_input_set_mic_key(l.radio, 0);
        QTest::qWait(1500); // drain, and let any held key fire
        QVERIFY(s->mode() >= 0 && s->mode() <= 7);
        QVERIFY(s->tuneStep() >= 1 && s->tuneStep() <= 3);
        for (const char *k : {"rxvol", "sqlthr", "rfg"}) {
            const zparam_item_t it = s->paramItem("wparam", k);
            QVERIFY2(it.value.toInt() >= it.min.toInt() && it.value.toInt() <= it.max.toInt(), k);
        }
        const int sel = l.radio->knobSelector.load();
        QVERIFY(sel >= 0 && sel < 3);
        // Release whatever the random events left pressed, then a clean press.
        for (int code = 190; code < 220; ++code)
            l.dev.key(0, code, 0);
        QTest::qWait(300);
        l.win.clearEvents();
        l.hold(0, 213, 50);
        QTRY_COMPARE(l.win.countOf(ZRadioEvent::ShortPress, 213), 1);
    }

    // The control socket of the real simulator drives the link in this
    // process: keys, knobs, dial and microphone change the store and reach
    // the window; the register words show the change; supply, battery,
    // transmission, the tuner and power-off as the board answers them.
    void againstSimulator()
    {
        ztest::Sysroot root;
        Sim sim;
        QVERIFY(sim.start(root.path()));
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param);
        ZParamAdmin *s = radio->param;
        RecordingWindow w;
        w.tuneOnDial = true;
        QVERIFY(activate(&w));
        // The window's update tick.
        QTimer tick;
        float mag[ZRADIO_FFT_LEN];
        QObject::connect(&tick, &QTimer::timeout, [&]() {
            uint32_t n;
            const int got = zradio_getfftmag(radio, mag, &n);
            zradio_update_live_status(radio, got);
            zradio_update_params();
        });
        zradio_request_full_push();
        tick.start(50);
        QTRY_COMPARE_WITH_TIMEOUT(zradio_comm_valid(), uint8_t(1), 10000);
        uint32_t r[ZRADIO_REG_WORDS];
        int tx = 0, atu = 0;
        auto st = [&]() { return sim.status(r, &tx, &atu); };
        QTRY_VERIFY_WITH_TIMEOUT(st() && r[ZRADIO_WORD_REFRESH] == ZRADIO_REFRESH_MARK, 10000);

        s->setParamItem("wparam", "vi", 0);
        const int mode = s->mode();
        QVERIFY(sim.command("key 203 80").startsWith("ok"));
        const int next = mode >= 0 && mode <= 2 ? mode + 1 : 0;
        QTRY_COMPARE(s->mode(), next);
        QTRY_VERIFY(st() && r[4] == uint32_t(next));

        const int vol = s->rxVolum();
        QVERIFY(sim.command("knob 3").startsWith("ok"));
        QTRY_COMPARE(s->rxVolum(), vol + 3);
        QTRY_VERIFY(st() && r[14] == uint32_t(vol + 3));
        QVERIFY(sim.command("knob -1").startsWith("ok"));
        QTRY_COMPARE(s->rxVolum(), vol + 2);

        s->setParamItem("wparam", "ts", 2); // 100 Hz
        const int f = s->vfoFront("freq").value.toInt();
        QVERIFY(sim.command("dial 2").startsWith("ok"));
        QTRY_COMPARE(s->vfoFront("freq").value.toInt(), f + 200);
        QTRY_VERIFY(st() && (r[35] & 0xFFFFFF) == (uint32_t(s->dloFreq.load()) & 0xFFFFFF));

        w.clearEvents();
        QVERIFY(sim.command("mfk 1").startsWith("ok"));
        QTRY_COMPARE(w.events.size(), 1);
        QCOMPARE(w.events[0].delta, -1);
        QCOMPARE(w.events[0].modifiers, 0);

        w.clearEvents();
        QVERIFY(sim.command("mic 97 300").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(QEvent::KeyRelease, Qt::Key_4), 1, 5000);
        QCOMPARE(w.countOf(QEvent::KeyPress, Qt::Key_4), 1);
        QVERIFY(sim.command("key 208 150").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(ZRadioEvent::ShortPress, 208), 1, 5000);
        QVERIFY(sim.command("mic 194 2000").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.countOf(ZRadioEvent::LongPress, 209), 1, 10000);

        // Supply and battery.
        QVERIFY(sim.command("supply bat").startsWith("ok"));
        QVERIFY(sim.command("battery 40 7.4").startsWith("ok"));
        QTRY_COMPARE(zradio_get_vextflag(), uint8_t(0));
        QTRY_COMPARE(zradio_get_report_batcap(), 40);
        QCOMPARE(zradio_get_report_vext(), 0.0f);
        QCOMPARE(zradio_get_report_vbat(), 7.4f);
        QCOMPARE(zradio_get_chgflag(), uint8_t(0));
        QTRY_COMPARE(s->vsupply.load(), 7.4f);
        QVERIFY(sim.command("supply ext").startsWith("ok"));
        QTRY_COMPARE(zradio_get_chgflag(), uint8_t(1));
        QCOMPARE(zradio_get_report_vext(), 13.8f);
        QVERIFY(sim.command("battery 101 7").startsWith("error"));
        QVERIFY(sim.command("key 99999 5").startsWith("error"));
        QVERIFY(sim.command("dial x").startsWith("error"));

        // Transmission on 20 m through the CI-V PTT: 5 W into a good match.
        s->setParamItem("wparam", "center_mode", 1);
        s->setVfoFront("freq", 14200000);
        s->setParamItem("wparam", "txpwr", 5.0f);
        s->setParamItem("wparam", "atue", 0);
        zradio_set_civptt(1);
        QTRY_VERIFY(st() && tx == 1);
        QTRY_COMPARE(zradio_get_trx(), uint8_t(1));
        QTRY_COMPARE(zradio_get_report_txpower(), 5.0f);
        QVERIFY(zradio_get_report_vswr() >= 10.0f && zradio_get_report_vswr() < 13.0f);
        QVERIFY(zradio_get_report_alclevel() > 0.0f);
        QTRY_VERIFY(s->fwdPower.load() > 4.0f);
        QVERIFY(s->swr.load() < 1.3f);

        // Outside the amateur bands: no transmission.
        s->setVfoFront("freq", 10000000);
        QTRY_VERIFY(st() && tx == 0);
        QTRY_COMPARE(zradio_get_trx(), uint8_t(0));

        // 40 m: a bad match and folded-back power; the tuner fixes it.
        s->setVfoFront("freq", 7100000);
        QTRY_COMPARE(zradio_get_trx(), uint8_t(1));
        QTRY_VERIFY(zradio_get_report_vswr() > 100.0f);
        QVERIFY(zradio_get_report_txpower() < 2.0f);
        zradio_set_civptt(0);
        QTRY_COMPARE(zradio_get_trx(), uint8_t(0));
        s->setParamItem("wparam", "atue", 1);
        QElapsedTimer t;
        t.start();
        zradio_atu_tune(1);
        QTRY_VERIFY(st() && atu == 1);
        QTRY_COMPARE_WITH_TIMEOUT(zradio_get_atu_status(), uint8_t(1), 10000);
        QVERIFY2(t.elapsed() >= 1500, qPrintable(QString::number(t.elapsed())));
        zatu_network_t net;
        zradio_get_atuparams(&net);
        QVERIFY(net.c || net.l);
        zradio_atu_tune(0);
        zradio_set_atu_network(&net);
        QTRY_COMPARE(zradio_get_atu_status(), uint8_t(0));
        zradio_set_civptt(1);
        QTRY_COMPARE(zradio_get_trx(), uint8_t(1));
        QTRY_VERIFY(zradio_get_report_vswr() < 15.0f && zradio_get_report_txpower() == 5.0f);
        zradio_set_civptt(0);
        QTRY_VERIFY(st() && tx == 0);

        // The power-off bit: the board switches off.
        zradio_remote_poweroff();
        QVERIFY(sim.process().waitForFinished(10000));
        QCOMPARE(sim.process().exitCode(), 0);
        tick.stop();
    }

    // Encoder counts at the ends of the 32-bit range: the most negative
    // count still turns the small knob and the dial the other way (its
    // opposite does not fit in 32 bits).
    void extremeEncoderCounts()
    {
        Link l;
        QVERIFY(l.up());
        ZParamAdmin *s = l.store;
        RecordingWindow &w = l.win;
        l.radio->knobSelector.store(0);
        s->setParamItem("wparam", "rxvol", 30);
        l.dev.rel(2, REL_Y, INT32_MIN);
        QTRY_COMPARE(s->rxVolum(), 31);
        l.dev.rel(2, REL_Y, INT32_MAX);
        QTRY_COMPARE(s->rxVolum(), 30);

        w.clearEvents();
        l.dev.rel(1, REL_X, INT32_MIN);
        QTRY_COMPARE(w.events.size(), 1);
        QCOMPARE(w.events[0].delta, INT32_MAX);
        QCOMPARE(w.events[0].modifiers, int(Qt::AltModifier));
        l.dev.rel(3, REL_Z, INT32_MIN);
        QTRY_COMPARE(w.events.size(), 2);
        QCOMPARE(w.events[1].delta, INT32_MIN);
    }
};

QTEST_MAIN(TestInput)
#include "test_input.moc"
