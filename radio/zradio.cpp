#include "radio/zradio.h"

#include "app/zlog.h"
#include "radio/zradio_store.h"
#include "radio/zwake.h"
#include "app/zsystem.h"

#include <QDebug>
#include <QObject>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <new>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

zradio_t *g_zradio = nullptr;
uart_t *g_zuart = nullptr;
zradio_i2c_t *g_zi2c = nullptr;
sacalc_t *g_zsacalc = nullptr;

namespace {

// Frame trailer before the first frame: status 0, reserved word 0, then
// 13.8 V external supply, 8.4 V battery, 100 % capacity.
const uint8_t kTrailerPreset[12] = {0, 0, 0, 0, 0, 0, 0, 0, 138, 84, 100, 24};

void publish_trailer(zradio_t *radio, const uint8_t *frame)
{
    for (uint32_t i = 0; i < BBFRAME_TRAILER_WORDS; ++i)
        radio->trailer[i].store(bbframe_get_u32(frame + BBFRAME_OFS_TRAILER + 4 * i),
                                std::memory_order_relaxed);
}

// Throws away whatever waits on the descriptor. The kernel hands a burst
// to the reader in pieces, so the queue is flushed first and then read dry.
void drain(int fd, uint8_t *buf, size_t size)
{
    if (fd < 0 || !buf)
        return;
    tcflush(fd, TCIFLUSH);
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = read(fd, buf, size);
        if (n <= 0)
            break;
    }
}

// Time the line needs for n bytes at its rate (10 bits a byte), in whole
// milliseconds, rounded down: no frame can be complete before it.
int64_t line_time_ms(size_t n)
{
    return int64_t(n) * 10 * 1000 / ZRADIO_UART_BAUD;
}

// A line that reports an error or a hang-up instead of data (a pseudo-
// terminal whose other end went away) is looked at again only after this
// pause, so it cannot keep the reader spinning.
const int kLineErrorPauseMs = 100;

struct accept_ctx_t {
    zradio_t *radio;
    uart_t *uart;
    sacalc_t *sacalc;
};

void accept_frame(const uint8_t *frame, void *p)
{
    accept_ctx_t *ctx = static_cast<accept_ctx_t *>(p);
    zradio_comm_frame(ctx->radio, ctx->uart, ctx->sacalc, frame);
}

// Sets a thread's exit byte and joins it, if it was started.
void stop_thread(pthread_t thread, std::atomic<uint8_t> &exitRequest, bool &started,
                 const std::function<void()> &wake)
{
    if (!started)
        return;
    exitRequest.store(1);
    wake();
    const int rc = pthread_join(thread, nullptr);
    if (rc != 0)
        qCWarning(logRig) << "can't join thread," << rc;
    started = false;
}

} // namespace

void zradio_comm_frame(zradio_t *radio, uart_t *uart, sacalc_t *sacalc, const uint8_t *frame)
{
    std::memcpy(uart->frame, frame, BBFRAME_SIZE);

    liquid_float_complex x[BBFRAME_SAMPLES];
    const uint8_t *s = frame + BBFRAME_OFS_SAMPLES;
    for (uint32_t i = 0; i < BBFRAME_SAMPLES; ++i, s += 8) {
        const uint32_t re = bbframe_get_u32(s);
        const uint32_t im = bbframe_get_u32(s + 4);
        float fr, fi;
        std::memcpy(&fr, &re, 4);
        std::memcpy(&fi, &im, 4);
        x[i] = liquid_float_complex(fr, fi);
    }
    sacalc_run(sacalc, x, BBFRAME_SAMPLES);

    publish_trailer(radio, frame);
    zradio_input_set_mic_key(radio, bbframe_get_u32(frame + BBFRAME_OFS_MICKEY));
    const uint32_t status = bbframe_get_u32(frame + BBFRAME_OFS_STATUS);
    const uint8_t trx = (status & BBFRAME_ST_TX) ? 1 : 0;
    radio->trxState.store(trx, std::memory_order_relaxed);
    zradio_store_set_trx(radio->param, trx);
    radio->vextFlag.store((status & BBFRAME_ST_VEXT) ? 1 : 0, std::memory_order_relaxed);
    radio->chgFlag.store((status & BBFRAME_ST_CHARGING) ? 1 : 0, std::memory_order_relaxed);
    if (!radio->commValid.exchange(1))
        qCInfo(logSerial) << "comm valid: base-band frames arriving";
    radio->commDeadlineMs = zwake_now_ms() + ZRADIO_COMM_TIMEOUT_MS;
}

void *thread_comm(void *)
{
    zradio_t *radio = g_zradio;
    uart_t *uart = g_zuart;
    accept_ctx_t ctx = {radio, uart, g_zsacalc};
    pthread_setname_np(pthread_self(), "zr-uart");

    qCInfo(logSerial).noquote() << QString::asprintf("thread_comm created, id=0x%08lX, fd=%d",
                                                     (unsigned long)pthread_self(), uart->fd.load());
    // Without buffers (the device could not be set up) the reader has
    // nothing to read into and keeps reporting the time-out.
    int fd = -1;
    if (uart->rxBuffer) {
        // Non-blocking on top of the zero read time-out: a line that someone
        // reset to canonical mode must not stall the exit request.
        fd = open(uart->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            qCWarning(logSerial).noquote() << QString::asprintf("can't open %s", uart->path);
    }
    uart->fd.store(fd);
    drain(fd, uart->rxBuffer, uart->bufferSize);

    // What is kept between reads is always shorter than one frame, so this
    // never grows beyond one read plus one frame.
    std::vector<uint8_t> acc;
    acc.reserve(ZRADIO_RX_LIMIT + UART_BUFFER_SIZE);
    bbframe_stats_t stats;
    bool resuming = true;
    bool suspendLogged = false;
    // The reader sleeps in poll() until bytes arrive, a request wakes it or
    // one of these times comes: the end of the hold (the earliest moment the
    // frame begun in the buffer can be complete at the line rate; looking
    // earlier only costs wake-ups), the silence after the last bytes that
    // drops a partial frame, the fall of comm-valid.
    int64_t holdUntil = 0;
    int64_t lastData = 0;
    int64_t lineRetry = 0;
    int64_t commLeft = -1; // comm-valid time left when a suspend began

    for (;;) {
        if (uart->exitRequest.load()) {
            const int old = uart->fd.exchange(-1);
            if (old >= 0)
                close(old);
            qCInfo(logSerial) << "thread_comm exited";
            break;
        }
        if (uart->suspendRequest.load()) {
            acc.clear();
            if (!suspendLogged) {
                qCInfo(logSerial) << "uart suspend.";
                suspendLogged = true;
                // Comm-valid keeps what was left of its time while nothing
                // is read.
                commLeft = std::max<int64_t>(0, radio->commDeadlineMs - zwake_now_ms());
            }
            uart->suspended.store(1);
            // Woken at once by the resume or the exit request.
            zwake_wait(uart->wakeFd, 1000);
            resuming = true;
            continue;
        }
        if (resuming) {
            drain(fd, uart->rxBuffer, uart->bufferSize);
            qCInfo(logSerial) << "uart resume.";
            resuming = false;
            suspendLogged = false;
            uart->suspended.store(0);
            holdUntil = lastData = lineRetry = 0;
            if (commLeft >= 0)
                radio->commDeadlineMs = zwake_now_ms() + commLeft;
            commLeft = -1;
        }

        int64_t now = zwake_now_ms();
        if (radio->commValid.load() && now >= radio->commDeadlineMs) {
            radio->commValid.store(0);
            qCInfo(logSerial) << "comm lost: no valid base-band frame for 1 s";
        }

        if (fd < 0) {
            if (!zwake_wait(uart->wakeFd, 1000) && !uart->exitRequest.load() && !uart->suspendRequest.load())
                qCWarning(logSerial) << "uart read time out," << fd;
            continue;
        }

        // What to wait for, and until when.
        int64_t deadline = -1;
        auto until = [&](int64_t t) {
            if (deadline < 0 || t < deadline)
                deadline = t;
        };
        bool watchLine = now >= lineRetry;
        if (!watchLine)
            until(lineRetry);
        if (radio->commValid.load())
            until(radio->commDeadlineMs);
        if (!acc.empty()) {
            if (now < holdUntil) {
                watchLine = false;
                until(holdUntil);
            } else {
                until(std::max(lastData, holdUntil) + ZRADIO_SILENCE_MS);
            }
        }
        pollfd p[2] = {{uart->wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
        const int rc = poll(p, watchLine ? 2 : 1, deadline < 0 ? -1 : zwake_until(deadline, now));
        if (rc < 0 && errno != EINTR) {
            qCWarning(logSerial) << "uart poll error," << -errno;
            zwake_wait(-1, kLineErrorPauseMs);
            continue;
        }
        if (p[0].revents)
            zwake_clear(uart->wakeFd);
        now = zwake_now_ms();
        radio->readerPasses.fetch_add(1, std::memory_order_relaxed);

        bool search = false;
        bool gotData = false;
        if (watchLine && p[1].revents) {
            const ssize_t n = read(fd, uart->rxBuffer, uart->bufferSize);
            if (n > 0) {
                acc.insert(acc.end(), uart->rxBuffer, uart->rxBuffer + n);
                lastData = now;
                gotData = true;
                search = acc.size() >= BBFRAME_SIZE;
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                lineRetry = now + kLineErrorPauseMs;
            }
        } else if (watchLine && rc == 0 && !acc.empty() && now >= std::max(lastData, holdUntil) + ZRADIO_SILENCE_MS) {
            // Silence after part of a frame: it will not complete.
            acc.clear();
        }

        if (acc.size() > ZRADIO_RX_LIMIT) {
            qCWarning(logSerial) << "rx buffer full," << acc.size();
            search = true;
        }
        if (search) {
            const size_t used = bbframe_search(acc.data(), acc.size(), accept_frame, &ctx, &stats);
            acc.erase(acc.begin(), acc.begin() + ptrdiff_t(used));
            radio->framesGood.store(stats.frames, std::memory_order_relaxed);
            radio->framesBadCrc.store(stats.crcErrors, std::memory_order_relaxed);
            radio->bytesDropped.store(stats.dropped, std::memory_order_relaxed);
        }
        if (gotData && !acc.empty())
            holdUntil = now + line_time_ms(BBFRAME_SIZE - std::min<size_t>(acc.size(), BBFRAME_SIZE));
    }
    return nullptr;
}

zradio_t *zradio_create(const char *i2cPath, uint16_t i2cAddress)
{
    if (g_zradio) {
        qCWarning(logRig) << "zradio_create(): the radio link exists already";
        return nullptr;
    }
    zradio_t *radio = new (std::nothrow) zradio_t;
    if (!radio) {
        qCWarning(logRig) << "can't malloc zradio_t";
        return nullptr;
    }
    g_zradio = radio;

    radio->param = zradio_store_create();
    radio->fs = ZRADIO_BASE_RATE;
    g_zsacalc = sacalc_create(ZRADIO_FFT_LEN, radio->fs);
    if (!g_zsacalc)
        qCWarning(logRig) << "can't create the spectrum calculator";

    const std::string i2c = zsys::path(i2cPath ? i2cPath : "");
    g_zi2c = ui2c_create(i2c.c_str(), i2cAddress);
    const std::string tty = zsys::path(ZRADIO_UART_PATH);
    g_zuart = uart_create(tty.c_str(), ZRADIO_UART_BAUD);

    if (g_zuart)
        std::memcpy(g_zuart->frame + BBFRAME_OFS_STATUS, kTrailerPreset, sizeof(kTrailerPreset));
    uint8_t preset[4 * BBFRAME_TRAILER_WORDS] = {};
    std::memcpy(preset, kTrailerPreset, sizeof(kTrailerPreset));
    for (uint32_t i = 0; i < BBFRAME_TRAILER_WORDS; ++i)
        radio->trailer[i].store(bbframe_get_u32(preset + 4 * i));

    for (int i = 0; i < ZRADIO_REG_WORDS; ++i) {
        radio->regs[i].store(0);
        radio->mirror[i] = 0;
    }
    // Both VFO slots: frequency, attenuator, preamplifier, mode, AGC.
    static const char *const kVfoKeys[5] = {"freq", "att", "pre", "mode", "agc"};
    for (int k = 0; k < 5; ++k) {
        radio->regs[1 + k].store(uint32_t(zradio_store_int(radio->param, zrnamespace::kSectionVfoA, kVfoKeys[k])));
        radio->regs[7 + k].store(uint32_t(zradio_store_int(radio->param, zrnamespace::kSectionVfoB, kVfoKeys[k])));
    }
    radio->regs[12].store(0);
    radio->pushEnable.store(1);
    radio->commValid.store(0);
    radio->commDeadlineMs = 0;
    radio->vextFlag.store(0);
    radio->chgFlag.store(0);
    radio->hmicKey.store(0);
    radio->hmicKeyPrev = 0;
    radio->fsDec = radio->fs;
    radio->peakBorderLow = 300.0f;
    radio->peakBorderHigh = 3000.0f;
    sacalc_set_peaksrch_border(g_zsacalc, radio->peakBorderLow, radio->peakBorderHigh, radio->fs);

    // The long-press table and the event relay are ready before the input
    // thread starts, which reads both.
    zradio_lpkeys_init(radio->lpkeys);
    radio->inputRelay = zradio_input_relay_create();
    radio->inputWakeFd = zwake_create();
    int rc = pthread_create(&radio->inputThread, nullptr, thread_input_admin, radio);
    if (rc != 0)
        qCWarning(logRig) << "can't create input thread," << rc;
    else
        radio->inputStarted = true;
    rc = pthread_create(&radio->pushThread, nullptr, thread_remote_admin, radio);
    if (rc != 0)
        qCWarning(logRig) << "can't create thread_remote_admin";
    else
        radio->pushStarted = true;

    if (g_zuart)
        uart_thread_hook(g_zuart, thread_comm);
    return radio;
}

void zradio_destroy(zradio_t *radio)
{
    if (!radio)
        return;
    // Every thread stops before the parts it uses go away: the reader uses
    // the spectrum calculator, the push thread the I2C bus.
    uart_destroy(g_zuart);
    g_zuart = nullptr;
    stop_thread(radio->inputThread, radio->inputExit, radio->inputStarted,
                [radio] { zwake_signal(radio->inputWakeFd); });
    stop_thread(radio->pushThread, radio->pushExit, radio->pushStarted, [radio] { zradio_push_wake(radio); });
    zwake_destroy(radio->inputWakeFd);
    radio->inputWakeFd = -1;
    // Events still queued for the relay go with it.
    delete radio->inputRelay;
    radio->inputRelay = nullptr;
    sacalc_destroy(g_zsacalc);
    g_zsacalc = nullptr;
    {
        std::lock_guard<std::mutex> lock(radio->regMutex);
        ui2c_destroy(g_zi2c);
        g_zi2c = nullptr;
    }
    zradio_store_destroy(radio->param);
    radio->param = nullptr;
    if (g_zradio == radio)
        g_zradio = nullptr;
    delete radio;
}

namespace {

// Runs one bus transfer of the link under the register mutex.
template <typename Transfer>
int bus_transfer(Transfer transfer)
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return -ENODEV;
    std::lock_guard<std::mutex> lock(radio->regMutex);
    return transfer();
}

} // namespace

int zradio_send_cmd(const void *data, uint32_t len)
{
    return bus_transfer([&] { return ui2c_write(g_zi2c, ZRADIO_ADDR_CMD, data, len); });
}

int zradio_read_remote_ram(uint16_t address, void *data, uint32_t len)
{
    return bus_transfer([&] { return data ? ui2c_read(g_zi2c, address, data, len) : -EINVAL; });
}

int zradio_write_remote_ram(uint16_t address, const void *data, uint32_t len)
{
    return bus_transfer([&] { return data ? ui2c_write(g_zi2c, address, data, len) : -EINVAL; });
}

int zradio_get_roram(void *buffer)
{
    if (!buffer)
        return -EINVAL;
    return zradio_read_remote_ram(ZRADIO_ADDR_IDENT, buffer, ZRADIO_IDENT_LEN);
}

int zradio_get_ident(char *text, size_t size)
{
    if (!text || size == 0)
        return -EINVAL;
    text[0] = 0;
    uint8_t raw[ZRADIO_IDENT_LEN];
    const int rc = zradio_get_roram(raw);
    if (rc < 0)
        return rc;
    size_t n = 0;
    for (size_t i = 0; i < ZRADIO_IDENT_LEN && raw[i] && n + 1 < size; ++i)
        text[n++] = (raw[i] >= 0x20 && raw[i] < 0x7F) ? char(raw[i]) : '?';
    text[n] = 0;
    return 0;
}

void zradio_uartcomm_set_suspend(uint8_t flag)
{
    if (g_zuart) {
        g_zuart->suspendRequest.store(flag);
        uart_wake(g_zuart);
    }
}

int zradio_uartcomm_wait_suspended(int timeoutMs)
{
    uart_t *uart = g_zuart;
    if (!uart || !uart->threadStarted)
        return 1;
    const int64_t end = zwake_now_ms() + timeoutMs;
    while (!uart->suspended.load()) {
        if (zwake_now_ms() >= end)
            return 0;
        zwake_wait(-1, 1);
    }
    return 1;
}

uint8_t zradio_uartcomm_get_suspend()
{
    return g_zuart ? g_zuart->suspendRequest.load() : 0;
}

int zradio_uartcomm_flush()
{
    const int fd = zradio_uartcomm_get_fd();
    if (fd < 0)
        return -EBADF;
    return tcflush(fd, TCIOFLUSH) == 0 ? 0 : -errno;
}

int zradio_uartcomm_get_fd()
{
    return g_zuart ? g_zuart->fd.load() : -1;
}

void zradio_uartcomm_get_stats(bbframe_stats_t *stats)
{
    if (!stats)
        return;
    *stats = bbframe_stats_t();
    if (zradio_t *radio = g_zradio) {
        stats->frames = radio->framesGood.load(std::memory_order_relaxed);
        stats->crcErrors = radio->framesBadCrc.load(std::memory_order_relaxed);
        stats->dropped = radio->bytesDropped.load(std::memory_order_relaxed);
    }
}

uint8_t zradio_comm_valid()
{
    zradio_t *radio = g_zradio;
    return radio ? radio->commValid.load() : 0;
}

uint8_t zradio_get_resync_flag()
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return 0;
    return radio->trailer[0].load(std::memory_order_relaxed) & BBFRAME_ST_RESYNC;
}
