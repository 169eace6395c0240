#include "params/zbandplan.h"
#include "app/zlog.h"

#include "app/zsystem.h"

#include <QDebug>
#include <QFileInfo>
#include <QSettings>

static const zband_t kDefaultBands[ZBandPlan::BandCount] = {
    { 1800000, 1800000, 2000000, true },    // 160 m
    { 3500000, 3800000, 4000000, true },    // 80 m
    { 5330500, 5400000, 5405000, true },    // 60 m
    { 7000000, 7050000, 7300000, true },    // 40 m
    { 10100000, 10100000, 10150000, true }, // 30 m
    { 14000000, 14270000, 14350000, true }, // 20 m
    { 18068000, 18100000, 18168000, true }, // 17 m
    { 21000000, 21000000, 21450000, true }, // 15 m
    { 24890000, 24900000, 24990000, true }, // 12 m
    { 28000000, 28500000, 29700000, true }, // 10 m
    { 50000000, 51000000, 54000000, true }, // 6 m
};

ZBandPlan::ZBandPlan()
{
    for (int k = 0; k < BandCount; ++k)
        m_bands[k] = kDefaultBands[k];

    const QString conf = zsys::path(QStringLiteral("/etc/zrradio/zrradio.conf"));
    if (!QFileInfo::exists(conf)) {
        qCInfo(logParam) << "[INFO] No system configuration" << conf << ", default band plan";
    } else {
        QSettings settings(conf, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError)
            qCWarning(logParam) << "[WRN] System configuration unreadable:" << conf;
        settings.beginGroup(QStringLiteral("mods"));
        if (settings.contains(QStringLiteral("fullband-tx"))) {
            const QString v = settings.value(QStringLiteral("fullband-tx")).toString();
            qCDebug(logParam) << "found [mods] fullband-tx:" << v;
            // "disable" contains "enable" too; it must not open transmit on
            // every frequency.
            m_fullbandTx = v.contains(QLatin1String("enable")) && !v.contains(QLatin1String("disable"));
        }
        if (settings.contains(QStringLiteral("bands-cfg"))) {
            const QString v = settings.value(QStringLiteral("bands-cfg")).toString();
            qCDebug(logParam) << "found [mods] bands-cfg:" << v;
            bool ok = false;
            const int cfg = v.trimmed().toInt(&ok);
            if (ok)
                m_bandsCfg = cfg;
            else
                qCWarning(logParam) << "[WRN] bands-cfg is not a number, default band configuration";
        }
        settings.endGroup();
    }

    if (m_bandsCfg == 1) {
        m_bands[0].high = 1912500;
        m_bands[1].high = 3805000;
        m_bands[2].txe = false;
        m_bands[3].high = 7200000;
    }
}

int ZBandPlan::bandIndex(int freq) const
{
    for (int k = 0; k < BandCount; ++k) {
        if (freq < m_bands[k].low)
            return 2 * k;
        if (freq <= m_bands[k].high)
            return 2 * k + 1;
    }
    return 2 * BandCount;
}

bool ZBandPlan::isTxEnable(int freq) const
{
    for (const zband_t &b : m_bands) {
        if (freq >= b.low && freq <= b.high)
            return b.txe;
    }
    return false;
}

bool ZBandPlan::isHamBand(int freq) const
{
    return m_fullbandTx || isTxEnable(freq);
}

const zband_t &ZBandPlan::band(int k) const
{
    return m_bands[qBound(0, k, BandCount - 1)];
}
