#include "radio/zradio_input.h"

#include "app/zlog.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "radio/zradioevent.h"
#include "app/zsystem.h"
#include "radio/zwake.h"

#include <QApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QString>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace {

// ------------------------------------------------------------- posting

QEvent::Type relayType()
{
    static const QEvent::Type t = QEvent::Type(QEvent::registerEventType());
    return t;
}

// Carries one event from the posting thread to the relay.
class RelayEvent : public QEvent
{
public:
    explicit RelayEvent(QEvent *inner)
        : QEvent(relayType())
        , m_inner(inner)
    {
    }
    QEvent *take() { return m_inner.release(); }

private:
    std::unique_ptr<QEvent> m_inner;
};

// Lives on the GUI thread. The active window is a GUI-thread property, so
// it is looked up here rather than on the input thread; the event then goes
// on to that window's queue, in the order it was posted.
class ZInputRelay : public QObject
{
public:
    bool event(QEvent *e) override
    {
        if (e->type() != relayType())
            return QObject::event(e);
        std::unique_ptr<QEvent> inner(static_cast<RelayEvent *>(e)->take());
        QWidget *w = nullptr;
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            w = QApplication::activeWindow();
        if (w && inner)
            QCoreApplication::postEvent(w, inner.release());
        return true;
    }
};

void post_event(QEvent *event)
{
    zradio_t *radio = g_zradio;
    if (!radio || !radio->inputRelay) {
        delete event;
        return;
    }
    QCoreApplication::postEvent(radio->inputRelay, new RelayEvent(event));
}

void post_key(QEvent::Type type, int key, Qt::KeyboardModifiers mods, const QString &text)
{
    post_key_event(new QKeyEvent(type, key, mods, text, false, 1));
}

void post_wheel(int delta, Qt::KeyboardModifiers mods)
{
    post_wheel_event(new QWheelEvent(QPointF(0, 0), QPointF(0, 0), QPoint(0, 0), QPoint(0, delta),
                                     Qt::NoButton, mods, Qt::NoScrollPhase, false));
}

// ------------------------------------------------------------- key tables

// Front-panel keys that become plain key events (press and release).
struct panel_key_t {
    uint8_t code;
    int key;
    const char *text;
    bool release; // the release is posted too
};

const panel_key_t kPanelKeys[] = {
    {196, Qt::Key_PageDown, "BAND-DOWN", false},
    {197, Qt::Key_PageUp, "BAND-UP", false},
    {204, Qt::Key_F1, "", true},
    {205, Qt::Key_F2, "", true},
    {206, Qt::Key_F3, "", true},
    {210, Qt::Key_F4, "", true},
    {211, Qt::Key_F5, "", true},
    {218, Qt::Key_Enter, "ENTER", true},
};

struct mic_key_t {
    uint32_t code;
    int key;
    bool ctrl;
    const char *text;
};

const mic_key_t kMicKeys[] = {
    {4, Qt::Key_Down, false, "HMIC-DOWN"},
    {33, Qt::Key_Period, false, "."},
    {34, Qt::Key_0, false, "0"},
    {36, Qt::Key_Backspace, false, "HMIC-BACKSPACE"},
    {40, Qt::Key_Enter, false, "HMIC-Enter"},
    {68, Qt::Key_F12, false, "HMIC-F12"},
    {72, Qt::Key_F11, false, "HMIC-F11"},
    {97, Qt::Key_4, false, "4"},
    {98, Qt::Key_5, false, "5"},
    {100, Qt::Key_6, false, "6"},
    {104, Qt::Key_F, true, "HMIC-F"},
    {129, Qt::Key_V, true, "HMIC-V"},
    {130, Qt::Key_W, true, "HMIC-W"},
    {132, Qt::Key_Up, false, "HMIC-UP"},
    {161, Qt::Key_7, false, "7"},
    {162, Qt::Key_8, false, "8"},
    {164, Qt::Key_9, false, "9"},
    {168, Qt::Key_G, true, "HMIC-G"},
    {193, Qt::Key_L, true, "HMIC-LOCK"},
    {194, Qt::Key_T, true, "HMIC-TUNE"},
    {196, Qt::Key_X, true, "HMIC-X"},
    {225, Qt::Key_1, false, "1"},
    {226, Qt::Key_2, false, "2"},
    {228, Qt::Key_3, false, "3"},
    {232, Qt::Key_M, true, "HMIC-M"},
};

const mic_key_t *mic_key(uint32_t code)
{
    for (const mic_key_t &k : kMicKeys)
        if (k.code == code)
            return &k;
    return nullptr;
}

void post_mic(const mic_key_t *k, QEvent::Type type)
{
    if (k)
        post_key(type, k->key, k->ctrl ? Qt::ControlModifier : Qt::NoModifier, QString::fromLatin1(k->text));
}

// The microphone's TUNE and X keys also act as the front-panel keys 209
// and 207 in the long-press table.
int mic_alias(uint32_t code)
{
    return code == 194 ? 209 : (code == 196 ? 207 : 0);
}

// x modulo m, where m = 0 means no wrap and m = -1 (or any other negative
// modulus) gives 0.
int knob_mod(int x, int m)
{
    if (m == 0)
        return x;
    if (m < 0)
        return 0;
    return ((x % m) + m) % m;
}

const char *const kKnobKeys[3] = {"rxvol", "sqlthr", "rfg"};

// The opposite of an encoder count. The most negative 32-bit count has no
// opposite; a device that sends it still turns the other way, by the
// largest count there is.
int opposite_count(int32_t v)
{
    return v == INT32_MIN ? INT32_MAX : -v;
}

void group_key(int key, const char *text)
{
    post_key(QEvent::KeyPress, key, Qt::ControlModifier, QString::fromLatin1(text));
}

input_event key_event(int code, int value)
{
    input_event ev = {};
    ev.type = EV_KEY;
    ev.code = uint16_t(code);
    ev.value = value;
    return ev;
}

} // namespace

// ---------------------------------------------------------------- posting

QObject *zradio_input_relay_create()
{
    if (!QCoreApplication::instance())
        return nullptr;
    return new ZInputRelay;
}

void post_key_event(QKeyEvent *event)
{
    post_event(event);
}

void post_wheel_event(QWheelEvent *event)
{
    post_event(event);
}

void lpkey_t::postUserEvent(int type, uint32_t code)
{
    post_event(new ZRadioEvent(QEvent::Type(type), code));
}

// ------------------------------------------------------------ long press

void lpkey_t::timing(const input_event &ev)
{
    if (code == 0)
        return;
    if ((ev.code & 0xFF) == code) {
        if (ev.value != 0)
            pressed = 1;
        else
            released = 1;
    }
    if (released) {
        if (pressed && !fired) {
            if (lpkey_cb_t cb = onShort.load())
                cb();
            else
                postUserEvent(ZRadioEvent::ShortPress, uint32_t(code));
        }
        count = 0;
        fired = 0;
        pressed = 0;
        released = 0;
    } else if (pressed && !fired) {
        if (count < threshold) {
            ++count;
        } else {
            fired = 1;
            if (lpkey_cb_t cb = onLong.load())
                cb();
            else
                postUserEvent(ZRadioEvent::LongPress, uint32_t(code));
        }
    }
}

void zradio_lpkeys_init(lpkey_t *t)
{
    struct row_t {
        int code;
        unsigned threshold;
        lpkey_cb_t onShort;
        lpkey_cb_t onLong;
    };
    static const row_t rows[ZRADIO_LPKEYS] = {
        {213, 1000, nullptr, nullptr},
        {207, 1000, nullptr, nullptr},
        {214, 1000, nullptr, nullptr},
        {208, 1000, nullptr, nullptr},
        {192, 1000, _click_gen, nullptr},
        {198, 1000, _click_app, nullptr},
        {193, 1000, _click_key, nullptr},
        {199, 1000, _click_msg, nullptr},
        {200, 1000, _click_dfl, nullptr},
        {194, 1000, _click_dfn, nullptr},
        {116, 3000, _click_pwr, _longpress_pwr},
        {216, 1000, nullptr, nullptr},
        {209, 1000, nullptr, nullptr},
    };
    for (int i = 0; i < ZRADIO_LPKEYS; ++i) {
        t[i].code = rows[i].code;
        t[i].threshold = rows[i].threshold;
        t[i].count = 0;
        t[i].fired = t[i].pressed = t[i].released = 0;
        t[i].onShort.store(rows[i].onShort);
        t[i].onLong.store(rows[i].onLong);
    }
}

// ------------------------------------------------------------- callbacks

void _click_gen() { group_key(Qt::Key_1, "^1"); }
void _click_app() { group_key(Qt::Key_2, "^2"); }
void _click_key() { group_key(Qt::Key_3, "^3"); }
void _click_msg() { group_key(Qt::Key_4, "^4"); }
void _click_dfn() { group_key(Qt::Key_5, "^5"); }
void _click_dfl() { group_key(Qt::Key_6, "^6"); }

void _click_pwr()
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return;
    // The store serialises this against the GUI and CI-V threads; its SQL
    // runs on the store's own database thread, which never waits for any
    // other thread, so the GUI thread is only held up for the save.
    if (radio->param)
        radio->param->syncDatabase();
    if (radio->screenOff.exchange(0)) {
        zradio_update_backlight();
    } else {
        radio->screenOff.store(1);
        zsys::run(QStringLiteral("echo 0 > /sys/class/backlight/backlight/brightness"));
    }
    qCInfo(logRig) << "power key: screen" << (radio->screenOff.load() ? "off" : "on");
}

void _longpress_pwr()
{
    qCInfo(logRig) << "power key held: power off";
    zradio_poweroff();
}

// ------------------------------------------------------------ input pass

void zradio_input_handle_event(zradio_t *radio, const input_event &ev)
{
    ZParamAdmin *store = radio->param;
    const QString wparam = QLatin1String(zrnamespace::kSectionParam);
    if (ev.type == EV_KEY) {
        const int code = ev.code & 0xFF;
        const bool press = ev.value != 0;
        switch (code) {
        case 195:
            if (press) {
                radio->iptt.store(1);
                post_key(QEvent::KeyPress, Qt::Key_Play, Qt::NoModifier, QStringLiteral("BIULT-IN"));
            } else {
                post_key(QEvent::KeyRelease, Qt::Key_Play, Qt::NoModifier, QStringLiteral("BIULT-IN"));
                radio->iptt.store(0);
            }
            return;
        case 201:
        case 202:
        case 203:
            if (press && store) {
                const int m = store->mode();
                int next;
                using namespace zrnamespace;
                if (code == 201)
                    next = m == ModeAM ? ModeNFM : ModeAM;
                else if (code == 202)
                    next = m == ModeCW ? ModeCWR : ModeCW;
                else
                    next = (m >= ModeLSB && m <= ModeUSB) ? m + 1 : ModeLSB;
                store->setMode(next);
                radio->modeChanged.store(1);
            }
            return;
        case 212:
            if (press)
                radio->knobSelector.store(knob_mod(radio->knobSelector.load() + 1, radio->knobModulus));
            return;
        case 215:
            if (press && store && store->vm() == 0)
                store->modifyParamItem(wparam, QStringLiteral("ts"), 1, -1, zrnamespace::ModifyByItem);
            return;
        default:
            break;
        }
        for (const panel_key_t &k : kPanelKeys) {
            if (k.code != code)
                continue;
            if (press)
                post_key(QEvent::KeyPress, k.key, Qt::NoModifier, QString::fromLatin1(k.text));
            else if (k.release)
                post_key(QEvent::KeyRelease, k.key, Qt::NoModifier, QString::fromLatin1(k.text));
            return;
        }
    } else if (ev.type == EV_REL) {
        if (ev.code == REL_Y) {
            // Small knob: one item step per event, whatever the count.
            const int sel = radio->knobSelector.load();
            if (sel >= 0 && sel < 3 && store) {
                store->modifyParamItem(wparam, QLatin1String(kKnobKeys[sel]), opposite_count(ev.value), -1,
                                       zrnamespace::ModifyByItem);
                if (sel == 0)
                    radio->volChanged.store(1);
            }
        } else if (ev.code == REL_X) {
            post_wheel(opposite_count(ev.value), Qt::AltModifier); // tuning dial
        } else if (ev.code == REL_Z) {
            post_wheel(ev.value, Qt::NoModifier); // multi-function knob
        }
    }
}

int zradio_input_handle_mic(zradio_t *radio, uint32_t current, input_event *ev)
{
    const uint32_t prev = radio->hmicKeyPrev;
    if (current == prev)
        return 0;
    radio->hmicKeyPrev = current;
    int n = 0;
    if (current == 0) {
        post_mic(mic_key(prev), QEvent::KeyRelease);
    } else {
        post_mic(mic_key(current), QEvent::KeyPress);
        // A direct change from TUNE or X to another key is also the end of
        // that front-panel press: without it the long-press table would
        // count on and report a long press (start tuning) nobody made.
        if (mic_alias(prev))
            ev[n++] = key_event(mic_alias(prev), 0);
    }
    if (current == 0 ? mic_alias(prev) : mic_alias(current))
        ev[n++] = key_event(current == 0 ? mic_alias(prev) : mic_alias(current), current == 0 ? 0 : 1);
    return n;
}

void zradio_input_set_mic_key(zradio_t *radio, uint32_t code)
{
    if (radio && radio->hmicKey.exchange(code, std::memory_order_relaxed) != code)
        zwake_signal(radio->inputWakeFd);
}

unsigned zradio_lpkeys_pending(const lpkey_t *table, int count)
{
    unsigned most = 0;
    for (int i = 0; i < count; ++i) {
        const lpkey_t &k = table[i];
        if (k.code != 0 && k.pressed && !k.fired && !k.released)
            most = std::max(most, k.count < k.threshold ? k.threshold - k.count + 1 : 1u);
    }
    return most;
}

namespace {

// Passes until the first held entry reports its long press: how long the
// thread may sleep without new input.
unsigned lpkeys_next(const lpkey_t *table, int count)
{
    unsigned next = 0;
    for (int i = 0; i < count; ++i) {
        const lpkey_t &k = table[i];
        if (k.code != 0 && k.pressed && !k.fired && !k.released) {
            const unsigned n = k.count < k.threshold ? k.threshold - k.count + 1 : 1u;
            next = next == 0 ? n : std::min(next, n);
        }
    }
    return next;
}

int open_input(int i)
{
    const std::string path = zsys::path(QStringLiteral("/dev/input/event%1").arg(i).toLocal8Bit().constData());
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// A device that reports a hang-up or an error without data (a FIFO whose
// writer went away, an unplugged device) is opened anew, at most this often;
// until then it is left out of the poll set, so it cannot keep the thread
// spinning.
const int64_t kReopenPauseMs = 1000;

} // namespace

void *thread_input_admin(void *arg)
{
    zradio_t *radio = static_cast<zradio_t *>(arg);
    pthread_setname_np(pthread_self(), "zr-input");
    radio->inputCount = ZRADIO_INPUT_DEVICES;
    int opened = 0;
    for (int i = 0; i < radio->inputCount; ++i) {
        radio->inputFds[i] = open_input(i);
        if (radio->inputFds[i] < 0) {
            const std::string path =
                zsys::path(QStringLiteral("/dev/input/event%1").arg(i).toLocal8Bit().constData());
            qCWarning(logRig).noquote() << QString::asprintf("can't open \"%s\"", path.c_str());
        } else {
            ++opened;
        }
    }
    radio->modeChanged.store(0);
    radio->volChanged.store(0);
    qCInfo(logRig) << "input thread: " << opened << "of" << radio->inputCount << "input devices open";

    // The event the long-press table sees on passes without new key input:
    // a held key keeps counting.
    input_event last = {};
    int64_t lastPass = zwake_now_ms();
    int64_t reopenAt[ZRADIO_INPUT_DEVICES] = {};
    while (!radio->inputExit.load()) {
        // Sleep until input, a wake-up, a device's reopen time or the next
        // long press.
        pollfd p[1 + ZRADIO_INPUT_DEVICES];
        int dev[1 + ZRADIO_INPUT_DEVICES];
        int np = 0;
        p[np++] = {radio->inputWakeFd, POLLIN, 0};
        int64_t now = zwake_now_ms();
        int64_t deadline = -1;
        for (int i = 0; i < radio->inputCount; ++i) {
            if (radio->inputFds[i] >= 0) {
                dev[np] = i;
                p[np++] = {radio->inputFds[i], POLLIN, 0};
            } else if (reopenAt[i] > 0 && (deadline < 0 || reopenAt[i] < deadline)) {
                deadline = reopenAt[i];
            }
        }
        if (const unsigned n = lpkeys_next(radio->lpkeys, ZRADIO_LPKEYS)) {
            const int64_t t = lastPass + int64_t(n);
            deadline = deadline < 0 ? t : std::min(deadline, t);
        }
        const int rc = poll(p, nfds_t(np), deadline < 0 ? -1 : zwake_until(deadline, now));
        if (rc < 0 && errno != EINTR) {
            qCWarning(logRig) << "input poll error," << -errno;
            zwake_wait(-1, 100);
            continue;
        }
        if (p[0].revents)
            zwake_clear(radio->inputWakeFd);
        now = zwake_now_ms();
        radio->inputPasses.fetch_add(1, std::memory_order_relaxed);

        // Every key event of this pass reaches the long-press table, not
        // only the last one read: a release read in the same pass as another
        // device's event must not turn into a long press.
        input_event keys[ZRADIO_INPUT_DEVICES + 2];
        int nkeys = 0;
        bool gotInput = false;
        const unsigned nextLong = lpkeys_next(radio->lpkeys, ZRADIO_LPKEYS);
        for (int j = 1; j < np; ++j) {
            if (!p[j].revents)
                continue;
            const int i = dev[j];
            input_event ev;
            const ssize_t n = read(radio->inputFds[i], &ev, sizeof(ev));
            if (n == ssize_t(sizeof(ev))) {
                gotInput = true;
                zradio_input_handle_event(radio, ev);
                if (ev.type == EV_KEY)
                    keys[nkeys++] = ev;
            } else if (n == 0 || (n < 0 && ((errno != EAGAIN && errno != EINTR) || !(p[j].revents & POLLIN)))) {
                // End of file, an error or a hang-up: the device went away.
                close(radio->inputFds[i]);
                radio->inputFds[i] = -1;
                reopenAt[i] = now + kReopenPauseMs;
            }
            // A short read is ignored.
        }
        for (int i = 0; i < radio->inputCount; ++i) {
            if (radio->inputFds[i] < 0 && reopenAt[i] > 0 && now >= reopenAt[i]) {
                radio->inputFds[i] = open_input(i);
                reopenAt[i] = radio->inputFds[i] < 0 ? now + kReopenPauseMs : 0;
            }
        }
        const int micKeys = zradio_input_handle_mic(radio, radio->hmicKey.load(std::memory_order_relaxed), keys + nkeys);
        nkeys += micKeys;
        gotInput |= micKeys > 0;

        // The passes of about 1 ms each that passed without new key input
        // (only those that can still change anything), then this pass.
        int64_t elapsed = now - lastPass;
        lastPass = now;
        if (gotInput && nextLong > 0) {
            // The input came at some moment up to now, and the thread may
            // have been held up past the next long press: counting stops
            // one pass short of it. A release read late stays a short
            // press, never a long one (power-off, tuning) nobody made; a
            // key still held reports its long press on the next pass.
            elapsed = std::min<int64_t>(elapsed, int64_t(nextLong) - 1);
        }
        if (nkeys > 0 && elapsed > 0)
            --elapsed;
        const int64_t idle = std::min<int64_t>(elapsed, zradio_lpkeys_pending(radio->lpkeys, ZRADIO_LPKEYS));
        for (int64_t t = 0; t < idle; ++t)
            for (lpkey_t &k : radio->lpkeys)
                k.timing(last);
        for (int j = 0; j < nkeys; ++j)
            for (lpkey_t &k : radio->lpkeys)
                k.timing(keys[j]);
        if (nkeys > 0)
            last = keys[nkeys - 1];
    }
    for (int &fd : radio->inputFds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    return nullptr;
}
