// The CI-V command set. Each request is looked up by its command byte in
// kCommands below; the handler checks the frame's length, reads or changes
// the store and builds the reply body. Replies are IC-705 replies, so that
// programs written for that radio (hamlib's model 3085) work unchanged.
#include "civ/civcommands.h"

#include "civ/civconvert.h"
#include "civ/civdevice.h"
#include "civ/civmorse.h"
#include "app/zlog.h"
#include "params/zparamadmin.h"

#include <QDebug>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace civconv;
using namespace zrnamespace;

namespace {

const QString W = QString::fromLatin1(kSectionParam);

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

// The longest text one send-Morse request carries, as on an IC-705.
const int kMorseTextMax = 30;

const QByteArray kOk = bytes({ CIV_OK });
const QByteArray kNg = bytes({ CIV_NG });

QByteArray okOrNg(bool ok)
{
    return ok ? kOk : kNg;
}

// Integer part of a stored value: items are scaled as integers, a
// fractional one truncated. QVariant::toInt() would round floats.
int truncInt(const QVariant &v)
{
    return clampTrunc(v.toDouble(), std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

bool isFloatItem(const zparam_item_t &it)
{
    return it.def.userType() == QMetaType::Float || it.def.userType() == QMetaType::Double;
}

// Level table (14h): the settings scaled onto 0..255 as they are. The
// levels with a rule of their own are handled in CivCommands::level.
struct LevelItem
{
    uint8_t sub;
    const char *key;
};
const LevelItem kLevelItems[] = {
    { 0x01, "rxvol" },  { 0x02, "rfg" },       { 0x03, "sqlthr" }, { 0x06, "nrthr" },
    { 0x0B, "hmicg" },  { 0x0D, "dnfcnt" },    { 0x0E, "cmplevel" }, { 0x0F, "qsktime" },
    { 0x12, "nbthr" },  { 0x15, "monilevel" }, { 0x16, "voxg" },   { 0x17, "voxag" },
    { 0x19, "bllevel" },
};

// Switch table (16h): the on/off settings read as 00/01 and set with the
// byte sent (a byte outside the item's range is refused). Preamplifier,
// AGC and the charging flag have rules of their own in CivCommands::switches.
const LevelItem kSwitchItems[] = {
    { 0x22, "nbe" }, { 0x40, "nre" }, { 0x41, "dnfe" }, { 0x44, "cmpe" }, { 0x46, "voxe" }, { 0x50, "lock" },
};

template <size_t N>
const char *itemKey(const LevelItem (&table)[N], uint8_t sub)
{
    for (const LevelItem &i : table) {
        if (i.sub == sub)
            return i.key;
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// The command table

const CivCommands::Command CivCommands::kCommands[] = {
    { 0x00, &CivCommands::setFrequency, "set the front VFO's frequency (transceive form)" },
    { 0x01, &CivCommands::setMode, "set the mode and filter (transceive form)" },
    { 0x02, &CivCommands::bandEdges, "read the band edges" },
    { 0x03, &CivCommands::readFrequency, "read the front VFO's frequency" },
    { 0x04, &CivCommands::readOrSetMode, "read the mode and filter; with data, set them" },
    { 0x05, &CivCommands::setFrequency, "set the front VFO's frequency" },
    { 0x06, &CivCommands::setMode, "set the mode and filter" },
    { 0x07, &CivCommands::vfoSelect, "VFO mode, VFO A or B, exchange" },
    { 0x0C, &CivCommands::offset, "read the duplex offset (none)" },
    { 0x0F, &CivCommands::split, "split on/off and read" },
    { 0x11, &CivCommands::attenuator, "attenuator" },
    { 0x14, &CivCommands::level, "levels 0..255 (level table)" },
    { 0x15, &CivCommands::meter, "meters" },
    { 0x16, &CivCommands::switches, "switches (switch table)" },
    { 0x17, &CivCommands::sendMorse, "send Morse at the keyer speed; 17 FF stops" },
    { 0x18, &CivCommands::powerState, "power state" },
    { 0x19, &CivCommands::transceiverId, "transceiver ID" },
    { 0x1A, &CivCommands::items1A, "band stack, filter width, menu items, data mode" },
    { 0x1B, &CivCommands::tones, "repeater and squelch tones, DTCS" },
    { 0x1C, &CivCommands::transmit, "transmit and tuner" },
    { 0x1D, &CivCommands::item1D, "1D 19" },
    { 0x21, &CivCommands::ritXit, "RIT offset, RIT and XIT switches" },
    { 0x25, &CivCommands::vfoFrequency, "frequency of the selected or the other VFO" },
    { 0x26, &CivCommands::vfoMode, "mode of the selected or the other VFO" },
    { 0x27, &CivCommands::scope, "panadapter scope" },
};

CivCommands::CivCommands(CivDevice &device)
    : m_dev(device)
    , m_morse(new CivMorse)
{
}

CivCommands::~CivCommands() = default;

bool CivCommands::dispatch(const QByteArray &f, QByteArray &body)
{
    const uint8_t code = u(f, 2);
    for (const Command &c : kCommands) {
        if (c.code == code)
            return (this->*c.handler)(f, body);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Store access

int CivCommands::wparamInt(const QString &key)
{
    return m_store->paramItem(W, key).value.toInt();
}

int CivCommands::frontInt(const QString &key)
{
    return m_store->vfoFront(key).value.toInt();
}

int CivCommands::groupNumber()
{
    return m_store->twinFilterGroupIndex() + 1;
}

void CivCommands::setGroupFromWire(int f)
{
    if (f >= 1 && f <= 3)
        m_store->setTwinFilterGroupIndex(f - 1);
}

QString CivCommands::selectedVfo(bool selected)
{
    const bool a = m_store->vfoIndex() == 0;
    return QString::fromLatin1((a == selected) ? kSectionVfoA : kSectionVfoB);
}

bool CivCommands::setChecked(const QString &group, const QString &key, qint64 value)
{
    const zparam_item_t it = m_store->paramItem(group, key);
    if (it.name != key)
        return false;
    if (value < qint64(std::floor(it.min.toDouble())) || value > qint64(std::ceil(it.max.toDouble())))
        return false;
    if (isFloatItem(it))
        m_store->setParamItem(group, key, float(value));
    else
        m_store->setParamItem(group, key, int(value));
    return true;
}

void CivCommands::setClamped(const QString &key, int value)
{
    const zparam_item_t it = m_store->paramItem(W, key);
    if (it.name == key)
        m_store->setParamItem(W, key, qBound(truncInt(it.min), value, truncInt(it.max)));
}

bool CivCommands::setVfoFreq(bool selected, qint64 freq)
{
    // The item's own range reaches below what the radio tunes: the other
    // VFO would be stored there and tuned when it comes to the front.
    if (!ZParamAdmin::isTunableFrequency(freq))
        return false;
    // The front VFO goes through setVfoFront, which also moves the local
    // oscillators, so the radio really tunes there.
    if (selected)
        m_store->setVfoFront(QStringLiteral("freq"), int(freq));
    else
        m_store->setParamItem(selectedVfo(false), QStringLiteral("freq"), int(freq));
    return true;
}

bool CivCommands::setVfoMode(bool selected, int mode)
{
    const QString key = QStringLiteral("mode");
    const QString g = selectedVfo(selected);
    const zparam_item_t it = m_store->paramItem(g, key);
    if (mode < it.min.toInt() || mode > it.max.toInt())
        return false;
    if (selected)
        m_store->setVfoFront(key, mode);
    else
        m_store->setParamItem(g, key, mode);
    return true;
}

int CivCommands::wparamToByte(const QString &key)
{
    const zparam_item_t it = m_store->paramItem(W, key);
    return itemToLevel(truncInt(it.value), truncInt(it.min), truncInt(it.max));
}

void CivCommands::byteToWParam(const QString &key, int byte)
{
    const zparam_item_t it = m_store->paramItem(W, key);
    if (it.name != key)
        return;
    const qint64 v = levelToItem(byte, truncInt(it.min), truncInt(it.max));
    // Truncated limits can step outside the item's own range: the stored
    // value stays inside it.
    if (isFloatItem(it))
        m_store->setParamItem(W, key, qBound(it.min.toFloat(), float(v), it.max.toFloat()));
    else
        m_store->setParamItem(W, key, int(qBound<qint64>(it.min.toInt(), v, it.max.toInt())));
}

int CivCommands::powerToByte()
{
    return powerToLevel(m_store->paramItem(W, QStringLiteral("txpwr")).value.toFloat(), m_store->txPowerMax.load());
}

void CivCommands::byteToPower(int byte)
{
    const QString key = QStringLiteral("txpwr");
    const zparam_item_t it = m_store->paramItem(W, key);
    if (it.name != key)
        return;
    const float max = m_store->txPowerMax.load();
    const float top = qMin(it.max.toFloat(), max);
    m_store->setParamItem(W, key, qMax(it.min.toFloat(), qMin(levelToPower(byte, max), top)));
}

// ---------------------------------------------------------------------------
// Frequency, mode, VFOs

bool CivCommands::setFrequency(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 8)
        return false;
    body = okOrNg(setVfoFreq(true, bcd2freq(f.mid(3, 5))));
    return true;
}

bool CivCommands::setMode(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 5)
        return false;
    setVfoMode(true, civm2zrm(u(f, 3)));
    setGroupFromWire(u(f, 4));
    body = kOk;
    return true;
}

bool CivCommands::bandEdges(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 3)
        return false;
    body = bytes({ 0x02 }) + freq2bcd(500000) + bytes({ 0x2D }) + freq2bcd(30000000);
    return true;
}

bool CivCommands::readFrequency(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 3)
        return false;
    body = bytes({ 0x03 }) + freq2bcd(frontInt(QStringLiteral("freq")));
    return true;
}

bool CivCommands::readOrSetMode(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 3)
        return setMode(f, body);
    body = bytes({ 0x04, zrm2civm(frontInt(QStringLiteral("mode"))), groupNumber() });
    return true;
}

bool CivCommands::vfoSelect(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n == 3) {
        // Back to VFO mode the way the front panel does it: the VFOs saved
        // on entering memory mode come back.
        m_store->setVfoMemoMode(0);
        body = kOk;
        return true;
    }
    if (n != 4)
        return false;
    const uint8_t sub = u(f, 3);
    if (sub == 0x00 || sub == 0x01)
        m_store->setParamItem(W, QStringLiteral("vi"), int(sub));
    else if (sub == 0xB0)
        m_store->modifyParamItem(W, QStringLiteral("vi"), 1, -1, -1);
    else
        return false;
    body = kOk;
    return true;
}

bool CivCommands::offset(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 3)
        return false;
    body = bytes({ 0x0C, 0x00, 0x00, 0x00 });
    return true;
}

bool CivCommands::split(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    const QString key = QStringLiteral("sple");
    if (n == 3) {
        body = bytes({ 0x0F, wparamInt(key) });
    } else if (n == 4) {
        const uint8_t s = u(f, 3);
        qCDebug(logCivDevice).noquote() << QString::asprintf("CIV WRITE SPLT,SUB-CMD=%02X", s);
        if (s < 2)
            m_store->setParamItem(W, key, int(s));
        body = kOk;
    } else if (n == 5) {
        qCDebug(logCivDevice).noquote()
            << QString::asprintf("CIV READ SPLT,SUB-CMD=%02X,DATA=%02X", u(f, 3), u(f, 4));
        body = bytes({ 0x0F, u(f, 3), wparamInt(key) });
    } else {
        qCDebug(logCivDevice) << "CIV SPLT ERROR,frame size=" << n;
        body = kNg;
    }
    return true;
}

bool CivCommands::attenuator(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n == 3) {
        body = bytes({ 0x11, frontInt(QStringLiteral("att")) });
        return true;
    }
    if (n != 4)
        return false;
    // 00 off; anything else on (Icom peers send the 20 dB step as 20h).
    m_store->setVfoFront(QStringLiteral("att"), u(f, 3) ? 1 : 0);
    body = kOk;
    return true;
}

// ---------------------------------------------------------------------------
// Levels, meters, switches

bool CivCommands::level(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 6)
        return false;
    const uint8_t s = u(f, 3);
    const char *key = itemKey(kLevelItems, s);

    if (n == 4) {
        int v;
        if (s == 0x07 || s == 0x08) {
            v = 128;
        } else if (s == 0x09) {
            const int tone = wparamInt(QStringLiteral("cwtone"));
            v = tone <= 300 ? 0 : (tone >= 900 ? 255 : (tone - 300) * 255 / 600);
        } else if (s == 0x0A) {
            v = powerToByte();
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
        body = kNg;
        return true;
    }
    if (s == 0x09)
        setClamped(QStringLiteral("cwtone"), l * 600 / 255 + 300);
    else if (s == 0x0A)
        byteToPower(l);
    else if (s == 0x0C)
        setClamped(QStringLiteral("ks"), l * 42 / 255 + 6);
    else if (key)
        byteToWParam(QString::fromLatin1(key), l);
    m_store->modified = true;
    body = kOk;
    return true;
}

bool CivCommands::meter(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 4)
        return false;
    const uint8_t s = u(f, 3);
    int v;
    switch (s) {
    case 0x01: v = m_store->sqlOpen.load(); break;
    case 0x02: v = sMeterValue(m_store->signalLevel.load()); break;
    case 0x05: v = 0; break;
    case 0x11: v = powerMeterValue(m_store->fwdPower.load()); break;
    case 0x12: v = swrMeterValue(m_store->swr.load()); break;
    case 0x13: v = alcMeterValue(m_store->alcLevel.load()); break;
    case 0x15: v = vdMeterValue(m_store->vsupply.load()); break;
    default: v = 255; break;
    }
    body = bytes({ 0x15, s }) + int2bcd_2bytes(v);
    return true;
}

bool CivCommands::switches(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 5) {
        body = kNg;
        return true;
    }
    const uint8_t s = u(f, 3);
    const char *key = itemKey(kSwitchItems, s);

    if (n == 4) {
        int v = 0;
        if (s == 0x02) {
            v = frontInt(QStringLiteral("pre")) != 0;
        } else if (s == 0x12) {
            // AGC OFF, SLOW, FAST, AUTO as Icom numbers them.
            static const int agcToCiv[4] = { 0x00, 0x02, 0x01, 0x03 };
            const int agc = frontInt(QStringLiteral("agc"));
            v = agc >= 0 && agc <= 3 ? agcToCiv[agc] : 0x03;
        } else if (s == 0x60) {
            v = m_store->charging.load() != 0;
        } else if (key) {
            v = wparamInt(QString::fromLatin1(key)) != 0;
        }
        body = bytes({ 0x16, s, v });
        return true;
    }

    const uint8_t v = u(f, 4);
    bool stored = true;
    if (s == 0x02)
        m_store->setVfoFront(QStringLiteral("pre"), v ? 1 : 0);
    else if (s == 0x12)
        m_store->setVfoFront(QStringLiteral("agc"), v == 0x00 ? 0 : (v == 0x01 ? 2 : (v == 0x02 ? 1 : 3)));
    else if (key)
        stored = setChecked(W, QString::fromLatin1(key), v);
    body = okOrNg(stored);
    return true;
}

// ---------------------------------------------------------------------------
// Send Morse

// 17 followed by up to 30 characters keys them at the keyer speed "ks";
// a text sent while another is keyed waits for it. 17 FF stops the text
// being sent (after its current character) and drops those waiting. A
// text without any character the Morse table knows, a longer text, or one
// more than the queue holds, is refused.
bool CivCommands::sendMorse(const QByteArray &f, QByteArray &body)
{
    const QByteArray text = f.mid(3);
    if (text.size() == 1 && uint8_t(text.at(0)) == 0xFF) {
        m_morse->stop();
        body = kOk;
        return true;
    }
    const QString s = QString::fromLatin1(text);
    if (text.size() > kMorseTextMax || !CivMorse::sendable(s)) {
        body = kNg;
        return true;
    }
    body = okOrNg(m_morse->send(s, wparamInt(QStringLiteral("ks"))));
    return true;
}

// ---------------------------------------------------------------------------
// Power, ID, 1A items

bool CivCommands::powerState(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    // This radio answers only while it is on.
    if (n == 3) {
        body = bytes({ 0x18, 0x01 });
        return true;
    }
    const uint8_t sub = u(f, 3);
    if (n == 4 && (sub == 0x00 || sub == 0x01)) {
        // Switching the power from the port is not offered.
        body = okOrNg(sub == 0x01);
        return true;
    }
    return false;
}

bool CivCommands::transceiverId(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 4)
        return false;
    body = bytes({ 0x19, u(f, 3), CIV_ADDRESS });
    return true;
}

bool CivCommands::items1A(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4) {
        body = kNg;
        return true;
    }
    switch (u(f, 3)) {
    case 0x01:
        if (n == 4) {
            body = bytes({ 0x1A, 0x01, zrbs2civbs(m_store->bandIndex()), 0x02 });
            return true;
        }
        if (n == 6) {
            bandStackRecord(f, body);
            return true;
        }
        qCDebug(logCivDevice) << "CMD 1A 01" << n;
        return false;
    case 0x03:
        if (n == 5) {
            body = bytes({ 0x1A, 0x03, CIV_OK }); // the width is the store's filter
            return true;
        }
        if (n != 4)
            return false;
        filterWidth(body);
        return true;
    case 0x05:
        return itemOfMenu(f, body);
    case 0x06:
        return dataMode(f, body);
    default:
        return false;
    }
}

void CivCommands::bandStackRecord(const QByteArray &f, QByteArray &body)
{
    const uint8_t b = u(f, 4);
    const uint8_t r = u(f, 5);
    const int index = civbs2zrbs(b);
    const zparam_memo_t memo = m_store->getBandStackItem(index);
    const QMap<QString, zparam_item_t> &half = m_store->vfoIndex() == 0 ? memo.vfoa : memo.vfob;
    const int freq = half.value(QStringLiteral("freq")).value.toInt();
    uint8_t data = 0;
    const uint8_t civ = zrmode2civmode(half.value(QStringLiteral("mode")).value.toInt(), &data);
    body = bytes({ 0x1A, 0x01, b, r }) + freq2bcd(freq) + bytes({ civ, groupNumber(), data })
        + bytes({ 0x00, 0x00, 0x00, 0x08, 0x85, 0x00, 0x08, 0x85, 0x00, 0x00, 0x23, 0x00, 0x00, 0x00, 0x00 })
        + QByteArray("ZR450") + QByteArray(19, ' ');
    qCDebug(logCivDevice) << "civ band stack, code" << b << "band" << index << "freq" << freq;
}

void CivCommands::filterWidth(QByteArray &body)
{
    const ztwinfilter_t tf = m_store->twinFilter();
    const float w = std::fabs(qMin(tf.fp1.high, tf.fp2.high) - qMax(tf.fp1.low, tf.fp2.low));
    const int mode = frontInt(QStringLiteral("mode"));
    // Sent in BCD, as Icom's radios and the programs written for them do.
    body = bytes({ 0x1A, 0x03, bcdByte(filterWidthIndex(w, mode == ModeAM || mode == ModeNFM)) });
}

bool CivCommands::itemOfMenu(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
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
        body = okOrNg(stored);
        return true;
    }
    case 8:
        if (item != 0x0166)
            return false;
        emit m_dev.sig_setTimeMinSec(bcd2int(u(f, 6)), bcd2int(u(f, 7)));
        body = kOk;
        return true;
    case 9: {
        if (item != 0x0170)
            return false;
        const int off = bcd2int(u(f, 6)) * 100 + bcd2int(u(f, 7));
        emit m_dev.sig_setUtcOffset(u(f, 8) ? -off : off);
        body = kOk;
        return true;
    }
    case 10:
        if (item != 0x0165)
            return false;
        emit m_dev.sig_setDate(bcd2int(u(f, 6)) * 100 + bcd2int(u(f, 7)), bcd2int(u(f, 8)), bcd2int(u(f, 9)));
        body = kOk;
        return true;
    default:
        return false;
    }
}

bool CivCommands::dataMode(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    const QString modeKey = QStringLiteral("mode");
    const QString dataKey = QStringLiteral("datamode");
    if (n == 4) {
        const int m = frontInt(modeKey);
        const int d = wparamInt(dataKey);
        // Keep the mode in step with the data flag before answering.
        if (d != 0 && (m == ModeLSB || m == ModeUSB))
            m_store->setVfoFront(modeKey, m + 1);
        body = bytes({ 0x1A, 0x06, d, groupNumber() });
        return true;
    }
    if (n != 6)
        return false;
    const uint8_t d = u(f, 4);
    const zparam_item_t di = m_store->paramItem(W, dataKey);
    if (di.name != dataKey || d > di.max.toInt()) {
        body = kNg;
        return true;
    }
    const int m = frontInt(modeKey);
    if (d == 0 && zmode_is_digital(m))
        m_store->setVfoFront(modeKey, m - 1);
    else if (d != 0 && (m == ModeLSB || m == ModeUSB))
        m_store->setVfoFront(modeKey, m + 1);
    setGroupFromWire(u(f, 5));
    m_store->setParamItem(W, dataKey, int(d));
    body = kOk;
    return true;
}

// ---------------------------------------------------------------------------
// Tones, transmit, 1D

bool CivCommands::tones(const QByteArray &f, QByteArray &body)
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
        body = okOrNg(setChecked(W, QStringLiteral("csql_dv"), u(f, 4)));
        return true;
    }
    if (n == 7) {
        const qint64 v = qint64(u(f, 4)) * 65536 + u(f, 5) * 256 + u(f, 6);
        bool stored = true;
        if (key)
            stored = setChecked(W, QString::fromLatin1(key), v);
        body = okOrNg(stored);
        return true;
    }
    return false;
}

bool CivCommands::transmit(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n == 3) {
        body = bytes({ 0x1C, m_store->trxState.load() });
        return true;
    }
    const uint8_t s = u(f, 3);
    if (n == 4) {
        int v = 0;
        if (s == 0x00)
            v = m_store->trxState.load();
        else if (s == 0x01)
            v = m_store->atuActive.load();
        body = bytes({ 0x1C, s, v });
        return true;
    }
    if (n == 5) {
        if (s == 0x00)
            emit m_dev.sig_setTrxStatus(u(f, 4));
        else if (s == 0x01)
            emit m_dev.sig_setAtuStatus(u(f, 4));
        body = kOk;
        return true;
    }
    return false;
}

bool CivCommands::item1D(const QByteArray &f, QByteArray &body)
{
    if (f.size() != 4 || u(f, 3) != 0x19)
        return false;
    body = bytes({ 0x1D, 0x19, 0x61, 0x00 });
    return true;
}

// ---------------------------------------------------------------------------
// RIT and XIT

CivCommands::OffsetSwitch &CivCommands::settled(OffsetSwitch &sw, const QString &key)
{
    sw.settle(wparamInt(key));
    return sw;
}

bool CivCommands::switchOffset(OffsetSwitch &sw, const QString &key, bool on)
{
    const int v = wparamInt(key);
    sw.settle(v);
    if (!on) {
        if (v != 0) {
            sw.kept = v;
            m_store->setParamItem(W, key, 0);
            sw.state = OffsetSwitch::SwitchedOff;
        } else if (sw.state == OffsetSwitch::SwitchedOnAtZero) {
            sw.kept = 0;
            sw.state = OffsetSwitch::SwitchedOff;
        }
        return true;
    }
    if (v != 0)
        return true; // already on
    if (sw.switchedOff() && sw.kept != 0) {
        if (!setChecked(W, key, sw.kept))
            return false;
        sw.state = OffsetSwitch::Plain;
        return true;
    }
    sw.state = OffsetSwitch::SwitchedOnAtZero;
    return true;
}

// 21 00 reads and sets the RIT offset, 21 01 and 21 02 read and set the
// RIT and XIT switches (00 off, 01 on).
bool CivCommands::ritXit(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4)
        return false;
    const uint8_t s = u(f, 3);
    const QString rit = QStringLiteral("rit");
    const QString xit = QStringLiteral("xit");
    if (n == 4) {
        if (s == 0x00) {
            // Switched off from the port, the offset put aside still reads.
            const int r = settled(m_rit, rit).switchedOff() ? m_rit.kept : wparamInt(rit);
            const int mag = qMin(9999, std::abs(qMax(r, -9999)));
            body = bytes({ 0x21, 0x00, bcdByte(mag % 100), bcdByte(mag / 100), r >= 0 ? 0 : 1 });
        } else if (s == 0x01) {
            body = bytes({ 0x21, 0x01, settled(m_rit, rit).on(wparamInt(rit)) });
        } else if (s == 0x02) {
            body = bytes({ 0x21, 0x02, settled(m_xit, xit).on(wparamInt(xit)) });
        } else {
            return false;
        }
        return true;
    }
    if (n == 5 && (s == 0x01 || s == 0x02)) {
        const uint8_t v = u(f, 4);
        if (v > 1) {
            body = kNg;
            return true;
        }
        body = okOrNg(s == 0x01 ? switchOffset(m_rit, rit, v) : switchOffset(m_xit, xit, v));
        return true;
    }
    if (n == 7 && s == 0x00) {
        const int mag = bcd2int(u(f, 5)) * 100 + bcd2int(u(f, 4));
        const int value = u(f, 6) ? -mag : mag;
        if (settled(m_rit, rit).switchedOff()) {
            // RIT switched off from the port: the new offset waits for the
            // switch, as on an IC-705.
            const zparam_item_t it = m_store->paramItem(W, rit);
            const bool inRange = value >= it.min.toInt() && value <= it.max.toInt();
            if (inRange)
                m_rit.kept = value;
            body = okOrNg(inRange);
            return true;
        }
        body = okOrNg(setChecked(W, rit, value));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The selected and the other VFO

bool CivCommands::vfoFrequency(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n != 4 && n != 9)
        return false;
    const uint8_t s = u(f, 3);
    const bool selected = s == 0x00;
    if (n == 4) {
        const int freq = m_store->paramItem(selectedVfo(selected), QStringLiteral("freq")).value.toInt();
        body = bytes({ 0x25, s }) + freq2bcd(freq);
        return true;
    }
    body = okOrNg(setVfoFreq(selected, bcd2freq(f.mid(4, 5))));
    return true;
}

bool CivCommands::vfoMode(const QByteArray &f, QByteArray &body)
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
        const int mode = m_store->paramItem(selectedVfo(selected), QStringLiteral("mode")).value.toInt();
        const uint8_t civ = zrmode2civmode(mode, &data);
        body = bytes({ 0x26, s, civ, data, groupNumber() });
        return true;
    }
    // Modes this radio does not have (RTTY, WFM) are refused.
    if (!setVfoMode(selected, civmode2zrmode(u(f, 4), u(f, 5)))) {
        body = kNg;
        return true;
    }
    const int fw = u(f, 6);
    setGroupFromWire(fw == 0 ? 1 : qBound(1, fw, 3));
    body = kOk;
    return true;
}

// ---------------------------------------------------------------------------
// Scope

bool CivCommands::scope(const QByteArray &f, QByteArray &body)
{
    const int n = f.size();
    if (n < 4)
        return false;
    const uint8_t s = u(f, 3);
    if (n == 4) {
        switch (s) {
        case 0x00:
            body = bytes({ 0x27, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00 });
            m_dev.copyScopeTrace(body);
            break;
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
            m_dev.setScopeStreaming(u(f, 4) != 0);
            body = kOk;
        } else if (s == 0x15) {
            body = bytes({ 0x27, 0x15, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00 });
        } else {
            body = kOk;
        }
        return true;
    }
    if (n == 6 || n == 10) {
        body = kOk;
        return true;
    }
    if (n == 8 && s == 0x19) {
        int ref = bcd2int(u(f, 5));
        if (u(f, 7))
            ref = -ref;
        m_store->setParamItem(W, QStringLiteral("fftref"), qBound(-10, ref, 10));
        body = kOk;
        return true;
    }
    return false;
}
