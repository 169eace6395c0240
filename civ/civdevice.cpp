// The CI-V interpreter: byte parser, frame dispatch, the command tables and
// the number, mode and band conversions. The transport loop is in
// civtransport.cpp.
#include "civ/civdevice.h"

#include "radio/uart.h"
#include "app/zlog.h"
#include "params/zparamadmin.h"

#include <QDebug>

#include <cmath>
#include <cstring>
#include <limits>
#include <termios.h>

namespace {

const QString W = QStringLiteral("wparam");

inline uint8_t u(const QByteArray &f, int i)
{
    return uint8_t(f.at(i));
}

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    b.reserve(int(list.size()));
    for (int x : list)
        b.append(char(uint8_t(x)));
    return b;
}

// Integer part of a stored value: items are read as integers, a fractional
// one (such as "txpwr") truncated. QVariant::toInt() would round floats.
int truncInt(const QVariant &v)
{
    const double d = v.toDouble();
    if (!std::isfinite(d))
        return 0;
    if (d >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (d <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(d);
}

// A float reading truncated toward zero and clamped to [lo, hi]; NaN reads lo.
int clampTrunc(double v, int lo, int hi)
{
    if (!(v == v))
        return lo;
    if (v <= double(lo))
        return lo;
    if (v >= double(hi))
        return hi;
    return int(v);
}

uint8_t bcdByte(int v)
{
    v = qBound(0, v, 99);
    return uint8_t(((v / 10) << 4) | (v % 10));
}

} // namespace

CivDevice::CivDevice(QObject *parent)
    : QObject(parent)
{
    m_wiredBuf.resize(UART_BUFFER_SIZE);
}

// ---------------------------------------------------------------------------
// Conversions

QByteArray CivDevice::freq2bcd(int freq)
{
    uint32_t f = freq < 0 ? 0u : uint32_t(freq) % 100000000u;
    QByteArray b(5, '\0');
    for (int i = 0; i < 4; ++i) {
        const uint32_t lo = f % 10;
        f /= 10;
        const uint32_t hi = f % 10;
        f /= 10;
        b[i] = char(uint8_t((hi << 4) | lo));
    }
    return b;
}

int CivDevice::bcd2freq(const QByteArray &bcd)
{
    if (bcd.size() < 5)
        return 0;
    // Ten digits, most significant first; nibbles above 9 are taken as they
    // come, so the sum can pass the int range and is saturated.
    qint64 v = 0;
    for (int i = 4; i >= 0; --i) {
        const uint8_t b = u(bcd, i);
        v = v * 10 + (b >> 4);
        v = v * 10 + (b & 0x0F);
    }
    return int(qMin<qint64>(v, std::numeric_limits<int>::max()));
}

QByteArray CivDevice::int2bcd_2bytes(int value)
{
    const int v = qBound(0, value, 9999);
    QByteArray b(2, '\0');
    b[0] = char(bcdByte(v / 100));
    b[1] = char(bcdByte(v % 100));
    return b;
}

int CivDevice::bcd2int_2bytes(const QByteArray &bcd)
{
    if (bcd.isEmpty())
        return 0;
    if (bcd.size() == 1)
        return bcd2int(u(bcd, 0));
    return bcd2int(u(bcd, 0)) * 100 + bcd2int(u(bcd, 1));
}

uint8_t CivDevice::zrmode2civmode(int mode, uint8_t *data)
{
    uint8_t d = 0;
    uint8_t civ;
    switch (mode) {
    case 0: civ = 0x00; break;
    case 1: civ = 0x00; d = 1; break;
    case 2: civ = 0x01; break;
    case 3: civ = 0x01; d = 1; break;
    case 4: civ = 0x03; break;
    case 5: civ = 0x07; break;
    case 6: civ = 0x02; break;
    case 7: civ = 0x05; break;
    default: civ = CIV_NG; break;
    }
    if (data)
        *data = d;
    return civ;
}

int CivDevice::civmode2zrmode(uint8_t civ, uint8_t data)
{
    switch (civ) {
    case 0x00: return data ? 1 : 0;
    case 0x01: return data ? 3 : 2;
    case 0x02: return 6;
    case 0x03: return 4;
    case 0x05: return 7;
    case 0x07: return 5;
    default: return 8;
    }
}

int CivDevice::zrm2civm_ex(int workMode)
{
    switch (workMode) {
    case 2:
    case 3: return 0x01;
    case 4: return 0x03;
    case 5: return 0x07;
    case 6: return 0x02;
    case 7: return 0x05;
    default: return 0x00;
    }
}

int CivDevice::civm2zrm_ex(int civMode)
{
    switch (civMode) {
    case 0x01: return 2;
    case 0x02: return 6;
    case 0x03: return 4;
    case 0x04: return 0;
    case 0x05: return 7;
    case 0x06: return 7;
    case 0x07: return 5;
    default: return 0;
    }
}

int CivDevice::civbs2zrbs(int code)
{
    code = qBound(1, code, 10);
    // 160 m and 80 m, then 40 m .. 6 m: the 60 m band (index 5) has no code.
    return code <= 2 ? 2 * code - 1 : 2 * code + 1;
}

int CivDevice::zrbs2civbs(int index)
{
    // The inverse of civbs2zrbs on the ham bands; between bands and on 60 m
    // the code of the nearest band below.
    if (index <= 2)
        return 1;
    if (index <= 6)
        return 2;
    return qMin(10, (index - 1) / 2);
}

uint8_t CivDevice::filterWidthIndex(float w, bool amOrFm)
{
    double i;
    if (amOrFm)
        i = std::ceil(double(w) / 200.0 - 1.0);
    else if (w <= 500.0f)
        i = std::ceil(double(w) / 50.0 - 1.0);
    else
        i = std::ceil(double(w) / 100.0 + 4.0);
    return uint8_t(clampTrunc(i, 0, 49));
}

int CivDevice::sMeterValue(float dbm)
{
    const double s = dbm;
    double v;
    if (!(s == s) || s < -123.0)
        v = 0.0;
    else if (s <= -75.0)
        v = (s + 129.0) * 120.0 / 54.0;
    else if (s <= -15.0)
        v = (s + 75.0) * 122.0 / 60.0 + 120.0;
    else
        v = 242.0;
    return clampTrunc(v, 0, 242);
}

int CivDevice::swrMeterValue(float swr)
{
    const double r = swr;
    double v;
    if (r <= 1.5)
        v = (r - 1.0) * 96.0;
    else if (r <= 2.0)
        v = (r - 1.5) * 64.0 + 48.0;
    else if (r <= 3.0)
        v = (r - 2.0) * 40.0 + 80.0;
    else
        v = (r - 3.0) * 135.0 / 22.5 + 120.0;
    return clampTrunc(v, 0, 255);
}

int CivDevice::alcMeterValue(float alc)
{
    return clampTrunc((255.0 - double(alc)) * 0.47058824, 0, 120);
}

int CivDevice::vdMeterValue(float volts)
{
    const double v = volts;
    return clampTrunc(v <= 5.0 ? v * 75.0 / 5.0 : (v - 5.0) * 166.0 / 11.0 + 75.0, 0, 255);
}

int CivDevice::scopeByte(float dbm)
{
    return clampTrunc((double(dbm) + 145.0) * 1.1034483, 0, 160);
}

QString CivDevice::packetDump(const QByteArray &bytes)
{
    QString s;
    s.reserve(bytes.size() * 3);
    for (char c : bytes)
        s += QString::asprintf(" %02X", unsigned(uint8_t(c)));
    return s;
}

// ---------------------------------------------------------------------------
// Store access

int CivDevice::wparamInt(const QString &key)
{
    return m_admin->paramItem(W, key).value.toInt();
}

int CivDevice::frontInt(const QString &key)
{
    return m_admin->vfoFront(key).value.toInt();
}

int CivDevice::groupNumber()
{
    return m_admin->twinFilterGroupIndex() + 1;
}

void CivDevice::setGroupFromWire(int f)
{
    if (f >= 1 && f <= 3)
        m_admin->setTwinFilterGroupIndex(f - 1);
}

QString CivDevice::selectedVfo(bool selected)
{
    const bool a = m_admin->vfoIndex() == 0;
    return (a == selected) ? QStringLiteral("vfoa") : QStringLiteral("vfob");
}

bool CivDevice::setChecked(const QString &group, const QString &key, qint64 value)
{
    const zparam_item_t it = m_admin->paramItem(group, key);
    if (it.name != key)
        return false;
    if (value < qint64(std::floor(it.min.toDouble())) || value > qint64(std::ceil(it.max.toDouble())))
        return false;
    if (it.def.userType() == QMetaType::Float || it.def.userType() == QMetaType::Double)
        m_admin->setParamItem(group, key, float(value));
    else
        m_admin->setParamItem(group, key, int(value));
    return true;
}

void CivDevice::setClamped(const QString &key, int value)
{
    const zparam_item_t it = m_admin->paramItem(W, key);
    if (it.name == key)
        m_admin->setParamItem(W, key, qBound(truncInt(it.min), value, truncInt(it.max)));
}

// The front VFO goes through setVfoFront, which also moves the local
// oscillators, so the radio really tunes there.
bool CivDevice::setFrontFreq(qint64 freq)
{
    const zparam_item_t it = m_admin->vfoFront(QStringLiteral("freq"));
    if (freq < it.min.toInt() || freq > it.max.toInt())
        return false;
    m_admin->setVfoFront(QStringLiteral("freq"), int(freq));
    return true;
}

bool CivDevice::setVfoFreq(bool selected, qint64 freq)
{
    if (selected)
        return setFrontFreq(freq);
    return setChecked(selectedVfo(false), QStringLiteral("freq"), freq);
}

bool CivDevice::setVfoMode(bool selected, int mode)
{
    const QString key = QStringLiteral("mode");
    const QString g = selectedVfo(selected);
    const zparam_item_t it = m_admin->paramItem(g, key);
    if (mode < it.min.toInt() || mode > it.max.toInt())
        return false;
    if (selected)
        m_admin->setVfoFront(key, mode);
    else
        m_admin->setParamItem(g, key, mode);
    return true;
}

int CivDevice::wparamToByte(const QString &key)
{
    const zparam_item_t it = m_admin->paramItem(W, key);
    const qint64 v = truncInt(it.value);
    const qint64 min = truncInt(it.min);
    const qint64 max = truncInt(it.max);
    if (max == min)
        return 0;
    return int(qBound<qint64>(0, (v - min) * 255 / (max - min), 255));
}

void CivDevice::byteToWParam(const QString &key, int byte)
{
    const zparam_item_t it = m_admin->paramItem(W, key);
    if (it.name != key)
        return;
    const qint64 min = truncInt(it.min);
    const qint64 max = truncInt(it.max);
    const qint64 v = min + qint64(byte) * (max - min) / 255;
    // Truncating the limits can step outside the item's own range (0 for a
    // minimum of 0.1 W): the stored value stays inside it.
    if (it.def.userType() == QMetaType::Float || it.def.userType() == QMetaType::Double)
        m_admin->setParamItem(W, key, qBound(it.min.toFloat(), float(v), it.max.toFloat()));
    else
        m_admin->setParamItem(W, key, int(qBound<qint64>(it.min.toInt(), v, it.max.toInt())));
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
    if (u(f, 1) == CIV_ADDRESS) {
        // Our own reply heard back on an echoing bus: acting on it would
        // repeat an old setting.
        return;
    }
    if (n < 3) {
        sendReply(u(f, 1), bytes({ CIV_NG }));
        return;
    }
    m_ctrlAddr = u(f, 1);
    QByteArray body;
    if (!dispatch(f, body)) {
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
        sendReply(u(f, 1), body);
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

bool CivDevice::dispatch(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    const uint8_t cmd = u(f, 2);
    const uint8_t sub = n > 3 ? u(f, 3) : 0;
    const QByteArray ok = bytes({ CIV_OK });
    const QByteArray ng = bytes({ CIV_NG });

    switch (cmd) {
    case 0x03:
        if (n != 3)
            return false;
        body = bytes({ 0x03 }) + freq2bcd(frontInt(QStringLiteral("freq")));
        return true;
    case 0x00:
    case 0x05:
        if (n != 8)
            return false;
        body = setFrontFreq(bcd2freq(f.mid(3, 5))) ? ok : ng;
        return true;
    case 0x04:
        if (n == 3) {
            body = bytes({ 0x04, zrm2civm_ex(frontInt(QStringLiteral("mode"))), groupNumber() });
            return true;
        }
        Q_FALLTHROUGH();
    case 0x01:
    case 0x06:
        if (n != 5)
            return false;
        setVfoMode(true, civm2zrm_ex(sub));
        setGroupFromWire(u(f, 4));
        body = ok;
        return true;
    case 0x02:
        if (n != 3)
            return false;
        body = bytes({ 0x02 }) + freq2bcd(500000) + bytes({ 0x2D }) + freq2bcd(30000000);
        return true;
    case 0x07:
        if (n == 3) {
            // Back to VFO mode the way the front panel does it: the VFOs
            // saved on entering memory mode come back.
            m_admin->setVfoMemoMode(0);
            body = ok;
            return true;
        }
        if (n != 4)
            return false;
        if (sub == 0x00 || sub == 0x01)
            m_admin->setParamItem(W, QStringLiteral("vi"), int(sub));
        else if (sub == 0xB0)
            m_admin->modifyParamItem(W, QStringLiteral("vi"), 1, -1, -1);
        else
            return false;
        body = ok;
        return true;
    case 0x0C:
        if (n != 3)
            return false;
        body = bytes({ 0x0C, 0x00, 0x00, 0x00 });
        return true;
    case 0x0F:
        return cmdSplit(f, body);
    case 0x11:
        if (n == 3) {
            body = bytes({ 0x11, frontInt(QStringLiteral("att")) });
            return true;
        }
        if (n != 4)
            return false;
        // 00 off; anything else on (Icom peers send the 20 dB step as 20h).
        m_admin->setVfoFront(QStringLiteral("att"), sub ? 1 : 0);
        body = ok;
        return true;
    case 0x14:
        return cmdLevel(f, body);
    case 0x15:
        return cmdMeter(f, body);
    case 0x16:
        return cmdSwitch(f, body);
    case 0x18:
        // Power state: this radio answers only while it is on.
        if (n == 3) {
            body = bytes({ 0x18, 0x01 });
            return true;
        }
        if (n == 4 && (sub == 0x00 || sub == 0x01)) {
            // Switching the power from the port is not offered.
            body = sub == 0x01 ? ok : ng;
            return true;
        }
        return false;
    case 0x19:
        if (n != 4)
            return false;
        body = bytes({ 0x19, sub, CIV_ADDRESS });
        return true;
    case 0x1A:
        return cmd1A(f, body);
    case 0x1B:
        return cmdTone(f, body);
    case 0x1C:
        return cmdTx(f, body);
    case 0x1D:
        if (n != 4 || sub != 0x19)
            return false;
        body = bytes({ 0x1D, 0x19, 0x61, 0x00 });
        return true;
    case 0x21:
        return cmdRit(f, body);
    case 0x25:
        return cmdVfoFreq(f, body);
    case 0x26:
        return cmdVfoMode(f, body);
    case 0x27:
        return cmdScope(f, body);
    default:
        return false;
    }
}

bool CivDevice::cmdSplit(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    const QString key = QStringLiteral("sple");
    if (n == 3) {
        body = bytes({ 0x0F, wparamInt(key) });
    } else if (n == 4) {
        const uint8_t s = u(f, 3);
        qCDebug(logCivDevice).noquote() << QString::asprintf("CIV WRITE SPLT,SUB-CMD=%02X", s);
        if (s < 2)
            m_admin->setParamItem(W, key, int(s));
        body = bytes({ CIV_OK });
    } else if (n == 5) {
        qCDebug(logCivDevice).noquote()
            << QString::asprintf("CIV READ SPLT,SUB-CMD=%02X,DATA=%02X", u(f, 3), u(f, 4));
        body = bytes({ 0x0F, u(f, 3), wparamInt(key) });
    } else {
        qCDebug(logCivDevice) << "CIV SPLT ERROR,frame size=" << n;
        body = bytes({ CIV_NG });
    }
    return true;
}

bool CivDevice::cmdLevel(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 6)
        return false;
    const uint8_t s = u(f, 3);
    const char *key = nullptr;
    switch (s) {
    case 0x01: key = "rxvol"; break;
    case 0x02: key = "rfg"; break;
    case 0x03: key = "sqlthr"; break;
    case 0x06: key = "nrthr"; break;
    case 0x0A: key = "txpwr"; break;
    case 0x0B: key = "hmicg"; break;
    case 0x0D: key = "dnfcnt"; break;
    case 0x0E: key = "cmplevel"; break;
    case 0x0F: key = "qsktime"; break;
    case 0x12: key = "nbthr"; break;
    case 0x15: key = "monilevel"; break;
    case 0x16: key = "voxg"; break;
    case 0x17: key = "voxag"; break;
    case 0x19: key = "bllevel"; break;
    default: break;
    }

    if (n == 4) {
        int v;
        if (s == 0x07 || s == 0x08) {
            v = 128;
        } else if (s == 0x09) {
            const int tone = wparamInt(QStringLiteral("cwtone"));
            v = tone <= 300 ? 0 : (tone >= 900 ? 255 : (tone - 300) * 255 / 600);
        } else if (s == 0x0C) {
            const int ks = wparamInt(QStringLiteral("ks"));
            v = ks < 7 ? 0 : (ks >= 48 ? 255 : (ks - 6) * 255 / 42);
        } else if (s == 0x13 || s == 0x14) {
            v = 0;
        } else if (key) {
            v = wparamToByte(QString::fromLatin1(key));
        } else {
            v = 255;
        }
        body = bytes({ 0x14, s }) + int2bcd_2bytes(v);
        return true;
    }

    const int l = bcd2int_2bytes(f.mid(4, 2));
    if (l > 255) {
        // Levels run 0000..0255; a larger one would be scaled past the
        // item's range.
        body = bytes({ CIV_NG });
        return true;
    }
    if (s == 0x09) {
        setClamped(QStringLiteral("cwtone"), l * 600 / 255 + 300);
    } else if (s == 0x0C) {
        setClamped(QStringLiteral("ks"), l * 42 / 255 + 6);
    } else if (s == 0x0A) {
        const int limit = clampTrunc(double(m_admin->txPowerMax.load()) * 25.5, 0, 255);
        byteToWParam(QStringLiteral("txpwr"), qMin(l, limit));
    } else if (key) {
        byteToWParam(QString::fromLatin1(key), l);
    }
    m_admin->modified = true;
    body = bytes({ CIV_OK });
    return true;
}

bool CivDevice::cmdMeter(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 4)
        return false;
    const uint8_t s = u(f, 3);
    int v;
    switch (s) {
    case 0x01: v = m_admin->sqlOpen.load(); break;
    case 0x02: v = sMeterValue(m_admin->signalLevel.load()); break;
    case 0x05: v = 0; break;
    case 0x11: v = clampTrunc(m_admin->fwdPower.load(), 0, 9999); break;
    case 0x12: v = swrMeterValue(m_admin->swr.load()); break;
    case 0x13: v = alcMeterValue(m_admin->alcLevel.load()); break;
    case 0x15: v = vdMeterValue(m_admin->vsupply.load()); break;
    default: v = 255; break;
    }
    body = bytes({ 0x15, s }) + int2bcd_2bytes(v);
    return true;
}

bool CivDevice::cmdSwitch(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 5) {
        body = bytes({ CIV_NG });
        return true;
    }
    const uint8_t s = u(f, 3);
    const char *key = nullptr;
    switch (s) {
    case 0x22: key = "nbe"; break;
    case 0x40: key = "nre"; break;
    case 0x41: key = "dnfe"; break;
    case 0x44: key = "cmpe"; break;
    case 0x46: key = "voxe"; break;
    case 0x50: key = "lock"; break;
    default: break;
    }

    if (n == 4) {
        int v = 0;
        if (s == 0x02) {
            v = frontInt(QStringLiteral("pre")) != 0;
        } else if (s == 0x12) {
            static const int agcToCiv[4] = { 0x00, 0x02, 0x01, 0x03 };
            const int agc = frontInt(QStringLiteral("agc"));
            v = agc >= 0 && agc <= 3 ? agcToCiv[agc] : 0x03;
        } else if (s == 0x60) {
            v = m_admin->charging.load() != 0;
        } else if (key) {
            v = wparamInt(QString::fromLatin1(key)) != 0;
        }
        body = bytes({ 0x16, s, v });
        return true;
    }

    const uint8_t v = u(f, 4);
    bool stored = true;
    if (s == 0x02) {
        m_admin->setVfoFront(QStringLiteral("pre"), v ? 1 : 0);
    } else if (s == 0x12) {
        m_admin->setVfoFront(QStringLiteral("agc"), v == 0x00 ? 0 : (v == 0x01 ? 2 : (v == 0x02 ? 1 : 3)));
    } else if (key) {
        stored = setChecked(W, QString::fromLatin1(key), v);
    }
    body = bytes({ stored ? CIV_OK : CIV_NG });
    return true;
}

bool CivDevice::cmd1A(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4) {
        body = bytes({ CIV_NG });
        return true;
    }
    const uint8_t sub = u(f, 3);
    switch (sub) {
    case 0x01:
        if (n == 4) {
            body = bytes({ 0x1A, 0x01, zrbs2civbs(m_admin->bandIndex()), 0x02 });
            return true;
        }
        if (n == 6) {
            bandStackRecord(f, body);
            return true;
        }
        qCDebug(logCivDevice) << "CMD 1A 01" << n;
        return false;
    case 0x03: {
        if (n == 5) {
            body = bytes({ 0x1A, 0x03, CIV_OK });
            return true;
        }
        if (n != 4)
            return false;
        const ztwinfilter_t tf = m_admin->twinFilter();
        const float w = std::fabs(qMin(tf.fp1.high, tf.fp2.high) - qMax(tf.fp1.low, tf.fp2.low));
        const int mode = frontInt(QStringLiteral("mode"));
        // Sent in BCD, as Icom's radios and the programs written for them do.
        body = bytes({ 0x1A, 0x03, bcdByte(filterWidthIndex(w, mode == 6 || mode == 7)) });
        return true;
    }
    case 0x05: {
        if (n < 6)
            return false;
        const int item = (u(f, 4) << 8) | u(f, 5);
        const QString lock = QStringLiteral("lock");
        switch (n) {
        case 6:
            body = bytes({ 0x1A, 0x05, item == 0x0062 ? wparamInt(lock) : 0 });
            return true;
        case 7: {
            bool stored = true;
            if (item == 0x0062)
                stored = setChecked(W, lock, u(f, 6));
            body = bytes({ stored ? CIV_OK : CIV_NG });
            return true;
        }
        case 8:
            if (item != 0x0166)
                return false;
            emit sig_setTimeMinSec(bcd2int(u(f, 6)), bcd2int(u(f, 7)));
            body = bytes({ CIV_OK });
            return true;
        case 9: {
            if (item != 0x0170)
                return false;
            const int off = bcd2int(u(f, 6)) * 100 + bcd2int(u(f, 7));
            emit sig_setUtcOffset(u(f, 8) ? -off : off);
            body = bytes({ CIV_OK });
            return true;
        }
        case 10:
            if (item != 0x0165)
                return false;
            emit sig_setDate(bcd2int(u(f, 6)) * 100 + bcd2int(u(f, 7)), bcd2int(u(f, 8)), bcd2int(u(f, 9)));
            body = bytes({ CIV_OK });
            return true;
        default:
            return false;
        }
    }
    case 0x06: {
        const QString modeKey = QStringLiteral("mode");
        const QString dataKey = QStringLiteral("datamode");
        if (n == 4) {
            const int m = frontInt(modeKey);
            const int d = wparamInt(dataKey);
            // Keep the mode in step with the data flag before answering.
            if (d != 0 && (m == 0 || m == 2))
                m_admin->setVfoFront(modeKey, m + 1);
            body = bytes({ 0x1A, 0x06, d, groupNumber() });
            return true;
        }
        if (n != 6)
            return false;
        const uint8_t d = u(f, 4);
        const zparam_item_t di = m_admin->paramItem(W, dataKey);
        if (di.name != dataKey || d > di.max.toInt()) {
            body = bytes({ CIV_NG });
            return true;
        }
        const int m = frontInt(modeKey);
        if (d == 0 && (m == 1 || m == 3))
            m_admin->setVfoFront(modeKey, m - 1);
        else if (d != 0 && (m == 0 || m == 2))
            m_admin->setVfoFront(modeKey, m + 1);
        setGroupFromWire(u(f, 5));
        m_admin->setParamItem(W, dataKey, int(d));
        body = bytes({ CIV_OK });
        return true;
    }
    default:
        return false;
    }
}

void CivDevice::bandStackRecord(const QByteArray &f, QByteArray &body)
{
    const uint8_t b = u(f, 4);
    const uint8_t r = u(f, 5);
    const int index = civbs2zrbs(b);
    const zparam_memo_t memo = m_admin->getBandStackItem(index);
    const QMap<QString, zparam_item_t> &half = m_admin->vfoIndex() == 0 ? memo.vfoa : memo.vfob;
    const int freq = half.value(QStringLiteral("freq")).value.toInt();
    uint8_t data = 0;
    const uint8_t civ = zrmode2civmode(half.value(QStringLiteral("mode")).value.toInt(), &data);
    body = bytes({ 0x1A, 0x01, b, r }) + freq2bcd(freq)
        + bytes({ civ, groupNumber(), data })
        + bytes({ 0x00, 0x00, 0x00, 0x08, 0x85, 0x00, 0x08, 0x85, 0x00, 0x00, 0x23, 0x00, 0x00, 0x00, 0x00 })
        + QByteArray("ZR450") + QByteArray(19, ' ');
    qCDebug(logCivDevice) << "civ band stack, code" << b << "band" << index << "freq" << freq;
}

bool CivDevice::cmdTone(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4)
        return false;
    const uint8_t s = u(f, 3);
    const char *key = s == 0x00 ? "repeater_tone" : (s == 0x01 ? "sql_tone" : (s == 0x02 ? "dtcs" : nullptr));
    if (n == 4) {
        body = bytes({ 0x1B, s });
        if (key) {
            const uint32_t v = uint32_t(wparamInt(QString::fromLatin1(key)));
            body += bytes({ int(v >> 16), int(v >> 8), int(v) });
        } else if (s == 0x07) {
            body += bytes({ wparamInt(QStringLiteral("csql_dv")) });
        }
        return true;
    }
    if (n == 5 && s == 0x07) {
        body = bytes({ setChecked(W, QStringLiteral("csql_dv"), u(f, 4)) ? CIV_OK : CIV_NG });
        return true;
    }
    if (n == 7) {
        const qint64 v = qint64(u(f, 4)) * 65536 + u(f, 5) * 256 + u(f, 6);
        bool stored = true;
        if (key)
            stored = setChecked(W, QString::fromLatin1(key), v);
        body = bytes({ stored ? CIV_OK : CIV_NG });
        return true;
    }
    return false;
}

bool CivDevice::cmdTx(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n == 3) {
        body = bytes({ 0x1C, m_admin->trxState.load() });
        return true;
    }
    const uint8_t s = u(f, 3);
    if (n == 4) {
        int v = 0;
        if (s == 0x00)
            v = m_admin->trxState.load();
        else if (s == 0x01)
            v = m_admin->atuActive.load();
        body = bytes({ 0x1C, s, v });
        return true;
    }
    if (n == 5) {
        if (s == 0x00)
            emit sig_setTrxStatus(u(f, 4));
        else if (s == 0x01)
            emit sig_setAtuStatus(u(f, 4));
        body = bytes({ CIV_OK });
        return true;
    }
    return false;
}

bool CivDevice::cmdRit(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4)
        return false;
    const uint8_t s = u(f, 3);
    const QString rit = QStringLiteral("rit");
    if (n == 4) {
        const int r = wparamInt(rit);
        if (s == 0x00) {
            const int mag = qMin(9999, std::abs(qMax(r, -9999)));
            body = bytes({ 0x21, 0x00, bcdByte(mag % 100), bcdByte(mag / 100), r >= 0 ? 0 : 1 });
        } else if (s == 0x01) {
            body = bytes({ 0x21, 0x01, r != 0 });
        } else if (s == 0x02) {
            body = bytes({ 0x21, 0x02, wparamInt(QStringLiteral("xit")) != 0 });
        } else {
            return false;
        }
        return true;
    }
    if (n == 7 && s == 0x00) {
        const int mag = bcd2int(u(f, 5)) * 100 + bcd2int(u(f, 4));
        body = bytes({ setChecked(W, rit, u(f, 6) ? -mag : mag) ? CIV_OK : CIV_NG });
        return true;
    }
    return false;
}

bool CivDevice::cmdVfoFreq(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 9)
        return false;
    const uint8_t s = u(f, 3);
    const bool selected = s == 0x00;
    if (n == 4) {
        const int freq = m_admin->paramItem(selectedVfo(selected), QStringLiteral("freq")).value.toInt();
        body = bytes({ 0x25, s }) + freq2bcd(freq);
        return true;
    }
    body = bytes({ setVfoFreq(selected, bcd2freq(f.mid(4, 5))) ? CIV_OK : CIV_NG });
    return true;
}

bool CivDevice::cmdVfoMode(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 7) {
        qCDebug(logCivDevice) << "CMD = 0x26, size =" << n;
        return false;
    }
    const uint8_t s = u(f, 3);
    const bool selected = s == 0x00;
    if (n == 4) {
        uint8_t data = 0;
        const int mode = m_admin->paramItem(selectedVfo(selected), QStringLiteral("mode")).value.toInt();
        const uint8_t civ = zrmode2civmode(mode, &data);
        body = bytes({ 0x26, s, civ, data, groupNumber() });
        return true;
    }
    // Modes this radio does not have (RTTY, WFM) are refused.
    if (!setVfoMode(selected, civmode2zrmode(u(f, 4), u(f, 5)))) {
        body = bytes({ CIV_NG });
        return true;
    }
    const int fw = u(f, 6);
    setGroupFromWire(fw == 0 ? 1 : qBound(1, fw, 3));
    body = bytes({ CIV_OK });
    return true;
}

bool CivDevice::cmdScope(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4)
        return false;
    const uint8_t s = u(f, 3);
    if (n == 4) {
        switch (s) {
        case 0x00: {
            body = bytes({ 0x27, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00 });
            std::lock_guard<std::mutex> lock(m_scopeMutex);
            body.append(reinterpret_cast<const char *>(m_scope), CIV_SCOPE_POINTS);
            break;
        }
        case 0x10:
        case 0x11: body = bytes({ 0x27, s, 0x01 }); break;
        case 0x12:
        case 0x13: body = bytes({ 0x27, s, 0x00 }); break;
        case 0x14:
        case 0x16:
        case 0x17: body = bytes({ 0x27, s, 0x00, 0x00 }); break;
        case 0x15: body = bytes({ 0x27, 0x15, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00 }); break;
        case 0x19: body = bytes({ 0x27, 0x19, 0x00, 0x00, 0x00, 0x01 }); break;
        default: body = bytes({ 0x27, s }); break;
        }
        return true;
    }
    if (n == 5) {
        if (s == 0x11) {
            m_scopeStream = u(f, 4) != 0;
            body = bytes({ CIV_OK });
        } else if (s == 0x15) {
            body = bytes({ 0x27, 0x15, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00 });
        } else {
            body = bytes({ CIV_OK });
        }
        return true;
    }
    if (n == 6 || n == 10) {
        body = bytes({ CIV_OK });
        return true;
    }
    if (n == 8 && s == 0x19) {
        int ref = bcd2int(u(f, 5));
        if (u(f, 7))
            ref = -ref;
        m_admin->setParamItem(W, QStringLiteral("fftref"), qBound(-10, ref, 10));
        body = bytes({ CIV_OK });
        return true;
    }
    return false;
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

void CivDevice::loadScopeData(QByteArray &out)
{
    out += bytes({ 0x27, 0x00, 0x00, 0x01, 0x01, 0x00 });
    out += freq2bcd(m_admin ? frontInt(QStringLiteral("freq")) : 0);
    out += bytes({ 0x00, 0x00, 0x50, 0x02, 0x00, 0x00 });
    std::lock_guard<std::mutex> lock(m_scopeMutex);
    out.append(reinterpret_cast<const char *>(m_scope), CIV_SCOPE_POINTS);
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
        if (m_btFd >= 0 && m_scopeStream)
            writePorts(frame, true);
    }
}
