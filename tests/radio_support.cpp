#include "tests/radio_support.h"

#include "radio/bbframe.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "radio/zradioevent.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rtest {

Bytes makeFrame(const Trailer &t)
{
    Bytes f(BBFRAME_SIZE, 0);
    for (uint32_t i = 0; i < BBFRAME_SAMPLES; ++i) {
        const float re = 1e-3f * float(std::cos(0.2 * i));
        const float im = 1e-3f * float(std::sin(0.2 * i));
        uint32_t u;
        std::memcpy(&u, &re, 4);
        bbframe_put_u32(&f[BBFRAME_OFS_SAMPLES + 8 * i], u);
        std::memcpy(&u, &im, 4);
        bbframe_put_u32(&f[BBFRAME_OFS_SAMPLES + 8 * i + 4], u);
    }
    bbframe_put_u32(&f[BBFRAME_OFS_STATUS], t.status);
    f[BBFRAME_OFS_TXPWR] = t.power;
    f[BBFRAME_OFS_SWR] = t.swr;
    f[BBFRAME_OFS_ALC] = t.alc;
    f[BBFRAME_OFS_VEXT] = t.vext;
    f[BBFRAME_OFS_VBAT] = t.vbat;
    f[BBFRAME_OFS_BATCAP] = t.batcap;
    std::memcpy(&f[BBFRAME_OFS_ATU], t.atu, 3);
    bbframe_put_u32(&f[BBFRAME_OFS_MICKEY], t.micKey);
    bbframe_seal(f.data());
    return f;
}

// ---------------------------------------------------------- RecordingBus

RecordingBus::RecordingBus(const QString &path, std::atomic<uint64_t> *passes)
    : m_passes(passes)
{
    m_clock.start();
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_fd = ztest::unixSocket(path, SOCK_STREAM, true);
    m_ok = m_fd >= 0;
    m_thread = std::thread(&RecordingBus::run, this);
}

RecordingBus::~RecordingBus()
{
    m_stop = true;
    m_thread.join();
    if (m_fd >= 0)
        close(m_fd);
}

std::vector<RecordingBus::Write> RecordingBus::writes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

size_t RecordingBus::count()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.size();
}

static bool readAll(int fd, uint8_t *p, size_t n, const std::atomic<bool> &stop)
{
    while (n > 0 && !stop) {
        pollfd q = {fd, POLLIN, 0};
        if (poll(&q, 1, 20) <= 0)
            continue;
        const ssize_t r = read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return n == 0;
}

// One transfer; false when the peer went away.
bool RecordingBus::serve(int c)
{
    uint8_t hdr[4];
    if (!readAll(c, hdr, 4, m_stop) || hdr[0] != 'Z' || hdr[1] != 'I' || hdr[2] == 0 || hdr[2] > 8)
        return false;
    const int count = hdr[2];
    Bytes readData;
    std::vector<Write> got;
    for (int i = 0; i < count; ++i) {
        uint8_t m[6];
        if (!readAll(c, m, 6, m_stop))
            return false;
        const uint16_t flags = uint16_t(m[2] | m[3] << 8);
        const uint16_t len = uint16_t(m[4] | m[5] << 8);
        if (flags & 1) {
            readData.insert(readData.end(), len, 0);
            continue;
        }
        Bytes data(len);
        if (len && !readAll(c, data.data(), len, m_stop))
            return false;
        if (len >= 2) {
            std::atomic<uint64_t> *p = m_passes.load();
            got.push_back({uint16_t(data[0] << 8 | data[1]), Bytes(data.begin() + 2, data.end()),
                           p ? p->load() : 0, m_clock.elapsed()});
        }
    }
    int32_t result = count;
    if (m_fail.load() > 0) {
        m_fail.fetch_sub(1);
        result = -EIO;
        readData.clear();
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writes.insert(m_writes.end(), got.begin(), got.end());
    }
    Bytes reply(4);
    bbframe_put_u32(reply.data(), uint32_t(result));
    reply.insert(reply.end(), readData.begin(), readData.end());
    return ::write(c, reply.data(), reply.size()) == ssize_t(reply.size());
}

void RecordingBus::run()
{
    while (!m_stop) {
        pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const int c = accept(m_fd, nullptr, nullptr);
        if (c < 0)
            continue;
        while (!m_stop && serve(c)) {
        }
        close(c);
    }
}

// ------------------------------------------------------------------- Sim

bool Sim::status(uint32_t *words, int *tx, int *atu)
{
    const QStringList f = command("status").split(QLatin1Char(' '));
    // The wireless daemon's wifi= and bt= follow atu=.
    if (f.size() < 1 + ZRADIO_REG_WORDS + 2 || f[0] != QLatin1String("ok"))
        return false;
    for (int i = 0; i < ZRADIO_REG_WORDS; ++i)
        words[i] = f[1 + i].toUInt(nullptr, 16);
    if (tx)
        *tx = f[57].mid(3).toInt();
    if (atu)
        *atu = f[58].mid(4).toInt();
    return true;
}

// --------------------------------------------------------- InputDevices

bool InputDevices::create(const QString &root)
{
    m_root = root;
    QDir().mkpath(root + QStringLiteral("/dev/input"));
    for (int i = 0; i < 5; ++i) {
        const QByteArray p = (root + QStringLiteral("/dev/input/event%1").arg(i)).toLocal8Bit();
        ::unlink(p.constData());
        if (mkfifo(p.constData(), 0600) != 0)
            return false;
    }
    return true;
}

bool InputDevices::open()
{
    // Ends already open stay open: closing them again would hang up the
    // reader's side once more, which then waits before it opens anew, so a
    // retry would keep undoing the devices the reader had already opened.
    bool all = true;
    for (int i = 0; i < 5; ++i) {
        if (m_fd[i] >= 0)
            continue;
        const QByteArray p = (m_root + QStringLiteral("/dev/input/event%1").arg(i)).toLocal8Bit();
        m_fd[i] = ::open(p.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        all = all && m_fd[i] >= 0;
    }
    return all;
}

void InputDevices::close()
{
    for (int &fd : m_fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

InputDevices::~InputDevices()
{
    close();
}

bool InputDevices::raw(int device, const input_event &ev)
{
    return ::write(m_fd[device], &ev, sizeof(ev)) == ssize_t(sizeof(ev));
}

input_event inputEvent(uint16_t type, uint16_t code, int32_t value)
{
    input_event ev;
    std::memset(&ev, 0, sizeof(ev));
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return ev;
}

bool InputDevices::key(int device, int code, int value)
{
    const input_event ev[2] = {inputEvent(EV_KEY, uint16_t(code), value), inputEvent(EV_SYN, SYN_REPORT, 0)};
    return ::write(m_fd[device], ev, sizeof(ev)) == ssize_t(sizeof(ev));
}

bool InputDevices::rel(int device, int code, int value)
{
    const input_event ev[2] = {inputEvent(EV_REL, uint16_t(code), value), inputEvent(EV_SYN, SYN_REPORT, 0)};
    return ::write(m_fd[device], ev, sizeof(ev)) == ssize_t(sizeof(ev));
}

// ------------------------------------------------------ RecordingWindow

RecordingWindow::RecordingWindow()
{
    resize(200, 100);
}

int RecordingWindow::countOf(int type, int key) const
{
    int n = 0;
    for (const Posted &p : events)
        n += (p.type == type && p.key == key) ? 1 : 0;
    return n;
}

bool RecordingWindow::event(QEvent *e)
{
    switch (int(e->type())) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        QKeyEvent *k = static_cast<QKeyEvent *>(e);
        events.append({int(e->type()), k->key(), int(k->modifiers()), k->text(), 0});
        return true;
    }
    case QEvent::Wheel: {
        QWheelEvent *w = static_cast<QWheelEvent *>(e);
        events.append({int(e->type()), 0, int(w->modifiers()), QString(), w->angleDelta().y()});
        if (tuneOnDial && w->modifiers() == Qt::AltModifier && g_zradio && g_zradio->param)
            g_zradio->param->modifyFrequncy(-w->angleDelta().y());
        return true;
    }
    case ZRadioEvent::ShortPress:
    case ZRadioEvent::LongPress:
        events.append({int(e->type()), int(static_cast<ZRadioEvent *>(e)->value()), 0, QString(), 0});
        return true;
    default:
        return QWidget::event(e);
    }
}

RadioLink::RadioLink(zradio_t *r)
    : radio(r)
{
}

RadioLink::~RadioLink()
{
    zradio_destroy(radio);
}

bool activate(QWidget *w)
{
    w->show();
    QApplication::setActiveWindow(w);
    w->activateWindow();
    QElapsedTimer t;
    t.start();
    while (QApplication::activeWindow() != w && t.elapsed() < 3000)
        QTest::qWait(10);
    return QApplication::activeWindow() == w;
}

} // namespace rtest
