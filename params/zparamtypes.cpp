#include "params/zparamtypes.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <limits>

namespace zrnamespace {

namespace {

// printf conversions accepted for float items: flags, width, precision, "f".
// Anything else in a format field (it comes from the database) is not handed
// to printf.
bool safeFloatFormat(const QString &fmt)
{
    static const QRegularExpression re(QStringLiteral("^[-+ #0]{0,4}[0-9]{0,2}(\\.[0-9]{0,2})?f$"));
    return re.match(fmt).hasMatch();
}

bool parseInt(const QString &text, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok) {
        *out = v;
        return true;
    }
    // A value stored while the item was a float ("5.0") keeps its number.
    const double d = text.toDouble(&ok);
    if (ok && std::isfinite(d) && d >= std::numeric_limits<int>::min()
        && d <= std::numeric_limits<int>::max()) {
        *out = int(std::lround(d));
        return true;
    }
    return false;
}

bool parseFloat(const QString &text, float *out)
{
    bool ok = false;
    const float v = text.toFloat(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

} // namespace

zparam_item_t zparam_item_t::blank()
{
    zparam_item_t it;
    const QVariant zero(QStringLiteral("0"));
    it.value = zero;
    it.def = zero;
    it.step = zero;
    it.min = zero;
    it.max = zero;
    return it;
}

QString zparam_item_t::valueForDisp() const
{
    if (fmt == QLatin1String("s")) {
        const QStringList options = unit.split(QLatin1Char(','));
        const int i = value.toInt();
        if (options.isEmpty() || i < 0)
            return QStringLiteral("No data");
        return options.at(qMin(i, options.size() - 1));
    }
    if (fmt.contains(QLatin1Char('f'))) {
        const double v = double(value.toFloat());
        const QString number = safeFloatFormat(fmt)
            ? QString::asprintf(QByteArray("%" + fmt.toLatin1()).constData(), v)
            : QString::number(v);
        return number + QLatin1Char(' ') + unit;
    }
    return value.toString() + QLatin1Char(' ') + unit;
}

bool zparam_is_text_key(const QString &key)
{
    return key.contains(QLatin1String("msg"), Qt::CaseInsensitive)
        || key.contains(QLatin1String("text_"), Qt::CaseInsensitive);
}

// Typed value, default, step and range of a numeric row; a stored value
// that is not a number or lies outside the range falls back to the default.
template <typename T>
static void fill_ranged(zparam_item_t &it, const QString &valueText, const QString &defText,
                 const QStringList &prop, bool (*parse)(const QString &, T *), QString *note)
{
    T def = 0, step = 0, min = 0, max = 0, value = 0;
    parse(defText, &def);
    parse(prop.value(0), &step);
    parse(prop.value(2), &min);
    parse(prop.value(3), &max);
    if (!parse(valueText, &value)) {
        if (note)
            *note = QStringLiteral("not a number: \"%1\"").arg(valueText);
        value = def;
    } else if (value < min || value > max) {
        if (note)
            *note = QStringLiteral("out of range: %1").arg(value);
        value = def;
    }
    it.value = value;
    it.def = def;
    it.step = step;
    it.min = min;
    it.max = max;
}

zparam_item_t zparam_item_from_row(const QString &key, const QStringList &columns, QString *note)
{
    zparam_item_t it = zparam_item_t::blank();
    const auto col = [&columns](int i) { return i < columns.size() ? columns.at(i) : QString(); };

    it.name = col(0);
    it.tag = col(1);
    const QString format = col(5);
    const int comma = format.indexOf(QLatin1Char(','));
    it.fmt = comma < 0 ? format : format.left(comma);
    it.unit = format.mid(comma + 1);
    const QStringList prop = col(4).split(QLatin1Char(','));
    it.mmflag = prop.value(1);

    if (zparam_is_text_key(key)) {
        it.value = col(2);
        it.def = col(3);
        it.step = QString();
        it.min = QString();
        it.max = QString();
        return it;
    }

    if (it.fmt.contains(QLatin1Char('f')))
        fill_ranged<float>(it, col(2), col(3), prop, parseFloat, note);
    else
        fill_ranged<int>(it, col(2), col(3), prop, parseInt, note);
    return it;
}

QString zparam_value_text(const QVariant &value)
{
    if (value.userType() == QMetaType::Float) {
        // Shortest text that reads back as the same float: 0.9f is "0.9",
        // not the digits of its double widening.
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, value.toFloat(), std::chars_format::fixed);
        if (r.ec == std::errc())
            return QString::fromLatin1(buf, int(r.ptr - buf));
    }
    return value.toString();
}

zparam_memo_t::zparam_memo_t(const QStringList &keys)
{
    for (const QString &k : keys) {
        vfoa.insert(k, zparam_item_t());
        vfob.insert(k, zparam_item_t());
    }
}

ztwinfilter_t::ztwinfilter_t(const QString &name_, ztwinfilter_fp_t fp1_, ztwinfilter_fp_t fp2_,
                             ztwinfilter_fp_t limits_)
    : center((limits_.low + limits_.high) / 2.0f)
    , fp1(fp1_)
    , fp2(fp2_)
    , fp1Init(fp1_)
    , fp2Init(fp2_)
    , limits(limits_)
    , name(name_)
{
}

static QString passBandText(const ztwinfilter_fp_t &fp)
{
    return QStringLiteral("%1|%2").arg(double(fp.low)).arg(double(fp.high));
}

QString ztwinfilter_t::passBand1() const
{
    return passBandText(fp1);
}

QString ztwinfilter_t::passBand2() const
{
    return passBandText(fp2);
}

void ztwinfilter_t::setPassband(const QString &text, int n)
{
    if (n > 1 || n < 0 || text.isEmpty())
        return;
    const QStringList parts = text.split(QLatin1Char('|'));
    if (parts.size() != 2)
        return;
    ztwinfilter_fp_t fp;
    if (!parseFloat(parts.at(0), &fp.low) || !parseFloat(parts.at(1), &fp.high))
        return;
    (n == 0 ? fp1 : fp2) = fp;
}

ztwinfilter_fp_t ztwinfilter_t::actualFp() const
{
    ztwinfilter_fp_t fp;
    fp.low = qMax(fp1.low, fp2.low);
    fp.high = qMin(fp1.high, fp2.high);
    return fp;
}

QString ztwinfilter_t::centerFreqency() const
{
    const double c = double(offset) + (double(limits.low) + double(limits.high)) / 2.0;
    const double bounded = qBound(double(std::numeric_limits<int>::min()), c,
                                  double(std::numeric_limits<int>::max()));
    return QString::asprintf("%d", std::isfinite(bounded) ? int(bounded) : 0);
}

} // namespace zrnamespace
