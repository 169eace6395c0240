#include "sim/bbboot.h"

namespace {

const uint8_t kSoh = 0x01;
const uint8_t kStx = 0x02;
const uint8_t kEot = 0x04;
const uint8_t kAck = 0x06;
const uint8_t kNak = 0x15;
const uint8_t kCan = 0x18;
const uint8_t kEraseCmd = 0x72;
const uint8_t kStartCmd = 0x70;
const uint8_t kReply = 'K';      // any non-zero byte means "done"
const int kWrongBytes = 60;
const int kMaxStartRequests = 10;
const int kPacketTimeoutMs = 1000;

} // namespace

uint16_t BbBoot::crc16(const uint8_t *data, size_t len)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < len; ++i) {
        crc ^= uint16_t(data[i]) << 8;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

void BbBoot::begin(int64_t nowMs, Fault fault, int faultPacket)
{
    m_state = Announce;
    m_fault = fault;
    m_faultPacket = faultPacket;
    m_lastInput = nowMs;
    m_due = nowMs + 50;
    m_sentWrong = 0;
    m_cRequests = 0;
    m_gotPacket = false;
    m_complete = false;
    m_expected = 1;
    m_packets = 0;
    m_rx.clear();
    m_image.clear();
    m_endReason = "";
}

void BbBoot::leave(const char *reason)
{
    m_endReason = reason;
    m_state = Done;
    m_rx.clear();
}

void BbBoot::tick(int64_t now, std::vector<uint8_t> &out)
{
    switch (m_state) {
    case Announce:
        if (m_fault == Silent) {
            if (now - m_lastInput >= kIdleMs)
                leave("silent, no input");
        } else if (m_fault == WrongAck) {
            while (m_sentWrong < kWrongBytes && now >= m_due) {
                out.push_back('x');
                ++m_sentWrong;
                m_due += 100;
            }
            if (m_sentWrong >= kWrongBytes && now >= m_due + 1500)
                leave("wrong bytes sent");
        } else {
            if (m_due > 0 && now >= m_due) {
                out.push_back('A');
                m_due = 0;
            }
            if (now - m_lastInput >= kIdleMs)
                leave("no command");
        }
        break;
    case Commands:
        if (now - m_lastInput >= kIdleMs)
            leave("no command after the erase");
        break;
    case Erasing:
        if (now >= m_due) {
            out.push_back(kReply);
            m_state = Commands;
            m_lastInput = now;
        }
        break;
    case Receive:
        if (!m_rx.empty() && now - m_rxStart > kPacketTimeoutMs) {
            // A packet that stopped half way: ask for it again.
            m_rx.clear();
            out.push_back(kNak);
        }
        if (!m_gotPacket) {
            if (now >= m_due) {
                if (m_cRequests >= kMaxStartRequests) {
                    leave("no packet after the start requests");
                    break;
                }
                out.push_back('C');
                ++m_cRequests;
                m_due = now + 1000;
            }
        } else if (now - m_lastInput >= kIdleMs) {
            leave("no packet");
        }
        break;
    case Done:
        break;
    }
}

void BbBoot::feed(const uint8_t *data, size_t len, int64_t now, std::vector<uint8_t> &out)
{
    if (len > 0)
        m_lastInput = now;
    for (size_t i = 0; i < len && m_state != Done; ++i) {
        const uint8_t b = data[i];
        switch (m_state) {
        case Announce:
            if (m_fault == Silent || m_fault == WrongAck)
                break;
            [[fallthrough]]; // commands are taken once announced
        case Commands:
            if (b == kEraseCmd) {
                m_state = Erasing;
                m_due = now + kEraseMs;
            } else if (b == kStartCmd) {
                out.push_back(kReply);
                m_state = Receive;
                m_due = now + 20;
                m_cRequests = 0;
                m_gotPacket = false;
                m_expected = 1;
            }
            break;
        case Erasing:
            break;
        case Receive:
            if (m_rx.empty()) {
                if (b == kStx || b == kSoh) {
                    m_rx.push_back(b);
                    m_rxStart = now;
                } else if (b == kEot) {
                    out.push_back(kAck);
                    m_complete = true;
                    leave("image received");
                } else if (b == kCan) {
                    leave("cancelled by the sender");
                }
                // Anything else between packets is line noise.
                break;
            }
            m_rx.push_back(b);
            if (m_rx.size() == size_t(3 + (m_rx[0] == kStx ? 1024 : 128) + 2))
                packet(out);
            break;
        case Done:
            break;
        }
    }
}

void BbBoot::packet(std::vector<uint8_t> &out)
{
    m_gotPacket = true;
    ++m_packets;
    const size_t len = m_rx[0] == kStx ? 1024 : 128;
    const int pn = m_rx[1];
    const int cpl = m_rx[2];
    const uint8_t *data = m_rx.data() + 3;
    const uint16_t crc = uint16_t(m_rx[3 + len] << 8 | m_rx[4 + len]);
    if (m_fault == CanAt && m_packets == m_faultPacket) {
        out.insert(out.end(), {kCan, kCan, kCan});
        leave("cancelled (injected)");
        return;
    }
    const bool injectedNak = m_fault == NakAt && m_packets == m_faultPacket;
    const bool ok = !injectedNak && cpl == (255 - pn) && crc16(data, len) == crc;
    if (ok && pn == (m_expected & 0xFF)) {
        m_image.append(reinterpret_cast<const char *>(data), int(len));
        ++m_expected;
        out.push_back(kAck);
    } else if (ok && pn == ((m_expected - 1) & 0xFF)) {
        out.push_back(kAck); // our ACK was lost: the same packet again
    } else {
        out.push_back(kNak);
    }
    m_rx.clear();
}
