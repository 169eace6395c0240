#ifndef BBBOOT_H
#define BBBOOT_H

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// The base-band board's serial bootloader, as the UART stand-in plays it
// after a reset with the bootloader selected:
//
//   announce  "A" shortly after the reset
//   commands  0x72 erases the flash (about 0.8 s, then a non-zero reply),
//             0x70 starts the XMODEM receiver (a non-zero reply)
//   receive   XMODEM-1K (and 128-byte packets) with CRC-16: a "C" every
//             second until the first packet; each packet's number, its
//             complement and its CRC are checked, ACK or NAK (a repeated
//             packet is acknowledged again and not stored twice); EOT is
//             acknowledged and the image stored
//
// It jumps to the application (normal frames) after EOT, after a CAN, or
// after 5 s in which nothing arrived. Pure logic: the UART stand-in feeds
// it the received bytes and the time and sends what it returns.
class BbBoot
{
public:
    enum Fault {
        NoFault,
        NakAt,    // NAK for packet n (counted from 1, repeats included)
        CanAt,    // CAN CAN CAN instead of the answer to packet n
        Silent,   // no "A", no answer at all
        WrongAck, // 60 wrong bytes in place of the "A", 100 ms apart
    };

    // The board has just left its reset into the bootloader.
    void begin(int64_t nowMs, Fault fault, int faultPacket);
    // Bytes from the radio; what the board answers is appended to out.
    void feed(const uint8_t *data, size_t len, int64_t nowMs, std::vector<uint8_t> &out);
    // Time passing without input.
    void tick(int64_t nowMs, std::vector<uint8_t> &out);
    // True once the bootloader has ended (the board runs its application).
    bool done() const { return m_state == Done; }
    // True when the session ended with a complete image (after EOT).
    bool complete() const { return m_complete; }
    QByteArray image() const { return m_image; }
    int packets() const { return m_packets; }

    // The XMODEM CRC, computed bit by bit (independent of the radio's).
    static uint16_t crc16(const uint8_t *data, size_t len);

    // Why the session ended ("image stored", "no input for 5 s", ...).
    const char *endReason() const { return m_endReason; }

    static const int kIdleMs = 5000;
    static const int kEraseMs = 800;

private:
    enum State { Announce, Commands, Erasing, Receive, Done };
    void packet(std::vector<uint8_t> &out);
    void leave(const char *reason);

    State m_state = Done;
    Fault m_fault = NoFault;
    int m_faultPacket = 0;
    int64_t m_lastInput = 0;
    int64_t m_due = 0;      // next announce byte, erase reply or "C"
    int m_sentWrong = 0;
    int m_cRequests = 0;
    bool m_gotPacket = false;
    bool m_complete = false;
    int m_expected = 1;     // next packet number (modulo 256)
    int m_packets = 0;      // packets received in this session
    std::vector<uint8_t> m_rx; // a packet being received
    int64_t m_rxStart = 0;
    QByteArray m_image;
    const char *m_endReason = "";
};

#endif
