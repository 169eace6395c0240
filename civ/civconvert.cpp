#include "civ/civconvert.h"

#include "params/zparamtypes.h"

#include <QtGlobal>

#include <cmath>
#include <limits>

using namespace zrnamespace;

namespace civconv {

QByteArray freq2bcd(int freq)
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

int bcd2freq(const QByteArray &bcd)
{
    if (bcd.size() < 5)
        return 0;
    qint64 v = 0;
    for (int i = 4; i >= 0; --i) {
        const uint8_t b = uint8_t(bcd.at(i));
        v = v * 10 + (b >> 4);
        v = v * 10 + (b & 0x0F);
    }
    return int(qMin<qint64>(v, std::numeric_limits<int>::max()));
}

uint8_t bcdByte(int v)
{
    v = qBound(0, v, 99);
    return uint8_t(((v / 10) << 4) | (v % 10));
}

QByteArray int2bcd_2bytes(int value)
{
    const int v = qBound(0, value, 9999);
    QByteArray b(2, '\0');
    b[0] = char(bcdByte(v / 100));
    b[1] = char(bcdByte(v % 100));
    return b;
}

int bcd2int_2bytes(const QByteArray &bcd)
{
    if (bcd.isEmpty())
        return 0;
    if (bcd.size() == 1)
        return bcd2int(uint8_t(bcd.at(0)));
    return bcd2int(uint8_t(bcd.at(0))) * 100 + bcd2int(uint8_t(bcd.at(1)));
}

uint8_t zrmode2civmode(int mode, uint8_t *data)
{
    uint8_t d = 0;
    uint8_t civ;
    switch (mode) {
    case ModeLSB: civ = 0x00; break;
    case ModeLSBDig: civ = 0x00; d = 1; break;
    case ModeUSB: civ = 0x01; break;
    case ModeUSBDig: civ = 0x01; d = 1; break;
    case ModeCW: civ = 0x03; break;
    case ModeCWR: civ = 0x07; break;
    case ModeAM: civ = 0x02; break;
    case ModeNFM: civ = 0x05; break;
    default: civ = 0xFA; break;
    }
    if (data)
        *data = d;
    return civ;
}

int civmode2zrmode(uint8_t civ, uint8_t data)
{
    switch (civ) {
    case 0x00: return data ? ModeLSBDig : ModeLSB;
    case 0x01: return data ? ModeUSBDig : ModeUSB;
    case 0x02: return ModeAM;
    case 0x03: return ModeCW;
    case 0x05: return ModeNFM;
    case 0x07: return ModeCWR;
    default: return ModeCount;
    }
}

int zrm2civm(int mode)
{
    switch (mode) {
    case ModeUSB:
    case ModeUSBDig: return 0x01;
    case ModeCW: return 0x03;
    case ModeCWR: return 0x07;
    case ModeAM: return 0x02;
    case ModeNFM: return 0x05;
    default: return 0x00;
    }
}

int civm2zrm(int civ)
{
    switch (civ) {
    case 0x01: return ModeUSB;
    case 0x02: return ModeAM;
    case 0x03: return ModeCW;
    case 0x04: return ModeLSB; // RTTY
    case 0x05: return ModeNFM;
    case 0x06: return ModeNFM; // WFM
    case 0x07: return ModeCWR;
    default: return ModeLSB;
    }
}

int civbs2zrbs(int code)
{
    code = qBound(1, code, 10);
    // 160 m and 80 m, then 40 m .. 6 m: the 60 m band (index 5) has no code.
    return code <= 2 ? 2 * code - 1 : 2 * code + 1;
}

int zrbs2civbs(int index)
{
    if (index <= 2)
        return 1;
    if (index <= 6)
        return 2;
    return qMin(10, (index - 1) / 2);
}

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

uint8_t filterWidthIndex(float w, bool amOrFm)
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

int sMeterValue(float dbm)
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

int swrMeterValue(float swr)
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

int alcMeterValue(float alc)
{
    return clampTrunc((255.0 - double(alc)) * 0.47058824, 0, 120);
}

int vdMeterValue(float volts)
{
    const double v = volts;
    return clampTrunc(v <= 5.0 ? v * 75.0 / 5.0 : (v - 5.0) * 166.0 / 11.0 + 75.0, 0, 255);
}

int powerMeterValue(float watts)
{
    // The meter's marks: percent of 10 W and the reading there.
    struct Mark
    {
        double percent;
        double value;
    };
    static const Mark kMarks[] = { { 0, 0 },    { 5, 21 },   { 10, 43 },  { 15, 65 },  { 20, 83 },
                                   { 25, 95 },  { 30, 105 }, { 35, 114 }, { 40, 124 }, { 50, 143 },
                                   { 75, 183 }, { 100, 213 }, { 120, 255 } };
    const double p = double(watts) * 10.0; // percent of 10 W
    if (!(p > 0.0))
        return 0; // also NaN
    for (size_t i = 1; i < sizeof(kMarks) / sizeof(kMarks[0]); ++i) {
        const Mark &a = kMarks[i - 1];
        const Mark &b = kMarks[i];
        if (p <= b.percent)
            return int(std::round(a.value + (p - a.percent) * (b.value - a.value) / (b.percent - a.percent)));
    }
    return 255;
}

int scopeByte(float dbm)
{
    return clampTrunc((double(dbm) + 145.0) * 1.1034483, 0, 160);
}

int itemToLevel(qint64 value, qint64 min, qint64 max)
{
    if (max == min)
        return 0;
    return int(qBound<qint64>(0, (value - min) * 255 / (max - min), 255));
}

qint64 levelToItem(int level, qint64 min, qint64 max)
{
    return min + qint64(level) * (max - min) / 255;
}

int powerToLevel(float watts, float maxWatts)
{
    if (!(maxWatts > 0.0f) || !std::isfinite(watts))
        return 0;
    return int(qBound(0.0, std::round(double(watts) * 255.0 / double(maxWatts)), 255.0));
}

float levelToPower(int level, float maxWatts)
{
    if (!(maxWatts > 0.0f))
        return 0.0f;
    const double tenths = std::round(double(qBound(0, level, 255)) * double(maxWatts) * 10.0 / 255.0);
    return float(tenths / 10.0);
}

QString packetDump(const QByteArray &bytes)
{
    QString s;
    s.reserve(bytes.size() * 3);
    for (char c : bytes)
        s += QString::asprintf(" %02X", unsigned(uint8_t(c)));
    return s;
}

} // namespace civconv
