#ifndef XMODEM_H
#define XMODEM_H

// Base-band firmware upgrade over the UART: the board is reset into its
// serial bootloader ("IAP") by two GPIO lines, the bootloader erases its
// flash on command and then receives the image with XMODEM-1K (CRC-16).
//
//   zradio_start_xmodem()  suspends the UART reader and resets the board
//                          into the bootloader
//   _comm_send_cmd()       one bootloader command byte and its reply
//   Xmodem                 the XMODEM-1K sender
//   XMWorker               one whole upgrade, on a thread of its own

#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <cstdint>

#define XMODEM_BLOCK 1024
#define XMODEM_PACKET (3 + XMODEM_BLOCK + 2)
#define XMODEM_SOH 0x01
#define XMODEM_STX 0x02
#define XMODEM_EOT 0x04
#define XMODEM_ACK 0x06
#define XMODEM_NAK 0x15
#define XMODEM_CAN 0x18
#define XMODEM_PAD 0xFF

// Bootloader commands and the polls (of 1 ms) allowed for their replies.
#define ZRADIO_IAP_ERASE 0x72
#define ZRADIO_IAP_ERASE_POLLS 60000
#define ZRADIO_IAP_START 0x70
#define ZRADIO_IAP_START_POLLS 1000

// GPIO lines: 203 selects the bootloader at reset while low, 204 is the
// board's reset (active high).
#define ZRADIO_GPIO_BOOTSEL 203
#define ZRADIO_GPIO_RESET 204

// The XMODEM CRC: polynomial 0x1021, initial value 0, MSB first, no
// reflection, no final XOR ("abc" gives 0x9DD6).
uint16_t xmodem_crc16(const uint8_t *data, size_t len);

// Builds packet number pn (modulo 256) from up to 1024 bytes of data, the
// rest padded with 0xFF, into packet[XMODEM_PACKET].
void xmodem_build_packet(uint8_t *packet, int pn, const uint8_t *data, size_t len);

// Writes the command byte to fd and waits up to polls ms for a non-zero
// reply byte (zero bytes are skipped). 1 with the byte in *reply, 0 when
// none came or the write failed.
int _comm_send_cmd(int fd, uint8_t command, uint8_t *reply, int polls);

// Suspends the UART reader, resets the board with the bootloader selected
// (GPIO commands through the command runner) and waits for the
// bootloader's "A". True when it answered; the reader stays suspended
// either way and the caller resumes it.
bool zradio_start_xmodem();

// The XMODEM-1K sender on a serial descriptor (blocking; run it on a
// thread of its own).
class Xmodem : public QObject
{
    Q_OBJECT

public:
    explicit Xmodem(int fd, QObject *parent = nullptr);

    // Sends the image as 1024-byte packets (the last padded with 0xFF) and
    // EOT. True after a complete, acknowledged transfer; false for an empty
    // image or on any protocol failure (no packet is sent again).
    bool sendFile(const char *data, qint64 length);

    // How long the sender waits for the receiver's start request and for
    // each acknowledgement, in periods of 1 s (11 by default).
    void setWaitPeriods(int periods) { m_periods = periods > 0 ? periods : 1; }

signals:
    void sig_sendProgress(int percent);

private:
    // Waits for the receiver's start request: 1, or 0 after logging why not.
    int waitStart();
    // The next byte from the receiver within the wait, or -1.
    int readByte(int timeoutMs);
    bool writeAll(const uint8_t *data, size_t len);

    int m_fd;
    int m_pn = 1;
    int m_periods = 11;
    uint8_t m_packet[XMODEM_PACKET];
};

// One firmware upgrade, moved to a thread of its own for each transfer.
class XMWorker : public QObject
{
    Q_OBJECT

public:
    explicit XMWorker(QObject *parent = nullptr);

signals:
    void sig_progressUpdate(int percent);
    // 0 after a successful upgrade, -1 after a failure.
    void sig_finished(int result);

public slots:
    void slot_start(const QByteArray &image);
    void slot_progressUpdate(int percent);
};

#endif
