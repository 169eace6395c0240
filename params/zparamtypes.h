#ifndef ZPARAMTYPES_H
#define ZPARAMTYPES_H

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <mutex>

// Value types of the parameter store: parameter items, VFO snapshots (memory
// channels and band stacks), twin filters and the tuner network.
namespace zrnamespace {

// Operating modes as the store, the register block and the CI-V tables
// number them (item "mode").
enum ZRadioMode : int {
    ModeLSB = 0,
    ModeLSBDig = 1,
    ModeUSB = 2,
    ModeUSBDig = 3,
    ModeCW = 4,
    ModeCWR = 5,
    ModeAM = 6,
    ModeNFM = 7,
    ModeCount = 8,
};

// Mode families: the modes that share a filter set and a pass-band side.
inline bool zmode_is_lsb(int m) { return m == ModeLSB || m == ModeLSBDig; }
inline bool zmode_is_usb(int m) { return m == ModeUSB || m == ModeUSBDig; }
inline bool zmode_is_ssb(int m) { return m >= ModeLSB && m <= ModeUSBDig; }
inline bool zmode_is_cw(int m) { return m == ModeCW || m == ModeCWR; }
inline bool zmode_is_digital(int m) { return m == ModeLSBDig || m == ModeUSBDig; }

// Sections of the store: the two VFOs and the radio-wide settings.
inline constexpr const char kSectionVfoA[] = "vfoa";
inline constexpr const char kSectionVfoB[] = "vfob";
inline constexpr const char kSectionParam[] = "wparam";

// How modifyParamItem treats the ends of an item's range.
enum ZRadioModifyMode {
    ModifyByItem = -1, // the item's own mmflag: 0 clamps, anything else wraps
    ModifyBound = 0,   // clamp to [min, max]
    ModifyWrap = 1,    // below min gives max, above max gives min
};

// One parameter item. Values are int, float, or QString for text items.
struct zparam_item_t
{
    QString name;   // key, e.g. "freq"
    QString tag;    // label shown to the operator
    QString fmt;    // "d", "s" (selection) or a printf conversion such as "1.1f"
    QString unit;   // unit text, or the comma-separated options for "s"
    QString mmflag; // "0" clamp, "1" wrap
    QVariant value;
    QVariant def;
    QVariant step;
    QVariant min;
    QVariant max;

    // Display text of the value: the option for "s", the formatted number
    // and unit otherwise.
    QString valueForDisp() const;

    // Five empty strings and five "0": what a lookup of an unknown key gives.
    static zparam_item_t blank();
};

// Text items ("msg..", "text_..") hold strings and are never stepped.
bool zparam_is_text_key(const QString &key);

// Builds a typed item from the six columns of a parameter row (pname, ptag,
// pv, pdef, pprop "step,mmflag,min,max", pfmt "fmt,unit"). A stored value
// that is not a number of the item's type, or lies outside [min, max], is
// replaced by the default; *note (if given) then says why, for the log.
zparam_item_t zparam_item_from_row(const QString &key, const QStringList &columns,
                                   QString *note = nullptr);

// Text form of a value as it is stored in the database: decimal text, floats
// in their shortest form ("5", "0.9").
QString zparam_value_text(const QVariant &value);

// Snapshot of both VFOs plus channel data: memory channels and band stacks.
struct zparam_memo_t
{
    QMap<QString, zparam_item_t> vfoa;
    QMap<QString, zparam_item_t> vfob;
    QString chtag;
    QString flags;
    int valid = -1; // -1 fresh, 0 looked up but not found, 1 loaded or defaulted
    int dlo = 0;    // digital LO offset at the time of the snapshot (Hz)
    int plo = 0;    // physical LO at the time of the snapshot (Hz)

    zparam_memo_t() = default;
    // Both maps get one default-constructed item per key.
    explicit zparam_memo_t(const QStringList &keys);
};

// One pass band in Hz of audio offset.
struct ztwinfilter_fp_t
{
    float low = 0.0f;
    float high = 0.0f;
};

// Twin filter: the receive pass band is the overlap of fp1 and fp2.
struct ztwinfilter_t
{
    float offset = 0.0f; // shift added to the displayed centre
    float step = 10.0f;  // Hz per modifyTwinFilter step
    float center = 0.0f; // centre of the limits
    int index = 0;       // pass band being edited: 0 fp1, 1 fp2
    ztwinfilter_fp_t fp1;
    ztwinfilter_fp_t fp2;
    ztwinfilter_fp_t fp1Init; // as constructed, never changed
    ztwinfilter_fp_t fp2Init;
    ztwinfilter_fp_t limits; // lowest low and highest high edge when shifting
    QString name;            // "SSB", "CW", "AM", "NFM"

    ztwinfilter_t() = default;
    ztwinfilter_t(const QString &name, ztwinfilter_fp_t fp1, ztwinfilter_fp_t fp2,
                  ztwinfilter_fp_t limits);

    QString passBand1() const; // "low|high", e.g. "150|2850"
    QString passBand2() const;
    // Sets pass band n (0 or 1) from "low|high"; anything else is ignored.
    void setPassband(const QString &text, int n);
    // Overlap of the two pass bands.
    ztwinfilter_fp_t actualFp() const;
    // Integer part of offset + centre of the limits, as decimal text.
    QString centerFreqency() const;
};

// Tuner network setting: capacitor, inductor, switch.
struct zatu_network_t
{
    uint8_t c = 0;
    uint8_t l = 0;
    uint8_t s = 0;
};

} // namespace zrnamespace

// A text shared between threads that reads and assigns like a QString.
class ZSharedText
{
public:
    ZSharedText() = default;
    ZSharedText(const ZSharedText &) = delete;
    ZSharedText &operator=(const ZSharedText &) = delete;

    ZSharedText &operator=(const QString &text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text = text;
        return *this;
    }
    operator QString() const { return value(); }
    QString value() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }
    bool isEmpty() const { return value().isEmpty(); }

    friend bool operator==(const ZSharedText &a, const QString &b) { return a.value() == b; }
    friend bool operator==(const QString &a, const ZSharedText &b) { return a == b.value(); }
    friend bool operator!=(const ZSharedText &a, const QString &b) { return a.value() != b; }
    friend bool operator!=(const QString &a, const ZSharedText &b) { return a != b.value(); }

private:
    mutable std::mutex m_mutex;
    QString m_text;
};

#endif
