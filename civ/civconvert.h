#ifndef CIVCONVERT_H
#define CIVCONVERT_H

// CI-V encodings: frequencies and levels in packed BCD, the mode and band
// codes, the meter and scope scales and the level scaling of settings.
// Pure functions without state; the command handlers (civcommands.cpp) and
// the tests use them.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace civconv {

// ---- BCD ----

// Five bytes, least significant first, two digits per byte (tens in the
// high nibble); byte 4 is 00, so frequencies are taken modulo 100 MHz.
// Negative frequencies encode as 0.
QByteArray freq2bcd(int freq);
// The first five bytes as ten digits, most significant (high nibble of
// byte 4) first; 0 with fewer than five bytes. Nibbles are not checked for
// being digits, and a sum past the int range saturates.
int bcd2freq(const QByteArray &bcd);
// A level 0..9999 (clamped) as two bytes, most significant first.
QByteArray int2bcd_2bytes(int value);
// Two bytes as four digits; one byte as two digits; none gives 0.
int bcd2int_2bytes(const QByteArray &bcd);
// One byte as two digits (high nibble x 10 + low nibble).
inline int bcd2int(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
// 0..99 (clamped) as one packed byte.
uint8_t bcdByte(int v);

// ---- Modes and bands ----

// The radio's mode (zrnamespace::ZRadioMode) as CI-V mode code and data
// flag; FAh (and data 0) for a mode the radio does not have.
uint8_t zrmode2civmode(int mode, uint8_t *data);
// A CI-V mode code and data flag as the radio's mode; ModeCount (8) for
// RTTY, WFM, RTTY-R and unknown codes.
int civmode2zrmode(uint8_t civ, uint8_t data);
// The mode code the 04 read answers (the data modes read as their base
// mode), and the mode 01/04/06 set (RTTY is taken as LSB, WFM as FM).
int zrm2civm(int mode);
int civm2zrm(int civ);
// CI-V band code 1..10 (clamped) to the store's band index (the odd ham
// band indices; 60 m has no code) and back (between bands and on 60 m the
// code of the nearest band below).
int civbs2zrbs(int code);
int zrbs2civbs(int index);

// ---- Scales ----

// Icom's filter-width index 0..49 of a pass band of w Hz: 50 Hz steps up to
// 500 Hz, then 100 Hz steps; AM and FM in 200 Hz steps.
uint8_t filterWidthIndex(float w, bool amOrFm);
// Meter encodings of the live readings, 0..255 at most.
int sMeterValue(float dbm);
int swrMeterValue(float swr);
int alcMeterValue(float alc);
int vdMeterValue(float volts);
// Forward power on the IC-705's Po meter: 0000 is 0 W, 0143 half and 0213
// full scale of its rated 10 W, 0255 120 %; the meter face is stretched
// at the low end (0021 is 5 %, 0124 40 %), as CAT programs read it.
int powerMeterValue(float watts);
// One panadapter point in dBm as a scope byte 0..160.
int scopeByte(float dbm);
// A reading truncated toward zero and clamped to [lo, hi]; NaN reads lo.
int clampTrunc(double v, int lo, int hi);

// A setting between min and max on the 0..255 level scale and back, in
// integer steps (integer division, as Icom's programs expect of integer
// items).
int itemToLevel(qint64 value, qint64 min, qint64 max);
qint64 levelToItem(int level, qint64 min, qint64 max);
// Transmit power: full scale is the current maximum; watts are kept to
// 0.1 W. Both round to the nearest step, so a power read back and set
// again stays where it was.
int powerToLevel(float watts, float maxWatts);
float levelToPower(int level, float maxWatts);

// The bytes as text, each as " %02X".
QString packetDump(const QByteArray &bytes);

} // namespace civconv

#endif
