#include "ui/zradiosetting.h"

#include <QLabel>

int ZRadioSetting::s_instances = 0;
int ZRadioDisplaySettings::s_instances = 0;
int ZRadioDFN::s_instances = 0;
int ZRadioCWSetting::s_instances = 0;

ZRadioSetting::ZRadioSetting(QWidget *parent, ZParamAdmin *store, int page, int x, int y, int w, int h)
    : ZFrame(parent, store, x, y, w, h)
    , m_page(page == 1 ? 1 : 0)
{
    ++s_instances;
    setObjectName(QStringLiteral("ZRadioSetting"));
    setFrameTitle(QStringLiteral("RADIO SETTING%1").arg(m_page + 1));
    if (m_page == 0) {
        m_keys = QStringList{QStringLiteral("agc_tcslow"), QStringLiteral("agc_tcfast"),
                             QStringLiteral("agchang"),    QStringLiteral("txpwr"),
                             QStringLiteral("micsel"),     QStringLiteral("imicg"),
                             QStringLiteral("hmicg"),      QStringLiteral("ling"),
                             QStringLiteral("loutg"),      QStringLiteral("monilevel"),
                             QStringLiteral("pttmode"),    QStringLiteral("bsmode"),
                             QStringLiteral("spmode"),     QStringLiteral("chge"),
                             QStringLiteral("center_mode")};
        m_menuIndexKey = QStringLiteral("menuidx_radiosetting1");
    } else {
        m_keys = QStringList{QStringLiteral("rit"), QStringLiteral("xit"), QStringLiteral("sple"),
                             QStringLiteral("handle_f1"), QStringLiteral("handle_f2")};
        m_menuIndexKey = QStringLiteral("menuidx_radiosetting2");
    }
    genLayout(3, 5);
}

ZRadioSetting::~ZRadioSetting()
{
    --s_instances;
}

ZRadioDisplaySettings::ZRadioDisplaySettings(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZFrame(parent, store, x, y, w, h)
{
    ++s_instances;
    setObjectName(QStringLiteral("ZRadioDisplaySettings"));
    setFrameTitle(QStringLiteral("DISPLAY SETTINGS"));
    m_keys = QStringList{QStringLiteral("fftave"),   QStringLiteral("fftref"),   QStringLiteral("fftdec"),
                         QStringLiteral("fftpke"),   QStringLiteral("wfref"),    QStringLiteral("affftave"),
                         QStringLiteral("affftref"), QStringLiteral("bllevel"),  QStringLiteral("audio_scope")};
    m_menuIndexKey = QStringLiteral("menuidx_dispsettings");
    genLayout(2, 5);
}

ZRadioDisplaySettings::~ZRadioDisplaySettings()
{
    --s_instances;
}

ZRadioDFN::ZRadioDFN(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZFrame(parent, store, x, y, w, h)
{
    ++s_instances;
    setObjectName(QStringLiteral("ZRadioDFN"));
    setFrameTitle(QStringLiteral("DSP FUNCTIONS"));
    m_keys = QStringList{QStringLiteral("nre"),  QStringLiteral("nrthr"),  QStringLiteral("nbe"),
                         QStringLiteral("nbw"),  QStringLiteral("nbthr"),  QStringLiteral("dnfe"),
                         QStringLiteral("dnfcnt"), QStringLiteral("dnfwidth")};
    m_menuIndexKey = QStringLiteral("menuidx_dspfunctions");
    genLayout(2, 5);
}

ZRadioDFN::~ZRadioDFN()
{
    --s_instances;
}

ZRadioCWSetting::ZRadioCWSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZFrame(parent, store, x, y, w, h)
{
    ++s_instances;
    setObjectName(QStringLiteral("ZRadioCWSetting"));
    setFrameTitle(QStringLiteral("CW/KEYER SETTING"));
    m_keys = QStringList{QStringLiteral("km"),      QStringLiteral("kimb"),    QStringLiteral("ks"),
                         QStringLiteral("qsktime"), QStringLiteral("kr"),      QStringLiteral("cwtrain"),
                         QStringLiteral("cwvol"),   QStringLiteral("cwtone"),  QStringLiteral("rphscmp"),
                         QStringLiteral("rmagcmp")};
    m_menuIndexKey = QStringLiteral("menuidx_key");
    genLayout(2, 5);
}

ZRadioCWSetting::~ZRadioCWSetting()
{
    --s_instances;
}
