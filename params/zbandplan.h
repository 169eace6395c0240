#ifndef ZBANDPLAN_H
#define ZBANDPLAN_H

#include <QString>

// One amateur band: edges inclusive, the start frequency the band stack uses,
// and whether transmitting is allowed in it.
struct zband_t
{
    int low;
    int start;
    int high;
    bool txe;
};

// The eleven amateur bands (160 m to 6 m) and the band index 0..22 that the
// band stack and the register push use: odd indexes are inside a band, even
// ones below, between and above the bands.
//
// The system configuration "/etc/zrradio/zrradio.conf", group "mods", may
// select band configuration 1 ("bands-cfg") and full-band transmit
// ("fullband-tx"). The plan never changes after construction, so it may be
// read from any thread.
class ZBandPlan
{
public:
    static const int BandCount = 11;

    ZBandPlan();

    int bandIndex(int freq) const;
    bool isTxEnable(int freq) const;
    bool isHamBand(int freq) const;

    int indexCount() const { return m_indexCount; }
    int bandsCfg() const { return m_bandsCfg; }
    bool fullbandTx() const { return m_fullbandTx; }
    const zband_t &band(int k) const;

private:
    zband_t m_bands[BandCount];
    int m_indexCount = 23;
    int m_bandsCfg = 0;
    bool m_fullbandTx = false;
};

#endif
