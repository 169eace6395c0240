#include "radio/xmodem.h"

#include "app/zlog.h"
#include "app/zsystem.h"
#include "radio/zradio.h"
#include "radio/zwake.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

void sleep_ms(int ms)
{
    zwake_wait(-1, ms);
}

QString byte_text(int b)
{
    return b < 0 ? QStringLiteral("-1") : QString::asprintf("0x%02X", unsigned(b));
}

// Throws away what waits on the line: the kernel's queue, then whatever
// is still readable.
void discard_input(int fd)
{
    tcflush(fd, TCIFLUSH);
    uint8_t buf[512];
    for (int i = 0; i < 64; ++i) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || read(fd, buf, sizeof(buf)) <= 0)
            break;
    }
}

// The next byte within timeoutMs, or -1 (time-out, hang-up, error). The
// descriptor may be blocking or not: it is only read once poll() says so.
int read_byte(int fd, int timeoutMs)
{
    const int64_t end = zwake_now_ms() + timeoutMs;
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        const int rc = poll(&p, 1, zwake_until(end, zwake_now_ms()));
        if (rc < 0 && errno != EINTR)
            return -1;
        if (rc > 0) {
            uint8_t b;
            const ssize_t n = read(fd, &b, 1);
            if (n == 1)
                return b;
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return -1; // hang-up or error: nothing more will come
        }
        if (zwake_now_ms() >= end)
            return -1;
    }
}

// The next non-zero byte within timeoutMs, or -1.
int read_nonzero(int fd, int timeoutMs)
{
    const int64_t end = zwake_now_ms() + timeoutMs;
    for (;;) {
        const int64_t now = zwake_now_ms();
        const int b = read_byte(fd, zwake_until(end, now));
        if (b != 0)
            return b;
        if (zwake_now_ms() >= end)
            return -1;
    }
}

void run_gpio(const char *fmt, int a)
{
    zsys::run(QString::asprintf(fmt, a));
}

void restore_bootsel()
{
    run_gpio("echo 1 > /sys/class/gpio/gpio%d/value", ZRADIO_GPIO_BOOTSEL);
    run_gpio("echo %d > /sys/class/gpio/unexport", ZRADIO_GPIO_BOOTSEL);
}

} // namespace

// ------------------------------------------------------------------ CRC

uint16_t xmodem_crc16(const uint8_t *data, size_t len)
{
    static uint16_t table[256];
    static const bool ready = [] {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int k = 0; k < 8; ++k)
                c = (c & 0x8000) ? uint16_t((c << 1) ^ 0x1021) : uint16_t(c << 1);
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    uint16_t crc = 0;
    for (size_t i = 0; i < len; ++i)
        crc = uint16_t((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

void xmodem_build_packet(uint8_t *packet, int pn, const uint8_t *data, size_t len)
{
    len = std::min<size_t>(len, XMODEM_BLOCK);
    packet[0] = XMODEM_STX;
    packet[1] = uint8_t(pn);
    packet[2] = uint8_t(~pn);
    if (len)
        std::memcpy(packet + 3, data, len);
    std::memset(packet + 3 + len, XMODEM_PAD, XMODEM_BLOCK - len);
    const uint16_t crc = xmodem_crc16(packet + 3, XMODEM_BLOCK);
    packet[3 + XMODEM_BLOCK] = uint8_t(crc >> 8);
    packet[4 + XMODEM_BLOCK] = uint8_t(crc);
}

// ------------------------------------------------------ bootloader start

int _comm_send_cmd(int fd, uint8_t command, uint8_t *reply, int polls)
{
    if (fd < 0)
        return 0;
    ssize_t w;
    do
        w = write(fd, &command, 1);
    while (w < 0 && errno == EINTR);
    if (w != 1) {
        qCWarning(logSerial) << "bootloader command" << byte_text(command) << "not sent," << -errno;
        return 0;
    }
    const int b = read_nonzero(fd, polls);
    if (b < 0)
        return 0;
    if (reply)
        *reply = uint8_t(b);
    return 1;
}

bool zradio_start_xmodem()
{
    // The reader stops reading at once; the pause lets bytes already on
    // their way arrive before everything waiting is discarded.
    zradio_uartcomm_set_suspend(1);
    if (!zradio_uartcomm_wait_suspended(1000))
        qCWarning(logSerial) << "uart reader did not confirm the suspend";
    sleep_ms(100);
    const int fd = zradio_uartcomm_get_fd();
    if (fd < 0) {
        qCWarning(logSerial) << "IAP timeout, the uart is not open";
        return false;
    }
    discard_input(fd);

    // Bootloader selected (203 low), then a reset pulse on 204.
    run_gpio("echo %d > /sys/class/gpio/export", ZRADIO_GPIO_BOOTSEL);
    run_gpio("echo \"out\" > /sys/class/gpio/gpio%d/direction", ZRADIO_GPIO_BOOTSEL);
    run_gpio("echo 0 > /sys/class/gpio/gpio%d/value", ZRADIO_GPIO_BOOTSEL);
    run_gpio("echo %d > /sys/class/gpio/export", ZRADIO_GPIO_RESET);
    run_gpio("echo \"out\" > /sys/class/gpio/gpio%d/direction", ZRADIO_GPIO_RESET);
    run_gpio("echo 1 > /sys/class/gpio/gpio%d/value", ZRADIO_GPIO_RESET);
    sleep_ms(100);
    discard_input(fd);
    run_gpio("echo 0 > /sys/class/gpio/gpio%d/value", ZRADIO_GPIO_RESET);
    run_gpio("echo %d > /sys/class/gpio/unexport", ZRADIO_GPIO_RESET);
    sleep_ms(1000);

    // The bootloader announces itself with "A"; anything else is counted
    // and waited past, up to 50 times.
    bool ok = false;
    int wrong = 0;
    for (;;) {
        const int b = read_nonzero(fd, 1000);
        if (b < 0) {
            qCWarning(logSerial) << "IAP timeout";
            break;
        }
        if (b == 'A' || b == 'a') {
            qCInfo(logSerial) << "start IAP ok";
            ok = true;
            break;
        }
        qCWarning(logSerial).noquote() << "wrong ack," << byte_text(b);
        if (++wrong >= 50)
            break;
        sleep_ms(100);
    }
    restore_bootsel();
    return ok;
}

// ---------------------------------------------------------------- sender

Xmodem::Xmodem(int fd, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
{
    std::memset(m_packet, 0, sizeof(m_packet));
}

int Xmodem::readByte(int timeoutMs)
{
    return read_byte(m_fd, timeoutMs);
}

bool Xmodem::writeAll(const uint8_t *data, size_t len)
{
    const int64_t end = zwake_now_ms() + int64_t(m_periods) * 1000;
    while (len > 0) {
        const ssize_t w = write(m_fd, data, len);
        if (w > 0) {
            data += w;
            len -= size_t(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The line's output queue is full: wait for room.
        const int64_t now = zwake_now_ms();
        if (now >= end)
            return false;
        pollfd p = {m_fd, POLLOUT, 0};
        if (poll(&p, 1, zwake_until(end, now)) < 0 && errno != EINTR)
            return false;
    }
    return true;
}

int Xmodem::waitStart()
{
    // The receiver asks with a C (either case), usually alone and again
    // every few seconds, but it may follow another byte (the reply to the
    // start command, line noise) or arrive in a read of its own: every
    // byte is looked at, whatever the reads deliver.
    const int64_t end = zwake_now_ms() + int64_t(m_periods) * 1000;
    int other = -1;
    for (;;) {
        const int64_t now = zwake_now_ms();
        const int b = now < end ? readByte(zwake_until(end, now)) : -1;
        if (b == 'C' || b == 'c')
            return 1;
        if (b == XMODEM_CAN) {
            qCWarning(logSerial) << "1k xmodem transfer canceled.";
            return 0;
        }
        if (b < 0) {
            if (other < 0)
                qCWarning(logSerial) << "1k xmodem timeout.";
            else
                qCWarning(logSerial).noquote() << "1k xmodem error, =" << byte_text(other);
            return 0;
        }
        other = b;
    }
}

bool Xmodem::sendFile(const char *data, qint64 length)
{
    if (!data || length <= 0) {
        qCWarning(logSerial) << "1k xmodem: empty image, nothing sent";
        return false;
    }
    m_pn = 1;
    emit sig_sendProgress(0);
    if (!waitStart())
        return false;
    qCInfo(logSerial) << "1k xmodem start.";
    // Start requests the receiver repeated meanwhile are no answers to
    // the first packet.
    discard_input(m_fd);

    const uint8_t *p = reinterpret_cast<const uint8_t *>(data);
    qint64 sent = 0;
    while (sent < length) {
        const size_t n = size_t(std::min<qint64>(XMODEM_BLOCK, length - sent));
        xmodem_build_packet(m_packet, m_pn, p + sent, n);
        if (!writeAll(m_packet, sizeof(m_packet))) {
            qCWarning(logSerial) << "1k xmodem write error, pn=" << m_pn << -errno;
            return false;
        }
        for (;;) {
            const int c = readByte(m_periods * 1000);
            if (c == XMODEM_ACK)
                break;
            // A start request sent before the first packet arrived.
            if ((c == 'C' || c == 'c') && m_pn == 1)
                continue;
            if (c == XMODEM_CAN) {
                qCWarning(logSerial) << "1k xmodem transfer canceled.";
                return false;
            }
            if (c == XMODEM_NAK) {
                qCWarning(logSerial) << "1k xmodem bad packet, pn=" << m_pn;
                return false;
            }
            qCWarning(logSerial).noquote() << "1k xmodem error, =" << byte_text(c);
            return false;
        }
        sent += qint64(n);
        const qint64 remaining = length - sent;
        const int progress = int((length - remaining) * 100 / length);
        emit sig_sendProgress(progress);
        qCDebug(logSerial).noquote() << "1k xmodem send packet:" << m_pn << ", progress:" << progress
                                     << "%, rem:" << remaining;
        ++m_pn;
    }

    const uint8_t eot = XMODEM_EOT;
    if (!writeAll(&eot, 1)) {
        qCWarning(logSerial) << "1k xmodem write error, EOT" << -errno;
        return false;
    }
    const int c = readByte(m_periods * 1000);
    if (c != XMODEM_ACK) {
        qCWarning(logSerial).noquote() << "1k xmodem error, =" << byte_text(c);
        return false;
    }
    qCInfo(logSerial) << "1k xmodem send finished.";
    return true;
}

// ---------------------------------------------------------------- worker

XMWorker::XMWorker(QObject *parent)
    : QObject(parent)
{
}

void XMWorker::slot_progressUpdate(int percent)
{
    emit sig_progressUpdate(percent);
}

void XMWorker::slot_start(const QByteArray &image)
{
    qCInfo(logRig) << "started," << image.size();
    int result = -1;
    if (!zradio_start_xmodem()) {
        qCWarning(logRig) << "start xmodem failed!";
    } else {
        const int fd = zradio_uartcomm_get_fd();
        uint8_t reply = 0;
        if (!_comm_send_cmd(fd, ZRADIO_IAP_ERASE, &reply, ZRADIO_IAP_ERASE_POLLS)) {
            qCWarning(logRig) << "IAP failed, can't erase flash";
        } else if (!_comm_send_cmd(fd, ZRADIO_IAP_START, &reply, ZRADIO_IAP_START_POLLS)) {
            qCWarning(logRig) << "IAP failed, can't start xmodem";
        } else {
            qCInfo(logRig) << "xmodem started";
            Xmodem xmodem(fd);
            connect(&xmodem, &Xmodem::sig_sendProgress, this, &XMWorker::slot_progressUpdate);
            result = xmodem.sendFile(image.constData(), image.size()) ? 0 : -1;
        }
    }
    // The reader reads again after every outcome, a failed start included:
    // the panadapter and the reports come back without a restart.
    zradio_uartcomm_set_suspend(0);
    qCInfo(logRig) << "finished.";
    emit sig_finished(result);
}
