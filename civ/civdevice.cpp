// The CI-V device: byte parser, frame processing and replies, the scope
// trace and stream, the idle duties. What each request does is in
// civcommands.cpp; the transport loop is in civtransport.cpp.
#include "civ/civdevice.h"

#include "civ/civcommands.h"
#include "civ/civconvert.h"
#include "radio/uart.h"
#include "app/zlog.h"
#include "params/zparamadmin.h"

#include <QDebug>

#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

using namespace civconv;

CivDevice::CivDevice(QObject *parent)
    : QObject(parent)
    , m_commands(new CivCommands(*this))
{
    m_wiredBuf.resize(UART_BUFFER_SIZE);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        qCWarning(logCivDevice) << "can't create the loop's wake-up descriptor:" << strerror(errno);
}

int CivDevice::zrm2civm_ex(int workMode)
{
    return zrm2civm(workMode);
}

int CivDevice::civm2zrm_ex(int civMode)
{
    return civm2zrm(civMode);
}

// ---------------------------------------------------------------------------
// Parser and frames

void CivDevice::slot_rxPhase()
{
    const int len = m_rx.size();
    const uint8_t *p = reinterpret_cast<const uint8_t *>(m_rx.constData());
    for (int i = 0; i < len; ++i) {
        const uint8_t b = p[i];
        switch (m_state) {
        case 0:
            if (b == CIV_PREAMBLE)
                m_state = 1;
            break;
        case 1:
            if (b == CIV_PREAMBLE)
                m_state = 2;
            break;
        default:
            if (b == CIV_EOM) {
                m_state = 0;
                const QByteArray f = m_frame;
                m_frame.clear();
                processFrame(f);
            } else if (b == CIV_PREAMBLE && (m_frame.isEmpty() || uint8_t(m_frame.back()) == CIV_PREAMBLE)) {
                // FEh never occurs inside a request. At the start of a frame
                // it lengthens the preamble (noise ending in FEh before a
                // request looks just like that); two inside a frame are a
                // new preamble, and the frame before it never ended (line
                // noise, or a controller that stopped mid-frame): it is
                // dropped, so that the request now starting is answered.
                m_frame.clear();
            } else if (m_frame.size() >= CIV_FRAME_MAX) {
                // A frame without its end: noise or a broken line. Drop it
                // and hunt for the next preamble.
                qCWarning(logCivDevice) << "civ frame too long, dropped," << m_frame.size() << "bytes";
                m_frame.clear();
                m_state = 0;
            } else {
                m_frame.append(char(b));
            }
            break;
        }
    }
    m_rx.clear();
    idleDuties();
}

void CivDevice::receive(const uint8_t *data, int len)
{
    if (!data || len <= 0)
        return;
    m_idle = 0;
    m_rx.append(reinterpret_cast<const char *>(data), len);
    if (m_rx.size() > CIV_RX_LIMIT) {
        qCWarning(logCivDevice) << "civ rxbuffer full!";
        m_rx.clear();
    }
}

void CivDevice::processFrame(const QByteArray &f)
{
    const int n = f.size();
    if (!m_admin)
        return; // no store (the radio link failed): nothing to answer from
    if (n < 2) {
        // No source address to answer to.
        qCDebug(logCivDevice) << "civ frame without source address ignored, size =" << n;
        return;
    }
    const uint8_t from = uint8_t(f.at(1));
    if (from == CIV_ADDRESS) {
        // Our own reply heard back on an echoing bus: acting on it would
        // repeat an old setting.
        return;
    }
    if (n < 3) {
        sendReply(from, QByteArray(1, char(CIV_NG)));
        return;
    }
    m_ctrlAddr = from;
    QByteArray body;
    if (!m_commands->dispatch(f, body)) {
        // A controller that keeps sending what we do not know must not fill
        // the disk: a few lines per quiet period.
        if (m_unsupportedLogged < CIV_UNSUPPORTED_LOG_MAX) {
            qCInfo(logCivDevice).noquote()
                << QString::asprintf("INFO: Unsupport packet, frame size = %d, packet =", n) + packetDump(f);
            if (++m_unsupportedLogged == CIV_UNSUPPORTED_LOG_MAX)
                qCInfo(logCivDevice) << "INFO: further unsupported packets not logged until the line is quiet";
        }
        return;
    }
    if (!body.isEmpty())
        sendReply(from, body);
}

void CivDevice::sendReply(uint8_t to, const QByteArray &body)
{
    m_reply.clear();
    m_reply.reserve(body.size() + 5);
    m_reply.append(char(CIV_PREAMBLE));
    m_reply.append(char(CIV_PREAMBLE));
    m_reply.append(char(to));
    m_reply.append(char(CIV_ADDRESS));
    m_reply.append(body);
    m_reply.append(char(CIV_EOM));
    writePorts(m_reply, false);
}

// ---------------------------------------------------------------------------
// Scope trace and idle duties

void CivDevice::slot_scopeDataReceiver(const QVector<float> &scopeData)
{
    if (m_traceReady.load(std::memory_order_acquire))
        return;
    {
        std::lock_guard<std::mutex> lock(m_scopeMutex);
        const int count = qMin(scopeData.size(), CIV_SCOPE_POINTS);
        for (int i = 0; i < count; ++i)
            m_scope[i] = uint8_t(scopeByte(scopeData.at(i)));
    }
    m_traceReady.store(true, std::memory_order_release);
}

void CivDevice::copyScopeTrace(QByteArray &out)
{
    std::lock_guard<std::mutex> lock(m_scopeMutex);
    out.append(reinterpret_cast<const char *>(m_scope), CIV_SCOPE_POINTS);
}

void CivDevice::loadScopeData(QByteArray &out)
{
    static const char head[] = { 0x27, 0x00, 0x00, 0x01, 0x01, 0x00 };
    static const char tail[] = { 0x00, 0x00, 0x50, 0x02, 0x00, 0x00 };
    out.append(head, sizeof(head));
    out += freq2bcd(m_admin ? m_admin->vfoFront(QStringLiteral("freq")).value.toInt() : 0);
    out.append(tail, sizeof(tail));
    copyScopeTrace(out);
}

void CivDevice::idleDuties()
{
    if (m_idle < 200)
        ++m_idle;
    if (m_idle == 200) {
        qCInfo(logCivDevice) << "civ timeout.";
        m_unsupportedLogged = 0;
        ++m_idle;
        if (m_btFd >= 0 && m_scopeStream) {
            tcflush(m_btFd, TCIFLUSH);
            tcflush(m_btFd, TCOFLUSH);
            qCInfo(logCivDevice) << "flush rfcomm I/O buffer.";
        }
        m_scopeStream = false;
        emit sig_setTrxStatus(0);
    }

    m_toggle = !m_toggle;
    if (m_toggle && m_traceReady.load(std::memory_order_acquire)) {
        QByteArray frame;
        frame.reserve(CIV_SCOPE_POINTS + 32);
        frame.append(char(CIV_PREAMBLE));
        frame.append(char(CIV_PREAMBLE));
        frame.append(char(m_ctrlAddr));
        frame.append(char(CIV_ADDRESS));
        loadScopeData(frame);
        frame.append(char(CIV_EOM));
        // Cleared only after the copy: the GUI thread may write the next
        // trace from here on.
        m_traceReady.store(false, std::memory_order_release);
        // To the Bluetooth port and to the network server's, which relays
        // it to its clients' spectrum display.
        if (m_scopeStream && (m_btFd >= 0 || (m_vFd >= 0 && m_vPeer)))
            writePorts(frame, true);
    }
}
