#ifndef ZRADIOSETTING_H
#define ZRADIOSETTING_H

#include "ui/zframe.h"

// Radio settings, two pages of 3 × 5 cells (page 0: AGC, power, gains,
// PTT, band stack, speaker, charger, centre mode; page 1: RIT, XIT, split
// and the hand-microphone keys). One instance at a time.
class ZRadioSetting : public ZFrame
{
    Q_OBJECT

public:
    ZRadioSetting(QWidget *parent, ZParamAdmin *store, int page, int x, int y, int w, int h);
    ~ZRadioSetting() override;

    int page() const { return m_page; }
    static int instances() { return s_instances; }

private:
    int m_page;
    static int s_instances;
};

// Display settings: spectrum and waterfall levels, backlight, audio scope.
class ZRadioDisplaySettings : public ZFrame
{
    Q_OBJECT

public:
    ZRadioDisplaySettings(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZRadioDisplaySettings() override;
    static int instances() { return s_instances; }

private:
    static int s_instances;
};

// DSP functions: noise reduction, noise blanker, notch filter.
class ZRadioDFN : public ZFrame
{
    Q_OBJECT

public:
    ZRadioDFN(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZRadioDFN() override;
    static int instances() { return s_instances; }

private:
    static int s_instances;
};

// CW and keyer settings.
class ZRadioCWSetting : public ZFrame
{
    Q_OBJECT

public:
    ZRadioCWSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZRadioCWSetting() override;
    static int instances() { return s_instances; }

private:
    static int s_instances;
};

#endif
